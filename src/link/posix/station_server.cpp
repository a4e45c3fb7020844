// Station-program server on POSIX sockets (see station_server.h).
#include "link/posix/station_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

#include "link/udp_aim.h"

namespace rotavox {
namespace {

using Clock = StationClock;

struct Client {
  int fd = -1;
  RotctldClient lines;  // knows when the client was last active
};

// Keep-alive on a connection: after a minute of silence the peer is probed
// every 10 s, and after 6 probes unanswered the connection fails, so a peer
// that vanished without closing gives its slot back within about two
// minutes.
void KeepAlive(int fd) {
  const int on = 1;
  const int idle = 60;
  const int interval = 10;
  const int count = 6;
  setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
  setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
  setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
  setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
}

// Errors of accept that concern only the connection it was taking (which
// is gone): Linux passes a connection's pending network error this way.
bool ConnectionError(int error) {
  switch (error) {
    case EINTR:
    case ECONNABORTED:
    case EPROTO:
    case ENETDOWN:
    case ENOPROTOOPT:
    case EHOSTDOWN:
    case ENONET:
    case EHOSTUNREACH:
    case EOPNOTSUPP:
    case ENETUNREACH:
      return true;
    default:
      return false;
  }
}

void SetNonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

bool Address(const std::string& option, const std::string& address, int port, sockaddr_in* where,
             std::string* error) {
  *where = {};
  where->sin_family = AF_INET;
  where->sin_port = htons(static_cast<std::uint16_t>(port));
  const std::string host = address == "localhost" ? "127.0.0.1" : address;
  if (inet_pton(AF_INET, host.c_str(), &where->sin_addr) != 1) {
    *error = option + ": " + address + " is no IPv4 address";
    return false;
  }
  return true;
}

}  // namespace

StationServer::StationServer(std::function<void(const RemoteAim&)> aim,
                             std::chrono::milliseconds idleLimit)
    : aim_(std::move(aim)), idleLimit_(idleLimit) {}

StationServer::~StationServer() {
  if (thread_.joinable()) {
    Wake('s');
    thread_.join();
  }
  for (const int fd : {listener_, wakeRead_, wakeWrite_}) {
    if (fd >= 0) close(fd);
  }
  for (const int fd : udp_) close(fd);
}

bool StationServer::ListenTcp(const std::string& address, int port, std::string* error) {
  sockaddr_in where{};
  if (!Address("--rotctld", address, port, &where, error)) return false;
  listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int on = 1;
  setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0 ||
      listen(listener_, 16) != 0) {
    *error = "--rotctld: cannot listen on " + address + ":" + std::to_string(port) + ": " +
             std::strerror(errno);
    return false;
  }
  socklen_t length = sizeof where;
  getsockname(listener_, reinterpret_cast<sockaddr*>(&where), &length);
  tcpPort_ = ntohs(where.sin_port);
  SetNonBlocking(listener_);
  return true;
}

bool StationServer::ListenUdp(const std::string& address, int port, std::string* error) {
  sockaddr_in where{};
  if (!Address("--udp", address, port, &where, error)) return false;
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0) {
    *error = "--udp: cannot listen on " + address + ":" + std::to_string(port) + ": " +
             std::strerror(errno);
    if (fd >= 0) close(fd);
    return false;
  }
  socklen_t length = sizeof where;
  getsockname(fd, reinterpret_cast<sockaddr*>(&where), &length);
  udp_.push_back(fd);
  udpPorts_.push_back(ntohs(where.sin_port));
  return true;
}

bool StationServer::Start(std::string* error) {
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
    *error = std::string("station server: ") + std::strerror(errno);
    return false;
  }
  wakeRead_ = pipeFds[0];
  wakeWrite_ = pipeFds[1];
  thread_ = std::thread([this] { Serve(); });
  return true;
}

void StationServer::Wake(char why) { (void)!write(wakeWrite_, &why, 1); }

void StationServer::Publish(const LinkSnapshot& snapshot) {
  bool news = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    news = snapshot.linked != snapshot_.linked || snapshot.bearing != snapshot_.bearing ||
           snapshot.turning != snapshot_.turning;
    snapshot_ = snapshot;
  }
  // Loggers may want to hear of it; a full pipe has news in it already.
  if (news && !udp_.empty() && wakeWrite_ >= 0) Wake('n');
}

LinkSnapshot StationServer::Snapshot() {
  std::lock_guard<std::mutex> lock(mutex_);
  return snapshot_;
}

void StationServer::Serve() {
  std::vector<Client> clients;
  UdpAims datagrams(udp_.size());
  Clock::time_point acceptAgain{};  // while accept has no descriptor to give
  for (;;) {
    // The wake-up pipe, the listener, the UDP sockets, then the clients.
    // While accept is paused the listener is left out (poll skips a
    // negative descriptor) and the wait ends when the pause does.
    int timeout = -1;
    int listener = listener_;
    if (const Clock::time_point now = Clock::now(); listener >= 0 && now < acceptAgain) {
      listener = -1;
      timeout = static_cast<int>(
          std::chrono::ceil<std::chrono::milliseconds>(acceptAgain - now).count());
    }
    std::vector<pollfd> fds{{wakeRead_, POLLIN, 0}, {listener, POLLIN, 0}};
    for (const int fd : udp_) fds.push_back({fd, POLLIN, 0});
    const std::size_t first = fds.size();
    for (const Client& c : clients) {
      // Once closing, only the answers matter: a client that has closed its
      // side would otherwise keep the poll awake.
      const short events = static_cast<short>((c.lines.WantsInput() ? POLLIN : 0) |
                                              (c.lines.Pending().empty() ? 0 : POLLOUT));
      fds.push_back({c.fd, events, 0});
    }
    if (poll(fds.data(), fds.size(), timeout) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    bool news = false;
    if (fds[0].revents != 0) {
      char why[64];
      for (ssize_t n; (n = read(wakeRead_, why, sizeof why)) > 0;) {
        if (std::memchr(why, 's', static_cast<std::size_t>(n))) return;  // asked to stop
        news = true;
      }
    }

    for (std::size_t u = 0; u < udp_.size(); ++u) {
      if (!(fds[2 + u].revents & POLLIN)) continue;
      for (int round = 0; round < kDatagramsPerRound; ++round) {
        char datagram[kUdpMaxDatagram + 1];
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        // MSG_TRUNC: the length is the datagram's own, so a long one shows.
        const ssize_t got = recvfrom(udp_[u], datagram, sizeof datagram, MSG_TRUNC,
                                     reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (got < 0) break;
        const auto size = static_cast<std::size_t>(got);
        const std::string_view bytes(datagram, std::min(size, sizeof datagram));
        const auto aim = datagrams.Receive(u, PeerAddress::FromIpv4(from.sin_addr.s_addr), bytes,
                                           size, UdpAims::Clock::now());
        ignored_ = datagrams.Ignored();
        if (aim) aim_(*aim);
      }
    }
    if (news) {
      for (const UdpAims::Status& status : datagrams.Publish(Snapshot())) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = status.to.Ipv4();
        to.sin_port = htons(static_cast<std::uint16_t>(kN1mmStatusPort));
        sendto(udp_[status.socket], status.text.data(), status.text.size(), MSG_NOSIGNAL,
               reinterpret_cast<const sockaddr*>(&to), sizeof to);
      }
    }

    for (std::size_t i = 0; i < clients.size(); ++i) {
      Client& c = clients[i];
      const short events = fds[first + i].revents;
      bool gone = (events & (POLLERR | POLLNVAL)) != 0;
      if (!gone && c.lines.WantsInput() && (events & (POLLIN | POLLHUP))) {
        char buffer[4096];
        const ssize_t got = read(c.fd, buffer, sizeof buffer);
        if (got == 0) {
          c.lines.EndOfInput();  // the client has said all it will: answer, then close
        } else if (got < 0) {
          gone = errno != EAGAIN && errno != EINTR;
        } else {
          const auto aims =
              c.lines.Receive(std::string_view(buffer, static_cast<std::size_t>(got)), Snapshot());
          for (const RemoteAim& aim : aims) aim_(aim);
        }
      }
      const std::string& out = c.lines.Pending();
      if (!gone && !out.empty()) {
        const ssize_t sent = send(c.fd, out.data(), out.size(), MSG_NOSIGNAL);
        if (sent > 0) {
          c.lines.Sent(static_cast<std::size_t>(sent));
        } else if (sent < 0 && errno != EAGAIN && errno != EINTR) {
          gone = true;
        }
      }
      if (c.lines.Finished()) gone = true;
      // Answers left for a client that has gone altogether: no one to read them.
      if (c.lines.Closing() && !c.lines.Pending().empty() && (events & POLLHUP)) gone = true;
      if (gone) {
        close(c.fd);
        c.fd = -1;
      }
    }
    std::erase_if(clients, [](const Client& c) { return c.fd < 0; });

    // New connections last, so that slots freed in this round count.
    if (fds[1].revents & POLLIN) {
      for (int round = 0; round < kAcceptsPerRound; ++round) {
        const int fd = accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
          if (ConnectionError(errno)) continue;
          // Out of descriptors or memory (EMFILE, ENFILE, ENOBUFS, ENOMEM),
          // or anything unforeseen: the connection is still queued, so
          // wait a while before trying it again.
          if (errno != EAGAIN && errno != EWOULDBLOCK) acceptAgain = Clock::now() + kAcceptPause;
          break;
        }
        const Clock::time_point now = Clock::now();
        if (static_cast<int>(clients.size()) >= kMaxClients) {
          const auto idlest = IdlestPastLimit(clients, now, idleLimit_);
          if (idlest == clients.end()) {
            close(fd);
            continue;
          }
          close(idlest->fd);
          clients.erase(idlest);
        }
        const int on = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        KeepAlive(fd);
        Client client;
        client.fd = fd;
        client.lines = RotctldClient(now);
        clients.push_back(std::move(client));
      }
    }
  }
}

}  // namespace rotavox
