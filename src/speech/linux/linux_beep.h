// The beep that marks a move of the antenna: the desktop's "bell" event
// sound through libcanberra, or the caller's own bell (the X bell) when
// that cannot be played.
#pragma once

#include <chrono>
#include <functional>

#include "speech/linux/deadline_worker.h"

namespace rotavox {

class LinuxBeep {
 public:
  // `fallback` runs on the calling thread whenever the sound cannot start.
  explicit LinuxBeep(std::function<void()> fallback);
  ~LinuxBeep();
  LinuxBeep(const LinuxBeep&) = delete;
  LinuxBeep& operator=(const LinuxBeep&) = delete;

  // Starts the sound and returns; the caller waits at most for the sound
  // server to accept it (kStartLimit), not for the sound to end.
  void Beep();

  static constexpr std::chrono::milliseconds kStartLimit{250};

 private:
  struct Sound;
  std::function<void()> fallback_;
  Sound* sound_;  // owned by the worker's exit step
  DeadlineWorker worker_;
};

}  // namespace rotavox
