// Aiming by UDP datagram, as contest and logging programs do it.
//
// Two kinds of datagram are understood, on any of the --udp ports:
//  - N1MM Logger+'s rotor packets (also sent by DXLog, not1mm and others):
//      <N1MMRotor><rotor>C BOX</rotor><goazi>55.0</goazi><offset>0.0</offset>
//        <bidirectional>0</bidirectional><freqband>14</freqband></N1MMRotor>
//    turn to goazi + offset; <N1MMRotor><stop>...</stop></N1MMRotor> stops.
//    An element may carry attributes, as .NET serializers write the root
//    (<N1MMRotor xmlns:xsd="..." xmlns:xsi="...">).
//    The logger learns where the antenna is from status datagrams sent back
//    to port 13010 of its address: "<rotor> @ <heading x 10>".
//  - PstRotator's packets: <PST><AZIMUTH>85</AZIMUTH></PST> turns to 85,
//    <PST><STOP>1</STOP></PST> stops.
// A heading is rounded to a whole degree (halves to even) and taken to 0 to
// 359; a goazi or AZIMUTH outside 0 to 360, or anything else, is no aim.
//
// Pure functions and small value classes; the servers (link/posix,
// link/win32) move the datagrams.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "link/rotctld.h"

namespace rotavox {

// Longer datagrams are no aims: both kinds are a few dozen bytes.
inline constexpr std::size_t kUdpMaxDatagram = 1024;
// Where N1MM listens for rotor status, on the sender's address.
inline constexpr int kN1mmStatusPort = 13010;

struct UdpAim {
  RemoteAim aim;
  bool n1mm = false;   // answer with status datagrams
  std::string rotor;   // the rotor's name in an N1MM packet, for the status
};

// Nothing when the datagram is no aim.
std::optional<UdpAim> ParseUdpAim(std::string_view datagram);

// The status datagram for N1MM: "C BOX @ 1460" for 146 degrees.
std::string N1mmStatus(std::string_view rotor, std::int32_t bearing);

// Whether a snapshot is news to a logger that asked for a turn: the bearing
// changed, or the antenna has just arrived.
class StatusWatch {
 public:
  bool Changed(const LinkSnapshot& snapshot);

 private:
  std::optional<LinkSnapshot> last_;
};

// A sender's address, IPv4 or IPv6. An IPv4 address is held as IPv6 holds
// it (::ffff:a.b.c.d), so that one table takes both.
struct PeerAddress {
  std::array<std::uint8_t, 16> bytes{};

  // From an IPv4 address in network byte order.
  static PeerAddress FromIpv4(std::uint32_t networkOrder);
  bool IsIpv4() const;
  // The IPv4 address in network byte order; 0 for an IPv6 one.
  std::uint32_t Ipv4() const;
  friend bool operator==(const PeerAddress&, const PeerAddress&) = default;
};

// At most `burst` aims, then one per `every`: a flood of datagrams costs
// the window nothing.
class AimRate {
 public:
  using Clock = std::chrono::steady_clock;
  AimRate(int burst, Clock::duration every) : burst_(burst), every_(every), tokens_(burst) {}
  bool Allow(Clock::time_point now);

 private:
  int burst_;
  Clock::duration every_;
  double tokens_;
  std::optional<Clock::time_point> last_;
};

// What a station server does with datagrams, whatever its sockets: each is
// read, counted when it is no aim or comes too fast, and loggers that aim
// with N1MM packets are remembered (the last kMaxPeers addresses) and told
// of the antenna's moves.
//
// The rate is each sender's own, so that one flooding sender holds back
// no other. Source addresses can be forged, so at most kMaxSenders are
// kept: a newcomer beyond them takes the place of the sender heard from
// least recently, which starts afresh when it comes back.
class UdpAims {
 public:
  using Clock = AimRate::Clock;
  static constexpr int kBurst = 10;
  static constexpr std::chrono::milliseconds kEvery{50};
  static constexpr std::size_t kMaxPeers = 8;
  static constexpr std::size_t kMaxSenders = 64;

  explicit UdpAims(std::size_t sockets) : sockets_(sockets) {}

  // A datagram of `size` bytes (its first `bytes` read) on socket `socket`
  // from `from`; the aim to hand to the window, if any.
  std::optional<RemoteAim> Receive(std::size_t socket, const PeerAddress& from,
                                   std::string_view bytes, std::size_t size, Clock::time_point now);

  struct Status {
    std::size_t socket;  // to send it from
    PeerAddress to;      // the logger's address; the port is kN1mmStatusPort
    std::string text;
  };
  // The status datagrams a newly published snapshot calls for.
  std::vector<Status> Publish(const LinkSnapshot& snapshot);

  std::uint64_t Ignored() const { return ignored_; }

 private:
  struct Peer {
    std::size_t socket;
    PeerAddress address;
    std::string rotor;
  };
  struct Sender {
    PeerAddress address;
    AimRate rate;
    Clock::time_point heard;
  };
  bool Allow(const PeerAddress& from, Clock::time_point now);

  std::size_t sockets_;
  std::vector<Sender> senders_;
  std::vector<Peer> peers_;
  StatusWatch watch_;
  std::uint64_t ignored_ = 0;
};

}  // namespace rotavox
