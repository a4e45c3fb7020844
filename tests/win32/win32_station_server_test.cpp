// The Windows station server over loopback sockets: who gets a slot when
// all are taken.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "link/asio/station_server.h"

namespace rotavox::testing {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

const std::string kInfoLine = std::string(kRotctldInfo) + "\n";

struct Winsock {
  Winsock() {
    WSADATA data{};
    WSAStartup(MAKEWORD(2, 2), &data);
  }
  ~Winsock() { WSACleanup(); }
};

struct Socket {
  SOCKET s = INVALID_SOCKET;
  explicit Socket(int port) : s(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)) {
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(static_cast<u_short>(port));
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(connect(s, reinterpret_cast<const sockaddr*>(&at), sizeof at), 0);
  }
  Socket(Socket&& other) noexcept : s(other.s) { other.s = INVALID_SOCKET; }
  ~Socket() {
    if (s != INVALID_SOCKET) closesocket(s);
  }
};

// The next answer line, "closed" once the server has closed the
// connection, "silence" when nothing comes within 10 s.
std::string Ask(const Socket& c, const std::string& line) {
  if (!line.empty()) send(c.s, line.data(), static_cast<int>(line.size()), 0);
  std::string got;
  const auto until = Clock::now() + milliseconds(10000);
  while (got.find('\n') == std::string::npos) {
    const auto left = std::chrono::duration_cast<milliseconds>(until - Clock::now()).count();
    WSAPOLLFD p{c.s, POLLIN, 0};
    if (left <= 0 || WSAPoll(&p, 1, static_cast<INT>(left)) <= 0) return "silence";
    char buffer[256];
    const int n = recv(c.s, buffer, sizeof buffer, 0);
    if (n <= 0) return "closed";
    got.append(buffer, static_cast<std::size_t>(n));
  }
  return got;
}

// All slots taken: the newcomer is refused while everyone is within the
// idle limit, and takes the slot of the client silent longest once one is
// past it; a client that keeps talking keeps its slot.
TEST(Win32StationServerTest, NewcomerTakesOnlyTheSlotOfAClientSilentTooLong) {
  const Winsock winsock;
  StationServer server([](const RemoteAim&) {}, milliseconds(1000));
  std::string error;
  ASSERT_TRUE(server.ListenTcp("127.0.0.1", 0, &error)) << error;
  ASSERT_TRUE(server.Start(&error)) << error;
  Socket talker(server.TcpPort());  // the oldest connection, but it talks
  std::vector<Socket> silent;
  for (int i = 1; i < StationServer::kMaxClients; ++i) silent.emplace_back(server.TcpPort());
  for (const Socket& c : silent) ASSERT_EQ(Ask(c, "_\n"), kInfoLine);
  ASSERT_EQ(Ask(talker, "_\n"), kInfoLine);
  EXPECT_EQ(Ask(Socket(server.TcpPort()), "_\n"), "closed");  // everyone just spoke

  // Well past the limit even on a busy machine.
  Sleep(2500);
  ASSERT_EQ(Ask(talker, "_\n"), kInfoLine);
  const Socket newcomer(server.TcpPort());
  EXPECT_EQ(Ask(newcomer, "_\n"), kInfoLine);
  EXPECT_EQ(Ask(silent.front(), ""), "closed");  // the first to have gone quiet
  EXPECT_EQ(Ask(talker, "_\n"), kInfoLine);
  for (std::size_t i = 1; i < silent.size(); ++i) {
    EXPECT_EQ(Ask(silent[i], "_\n"), kInfoLine) << "silent client " << i;
  }
}

}  // namespace
}  // namespace rotavox::testing
