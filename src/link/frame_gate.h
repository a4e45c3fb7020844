// Frames go on the line whole or not at all.
//
// A box reads a frame from its STX to its CR; a frame cut short and
// followed by the next one would read as a different command (AG200 cut
// to AG20 and merged with what follows). The gate offers a frame to the
// driver only when it has room for all of it: nothing left over from an
// earlier frame, and the driver empty or the bytes it still holds (where it
// can tell) plus the frame within kMaxQueuedBytes. Otherwise the frame is dropped
// whole. A frame the driver took only part of keeps its tail here, and the
// tail goes out before anything else.
//
// A line that takes nothing we offer for kStallLimit has stopped draining;
// the port then reports itself failed, as a device that has gone away.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace rotavox {

// About 133 ms of the line at 9600 baud: room for the few frames the
// program ever has under way, and a bound on how long the operator's own
// frame can wait behind them.
inline constexpr std::size_t kMaxQueuedBytes = 128;
inline constexpr std::chrono::milliseconds kStallLimit{1000};

// How long `bytes` take on a 9600-baud line: one start bit, eight data
// bits and one stop bit each.
constexpr std::chrono::microseconds WireTime(std::size_t bytes) {
  return std::chrono::microseconds(static_cast<long long>(bytes) * 10 * 1'000'000 / 9600);
}

class FrameGate {
 public:
  using Clock = std::chrono::steady_clock;
  // Writes without waiting; returns how many bytes the driver took, or
  // nothing when the device has failed.
  using Write = std::function<std::optional<std::size_t>(std::string_view)>;

  enum class Outcome {
    kSent,     // all of it is with the driver
    kPartly,   // its start is; the tail waits here
    kDropped,  // no room: none of it went
    kFailed,   // the write failed
  };

  // `queued`: bytes the driver still holds, 0 where it cannot tell.
  Outcome Send(std::string_view frame, std::size_t queued, Clock::time_point now, const Write& write);
  // Offers the waiting tail again; false when the write failed.
  bool Flush(const Write& write);
  // Notes how much the driver still holds; a line with room again for the
  // frame last dropped is draining.
  void Observe(std::size_t queued);
  // True once no frame has gone whole for kStallLimit while the line had
  // no room.
  bool Stalled(Clock::time_point now) const;
  bool HasTail() const { return !tail_.empty(); }
  // On each tick: offers the waiting tail again and notes how much the
  // driver holds (`queued`, asked only when something waits). False when
  // the write failed or the line has stalled. Costs nothing when no tail
  // waits and the line has had room.
  bool Service(const Write& write, const std::function<std::size_t()>& queued, Clock::time_point now);
  void Reset();

 private:
  void Blocked(Clock::time_point now);

  std::string tail_;
  std::optional<Clock::time_point> blockedSince_;
  std::size_t dropped_ = 0;  // the size of the frame last dropped
};

}  // namespace rotavox
