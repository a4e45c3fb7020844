// What the text of the Com Port box names: a serial port, or the C BOX's
// line reached over the network.
//
//   /dev/...            always a device, colons and all
//   HOST:PORT           the box's line carried raw over TCP (a network serial
//                       server's raw accepter, a device server in raw mode)
//   rfc2217://HOST:PORT the same line through telnet with the COM port
//                       control option of RFC 2217
//   rotctld://HOST[:PORT]  any rotator through Hamlib's rotctld (port 4533
//                       when left out)
//   anything else       a serial port: "COM" followed by the text
//
// HOST is an IPv4 address, a host name, or an IPv6 address in brackets;
// PORT is 1 to 65535, digits only. A text that is no HOST:PORT ("host:",
// ":80", "[::1") names a serial port, as it always did. A text that starts
// with a scheme ("rfc2217://", "rotctld://", either case) is always a
// network address;
// when the rest cannot be read it is a bad one, which reaches nothing.
#pragma once

#include <string>
#include <string_view>

#include "link/byte_line.h"

namespace rotavox {

inline constexpr std::string_view kRfc2217Scheme = "rfc2217://";
inline constexpr std::string_view kRotctldScheme = "rotctld://";
inline constexpr int kRotctldDefaultPort = 4533;

struct PortTarget {
  // kNetwork: the C BOX's line over TCP; kRotctld: a rotctld daemon.
  enum class Kind { kSerial, kNetwork, kRotctld, kBadAddress };
  Kind kind = Kind::kSerial;
  NetworkAddress address;  // for kNetwork and kRotctld
  // For kBadAddress: why nothing can be reached, in the operator's words.
  std::string trouble;
};

PortTarget ReadPortText(std::string_view text);

// True when the text names the network: a good address or a bad one. After
// the no-response alarm the Com Port box is open again for such a text, so
// that a mistyped address can be put right.
inline bool NamesTheNetwork(std::string_view text) {
  return ReadPortText(text).kind != PortTarget::Kind::kSerial;
}

}  // namespace rotavox
