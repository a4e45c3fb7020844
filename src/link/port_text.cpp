// What the Com Port box names (see port_text.h).
#include "link/port_text.h"

#include <optional>

#include "common/address.h"

namespace rotavox {
namespace {

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

// HOST, without brackets; nothing when it is none.
std::optional<std::string> ReadHost(std::string_view host) {
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
    const std::string_view inside = host.substr(1, host.size() - 2);
    if (IsIpv6(inside)) return std::string(inside);
    return std::nullopt;
  }
  if (IsHostName(host)) return std::string(host);
  return std::nullopt;
}

// HOST:PORT; with `defaultPort`, PORT may be left out. Nothing when it is
// none.
std::optional<NetworkAddress> ReadHostAndPort(std::string_view text, int defaultPort = 0) {
  if (defaultPort != 0) {
    if (std::optional<std::string> host = ReadHost(text)) return NetworkAddress{*host, defaultPort, false};
  }
  const std::size_t colon = text.rfind(':');
  if (colon == std::string_view::npos) return std::nullopt;
  const std::string_view host = text.substr(0, colon);
  const std::string_view port = text.substr(colon + 1);
  if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string_view::npos) {
    return std::nullopt;
  }
  int number = 0;
  for (const char c : port) number = number * 10 + (c - '0');
  if (number < 1 || number > 65535) return std::nullopt;
  std::optional<std::string> name = ReadHost(host);
  if (!name) return std::nullopt;
  return NetworkAddress{*name, number, false};
}

}  // namespace

PortTarget ReadPortText(std::string_view text) {
  PortTarget target;
  if (text.empty() || text.front() == '/') return target;
  if (StartsWithNoCase(text, kRfc2217Scheme)) {
    if (std::optional<NetworkAddress> address = ReadHostAndPort(text.substr(kRfc2217Scheme.size()))) {
      target.kind = PortTarget::Kind::kNetwork;
      target.address = *address;
      target.address.telnet = true;
    } else {
      target.kind = PortTarget::Kind::kBadAddress;
      target.trouble = std::string(text) + " is no address: rfc2217://HOST:PORT";
    }
    return target;
  }
  if (StartsWithNoCase(text, kRotctldScheme)) {
    if (std::optional<NetworkAddress> address =
            ReadHostAndPort(text.substr(kRotctldScheme.size()), kRotctldDefaultPort)) {
      target.kind = PortTarget::Kind::kRotctld;
      target.address = *address;
    } else {
      target.kind = PortTarget::Kind::kBadAddress;
      target.trouble = std::string(text) + " is no address: rotctld://HOST or rotctld://HOST:PORT";
    }
    return target;
  }
  if (std::optional<NetworkAddress> address = ReadHostAndPort(text)) {
    target.kind = PortTarget::Kind::kNetwork;
    target.address = *address;
  }
  return target;
}

}  // namespace rotavox
