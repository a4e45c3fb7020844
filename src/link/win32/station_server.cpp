// Station-program server on Winsock 2 (see station_server.h).
#include "link/win32/station_server.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <mstcpip.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

#include "link/udp_aim.h"

namespace rotavox {

struct StationServer::Shared {
  Shared() { InitializeCriticalSection(&lock); }
  ~Shared() { DeleteCriticalSection(&lock); }
  CRITICAL_SECTION lock;
  LinkSnapshot snapshot;
};

namespace {

using Clock = StationClock;

struct Client {
  SOCKET socket = INVALID_SOCKET;
  RotctldClient lines;  // knows when the client was last active
};

// Keep-alive on a connection: after a minute of silence the peer is probed
// every 10 s (Windows gives up after 10 probes), so a peer that vanished
// without closing gives its slot back within a few minutes.
void KeepAlive(SOCKET s) {
  const BOOL on = TRUE;
  setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&on), sizeof on);
  tcp_keepalive values{};
  values.onoff = 1;
  values.keepalivetime = 60 * 1000;
  values.keepaliveinterval = 10 * 1000;
  DWORD returned = 0;
  // Without it (older stacks, Wine) SO_KEEPALIVE keeps the system's times.
  WSAIoctl(s, SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0, &returned, nullptr, nullptr);
}

// Errors of accept that concern only the connection it was taking.
bool ConnectionError(int error) {
  return error == WSAECONNRESET || error == WSAECONNABORTED || error == WSAEINTR ||
         error == WSAENETDOWN || error == WSAEHOSTUNREACH || error == WSAENETUNREACH;
}

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

bool Address(const std::string& option, const std::string& address, int port, sockaddr_in* at,
             std::string* error) {
  *at = {};
  at->sin_family = AF_INET;
  at->sin_port = htons(static_cast<u_short>(port));
  const std::string host = address == "localhost" ? "127.0.0.1" : address;
  if (inet_pton(AF_INET, host.c_str(), &at->sin_addr) != 1) {
    *error = option + ": " + address + " is no IPv4 address";
    return false;
  }
  return true;
}

StationServer::StationServer(std::function<void(const RemoteAim&)> aim,
                             std::chrono::milliseconds idleLimit)
    : aim_(std::move(aim)), idleLimit_(idleLimit), shared_(std::make_unique<Shared>()) {}

StationServer::~StationServer() {
  if (thread_) {
    Wake('s');
    WaitForSingleObject(static_cast<HANDLE>(thread_), INFINITE);
    CloseHandle(static_cast<HANDLE>(thread_));
  }
  std::vector<std::uintptr_t> sockets = udp_;
  sockets.push_back(listener_);
  sockets.push_back(wake_);
  for (const std::uintptr_t s : sockets) {
    if (static_cast<SOCKET>(s) != INVALID_SOCKET) closesocket(static_cast<SOCKET>(s));
  }
  if (winsock_) WSACleanup();
}

bool StationServer::StartWinsock(const std::string& option, std::string* error) {
  if (winsock_) return true;
  WSADATA data{};
  const int started = WSAStartup(MAKEWORD(2, 2), &data);
  if (started != 0) {
    *error = option + ": no network: " + Reason(started);
    return false;
  }
  winsock_ = true;
  return true;
}

bool StationServer::ListenTcp(const std::string& address, int port, std::string* error) {
  const std::string where = address + ":" + std::to_string(port);
  sockaddr_in at{};
  if (!StartWinsock("--rotctld", error) || !Address("--rotctld", address, port, &at, error)) return false;
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
  tcpPort_ = ntohs(at.sin_port);
  SetNonBlocking(listener);
  return true;
}

bool StationServer::ListenUdp(const std::string& address, int port, std::string* error) {
  const std::string where = address + ":" + std::to_string(port);
  sockaddr_in at{};
  if (!StartWinsock("--udp", error) || !Address("--udp", address, port, &at, error)) return false;
  const SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (s == INVALID_SOCKET) {
    *error = "--udp: cannot listen on " + where + ": " + Reason(WSAGetLastError());
    return false;
  }
  udp_.push_back(s);
  const BOOL on = TRUE;
  setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on), sizeof on);
  if (bind(s, reinterpret_cast<const sockaddr*>(&at), sizeof at) != 0) {
    *error = "--udp: cannot listen on " + where + ": " + Reason(WSAGetLastError());
    return false;
  }
  SetNonBlocking(s);
  return true;
}

bool StationServer::Start(std::string* error) {
  if (!StartWinsock("station server", error)) return false;
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
    *error = "station server: " + Reason(WSAGetLastError());
    return false;
  }
  SetNonBlocking(wake);

  thread_ = CreateThread(nullptr, 0, &StationServer::ThreadMain, this, 0, nullptr);
  if (!thread_) {
    *error = "station server: cannot start the server's thread";
    return false;
  }
  return true;
}

void StationServer::Wake(char why) { send(static_cast<SOCKET>(wake_), &why, 1, 0); }

unsigned long __stdcall StationServer::ThreadMain(void* self) {
  static_cast<StationServer*>(self)->Serve();
  return 0;
}

void StationServer::Publish(const LinkSnapshot& snapshot) {
  EnterCriticalSection(&shared_->lock);
  const LinkSnapshot& old = shared_->snapshot;
  const bool news =
      snapshot.linked != old.linked || snapshot.bearing != old.bearing || snapshot.turning != old.turning;
  shared_->snapshot = snapshot;
  LeaveCriticalSection(&shared_->lock);
  if (news && !udp_.empty() && thread_) Wake('n');
}

LinkSnapshot StationServer::Snapshot() {
  EnterCriticalSection(&shared_->lock);
  const LinkSnapshot snapshot = shared_->snapshot;
  LeaveCriticalSection(&shared_->lock);
  return snapshot;
}

void StationServer::Serve() {
  const SOCKET listener = static_cast<SOCKET>(listener_);
  const SOCKET wake = static_cast<SOCKET>(wake_);
  std::vector<Client> clients;
  UdpAims datagrams(udp_.size());
  Clock::time_point acceptAgain{};  // while accept has no socket to give
  for (;;) {
    // The wake-up socket, the listener (if any, and unless accept is
    // paused), the UDP sockets, then the clients. WSAPoll refuses an
    // invalid socket, so none is listed. A pause ends the wait when it does.
    std::vector<WSAPOLLFD> fds{{wake, POLLIN, 0}};
    bool listening = listener != INVALID_SOCKET;
    INT timeout = -1;
    if (const Clock::time_point now = Clock::now(); listening && now < acceptAgain) {
      listening = false;
      timeout = static_cast<INT>(
          std::chrono::ceil<std::chrono::milliseconds>(acceptAgain - now).count());
    }
    if (listening) fds.push_back({listener, POLLIN, 0});
    const std::size_t firstUdp = fds.size();
    for (const std::uintptr_t s : udp_) fds.push_back({static_cast<SOCKET>(s), POLLIN, 0});
    const std::size_t first = fds.size();
    for (const Client& c : clients) {
      // Once closing, only the answers matter: a client that has closed its
      // side would otherwise keep the poll awake.
      const short events = static_cast<short>((c.lines.WantsInput() ? POLLIN : 0) |
                                              (c.lines.Pending().empty() ? 0 : POLLOUT));
      fds.push_back({c.socket, events, 0});
    }
    if (WSAPoll(fds.data(), static_cast<ULONG>(fds.size()), timeout) == SOCKET_ERROR) {
      if (WSAGetLastError() == WSAEINTR) continue;
      return;
    }
    bool news = false;
    if (fds[0].revents != 0) {
      char why[64];
      for (int n; (n = recv(wake, why, sizeof why, 0)) > 0;) {
        if (std::memchr(why, 's', static_cast<std::size_t>(n))) return;  // asked to stop
        news = true;
      }
    }

    for (std::size_t u = 0; u < udp_.size(); ++u) {
      if (!(fds[firstUdp + u].revents & POLLIN)) continue;
      const SOCKET s = static_cast<SOCKET>(udp_[u]);
      for (int round = 0; round < kDatagramsPerRound; ++round) {
        char datagram[kUdpMaxDatagram + 1];
        sockaddr_in from{};
        int fromLength = sizeof from;
        const int got = recvfrom(s, datagram, sizeof datagram, 0, reinterpret_cast<sockaddr*>(&from),
                                 &fromLength);
        // A datagram too long for the buffer is refused (and counted).
        const bool tooLong = got < 0 && WSAGetLastError() == WSAEMSGSIZE;
        if (got < 0 && !tooLong) break;
        const auto size = tooLong ? sizeof datagram + 1 : static_cast<std::size_t>(got);
        const std::string_view bytes(datagram, tooLong ? 0 : size);
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
        to.sin_port = htons(static_cast<u_short>(kN1mmStatusPort));
        sendto(static_cast<SOCKET>(udp_[status.socket]), status.text.data(),
               static_cast<int>(status.text.size()), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
      }
    }

    for (std::size_t i = 0; i < clients.size(); ++i) {
      Client& c = clients[i];
      const short events = fds[first + i].revents;
      bool gone = (events & (POLLERR | POLLNVAL)) != 0;
      if (!gone && c.lines.WantsInput() && (events & (POLLIN | POLLHUP))) {
        char buffer[4096];
        const int got = recv(c.socket, buffer, sizeof buffer, 0);
        if (got == 0) {
          c.lines.EndOfInput();  // the client has said all it will: answer, then close
        } else if (got < 0) {
          gone = WSAGetLastError() != WSAEWOULDBLOCK;
        } else {
          const auto aims =
              c.lines.Receive(std::string_view(buffer, static_cast<std::size_t>(got)), Snapshot());
          for (const RemoteAim& aim : aims) aim_(aim);
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
    if (listening && (fds[1].revents & POLLIN)) {
      for (int round = 0; round < kAcceptsPerRound; ++round) {
        const SOCKET s = accept(listener, nullptr, nullptr);
        if (s == INVALID_SOCKET) {
          const int error = WSAGetLastError();
          if (ConnectionError(error)) continue;
          // No socket to give (WSAEMFILE, WSAENOBUFS), or anything
          // unforeseen: the connection is still queued, so wait a while
          // before trying it again.
          if (error != WSAEWOULDBLOCK) acceptAgain = Clock::now() + kAcceptPause;
          break;
        }
        const Clock::time_point now = Clock::now();
        if (static_cast<int>(clients.size()) >= kMaxClients) {
          const auto idlest = IdlestPastLimit(clients, now, idleLimit_);
          if (idlest == clients.end()) {
            closesocket(s);
            continue;
          }
          closesocket(idlest->socket);
          clients.erase(idlest);
        }
        SetNonBlocking(s);
        const BOOL noDelay = TRUE;
        setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay),
                   sizeof noDelay);
        KeepAlive(s);
        Client client;
        client.socket = s;
        client.lines = RotctldClient(now);
        clients.push_back(std::move(client));
      }
    }
  }
}

}  // namespace rotavox
