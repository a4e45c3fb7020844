// Multicast groups on every interface, on Windows (see multicast.h): the
// adapters as GetAdaptersAddresses lists them, IPv4 by each unicast
// address, IPv6 by each adapter's IPv6 index.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>

#include <asio/ip/multicast.hpp>

#include <vector>

#include "link/asio/multicast.h"

namespace rotavox::station {

void JoinEverywhere(asio::ip::udp::socket& socket, const asio::ip::address& group, std::error_code& error) {
  error = std::make_error_code(std::errc::no_such_device);
  const ULONG family = group.is_v4() ? AF_INET : AF_INET6;
  constexpr ULONG kFlags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
  std::vector<unsigned char> buffer(16 * 1024);
  ULONG size = static_cast<ULONG>(buffer.size());
  ULONG result = ERROR_BUFFER_OVERFLOW;
  for (int tries = 0; tries < 3 && result == ERROR_BUFFER_OVERFLOW; ++tries) {
    buffer.resize(size);
    result = GetAdaptersAddresses(family, kFlags, nullptr,
                                  reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
  }
  if (result != NO_ERROR) return;
  for (auto* a = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()); a != nullptr; a = a->Next) {
    if (a->OperStatus != IfOperStatusUp) continue;
    std::error_code failed = std::make_error_code(std::errc::no_such_device);
    if (group.is_v6()) {
      if (a->Ipv6IfIndex != 0) {
        failed.clear();
        socket.set_option(asio::ip::multicast::join_group(group.to_v6(), a->Ipv6IfIndex), failed);
      }
    } else {
      for (const IP_ADAPTER_UNICAST_ADDRESS* u = a->FirstUnicastAddress; u != nullptr; u = u->Next) {
        if (u->Address.lpSockaddr == nullptr || u->Address.lpSockaddr->sa_family != AF_INET) continue;
        const auto* in = reinterpret_cast<const sockaddr_in*>(u->Address.lpSockaddr);
        const asio::ip::address_v4 local(ntohl(in->sin_addr.s_addr));
        std::error_code one;
        socket.set_option(asio::ip::multicast::join_group(group.to_v4(), local), one);
        if (!one) failed.clear();
      }
    }
    if (!failed) error.clear();
  }
}

}  // namespace rotavox::station
