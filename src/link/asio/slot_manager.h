// The station server's connections, all of them: the one place that sees
// every client, so the slot rules (at most kStationMaxClients, a newcomer
// taking the slot of one silent past the idle limit; link/station_slots.h)
// are applied here, and stopping them all is one call. Server's thread only.
#pragma once

#include <asio/ip/tcp.hpp>

#include <chrono>
#include <memory>
#include <vector>

#include "link/asio/station_connection.h"
#include "link/station_slots.h"

namespace rotavox::station {

class SlotManager {
 public:
  explicit SlotManager(std::chrono::milliseconds idleLimit) : idleLimit_(idleLimit) {}

  // A connection accepted at `now`: served if there is a slot for it, or
  // once the client longest without a command has given up its slot for
  // having none within the idle limit; otherwise closed at once.
  void Admit(asio::ip::tcp::socket socket, Answers& answers, StationClock::time_point now);
  // Ends one connection, for whatever reason, and frees its slot.
  void Stop(const std::shared_ptr<Connection>& connection);
  void StopAll();

 private:
  std::chrono::milliseconds idleLimit_;
  std::vector<std::shared_ptr<Connection>> connections_;
};

}  // namespace rotavox::station
