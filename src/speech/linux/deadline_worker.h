// One long-lived thread that runs jobs for a caller who will not wait
// forever.
//
// Speech servers and sound libraries can block without end (a server that
// never reports the end of an utterance, a connection attempt to a
// deadlocked server). The caller hands each job to this thread and waits
// until a deadline; a job that overruns keeps the thread, and the worker
// answers kBusy at once until that job has ended. Destruction never waits
// on such a job: the thread is then detached and left to finish on its own.
//
// A job may move its caller's deadline while it runs (a speech server that
// has queued a text behind another program's speech deserves more patience
// than one that does not answer at all). The caller waits through a
// SpeechWait, so that its thread can go on serving others meanwhile.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "speech/speech_wait.h"

namespace rotavox {

class DeadlineWorker {
 public:
  using Clock = std::chrono::steady_clock;

  enum class Outcome {
    kFinished,  // the job ran to its end within the time
    kTimedOut,  // the job is still running; the caller stopped waiting
    kBusy,      // an earlier job that overran is still running; not started
  };

  // Given to each job: moves the deadline of the caller that waits for it.
  // Harmless once that caller has stopped waiting.
  class Deadline {
   public:
    // The caller now waits until `wait` from now, whatever was left before.
    void Reset(Clock::duration wait);

   private:
    friend class DeadlineWorker;
    struct State;
    Deadline(std::shared_ptr<State> state, unsigned long long job) : state_(std::move(state)), job_(job) {}
    std::shared_ptr<State> state_;
    unsigned long long job_;
  };

  // `at_exit` runs on the worker thread after its last job (it releases
  // what the jobs used, on the thread that used it).
  explicit DeadlineWorker(std::function<void()> at_exit = {});
  ~DeadlineWorker();
  DeadlineWorker(const DeadlineWorker&) = delete;
  DeadlineWorker& operator=(const DeadlineWorker&) = delete;

  // Runs `job` and waits through `wait` (a plain sleep when null) until it
  // ends or the deadline, first `limit` from now, passes.
  Outcome Run(std::function<void(Deadline&)> job, Clock::duration limit, SpeechWait* wait = nullptr);
  // The same for a job that keeps its deadline as it is.
  Outcome Run(std::function<void()> job, Clock::duration limit) {
    return Run([job = std::move(job)](Deadline&) { job(); }, limit);
  }

  // True while a job whose caller stopped waiting is still running.
  bool Busy() const;

 private:
  std::shared_ptr<Deadline::State> state_;
  std::thread thread_;
};

}  // namespace rotavox
