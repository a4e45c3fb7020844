// DeadlineWorker (see deadline_worker.h).
#include "speech/linux/deadline_worker.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <utility>

namespace rotavox {

// Shared by the owner and the thread, so that a detached thread still has
// everything it touches.
struct DeadlineWorker::State {
  std::mutex mutex;
  std::condition_variable wake;  // the thread waits here for a job or the stop
  std::condition_variable done;  // the caller waits here for the job's end
  std::function<void()> job;
  std::uint64_t started = 0;   // number of the last job handed over
  std::uint64_t finished = 0;  // number of the last job that ended
  bool stop = false;
  bool exited = false;
};

namespace {

// How long destruction waits for an idle thread to release its resources.
constexpr std::chrono::seconds kExitWait{2};

}  // namespace

DeadlineWorker::DeadlineWorker(std::function<void()> at_exit) : state_(std::make_shared<State>()) {
  thread_ = std::thread([state = state_, at_exit = std::move(at_exit)] {
    std::unique_lock lock(state->mutex);
    for (;;) {
      state->wake.wait(lock, [&] { return state->stop || state->job; });
      if (!state->job) break;
      std::function<void()> job = std::move(state->job);
      state->job = nullptr;
      lock.unlock();
      job();
      job = nullptr;  // what the job held goes before its end is reported
      lock.lock();
      state->finished = state->started;
      state->done.notify_all();
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

DeadlineWorker::Outcome DeadlineWorker::Run(std::function<void()> job,
                                            std::chrono::steady_clock::duration limit) {
  std::unique_lock lock(state_->mutex);
  if (state_->finished != state_->started) return Outcome::kBusy;
  state_->job = std::move(job);
  const std::uint64_t number = ++state_->started;
  state_->wake.notify_all();
  const bool ended = state_->done.wait_for(lock, limit, [&] { return state_->finished == number; });
  return ended ? Outcome::kFinished : Outcome::kTimedOut;
}

bool DeadlineWorker::Busy() const {
  std::lock_guard lock(state_->mutex);
  return state_->finished != state_->started;
}

}  // namespace rotavox
