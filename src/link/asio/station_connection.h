// One station program's connection to the station server: its socket, its
// read and write chain, and its rotctld line state (RotctldClient, which
// knows no socket). Lives on the server's thread; kept alive by the
// handlers it has outstanding and by the slot manager.
#pragma once

#include <asio/ip/tcp.hpp>

#include <array>
#include <functional>
#include <memory>
#include <string>

#include "link/rotctld.h"

namespace rotavox::station {

class SlotManager;

// What every connection answers from and hands its aims to. Owned by the
// server and touched only on its thread.
struct Answers {
  LinkSnapshot snapshot;  // the latest one the window published
  std::function<void(const RemoteAim&)> aim;
};

class Connection : public std::enable_shared_from_this<Connection> {
 public:
  // A connection accepted at `now`, which counts as its last activity.
  Connection(asio::ip::tcp::socket socket, SlotManager& slots, Answers& answers,
             StationClock::time_point now);
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  void Start();
  // Closes the socket; the outstanding handlers end with operation_aborted.
  void Stop();
  StationClock::time_point LastActive() const { return lines_.LastActive(); }

 private:
  // Bytes per read: a station program's lines are a few dozen bytes.
  static constexpr std::size_t kReadSize = 4096;

  void Read();
  void Write();
  // After a read or a write: sends what waits, and ends the connection
  // when it is finished. False when it has ended.
  bool Settle();

  asio::ip::tcp::socket socket_;
  SlotManager& slots_;
  Answers& answers_;
  RotctldClient lines_;
  std::array<char, kReadSize> readBuffer_;
  // A copy of the answers that waited for room; they leave lines_ only
  // once sent, so that lines_ counts them among those waiting.
  std::string sending_;
  bool writing_ = false;
};

}  // namespace rotavox::station
