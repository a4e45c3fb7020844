// The espeak-ng engine, for machines without speech-dispatcher. Runs on the
// provider's worker thread only.
#include <espeak-ng/speak_lib.h>

#include <atomic>

#include "speech/linux/worker_voice.h"
#include "speech/rate.h"

namespace rotavox {
namespace {

// espeak-ng keeps one synthesizer per process. An engine whose worker was
// left stuck inside it still holds it; a second engine must not use it at
// the same time.
std::atomic<bool> espeak_taken{false};

class EspeakEngine : public SpeechEngine {
 public:
  explicit EspeakEngine(std::optional<int> rate) : rate_(rate) {}
  ~EspeakEngine() override {
    if (!open_) return;
    espeak_Terminate();
    espeak_taken = false;
  }

  bool Open() override {
    if (open_) return true;
    if (espeak_taken.exchange(true)) return false;
    // Playback mode: espeak_Synth returns when the sound has been played.
    if (espeak_Initialize(AUDIO_OUTPUT_SYNCH_PLAYBACK, 0, nullptr, espeakINITIALIZE_DONT_EXIT) < 0) {
      espeak_taken = false;
      return false;
    }
    if (rate_) espeak_SetParameter(espeakRATE, EspeakWordsPerMinute(*rate_), 0);
    open_ = true;
    return true;
  }

  // espeak-ng plays at once, beside any other program's speech: the
  // caller's deadline stands as it is.
  VoiceResult Say(const std::string& utf8, std::chrono::milliseconds /*limit*/,
                  DeadlineWorker::Deadline& /*deadline*/) override {
    // Without an audio device this fails at once.
    if (espeak_Synth(utf8.c_str(), utf8.size() + 1, 0, POS_CHARACTER, 0, espeakCHARS_UTF8, nullptr,
                     nullptr) != EE_OK) {
      return VoiceResult::kLost;
    }
    return espeak_Synchronize() == EE_OK ? VoiceResult::kDone : VoiceResult::kLost;
  }

 private:
  std::optional<int> rate_;
  bool open_ = false;
};

}  // namespace

std::unique_ptr<SpeechEngine> MakeEspeakEngine(std::optional<int> rate) {
  return std::make_unique<EspeakEngine>(rate);
}

}  // namespace rotavox
