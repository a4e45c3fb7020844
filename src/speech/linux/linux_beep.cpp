// LinuxBeep (see linux_beep.h).
#include "speech/linux/linux_beep.h"

#include <canberra.h>

#include <chrono>
#include <memory>
#include <utility>

namespace rotavox {

// The libcanberra context, used on the worker thread only. Made when first
// needed and made afresh after a failure, so that a sound server started
// later is found; but not on every beep, since each failed attempt costs
// time and fills the terminal with the sound library's complaints.
struct LinuxBeep::Sound {
  static constexpr std::chrono::seconds kRetryAfterFailure{60};
  ca_context* context = nullptr;
  std::chrono::steady_clock::time_point nextTry{};

  ~Sound() { Drop(); }

  void Drop() {
    if (context) ca_context_destroy(context);
    context = nullptr;
  }

  bool Play() {
    const auto now = std::chrono::steady_clock::now();
    if (now < nextTry) return false;
    if (!context) {
      if (ca_context_create(&context) != CA_SUCCESS) {
        context = nullptr;
        nextTry = now + kRetryAfterFailure;
        return false;
      }
      ca_context_change_props(context, CA_PROP_APPLICATION_NAME, "Rotavox", nullptr);
    }
    if (ca_context_play(context, 0, CA_PROP_EVENT_ID, "bell", CA_PROP_EVENT_DESCRIPTION,
                        "Antenna moved", nullptr) == CA_SUCCESS) {
      return true;
    }
    Drop();
    nextTry = now + kRetryAfterFailure;
    return false;
  }
};

LinuxBeep::LinuxBeep(std::function<void()> fallback)
    : fallback_(std::move(fallback)),
      sound_(new Sound),
      worker_([owned = std::shared_ptr<Sound>(sound_)]() mutable { owned.reset(); }) {}

LinuxBeep::~LinuxBeep() = default;

void LinuxBeep::Beep() {
  auto played = std::make_shared<bool>(false);
  const auto outcome = worker_.Run([sound = sound_, played] { *played = sound->Play(); }, kStartLimit);
  if (outcome == DeadlineWorker::Outcome::kFinished && *played) return;
  if (fallback_) fallback_();
}

}  // namespace rotavox
