// DeadlineWorker (see deadline_worker.h).
#include "speech/linux/deadline_worker.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <utility>

namespace rotavox {

// Shared by the owner and the thread, so that a detached thread still has
// everything it touches.
struct DeadlineWorker::Deadline::State {
  std::mutex mutex;
  std::condition_variable wake;  // the thread waits here for a job or the stop
  std::condition_variable done;  // destruction waits here for the thread's exit
  std::function<void(Deadline&)> job;
  std::uint64_t started = 0;   // number of the last job handed over
  std::uint64_t finished = 0;  // number of the last job that ended
  Clock::time_point deadline;  // of the caller waiting for job `started`
  SpeechWait* waiter = nullptr;  // set only while that caller waits
  bool stop = false;
  bool exited = false;

  // Under the mutex: tells a waiting caller to look again.
  void WakeCaller() {
    if (waiter) waiter->Wake();
  }
};

namespace {

// How long destruction waits for an idle thread to release its resources.
constexpr std::chrono::seconds kExitWait{2};

}  // namespace

void DeadlineWorker::Deadline::Reset(Clock::duration wait) {
  std::lock_guard lock(state_->mutex);
  if (state_->started != job_ || !state_->waiter) return;  // nobody waits any more
  state_->deadline = Clock::now() + wait;
  state_->WakeCaller();
}

DeadlineWorker::DeadlineWorker(std::function<void()> at_exit)
    : state_(std::make_shared<Deadline::State>()) {
  thread_ = std::thread([state = state_, at_exit = std::move(at_exit)] {
    std::unique_lock lock(state->mutex);
    for (;;) {
      state->wake.wait(lock, [&] { return state->stop || state->job; });
      if (!state->job) break;
      std::function<void(Deadline&)> job = std::move(state->job);
      state->job = nullptr;
      Deadline deadline(state, state->started);
      lock.unlock();
      job(deadline);
      job = nullptr;  // what the job held goes before its end is reported
      lock.lock();
      state->finished = state->started;
      state->WakeCaller();
    }
    lock.unlock();
    if (at_exit) at_exit();
    lock.lock();
    state->exited = true;
    state->done.notify_all();
  });
}

DeadlineWorker::~DeadlineWorker() {
  std::unique_lock lock(state_->mutex);
  state_->stop = true;
  state_->wake.notify_all();
  const bool busy = state_->finished != state_->started;
  const bool exited = !busy && state_->done.wait_for(lock, kExitWait, [&] { return state_->exited; });
  lock.unlock();
  if (exited) {
    thread_.join();
  } else {
    thread_.detach();
  }
}

DeadlineWorker::Outcome DeadlineWorker::Run(std::function<void(Deadline&)> job, Clock::duration limit,
                                            SpeechWait* wait) {
  BlockingWait sleep;
  SpeechWait& waiter = wait ? *wait : sleep;
  std::uint64_t number = 0;
  {
    std::lock_guard lock(state_->mutex);
    if (state_->finished != state_->started) return Outcome::kBusy;
    state_->job = std::move(job);
    number = ++state_->started;
    state_->deadline = Clock::now() + limit;
    state_->waiter = &waiter;
    state_->wake.notify_all();
  }
  const auto ended = [&] {
    std::lock_guard lock(state_->mutex);
    return state_->finished == number;
  };
  waiter.Wait(ended, [&] {
    std::lock_guard lock(state_->mutex);
    return state_->deadline;
  });
  std::lock_guard lock(state_->mutex);
  state_->waiter = nullptr;  // a job that overran wakes nobody from now on
  return state_->finished == number ? Outcome::kFinished : Outcome::kTimedOut;
}

bool DeadlineWorker::Busy() const {
  std::lock_guard lock(state_->mutex);
  return state_->finished != state_->started;
}

}  // namespace rotavox
