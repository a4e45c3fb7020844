// Multicast groups on every interface, on Linux and other POSIX systems
// (see multicast.h): the interfaces as getifaddrs lists them, IPv4 by an
// address of each, IPv6 by each one's index.
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <asio/ip/multicast.hpp>

#include <set>

#include "link/asio/multicast.h"

namespace rotavox::station {

void JoinEverywhere(asio::ip::udp::socket& socket, const asio::ip::address& group, std::error_code& error) {
  error = std::make_error_code(std::errc::no_such_device);
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) list = nullptr;
  std::set<unsigned> indices;  // an IPv6 interface has several addresses: once each
  for (const ifaddrs* i = list; i != nullptr; i = i->ifa_next) {
    if (i->ifa_addr == nullptr || (i->ifa_flags & IFF_UP) == 0) continue;
    std::error_code failed;
    if (group.is_v4() && i->ifa_addr->sa_family == AF_INET) {
      const auto* in = reinterpret_cast<const sockaddr_in*>(i->ifa_addr);
      const asio::ip::address_v4 local(ntohl(in->sin_addr.s_addr));
      socket.set_option(asio::ip::multicast::join_group(group.to_v4(), local), failed);
    } else if (group.is_v6() && i->ifa_addr->sa_family == AF_INET6) {
      const unsigned index = if_nametoindex(i->ifa_name);
      if (index == 0 || !indices.insert(index).second) continue;
      socket.set_option(asio::ip::multicast::join_group(group.to_v6(), index), failed);
    } else {
      continue;
    }
    if (!failed) error.clear();
  }
  if (list != nullptr) freeifaddrs(list);
}

}  // namespace rotavox::station
