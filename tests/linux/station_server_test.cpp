// The station server over real loopback sockets on Linux: who gets a slot
// when all are taken, the probing of silent peers, a server that runs out
// of descriptors or whose datagram port fails, IPv6, calls out of turn,
// and the server going while clients are connected; as they are, under
// ASan and UBSan, and under ThreadSanitizer.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "link/asio/station_server.h"
#include "link/udp_aim.h"

namespace rotavox::testing {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

const std::string kInfoLine = std::string(kRotctldInfo) + "\n";

struct Socket {
  int fd = -1;
  explicit Socket(int f) : fd(f) {}
  Socket(Socket&& other) noexcept : fd(other.fd) { other.fd = -1; }
  ~Socket() {
    if (fd >= 0) close(fd);
  }
};

sockaddr_in Loopback(int port) {
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_port = htons(static_cast<std::uint16_t>(port));
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return at;
}

Socket Connect(int port) {
  Socket s(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const sockaddr_in at = Loopback(port);
  EXPECT_EQ(connect(s.fd, reinterpret_cast<const sockaddr*>(&at), sizeof at), 0);
  return s;
}

// The next answer line, "closed" once the server has closed the
// connection, "silence" when nothing comes within `wait`.
std::string Ask(const Socket& s, const std::string& line, milliseconds wait = milliseconds(10000)) {
  if (!line.empty()) send(s.fd, line.data(), line.size(), MSG_NOSIGNAL);
  std::string got;
  const auto until = Clock::now() + wait;
  while (got.find('\n') == std::string::npos) {
    const auto left = std::chrono::duration_cast<milliseconds>(until - Clock::now()).count();
    pollfd p{s.fd, POLLIN, 0};
    if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0) return "silence";
    char buffer[256];
    const ssize_t n = recv(s.fd, buffer, sizeof buffer, 0);
    if (n <= 0) return "closed";
    got.append(buffer, static_cast<std::size_t>(n));
  }
  return got;
}

struct Server {
  explicit Server(milliseconds idleLimit = StationServer::kIdleLimit)
      : server([](const RemoteAim&) {}, idleLimit) {
    std::string error;
    EXPECT_TRUE(server.ListenTcp("127.0.0.1", 0, &error)) << error;
    EXPECT_TRUE(server.Start(&error)) << error;
  }
  int Port() const { return server.TcpPort(); }
  StationServer server;
};

TEST(StationServerTest, NewcomerTakesTheSlotOfTheClientSilentLongest) {
  constexpr milliseconds kIdle(300);
  Server server(kIdle);
  // The first in is the oldest connection, but it keeps talking.
  Socket talker = Connect(server.Port());
  ASSERT_EQ(Ask(talker, "_\n"), kInfoLine);
  std::vector<Socket> silent;
  for (int i = 1; i < StationServer::kMaxClients; ++i) silent.push_back(Connect(server.Port()));
  // The server accepts each one a scheduling delay after it connects; a
  // second is over three limits, so they are all past it even when the
  // machine is busy. Empty lines, which ask nothing, do not hold a slot.
  std::this_thread::sleep_for(milliseconds(1000));
  for (const Socket& c : silent) send(c.fd, "\n\n", 2, MSG_NOSIGNAL);
  ASSERT_EQ(Ask(talker, "_\n"), kInfoLine);

  Socket newcomer = Connect(server.Port());
  EXPECT_EQ(Ask(newcomer, "_\n"), kInfoLine);
  EXPECT_EQ(Ask(silent.front(), ""), "closed");  // the first silent one accepted
  EXPECT_EQ(Ask(talker, "_\n"), kInfoLine);
  for (std::size_t i = 1; i < silent.size(); ++i) {
    EXPECT_EQ(Ask(silent[i], "_\n"), kInfoLine) << "silent client " << i;
  }
}

TEST(StationServerTest, NoOneLosesTheirSlotBeforeTheLimit) {
  Server server;  // a minute: far longer than this test
  std::vector<Socket> clients;
  for (int i = 0; i < StationServer::kMaxClients; ++i) clients.push_back(Connect(server.Port()));
  for (const Socket& c : clients) ASSERT_EQ(Ask(c, "_\n"), kInfoLine);
  Socket newcomer = Connect(server.Port());
  EXPECT_EQ(Ask(newcomer, "_\n"), "closed");
  for (const Socket& c : clients) EXPECT_EQ(Ask(c, "_\n"), kInfoLine);
}

TEST(StationServerTest, ProbesSilentPeersWithKeepAlive) {
  Server server;
  Socket client = Connect(server.Port());
  ASSERT_EQ(Ask(client, "_\n"), kInfoLine);
  // The server's end of the connection lives in this process too: the
  // socket whose peer is the client's address.
  sockaddr_in mine{};
  socklen_t length = sizeof mine;
  getsockname(client.fd, reinterpret_cast<sockaddr*>(&mine), &length);
  int found = -1;
  for (int fd = 0; fd < 1024 && found < 0; ++fd) {
    sockaddr_in peer{};
    length = sizeof peer;
    if (fd != client.fd && getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) == 0 &&
        peer.sin_port == mine.sin_port && peer.sin_addr.s_addr == mine.sin_addr.s_addr) {
      found = fd;
    }
  }
  ASSERT_GE(found, 0);
  int keepAlive = 0;
  int idle = 0;
  length = sizeof keepAlive;
  getsockopt(found, SOL_SOCKET, SO_KEEPALIVE, &keepAlive, &length);
  length = sizeof idle;
  getsockopt(found, IPPROTO_TCP, TCP_KEEPIDLE, &idle, &length);
  EXPECT_EQ(keepAlive, 1);
  EXPECT_GT(idle, 0);
  EXPECT_LE(idle, 120);  // a vanished peer is found within minutes, not hours
}

// An IPv6 address listens on IPv6 alone (Linux would take IPv4 on it too
// unless told not to): over IPv4 the same port reaches nothing. A logger
// on IPv6 hears where the antenna is.
TEST(StationServerTest, AnIpv6AddressListensOnIpv6Only) {
  for (const int type : {SOCK_STREAM, SOCK_DGRAM}) {
    SCOPED_TRACE(type == SOCK_STREAM ? "TCP on [::]" : "UDP on [::]");
    std::atomic<int> aims{0};
    std::atomic<int> azimuth{-1};  // of the first aim
    StationServer server([&](const RemoteAim& aim) {
      if (aims++ == 0) azimuth = aim.azimuth;
    });
    std::string error;
    const bool tcp = type == SOCK_STREAM;
    ASSERT_TRUE(tcp ? server.ListenTcp("::", 0, &error) : server.ListenUdp("::", 0, &error)) << error;
    ASSERT_TRUE(server.Start(&error)) << error;
    const int port = tcp ? server.TcpPort() : server.UdpPorts()[0];
    const sockaddr_in v4 = Loopback(port);
    sockaddr_in6 v6{};
    v6.sin6_family = AF_INET6;
    v6.sin6_port = htons(static_cast<std::uint16_t>(port));
    v6.sin6_addr = in6addr_loopback;
    const Socket four(socket(AF_INET, type | SOCK_CLOEXEC, 0));
    const Socket six(socket(AF_INET6, type | SOCK_CLOEXEC, 0));
    if (six.fd < 0) GTEST_SKIP() << "no IPv6 here";
    const auto* at4 = reinterpret_cast<const sockaddr*>(&v4);
    const auto* at6 = reinterpret_cast<const sockaddr*>(&v6);
    if (tcp) {
      EXPECT_NE(connect(four.fd, at4, sizeof v4), 0);
      ASSERT_EQ(connect(six.fd, at6, sizeof v6), 0);
      EXPECT_EQ(Ask(six, "_\n"), kInfoLine);
    } else {
      const Socket logger(socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0));
      sockaddr_in6 status = v6;
      status.sin6_port = htons(static_cast<std::uint16_t>(kN1mmStatusPort));
      ASSERT_EQ(bind(logger.fd, reinterpret_cast<const sockaddr*>(&status), sizeof status), 0);
      // Had the first been taken, it would come first.
      const std::string ten = "<PST><AZIMUTH>10</AZIMUTH></PST>";
      const std::string twenty = "<N1MMRotor><rotor>C BOX</rotor><goazi>20</goazi></N1MMRotor>";
      sendto(four.fd, ten.data(), ten.size(), 0, at4, sizeof v4);
      sendto(six.fd, twenty.data(), twenty.size(), 0, at6, sizeof v6);
      for (const auto until = Clock::now() + milliseconds(10000); aims == 0 && Clock::now() < until;) {
        std::this_thread::sleep_for(milliseconds(10));
      }
      EXPECT_EQ(azimuth, 20);
      server.Publish({true, 146, false});
      char heard[64] = {};
      pollfd p{logger.fd, POLLIN, 0};
      ASSERT_EQ(poll(&p, 1, 10000), 1);
      const ssize_t got = recv(logger.fd, heard, sizeof heard, 0);
      ASSERT_GT(got, 0);
      EXPECT_EQ(std::string(heard, static_cast<std::size_t>(got)), "C BOX @ 1460");
    }
  }
}

double ProcessCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// The server goes while clients are connected: idle, in the middle of a
// line, and not reading its answers (a write waits for room). Every time,
// its threads end and every client sees its connection closed.
TEST(StationServerTest, GoesCleanlyWithLiveConnectionsAndPendingWrites) {
  std::string flood;
  while (flood.size() < 900 * 2) flood += "_\n";  // about 40 KB of answers
  for (int round = 0; round < 10; ++round) {
    SCOPED_TRACE(round);
    std::vector<Socket> clients;
    {
      Server server;
      for (int i = 0; i < 3; ++i) clients.push_back(Connect(server.Port()));
      const int small = 2048;
      setsockopt(clients[2].fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
      ASSERT_EQ(Ask(clients[0], "_\n"), kInfoLine);
      send(clients[1].fd, "P 1", 3, MSG_NOSIGNAL);
      send(clients[2].fd, flood.data(), flood.size(), MSG_NOSIGNAL);
      ASSERT_EQ(Ask(clients[0], "_\n"), kInfoLine);  // the flood has been read by now
    }
    for (const Socket& c : clients) {
      std::string got;
      while ((got = Ask(c, "")) != "closed" && got != "silence") {}
      EXPECT_EQ(got, "closed");
    }
  }
}

// A datagram port whose receive fails for good (its socket gone from under
// the server, as a lasting ENOBUFS would) is tried again a few times a second.
TEST(StationServerTest, ADatagramPortThatKeepsFailingDoesNotSpin) {
  StationServer server([](const RemoteAim&) {});
  std::string error;
  ASSERT_TRUE(server.ListenUdp("127.0.0.1", 0, &error)) << error;
  int found = -1;
  for (int fd = 0; fd < 1024 && found < 0; ++fd) {
    sockaddr_in at{};
    socklen_t length = sizeof at;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&at), &length) == 0 && ntohs(at.sin_port) == server.UdpPorts()[0]) {
      found = fd;
    }
  }
  ASSERT_GE(found, 0);
  const int notASocket = open("/dev/null", O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(dup2(notASocket, found), found);
  close(notASocket);
  ASSERT_TRUE(server.Start(&error)) << error;
  const double cpuBefore = ProcessCpuSeconds();
  const auto wallBefore = Clock::now();
  std::this_thread::sleep_for(milliseconds(1000));
  const double cpu = ProcessCpuSeconds() - cpuBefore;
  const double wall = std::chrono::duration<double>(Clock::now() - wallBefore).count();
  EXPECT_LT(cpu / wall, 0.2) << cpu << " s of CPU in " << wall << " s";
}

// Ports, Start, then snapshots: out of turn, a call is refused.
TEST(StationServerTest, CallsOutOfTurnAreRefused) {
  std::atomic<int> aims{0};
  StationServer server([&aims](const RemoteAim&) { ++aims; });
  std::string error;
  ASSERT_TRUE(server.ListenTcp("127.0.0.1", 0, &error)) << error;
  EXPECT_FALSE(server.Publish({true, 90, false}));  // before Start
  ASSERT_TRUE(server.Start(&error)) << error;
  EXPECT_FALSE(server.Start(&error));
  EXPECT_EQ(error, "station server: already started");
  EXPECT_FALSE(server.ListenUdp("127.0.0.1", 0, &error));
  EXPECT_TRUE(server.Publish({true, 90, false}));
  Socket client = Connect(server.TcpPort());
  EXPECT_EQ(Ask(client, "P 45 0\n"), "RPRT 0\n");  // linked, as published
  EXPECT_EQ(aims, 1);
}

TEST(StationServerTest, OutOfDescriptorsNeitherSpinsNorStopsTheServer) {
  Server server;
  Socket client(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  // No descriptor left for this process: the limit at the lowest free one.
  rlimit saved{};
  getrlimit(RLIMIT_NOFILE, &saved);
  const int lowestFree = open("/dev/null", O_RDONLY | O_CLOEXEC);
  ASSERT_GE(lowestFree, 0);
  close(lowestFree);
  struct Restore {
    rlimit limit;
    ~Restore() { setrlimit(RLIMIT_NOFILE, &limit); }
  } restore{saved};
  rlimit tight = saved;
  tight.rlim_cur = static_cast<rlim_t>(lowestFree);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);

  const sockaddr_in at = Loopback(server.Port());
  ASSERT_EQ(connect(client.fd, reinterpret_cast<const sockaddr*>(&at), sizeof at), 0);
  // Only the server's thread runs while this one waits, so the process's
  // CPU time is the server's. Spinning, it takes most of a core even on a
  // busy machine; idle, it takes next to nothing. A busy machine only
  // lowers the figure, so the bound does not make the test flaky.
  const double cpuBefore = ProcessCpuSeconds();
  const auto wallBefore = Clock::now();
  EXPECT_EQ(Ask(client, "_\n", milliseconds(1000)), "silence");  // cannot be accepted
  const double cpu = ProcessCpuSeconds() - cpuBefore;
  const double wall = std::chrono::duration<double>(Clock::now() - wallBefore).count();
  EXPECT_LT(cpu / wall, 0.2) << cpu << " s of CPU in " << wall << " s";

  setrlimit(RLIMIT_NOFILE, &saved);
  EXPECT_EQ(Ask(client, "", milliseconds(10000)), kInfoLine);
}

}  // namespace
}  // namespace rotavox::testing
