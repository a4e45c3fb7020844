// How the station servers of both editions share out their connections and
// their thread's time.
#pragma once

#include <algorithm>
#include <chrono>
#include <vector>

namespace rotavox {

using StationClock = std::chrono::steady_clock;

inline constexpr int kStationMaxClients = 16;
// A client that has sent no command for this long gives its slot to a
// waiting one.
inline constexpr std::chrono::milliseconds kStationIdleLimit{60'000};
// Datagrams read from one socket in one round, so that a flood on one port
// cannot starve the others; the same for connections taken in one round.
inline constexpr int kDatagramsPerRound = 64;
inline constexpr int kAcceptsPerRound = 64;
// How long the listener is left alone after accept found no descriptor or
// memory for a new connection: the connection stays queued, so polling the
// listener meanwhile would only wake the thread again at once.
inline constexpr std::chrono::milliseconds kAcceptPause{250};

// With every slot taken: the client (anything whose `lines` tell when it
// was last active, RotctldClient's LastActive) that has gone longest
// without a command, if that is `limit` or longer; `clients.end()` when
// every client has been active within the limit.
template <typename Client>
typename std::vector<Client>::iterator IdlestPastLimit(std::vector<Client>& clients,
                                                       StationClock::time_point now,
                                                       std::chrono::milliseconds limit) {
  const auto idlest = std::min_element(
      clients.begin(), clients.end(), [](const Client& a, const Client& b) {
        return a.lines.LastActive() < b.lines.LastActive();
      });
  if (idlest == clients.end() || now - idlest->lines.LastActive() < limit) return clients.end();
  return idlest;
}

}  // namespace rotavox
