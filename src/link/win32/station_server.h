// The station-program server on Windows: the rotctld protocol on TCP and
// aims by UDP datagram (N1MM's and PstRotator's packets) through Winsock 2,
// served on a thread of their own, so that answers never wait behind the
// window's thread, which may be speaking for seconds. It keeps the limits
// of the Linux edition's server (link/posix/station_server.h): a newcomer
// takes the slot of a client with no command for the idle limit when all are taken,
// keep-alive probes find vanished peers, and while Winsock has no socket
// to give (WSAEMFILE, WSAENOBUFS) new connections wait in the listen queue
// while the connected clients go on being served.
//
// The server owns its use of Winsock (WSAStartup in Start, WSACleanup when
// it goes). No Windows header here: sockets are kept as their integer
// values, and the lock lives in the implementation.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "link/rotctld.h"
#include "link/station_slots.h"

namespace rotavox {

class StationServer {
 public:
  static constexpr int kMaxClients = kStationMaxClients;
  static constexpr std::size_t kMaxPending = kRotctldMaxPending;
  static constexpr std::chrono::milliseconds kIdleLimit = kStationIdleLimit;

  // `aim` runs on the server's thread. A client with no command for `idleLimit`
  // loses its slot to a newcomer when all slots are taken.
  explicit StationServer(std::function<void(const RemoteAim&)> aim,
                         std::chrono::milliseconds idleLimit = kIdleLimit);
  ~StationServer();
  StationServer(const StationServer&) = delete;
  StationServer& operator=(const StationServer&) = delete;

  // Before Start: the rotctld port (at most one) and the UDP ports, each on
  // an IPv4 address or "localhost". False, with a reason, when the address
  // cannot be had.
  bool ListenTcp(const std::string& address, int port, std::string* error);
  bool ListenUdp(const std::string& address, int port, std::string* error);
  bool Start(std::string* error);
  int TcpPort() const { return tcpPort_; }

  void Publish(const LinkSnapshot& snapshot);
  std::uint64_t Ignored() const { return ignored_; }

 private:
  struct Shared;
  static unsigned long __stdcall ThreadMain(void* self);
  bool StartWinsock(const std::string& option, std::string* error);
  void Serve();
  LinkSnapshot Snapshot();
  void Wake(char why);

  std::function<void(const RemoteAim&)> aim_;
  std::chrono::milliseconds idleLimit_;
  std::unique_ptr<Shared> shared_;  // the snapshot under its lock
  bool winsock_ = false;
  std::uintptr_t listener_ = ~std::uintptr_t{0};  // INVALID_SOCKET
  std::vector<std::uintptr_t> udp_;
  std::uintptr_t wake_ = ~std::uintptr_t{0};  // loopback datagram socket, connected to itself
  int tcpPort_ = 0;
  std::atomic<std::uint64_t> ignored_{0};
  void* thread_ = nullptr;
};

}  // namespace rotavox
