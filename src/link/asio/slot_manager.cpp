// The station server's connections (see slot_manager.h).
#include "link/asio/slot_manager.h"

#include <asio/post.hpp>

#include <algorithm>
#include <utility>

namespace rotavox::station {

void SlotManager::Admit(asio::ip::tcp::socket socket, Answers& answers, StationClock::time_point now) {
  if (stopped_) return;  // the socket closes as it goes
  if (static_cast<int>(connections_.size()) >= kStationMaxClients) {
    const auto idlest = IdlestPastLimit(connections_, now, idleLimit_,
                                        [](const std::shared_ptr<Connection>& c) { return c->LastActive(); });
    if (idlest == connections_.end()) return;  // the socket closes as it goes
    (*idlest)->Stop();
    connections_.erase(idlest);
  }
  connections_.push_back(std::make_shared<Connection>(std::move(socket), *this, answers, now));
  connections_.back()->Start();
}

void SlotManager::Release(std::shared_ptr<Connection> connection) {
  asio::post(executor_, [this, connection = std::move(connection)] {
    const auto at = std::find(connections_.begin(), connections_.end(), connection);
    if (at != connections_.end()) connections_.erase(at);
  });
}

void SlotManager::StopAll() {
  stopped_ = true;
  for (const std::shared_ptr<Connection>& connection : connections_) connection->Stop();
  connections_.clear();
}

}  // namespace rotavox::station
