// How the station server shares out its connections: the rule that decides
// which client gives way to a newcomer, without any socket.
#pragma once

#include <algorithm>
#include <chrono>

namespace rotavox {

using StationClock = std::chrono::steady_clock;

inline constexpr int kStationMaxClients = 16;
// A client that has sent no command for this long gives its slot to a
// waiting one.
inline constexpr std::chrono::milliseconds kStationIdleLimit{60'000};

// With every slot taken: the client that has gone longest without a
// command (`lastActive` tells when each one last sent one, as
// RotctldClient's LastActive does), if that is `limit` or longer;
// `clients.end()` when every client has been active within the limit.
template <typename Clients, typename LastActive>
auto IdlestPastLimit(Clients& clients, StationClock::time_point now, std::chrono::milliseconds limit,
                     LastActive lastActive) {
  const auto idlest = std::min_element(clients.begin(), clients.end(), [&](const auto& a, const auto& b) {
    return lastActive(a) < lastActive(b);
  });
  if (idlest == clients.end() || now - lastActive(*idlest) < limit) return clients.end();
  return idlest;
}

}  // namespace rotavox
