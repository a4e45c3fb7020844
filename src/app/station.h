// Opens the station server on the ports the options name, the same way on
// both editions.
#pragma once

#include <string>

#include "app/options.h"
#include "link/wsjtx.h"

namespace rotavox {

// True when the options ask for any station port.
inline bool WantsStationServer(const Options& options) {
  return options.rotctldPort != 0 || !options.udp.empty() || options.wsjtx.port != 0;
}

// `Server` is the StationServer (link/asio, which the core does not
// include). False, with a reason, when a port cannot be had.
template <class Server>
bool StartStationServer(Server& server, const Options& options, WsjtxStatuses& wsjtx, std::string* error) {
  if (options.rotctldPort != 0 && !server.ListenTcp(options.rotctldAddress, options.rotctldPort, error)) {
    return false;
  }
  for (const Endpoint& udp : options.udp) {
    if (!server.ListenUdp(udp.address, udp.port, error)) return false;
  }
  if (options.wsjtx.port != 0 &&
      !server.ListenWsjtx(options.wsjtx.address, options.wsjtx.port,
                          [&wsjtx](const WsjtxStatus& status) { wsjtx.Put(status); }, error)) {
    return false;
  }
  return server.Start(error);
}

}  // namespace rotavox
