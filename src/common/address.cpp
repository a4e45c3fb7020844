// Network address forms (see address.h). What the servers' and the
// resolver's address conversions take, so that a mistake is reported before
// anything is opened.
#include "common/address.h"

namespace rotavox {

bool IsDottedQuad(std::string_view text) {
  int parts = 0;
  while (true) {
    const std::size_t dot = text.find('.');
    const std::string_view part = text.substr(0, dot);
    if (part.empty() || part.size() > 3 || (part.size() > 1 && part[0] == '0')) return false;
    int value = 0;
    for (const char c : part) {
      if (c < '0' || c > '9') return false;
      value = value * 10 + (c - '0');
    }
    if (value > 255 || ++parts > 4) return false;
    if (dot == std::string_view::npos) return parts == 4;
    text.remove_prefix(dot + 1);
  }
}

bool IsIpv6(std::string_view text) {
  const std::size_t gap = text.find("::");
  if (gap != std::string_view::npos && text.find("::", gap + 1) != std::string_view::npos) return false;
  int groups = 0;
  // The groups on one side of the gap; the last side may end in IPv4.
  const auto side = [&groups](std::string_view part, bool last) {
    while (!part.empty()) {
      const std::size_t colon = part.find(':');
      const std::string_view group = part.substr(0, colon);
      if (colon == std::string_view::npos && last && IsDottedQuad(group)) {
        groups += 2;
        return true;
      }
      if (group.empty() || group.size() > 4 ||
          group.find_first_not_of("0123456789abcdefABCDEF") != std::string_view::npos) {
        return false;
      }
      ++groups;
      if (colon == std::string_view::npos) return true;
      part.remove_prefix(colon + 1);
      if (part.empty()) return false;  // a colon at the end
    }
    return true;
  };
  if (gap == std::string_view::npos) return side(text, true) && groups == 8;
  return side(text.substr(0, gap), false) && side(text.substr(gap + 2), true) && groups <= 7;
}

bool IsHostName(std::string_view text) {
  if (text.empty() || text.size() > 253) return false;
  while (true) {
    const std::size_t dot = text.find('.');
    const std::string_view label = text.substr(0, dot);
    if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-') return false;
    for (const char c : label) {
      const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
      if (!ok) return false;
    }
    if (dot == std::string_view::npos) return true;
    text.remove_prefix(dot + 1);
  }
}

}  // namespace rotavox
