// One station program's connection to the station server: its socket, its
// read and write chain, and its rotctld line state (RotctldClient, which
// knows no socket). Its handlers run on the one server thread it was
// given, while other connections may be served on another. Kept alive by
// the handlers it has outstanding and by the slot manager.
#pragma once

#include <asio/ip/tcp.hpp>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "link/rotctld.h"

namespace rotavox::station {

class SlotManager;

// What every connection answers from and hands its aims to, from any of
// the server's threads.
class Answers {
 public:
  explicit Answers(std::function<void(const RemoteAim&)> aim) : aim(std::move(aim)) {}
  void Publish(const LinkSnapshot& snapshot);
  LinkSnapshot Snapshot() const;
  // Safe to call from several threads at once.
  const std::function<void(const RemoteAim&)> aim;

 private:
  // The latest snapshot the window published, packed into one word so that
  // it needs no lock: the bearing in the low 32 bits, then turning, linked.
  std::atomic<std::uint64_t> snapshot_{0};
};

class Connection : public std::enable_shared_from_this<Connection> {
 public:
  // A connection accepted at `now`, which counts as its last activity.
  Connection(asio::ip::tcp::socket socket, SlotManager& slots, Answers& answers,
             StationClock::time_point now);
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Both from any thread: they go through the connection's own thread.
  void Start();
  // Closes the socket; the outstanding handlers end with operation_aborted.
  void Stop();
  // When the client last sent a command, or connected; from any thread.
  StationClock::time_point LastActive() const {
    return StationClock::time_point(StationClock::duration(lastActive_.load()));
  }

 private:
  // Bytes per read: a station program's lines are a few dozen bytes.
  static constexpr std::size_t kReadSize = 4096;

  void Read();
  void Write();
  // After a read or a write: sends what waits, and ends the connection
  // when it is finished. False when it has ended.
  bool Settle();
  // Closes the socket and gives the slot back.
  void End();

  asio::ip::tcp::socket socket_;
  SlotManager& slots_;
  Answers& answers_;
  RotctldClient lines_;
  std::atomic<StationClock::rep> lastActive_;  // lines_.LastActive(), for the slot manager
  std::array<char, kReadSize> readBuffer_;
  // A copy of the answers that waited for room; they leave lines_ only
  // once sent, so that lines_ counts them among those waiting.
  std::string sending_;
  bool writing_ = false;
};

}  // namespace rotavox::station
