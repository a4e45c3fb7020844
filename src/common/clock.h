// The program's sense of time: the steady clock, unless a test replays
// times of its own (Context::clock).
#pragma once

#include <chrono>

namespace rotavox {

class Clock {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  virtual ~Clock() = default;
  virtual TimePoint Now() const = 0;
};

}  // namespace rotavox
