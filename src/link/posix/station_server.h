// The station-program server on Linux: the rotctld protocol on TCP and
// aims by UDP datagram (N1MM's and PstRotator's packets), served on a
// thread of their own, so that answers never wait behind the window's
// thread, which may be speaking for seconds.
//
// Answers come from the latest snapshot the window's thread published
// (Publish); a turn or stop is handed back through the aim callback, which
// must post it to the window's thread. TCP: at most kMaxClients
// connections at once. When all are taken, a newcomer gets the slot of the
// client that has gone longest without sending a command, if that is
// the idle limit (kIdleLimit unless the constructor says otherwise) or
// more; otherwise the newcomer is closed at once. Keep-alive probes find
// peers that vanished without closing. Each line is at most
// kRotctldMaxLine bytes (a longer one is answered "RPRT -1" and dropped),
// and a client that does not read its answers is dropped once kMaxPending
// bytes wait for it. When the process is out of descriptors, new
// connections wait in the listen queue, retried every few hundred
// milliseconds, while the connected clients go on being served. UDP:
// datagrams longer than kUdpMaxDatagram, ones that are no aim, and aims
// past UdpAims' burst and rate per sender are ignored and counted. Loggers
// that sent N1MM packets get its status datagrams whenever the bearing
// changes and on arrival.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
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
  // The ports actually listened on (useful with port 0 in tests).
  int TcpPort() const { return tcpPort_; }
  const std::vector<int>& UdpPorts() const { return udpPorts_; }

  void Publish(const LinkSnapshot& snapshot);
  // Datagrams ignored so far.
  std::uint64_t Ignored() const { return ignored_; }

 private:
  void Serve();
  LinkSnapshot Snapshot();
  void Wake(char why);

  std::function<void(const RemoteAim&)> aim_;
  std::chrono::milliseconds idleLimit_;
  std::mutex mutex_;
  LinkSnapshot snapshot_;
  int listener_ = -1;
  std::vector<int> udp_;
  std::vector<int> udpPorts_;
  int wakeRead_ = -1;
  int wakeWrite_ = -1;
  int tcpPort_ = 0;
  std::atomic<std::uint64_t> ignored_{0};
  std::thread thread_;
};

}  // namespace rotavox
