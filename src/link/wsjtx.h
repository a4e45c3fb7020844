// The datagrams of WSJT-X (and JTDX, which speaks the same), by which the
// program hears which station the operator is working there.
//
// Each datagram is big-endian: a quint32 magic 0xadbccbda, a quint32
// schema (2 or 3), a quint32 message type, then the fields. A string is a
// quint32 byte count and that many UTF-8 bytes, 0xffffffff being null; a
// bool is one byte. Only the status (type 1) matters here, and of it the
// fields up to the DX grid:
//   id, dial frequency (quint64), mode, DX call, report, Tx mode,
//   Tx enabled, transmitting, decoding (bools), Rx DF, Tx DF (quint32),
//   DE call, DE grid, DX grid, ...
// Fields are only ever added at the end, so a longer status is read and
// its tail ignored; JTDX's shorter one is read too. Every other type is
// ignored.
//
// A datagram has no authentication, and must never make the program say
// or send what a station would not: a status whose DX call is no callsign,
// or whose DX grid is no locator of 4 or 6 characters, is ignored and
// counted with the datagrams that cannot be read.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace rotavox {

// WSJT-X's own default for where it sends.
inline constexpr int kWsjtxDefaultPort = 2237;

// What a status says of the station being worked. An empty text is an
// absent field (empty or null in the datagram).
struct WsjtxStatus {
  std::string id;      // the sending program ("WSJT-X", "JTDX", a configuration)
  std::string dxCall;  // upper case, a callsign
  std::string dxGrid;  // upper case, 4 or 6 characters
  std::string deGrid;  // the operator's own, as set there; absent when no locator
  bool operator==(const WsjtxStatus&) const = default;
};

struct WsjtxDatagram {
  enum class Kind {
    kStatus,  // `status` holds it
    kOther,   // a heartbeat or another type: nothing to do
    kBad,     // cannot be read, or a status that says what no station would
  };
  Kind kind = Kind::kBad;
  WsjtxStatus status;
};

WsjtxDatagram ReadWsjtx(std::string_view bytes);

// The WSJT-X port's side on the server's threads: reads each datagram,
// counts the bad ones, and passes on a status only when it changes what
// its program shows (the DX call, the DX grid, the DE grid), so that a
// program repeating itself never hides another's change. It remembers the
// last status of at most kPrograms programs, forgetting the one heard
// from longest ago.
class WsjtxListener {
 public:
  static constexpr std::size_t kPrograms = 8;
  std::optional<WsjtxStatus> Receive(std::string_view bytes);
  std::uint64_t Ignored() const { return ignored_; }

 private:
  std::vector<WsjtxStatus> last_;  // most recently heard last
  std::uint64_t ignored_ = 0;
};

// The latest changed status on its way from the server's threads to the
// window's: a newer one replaces it. Never waits.
class WsjtxStatuses {
 public:
  ~WsjtxStatuses();
  void Put(const WsjtxStatus& status);
  std::unique_ptr<WsjtxStatus> Take();
  // Datagrams the listener ignored (set from the server's threads).
  std::atomic<std::uint64_t> ignored{0};

 private:
  std::atomic<WsjtxStatus*> latest_{nullptr};
};

}  // namespace rotavox
