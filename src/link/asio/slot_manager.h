// The station server's connections, all of them: the one place that sees
// every client, so the slot rules (at most kStationMaxClients, a newcomer
// taking the slot of one silent past the idle limit; link/station_slots.h)
// are applied here. Works on one of the server's threads (the one of
// `executor`); connections give their slots back through it.
#pragma once

#include <asio/any_io_executor.hpp>
#include <asio/ip/tcp.hpp>

#include <chrono>
#include <memory>
#include <vector>

#include "link/asio/station_connection.h"
#include "link/station_slots.h"

namespace rotavox::station {

class SlotManager {
 public:
  SlotManager(asio::any_io_executor executor, std::chrono::milliseconds idleLimit)
      : executor_(std::move(executor)), idleLimit_(idleLimit) {}

  // On `executor`: a connection accepted at `now`, served if there is a
  // slot for it, or once the client longest without a command has given
  // up its slot for having none within the idle limit; otherwise closed
  // at once.
  // Once stopped, every newcomer is closed at once.
  void Admit(asio::ip::tcp::socket socket, Answers& answers, StationClock::time_point now);
  // From a connection that has ended, on its own thread.
  void Release(std::shared_ptr<Connection> connection);
  // On `executor`, when the server stops: closes every connection.
  void StopAll();

 private:
  asio::any_io_executor executor_;
  std::chrono::milliseconds idleLimit_;
  std::vector<std::shared_ptr<Connection>> connections_;
  bool stopped_ = false;
};

}  // namespace rotavox::station
