// How the thread that speaks spends the time while a voice is speaking.
//
// Speak blocks the program until the text has been spoken: no tick and no
// operator command runs before it returns. The thread itself need not be
// deaf meanwhile. A window system can keep painting and answering the
// screen reader's questions while it holds back everything addressed to the
// program (ui/qt does so); a plain thread simply sleeps (BlockingWait).
//
// Voices whose engine works on a thread of its own wait through this; the
// engine's thread calls Wake whenever the answer of `ready` or `until` may
// have changed.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace rotavox {

class SpeechWait {
 public:
  using Clock = std::chrono::steady_clock;
  virtual ~SpeechWait() = default;
  // Returns once ready() is true or the time until() names has come. Both
  // are asked again after every Wake, so a deadline may move while waiting.
  virtual void Wait(const std::function<bool()>& ready, const std::function<Clock::time_point()>& until) = 0;
  // Any thread.
  virtual void Wake() = 0;
};

// Sleeps on a condition variable: nothing else runs on the waiting thread.
class BlockingWait final : public SpeechWait {
 public:
  void Wait(const std::function<bool()>& ready, const std::function<Clock::time_point()>& until) override {
    for (;;) {
      // ready() and until() take the caller's own lock, which Wake may be
      // called under: they are asked with ours released.
      unsigned long seen = 0;
      {
        std::lock_guard lock(mutex_);
        seen = wakes_;
      }
      if (ready()) return;
      const Clock::time_point deadline = until();
      if (Clock::now() >= deadline) return;
      std::unique_lock lock(mutex_);
      woken_.wait_until(lock, deadline, [&] { return wakes_ != seen; });
    }
  }
  void Wake() override {
    {
      std::lock_guard lock(mutex_);
      ++wakes_;
    }
    woken_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable woken_;
  unsigned long wakes_ = 0;
};

}  // namespace rotavox
