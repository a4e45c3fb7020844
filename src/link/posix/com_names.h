// Windows-style COM port names on Linux.
//
// The program names its port "COM" followed by the port text the operator
// typed, as on Windows. ComDevicePath turns that name into a device path,
// trying in this order:
//
//   1. an exact entry of `overrides` (from --map-port; names are compared
//      byte for byte as given, so "COM7" matches only "COM7");
//   2. "COM<n>", n = 1..256  -> /dev/ttyS<n-1>   (COM1 is the first serial
//      port, as on a PC: COM1 -> /dev/ttyS0, COM12 -> /dev/ttyS11);
//   3. "COMU<n>" or "COMu<n>", n = 0..511 -> /dev/ttyUSB<n> (USB adapters);
//   4. "COMA<n>" or "COMa<n>", n = 0..255 -> /dev/ttyACM<n> (CDC-ACM
//      devices);
//   5. "COM" followed by an absolute path ("COM/dev/pts/3") -> that path.
//
// <n> is plain decimal: digits only, no sign, no blanks, no leading zero
// (Windows has no COM01 either). Anything else ("COM 3", "COM", "COMx",
// "COM0", "COM1x") gives an empty path: there is no such port, and opening
// it leaves the port closed. So does a path holding a NUL byte, which the
// system could not be given whole.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace rotavox {

// Port name ("COM7") -> device path ("/dev/pts/3").
using PortMap = std::map<std::string, std::string>;

// The device path for the port name `comName`, or "" for no such port.
std::string ComDevicePath(std::string_view comName, const PortMap& overrides);

// One --map-port value, "COMn=DEVICE", split at the first '='.
struct PortMapping {
  // Name and device path; empty when the value was refused.
  std::optional<std::pair<std::string, std::string>> mapping;
  // Why the value was refused, for the operator; empty when it was taken.
  std::string error;
};

// Reads one --map-port value. The name must be "COM" followed by at least
// one character and the device an absolute path; a value without '=' or
// with an empty side is refused.
PortMapping ParsePortMapping(std::string_view value);

}  // namespace rotavox
