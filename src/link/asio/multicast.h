// Joining a multicast group on every interface of the machine, which Asio
// cannot do alone: it joins on one interface at a time and does not list
// them. CMake picks posix/posix_multicast.cpp (getifaddrs) or
// win32/win32_multicast.cpp (GetAdaptersAddresses).
#pragma once

#include <asio/ip/udp.hpp>

#include <system_error>

namespace rotavox::station {

// Joins `group` on the loopback interface and on every other interface
// that is up. Fails only when it could be joined on none.
void JoinEverywhere(asio::ip::udp::socket& socket, const asio::ip::address& group, std::error_code& error);

}  // namespace rotavox::station
