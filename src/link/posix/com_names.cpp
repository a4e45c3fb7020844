// Windows-style COM port names on Linux (see com_names.h).
#include "link/posix/com_names.h"

namespace rotavox {
namespace {

constexpr std::string_view kComPrefix = "COM";

// A plain decimal number in [low, high]: digits only, no leading zero.
std::optional<unsigned> PlainNumber(std::string_view text, unsigned low, unsigned high) {
  if (text.empty() || text.size() > 4) return std::nullopt;
  if (text.size() > 1 && text.front() == '0') return std::nullopt;
  unsigned value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value < low || value > high) return std::nullopt;
  return value;
}

std::string Resolve(std::string_view comName, const PortMap& overrides) {
  if (const auto it = overrides.find(std::string(comName)); it != overrides.end()) {
    return it->second;
  }
  if (!comName.starts_with(kComPrefix)) return {};
  const std::string_view rest = comName.substr(kComPrefix.size());
  if (rest.empty()) return {};
  if (rest.front() == '/') return std::string(rest);
  if (const auto n = PlainNumber(rest, 1, 256)) {
    return "/dev/ttyS" + std::to_string(*n - 1);
  }
  const std::string_view index = rest.substr(1);
  if (rest.front() == 'U' || rest.front() == 'u') {
    if (const auto n = PlainNumber(index, 0, 511)) return "/dev/ttyUSB" + std::to_string(*n);
  }
  if (rest.front() == 'A' || rest.front() == 'a') {
    if (const auto n = PlainNumber(index, 0, 255)) return "/dev/ttyACM" + std::to_string(*n);
  }
  return {};
}

}  // namespace

std::string ComDevicePath(std::string_view comName, const PortMap& overrides) {
  std::string path = Resolve(comName, overrides);
  if (path.find('\0') != std::string::npos) return {};
  return path;
}

PortMapping ParsePortMapping(std::string_view value) {
  const std::string shown = "--map-port \"" + std::string(value) + "\": ";
  const std::size_t equals = value.find('=');
  if (equals == std::string_view::npos) {
    return {std::nullopt, shown + "expected COMn=DEVICE, e.g. COM7=/dev/ttyUSB0"};
  }
  const std::string_view name = value.substr(0, equals);
  const std::string_view device = value.substr(equals + 1);
  if (name.empty()) return {std::nullopt, shown + "the port name before '=' is missing"};
  if (device.empty()) return {std::nullopt, shown + "the device after '=' is missing"};
  if (!name.starts_with(kComPrefix) || name.size() == kComPrefix.size()) {
    return {std::nullopt, shown + "the port name must be COM followed by the port text, e.g. COM7"};
  }
  if (device.front() != '/') {
    return {std::nullopt, shown + "the device must be an absolute path, e.g. /dev/ttyUSB0"};
  }
  return {std::pair{std::string(name), std::string(device)}, {}};
}

}  // namespace rotavox
