// Station-program server on POSIX sockets (see rotctld_server.h).
#include "link/posix/rotctld_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace rotavox {
namespace {

struct Client {
  int fd = -1;
  RotctldClient lines;
};

void SetNonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

}  // namespace

RotctldServer::RotctldServer(std::function<void(std::int32_t)> turn) : turn_(std::move(turn)) {}

RotctldServer::~RotctldServer() {
  if (thread_.joinable()) {
    const char stop = 's';
    (void)!write(wakeWrite_, &stop, 1);
    thread_.join();
  }
  for (const int fd : {listener_, wakeRead_, wakeWrite_}) {
    if (fd >= 0) close(fd);
  }
}

bool RotctldServer::Start(const std::string& address, int port, std::string* error) {
  sockaddr_in where{};
  where.sin_family = AF_INET;
  where.sin_port = htons(static_cast<std::uint16_t>(port));
  const std::string host = address == "localhost" ? "127.0.0.1" : address;
  if (inet_pton(AF_INET, host.c_str(), &where.sin_addr) != 1) {
    *error = "--rotctld: " + address + " is no IPv4 address";
    return false;
  }
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
  port_ = ntohs(where.sin_port);
  SetNonBlocking(listener_);
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
    *error = std::string("--rotctld: ") + std::strerror(errno);
    return false;
  }
  wakeRead_ = pipeFds[0];
  wakeWrite_ = pipeFds[1];
  thread_ = std::thread([this] { Serve(); });
  return true;
}

void RotctldServer::Publish(const LinkSnapshot& snapshot) {
  std::lock_guard<std::mutex> lock(mutex_);
  snapshot_ = snapshot;
}

LinkSnapshot RotctldServer::Snapshot() {
  std::lock_guard<std::mutex> lock(mutex_);
  return snapshot_;
}

void RotctldServer::Serve() {
  std::vector<Client> clients;
  for (;;) {
    std::vector<pollfd> fds{{wakeRead_, POLLIN, 0}, {listener_, POLLIN, 0}};
    for (const Client& c : clients) {
      // Once closing, only the answers matter: a client that has closed its
      // side would otherwise keep the poll awake.
      const short events = static_cast<short>((c.lines.WantsInput() ? POLLIN : 0) |
                                              (c.lines.Pending().empty() ? 0 : POLLOUT));
      fds.push_back({c.fd, events, 0});
    }
    if (poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[0].revents != 0) return;  // asked to stop

    for (std::size_t i = 0; i < clients.size(); ++i) {
      Client& c = clients[i];
      const short events = fds[i + 2].revents;
      bool gone = (events & (POLLERR | POLLNVAL)) != 0;
      if (!gone && c.lines.WantsInput() && (events & (POLLIN | POLLHUP))) {
        char buffer[4096];
        const ssize_t got = read(c.fd, buffer, sizeof buffer);
        if (got == 0) {
          c.lines.EndOfInput();  // the client has said all it will: answer, then close
        } else if (got < 0) {
          gone = errno != EAGAIN && errno != EINTR;
        } else {
          const auto turns =
              c.lines.Receive(std::string_view(buffer, static_cast<std::size_t>(got)), Snapshot());
          for (const std::int32_t azimuth : turns) turn_(azimuth);
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
      for (;;) {
        const int fd = accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) break;
        if (static_cast<int>(clients.size()) >= kMaxClients) {
          close(fd);
          continue;
        }
        const int on = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        Client client;
        client.fd = fd;
        clients.push_back(std::move(client));
      }
    }
  }
}

}  // namespace rotavox
