// One long-lived thread that runs jobs for a caller who will not wait
// forever.
//
// Speech servers and sound libraries can block without end (a server that
// never reports the end of an utterance, a connection attempt to a
// deadlocked server). The caller hands each job to this thread and waits at
// most a given time; a job that overruns keeps the thread, and the worker
// answers kBusy at once until that job has ended. Destruction never waits
// on such a job: the thread is then detached and left to finish on its own.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

namespace rotavox {

class DeadlineWorker {
 public:
  enum class Outcome {
    kFinished,  // the job ran to its end within the time
    kTimedOut,  // the job is still running; the caller stopped waiting
    kBusy,      // an earlier job that overran is still running; not started
  };

  // `at_exit` runs on the worker thread after its last job (it releases
  // what the jobs used, on the thread that used it).
  explicit DeadlineWorker(std::function<void()> at_exit = {});
  ~DeadlineWorker();
  DeadlineWorker(const DeadlineWorker&) = delete;
  DeadlineWorker& operator=(const DeadlineWorker&) = delete;

  Outcome Run(std::function<void()> job, std::chrono::steady_clock::duration limit);

  // True while a job whose caller stopped waiting is still running.
  bool Busy() const;

 private:
  struct State;
  std::shared_ptr<State> state_;
  std::thread thread_;
};

}  // namespace rotavox
