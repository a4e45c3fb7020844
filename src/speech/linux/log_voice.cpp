// LogVoiceProvider (see linux_voices.h).
#include <cstdio>
#include <thread>

#include "common/cp1252.h"
#include "speech/linux/linux_voices.h"

namespace rotavox {
namespace {

// One text per voice: the file is opened by CreateVoice and closed after
// the text, so that a test can read every line while the program runs.
class LogVoice : public Voice {
 public:
  LogVoice(std::FILE* file, std::chrono::milliseconds per_character, SpeechWait* wait)
      : file_(file), perCharacter_(per_character), wait_(wait) {}
  ~LogVoice() override { Close(); }

  VoiceResult Speak(std::string_view text) override {
    if (!file_) return VoiceResult::kLost;
    const std::string line = Cp1252ToUtf8(text) + '\n';
    const bool written = std::fwrite(line.data(), 1, line.size(), file_) == line.size();
    if (!Close() || !written) return VoiceResult::kLost;
    // As long as a real voice would take, waiting as a real voice is waited
    // for.
    const auto end = std::chrono::steady_clock::now() + perCharacter_ * static_cast<long>(text.size());
    if (wait_) {
      wait_->Wait([] { return false; }, [end] { return end; });
    } else {
      std::this_thread::sleep_until(end);
    }
    return VoiceResult::kDone;
  }

  VoiceResult WaitUntilDone() override { return VoiceResult::kDone; }

 private:
  bool Close() {
    if (!file_) return true;
    const bool ok = std::fclose(file_) == 0;
    file_ = nullptr;
    return ok;
  }

  std::FILE* file_;
  std::chrono::milliseconds perCharacter_;
  SpeechWait* wait_;
};

}  // namespace

std::unique_ptr<Voice> LogVoiceProvider::CreateVoice() {
  std::FILE* file = std::fopen(path_.c_str(), "ae");
  if (!file) return nullptr;
  return std::make_unique<LogVoice>(file, perCharacter_, wait_);
}

}  // namespace rotavox
