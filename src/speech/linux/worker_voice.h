// A voice whose engine runs on a DeadlineWorker, so that a stuck speech
// engine costs the operator at most one deadline and never freezes the
// program.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "speech/linux/deadline_worker.h"
#include "speech/voice.h"

namespace rotavox {

// How much longer a caller waits than an engine that gives up by itself, so
// that the engine is heard giving up and has cleaned up for the next text.
inline constexpr std::chrono::milliseconds kCallerMargin{500};

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
  // text may take once it has begun to sound; the caller waits that long
  // from the start unless the engine moves `deadline` (a text queued behind
  // other programs' speech has not begun yet). An engine that can stop
  // waiting itself does so a little before the caller and cleans up, so
  // that the next text finds it usable.
  virtual VoiceResult Say(const std::string& utf8, std::chrono::milliseconds limit,
                          DeadlineWorker::Deadline& deadline) = 0;
  // Opens the engine and makes sure it can really speak, within `limit`
  // once the check has begun to sound (moving `deadline` as Say does). The
  // automatic choice of engine asks this.
  virtual bool Check(std::chrono::milliseconds limit, DeadlineWorker::Deadline& deadline) {
    (void)limit;
    (void)deadline;
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
  // `wait` is how the speaking thread waits (a plain sleep when null); it
  // must outlive the provider.
  explicit WorkerVoiceProvider(std::unique_ptr<SpeechEngine> engine, VoiceDeadline deadline = {},
                               SpeechWait* wait = nullptr);
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
  SpeechWait* wait_;
  DeadlineWorker worker_;
};

// The engines behind --voice speechd and --voice espeak.
// With a rate (speech/rate.h), each text is spoken at it; without, at the
// engine's default.
std::unique_ptr<SpeechEngine> MakeSpeechdEngine(std::optional<int> rate = std::nullopt);
std::unique_ptr<SpeechEngine> MakeEspeakEngine(std::optional<int> rate = std::nullopt);

}  // namespace rotavox
