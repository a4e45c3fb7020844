// The station-program server of both editions: the rotctld protocol on TCP
// and aims by UDP datagram (N1MM's and PstRotator's packets), on
// standalone Asio, served on threads of its own so that answers never wait
// behind the window's thread, which may be speaking for seconds.
//
// Answers come from the latest snapshot the window's thread published
// (Publish); a turn or stop is handed back through the aim callback, which
// runs on the server's threads, two at once at times, and must only leave
// the aim for the window (the editions put it in the lock-free RemoteAims
// slot).
//
// TCP: at most kMaxClients connections at once; when all are taken, a
// newcomer gets the slot of the client that has gone longest without a
// command, if that is the idle limit or more, and is closed at once
// otherwise (link/asio/slot_manager.h). Keep-alive probes find peers that
// vanished without closing. Lines and unread answers are limited as
// RotctldClient says. When the process is out of descriptors, new
// connections wait in the listen queue, tried again every kAcceptPause,
// while the connected clients go on being served. UDP: datagrams longer
// than kUdpMaxDatagram, ones that are no aim, and aims past UdpAims' burst
// and rate per sender are ignored and counted; a port whose receive fails
// is tried again after kReceivePause. Loggers that sent N1MM packets get
// its status datagrams whenever the bearing changes and on arrival.
//
// The destructor stops the server as Asio's HTTP server example does: the
// listener and the datagram ports close, then every connection, and the
// threads end once nothing is outstanding on them.
//
// Addresses are IPv4, "localhost" (127.0.0.1) or IPv6; an IPv6 address
// listens on IPv6 alone on every system. Nothing of Asio or of the
// system's sockets shows here.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "link/rotctld.h"
#include "link/station_slots.h"
#include "link/wsjtx.h"

namespace rotavox {

class StationServer {
 public:
  static constexpr int kMaxClients = kStationMaxClients;
  static constexpr std::chrono::milliseconds kIdleLimit = kStationIdleLimit;
  // How long accept is left alone after it found no descriptor or memory
  // for a new connection: the connection stays queued, so trying again at
  // once would only spin.
  static constexpr std::chrono::milliseconds kAcceptPause{250};
  // The same for a datagram port whose receive failed (no buffers or
  // memory: ENOBUFS, ENOMEM): the failure would come again at once.
  static constexpr std::chrono::milliseconds kReceivePause{250};

  // `aim` runs on the server's threads. A client with no command for
  // `idleLimit` loses its slot to a newcomer when all slots are taken.
  explicit StationServer(std::function<void(const RemoteAim&)> aim,
                         std::chrono::milliseconds idleLimit = kIdleLimit);
  ~StationServer();
  StationServer(const StationServer&) = delete;
  StationServer& operator=(const StationServer&) = delete;

  // Before Start: the rotctld port (at most one) and the UDP ports. False,
  // with a reason naming the option, when the address cannot be had.
  bool ListenTcp(const std::string& address, int port, std::string* error);
  bool ListenUdp(const std::string& address, int port, std::string* error);
  // Before Start, once: WSJT-X's datagrams on `address`:`port`, each status
  // that changes what its program shows handed to `status` on the
  // server's threads. A multicast address (224.0.0.0/4, ff00::/8) is
  // joined on the loopback interface and every other one, the port shared
  // with the other programs that hear WSJT-X; any other address takes the
  // port alone.
  bool ListenWsjtx(const std::string& address, int port, std::function<void(const WsjtxStatus&)> status,
                   std::string* error);
  // Once. False, with a reason, when the threads cannot be started or the
  // server already runs; the ports can no longer be added afterwards.
  bool Start(std::string* error);
  // The ports actually listened on (useful with port 0 in tests).
  int TcpPort() const { return tcpPort_; }
  const std::vector<int>& UdpPorts() const { return udpPorts_; }
  int WsjtxPort() const { return wsjtxPort_; }

  // From the window's thread only, once started: false before Start,
  // when there is nobody to take it.
  bool Publish(const LinkSnapshot& snapshot);
  // Datagrams ignored so far: on the aim ports, and WSJT-X's.
  std::uint64_t Ignored() const;
  std::uint64_t WsjtxIgnored() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  int tcpPort_ = 0;
  std::vector<int> udpPorts_;
  int wsjtxPort_ = 0;
  LinkSnapshot published_;  // the last snapshot handed to the server
};

}  // namespace rotavox
