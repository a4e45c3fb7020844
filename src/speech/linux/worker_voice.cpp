// WorkerVoiceProvider (see worker_voice.h).
#include "speech/linux/worker_voice.h"

#include <utility>

#include "common/cp1252.h"

namespace rotavox {
namespace {

// Speak blocks until the text has been spoken, so the wait has nothing left
// to do but report a voice lost during Speak.
class WorkerVoice : public Voice {
 public:
  explicit WorkerVoice(WorkerVoiceProvider& provider) : provider_(provider) {}

  VoiceResult Speak(std::string_view text) override {
    // Nothing to say needs no engine at all.
    if (text.empty()) return VoiceResult::kDone;
    last_ = provider_.SpeakText(text);
    return last_;
  }

  VoiceResult WaitUntilDone() override {
    return last_ == VoiceResult::kLost ? VoiceResult::kLost : VoiceResult::kDone;
  }

 private:
  WorkerVoiceProvider& provider_;
  VoiceResult last_ = VoiceResult::kDone;
};

}  // namespace

WorkerVoiceProvider::WorkerVoiceProvider(std::unique_ptr<SpeechEngine> engine, VoiceDeadline deadline,
                                         SpeechWait* wait)
    : engine_(engine.get()),
      deadline_(deadline),
      wait_(wait),
      worker_([owned = std::shared_ptr<SpeechEngine>(std::move(engine))]() mutable { owned.reset(); }) {}

WorkerVoiceProvider::~WorkerVoiceProvider() = default;

std::unique_ptr<Voice> WorkerVoiceProvider::CreateVoice() {
  if (worker_.Busy()) return nullptr;
  return std::make_unique<WorkerVoice>(*this);
}

bool WorkerVoiceProvider::Check(std::chrono::milliseconds limit) {
  auto ok = std::make_shared<bool>(false);
  // A little more than the engine's own limit, so that an engine that
  // gives up in time is heard giving up.
  const auto outcome = worker_.Run(
      [engine = engine_, ok, limit](DeadlineWorker::Deadline& deadline) { *ok = engine->Check(limit, deadline); },
      limit + kCallerMargin);
  return outcome == DeadlineWorker::Outcome::kFinished && *ok;
}

VoiceResult WorkerVoiceProvider::SpeakText(std::string_view text) {
  auto result = std::make_shared<VoiceResult>(VoiceResult::kLost);
  const std::chrono::milliseconds limit = deadline_.For(text);
  auto job = [engine = engine_, result, limit, utf8 = Cp1252ToUtf8(text)](DeadlineWorker::Deadline& deadline) {
    *result = engine->Open() ? engine->Say(utf8, limit, deadline) : VoiceResult::kLost;
  };
  if (worker_.Run(std::move(job), limit + kCallerMargin, wait_) != DeadlineWorker::Outcome::kFinished) {
    return VoiceResult::kLost;
  }
  return *result;
}

}  // namespace rotavox
