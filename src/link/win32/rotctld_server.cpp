// Station-program server on Winsock 2 (see rotctld_server.h).
#include "link/win32/rotctld_server.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <vector>

namespace rotavox {

struct RotctldServer::Shared {
  Shared() { InitializeCriticalSection(&lock); }
  ~Shared() { DeleteCriticalSection(&lock); }
  CRITICAL_SECTION lock;
  LinkSnapshot snapshot;
};

namespace {

struct Client {
  SOCKET socket = INVALID_SOCKET;
  RotctldClient lines;
};

void SetNonBlocking(SOCKET s) {
  u_long on = 1;
  ioctlsocket(s, FIONBIO, &on);
}

// "cannot listen on ...: Only one usage of each socket address ..." with
// the system's wording when it has one.
std::string Reason(int code) {
  char text[256] = {};
  const DWORD length =
      FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                     static_cast<DWORD>(code), 0, text, sizeof text, nullptr);
  std::string reason(text, length);
  while (!reason.empty() && (reason.back() == '\r' || reason.back() == '\n' ||
                             reason.back() == ' ' || reason.back() == '.')) {
    reason.pop_back();
  }
  if (reason.empty()) {
    switch (code) {
      case WSAEADDRINUSE:
        return "address already in use";
      case WSAEADDRNOTAVAIL:
        return "address not available";
      case WSAEACCES:
        return "permission denied";
      default:
        return "Winsock error " + std::to_string(code);
    }
  }
  return reason;
}

}  // namespace

RotctldServer::RotctldServer(std::function<void(std::int32_t)> turn)
    : turn_(std::move(turn)), shared_(std::make_unique<Shared>()) {}

RotctldServer::~RotctldServer() {
  if (thread_) {
    const char stop = 's';
    send(static_cast<SOCKET>(wake_), &stop, 1, 0);
    WaitForSingleObject(static_cast<HANDLE>(thread_), INFINITE);
    CloseHandle(static_cast<HANDLE>(thread_));
  }
  for (const std::uintptr_t s : {listener_, wake_}) {
    if (static_cast<SOCKET>(s) != INVALID_SOCKET) closesocket(static_cast<SOCKET>(s));
  }
  if (winsock_) WSACleanup();
}

bool RotctldServer::Start(const std::string& address, int port, std::string* error) {
  const std::string where = address + ":" + std::to_string(port);
  WSADATA data{};
  const int started = WSAStartup(MAKEWORD(2, 2), &data);
  if (started != 0) {
    *error = "--rotctld: no network: " + Reason(started);
    return false;
  }
  winsock_ = true;

  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_port = htons(static_cast<u_short>(port));
  const std::string host = address == "localhost" ? "127.0.0.1" : address;
  if (inet_pton(AF_INET, host.c_str(), &at.sin_addr) != 1) {
    *error = "--rotctld: " + address + " is no IPv4 address";
    return false;
  }
  const SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  listener_ = listener;
  if (listener == INVALID_SOCKET) {
    *error = "--rotctld: cannot listen on " + where + ": " + Reason(WSAGetLastError());
    return false;
  }
  // Unlike SO_REUSEADDR on Windows, which would let another program take
  // the port from under us, this keeps it ours alone.
  const BOOL on = TRUE;
  setsockopt(listener, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on),
             sizeof on);
  if (bind(listener, reinterpret_cast<const sockaddr*>(&at), sizeof at) != 0 ||
      listen(listener, 16) != 0) {
    *error = "--rotctld: cannot listen on " + where + ": " + Reason(WSAGetLastError());
    return false;
  }
  int length = sizeof at;
  getsockname(listener, reinterpret_cast<sockaddr*>(&at), &length);
  port_ = ntohs(at.sin_port);
  SetNonBlocking(listener);

  // WSAPoll waits on sockets only, so the wake-up is a socket too: a
  // datagram socket on the loopback interface, connected to itself.
  const SOCKET wake = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  wake_ = wake;
  sockaddr_in self{};
  self.sin_family = AF_INET;
  self.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int selfLength = sizeof self;
  if (wake == INVALID_SOCKET ||
      bind(wake, reinterpret_cast<const sockaddr*>(&self), sizeof self) != 0 ||
      getsockname(wake, reinterpret_cast<sockaddr*>(&self), &selfLength) != 0 ||
      connect(wake, reinterpret_cast<const sockaddr*>(&self), sizeof self) != 0) {
    *error = "--rotctld: " + Reason(WSAGetLastError());
    return false;
  }
  SetNonBlocking(wake);

  thread_ = CreateThread(nullptr, 0, &RotctldServer::ThreadMain, this, 0, nullptr);
  if (!thread_) {
    *error = "--rotctld: cannot start the server's thread";
    return false;
  }
  return true;
}

unsigned long __stdcall RotctldServer::ThreadMain(void* self) {
  static_cast<RotctldServer*>(self)->Serve();
  return 0;
}

void RotctldServer::Publish(const LinkSnapshot& snapshot) {
  EnterCriticalSection(&shared_->lock);
  shared_->snapshot = snapshot;
  LeaveCriticalSection(&shared_->lock);
}

LinkSnapshot RotctldServer::Snapshot() {
  EnterCriticalSection(&shared_->lock);
  const LinkSnapshot snapshot = shared_->snapshot;
  LeaveCriticalSection(&shared_->lock);
  return snapshot;
}

void RotctldServer::Serve() {
  const SOCKET listener = static_cast<SOCKET>(listener_);
  const SOCKET wake = static_cast<SOCKET>(wake_);
  std::vector<Client> clients;
  for (;;) {
    std::vector<WSAPOLLFD> fds{{wake, POLLIN, 0}, {listener, POLLIN, 0}};
    for (const Client& c : clients) {
      // Once closing, only the answers matter: a client that has closed its
      // side would otherwise keep the poll awake.
      const short events = static_cast<short>((c.lines.WantsInput() ? POLLIN : 0) |
                                              (c.lines.Pending().empty() ? 0 : POLLOUT));
      fds.push_back({c.socket, events, 0});
    }
    if (WSAPoll(fds.data(), static_cast<ULONG>(fds.size()), -1) == SOCKET_ERROR) {
      if (WSAGetLastError() == WSAEINTR) continue;
      return;
    }
    if (fds[0].revents != 0) return;  // asked to stop

    for (std::size_t i = 0; i < clients.size(); ++i) {
      Client& c = clients[i];
      const short events = fds[i + 2].revents;
      bool gone = (events & (POLLERR | POLLNVAL)) != 0;
      if (!gone && c.lines.WantsInput() && (events & (POLLIN | POLLHUP))) {
        char buffer[4096];
        const int got = recv(c.socket, buffer, sizeof buffer, 0);
        if (got == 0) {
          c.lines.EndOfInput();  // the client has said all it will: answer, then close
        } else if (got < 0) {
          gone = WSAGetLastError() != WSAEWOULDBLOCK;
        } else {
          const auto turns =
              c.lines.Receive(std::string_view(buffer, static_cast<std::size_t>(got)), Snapshot());
          for (const std::int32_t azimuth : turns) turn_(azimuth);
        }
      }
      const std::string& out = c.lines.Pending();
      if (!gone && !out.empty()) {
        const int sent = send(c.socket, out.data(), static_cast<int>(out.size()), 0);
        if (sent > 0) {
          c.lines.Sent(static_cast<std::size_t>(sent));
        } else if (sent < 0 && WSAGetLastError() != WSAEWOULDBLOCK) {
          gone = true;
        }
      }
      if (c.lines.Finished()) gone = true;
      // Answers left for a client that has gone: no one to read them.
      if (c.lines.Closing() && !c.lines.Pending().empty() && (events & POLLHUP)) gone = true;
      if (gone) {
        closesocket(c.socket);
        c.socket = INVALID_SOCKET;
      }
    }
    std::erase_if(clients, [](const Client& c) { return c.socket == INVALID_SOCKET; });

    // New connections last, so that slots freed in this round count.
    if (fds[1].revents & POLLIN) {
      for (;;) {
        const SOCKET s = accept(listener, nullptr, nullptr);
        if (s == INVALID_SOCKET) break;
        if (static_cast<int>(clients.size()) >= kMaxClients) {
          closesocket(s);
          continue;
        }
        SetNonBlocking(s);
        const BOOL noDelay = TRUE;
        setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay),
                   sizeof noDelay);
        Client client;
        client.socket = s;
        clients.push_back(std::move(client));
      }
    }
  }
}

}  // namespace rotavox
