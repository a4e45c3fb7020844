// A voice whose engine runs on a DeadlineWorker, so that a stuck speech
// engine costs the operator at most one deadline and never freezes the
// program.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

#include "speech/linux/deadline_worker.h"
#include "speech/voice.h"

namespace rotavox {

// A speech engine. Every call, its destruction included, happens on the
// provider's one worker thread.
class SpeechEngine {
 public:
  virtual ~SpeechEngine() = default;
  // Makes the engine ready to speak (connects, initialises) if it is not
  // already; false when it cannot be had.
  virtual bool Open() = 0;
  // Speaks one UTF-8 text (never empty) and returns once it has been spoken
  // (kDone), or when the engine is gone (kLost). `limit` is the time the
  // caller waits; an engine that can stop waiting itself does so then and
  // cleans up, so that the next text finds it usable.
  virtual VoiceResult Say(const std::string& utf8, std::chrono::milliseconds limit) = 0;
  // Opens the engine and makes sure it can really speak, within `limit`.
  // The automatic choice of engine asks this.
  virtual bool Check(std::chrono::milliseconds limit) {
    (void)limit;
    return Open();
  }
};

struct VoiceDeadline {
  std::chrono::milliseconds base{5000};
  std::chrono::milliseconds perCharacter{200};
  std::chrono::milliseconds For(std::string_view text) const {
    return base + perCharacter * static_cast<long>(text.size());
  }
};

class WorkerVoiceProvider : public VoiceProvider {
 public:
  explicit WorkerVoiceProvider(std::unique_ptr<SpeechEngine> engine, VoiceDeadline deadline = {});
  ~WorkerVoiceProvider() override;

  // nullptr at once while the worker is still stuck on an overrun text.
  std::unique_ptr<Voice> CreateVoice() override;

  // Runs SpeechEngine::Check on the worker; false when it fails or takes
  // longer than `limit`.
  bool Check(std::chrono::milliseconds limit);

  // Speaks one Windows-1252 text on the worker within the deadline.
  VoiceResult SpeakText(std::string_view text);

 private:
  SpeechEngine* engine_;  // owned by the worker's exit step
  VoiceDeadline deadline_;
  DeadlineWorker worker_;
};

// The engines behind --voice speechd and --voice espeak.
std::unique_ptr<SpeechEngine> MakeSpeechdEngine();
std::unique_ptr<SpeechEngine> MakeEspeakEngine();

}  // namespace rotavox
