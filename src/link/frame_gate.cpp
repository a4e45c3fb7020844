// Whole frames on the line (see frame_gate.h).
#include "link/frame_gate.h"

namespace rotavox {

FrameGate::Outcome FrameGate::Send(std::string_view frame, std::size_t queued,
                                   Clock::time_point now, const Write& write) {
  if (!tail_.empty() && !Flush(write)) return Outcome::kFailed;
  if (!tail_.empty() || (queued != 0 && queued + frame.size() > kMaxQueuedBytes)) {
    Blocked(now);
    dropped_ = frame.size();
    return Outcome::kDropped;
  }
  const std::optional<std::size_t> taken = write(frame);
  if (!taken) return Outcome::kFailed;
  if (*taken >= frame.size()) {
    blockedSince_.reset();
    return Outcome::kSent;
  }
  tail_.assign(frame.substr(*taken));
  Blocked(now);
  dropped_ = 0;
  return Outcome::kPartly;
}

bool FrameGate::Flush(const Write& write) {
  if (tail_.empty()) return true;
  const std::optional<std::size_t> taken = write(tail_);
  if (!taken) return false;
  tail_.erase(0, *taken);
  if (tail_.empty()) blockedSince_.reset();
  return true;
}

void FrameGate::Observe(std::size_t queued) {
  // Room for the frame that was dropped: a queue that drains no further
  // than that, however little it holds, has stopped.
  if (tail_.empty() && queued + dropped_ <= kMaxQueuedBytes) blockedSince_.reset();
}

bool FrameGate::Service(const Write& write, const std::function<std::size_t()>& queued,
                        Clock::time_point now) {
  if (tail_.empty() && !blockedSince_) return true;
  if (!Flush(write)) return false;
  Observe(queued());
  return !Stalled(now);
}

bool FrameGate::Stalled(Clock::time_point now) const {
  return blockedSince_ && now - *blockedSince_ >= kStallLimit;
}

void FrameGate::Reset() {
  tail_.clear();
  blockedSince_.reset();
  dropped_ = 0;
}

void FrameGate::Blocked(Clock::time_point now) {
  if (!blockedSince_) blockedSince_ = now;
}

}  // namespace rotavox
