// The forms of a network address the program takes from the operator: an
// IPv4 address, an IPv6 address, a host name.
#pragma once

#include <string_view>

namespace rotavox {

// Four decimal numbers 0 to 255 without leading zeros, joined by dots.
bool IsDottedQuad(std::string_view text);
// Eight groups of one to four hexadecimal digits joined by colons, or fewer
// where one "::" stands for the zeros left out; the last two groups may be
// written as an IPv4 address (::ffff:192.0.2.1). No zone (%eth0).
bool IsIpv6(std::string_view text);
// A host name as the resolver takes it: labels of letters, digits and
// hyphens (none at either end of a label), 1 to 63 characters each, joined
// by dots, at most 253 characters in all (an IPv4 address is one too).
bool IsHostName(std::string_view text);

}  // namespace rotavox
