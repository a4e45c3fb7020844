// The voices of the Linux edition, chosen by the --voice option.
//
//   (empty) or "auto"  speech-dispatcher when it answers and can speak,
//                      else espeak-ng, else no voice at all
//   "speechd"          speech-dispatcher
//   "espeak"           espeak-ng directly
//   "log:FILE"         appends each text as one UTF-8 line to FILE
//   "log:FILE:MS"      the same, then holds MS milliseconds per character,
//                      as long as a real voice would take
//
// A FILE whose name ends in a colon and digits must be given with MS.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "speech/speech_wait.h"
#include "speech/voice.h"

namespace rotavox {

// nullptr and a message in *error when `engine` is not one of the above.
// The speaking thread waits through `wait` (a plain sleep when null), which
// must outlive the provider. A rate (speech/rate.h) is given to the real
// engines; the log voice has none.
std::unique_ptr<VoiceProvider> MakeVoiceProvider(std::string_view engine, std::string* error,
                                                 SpeechWait* wait = nullptr,
                                                 std::optional<int> rate = std::nullopt);

// Whether MakeVoiceProvider takes `engine`, without starting any voice (for
// checking the command line before any window exists); false and a message
// in *error when it does not.
bool IsVoiceEngine(std::string_view engine, std::string* error);

// The stand-in voice behind "log:".
class LogVoiceProvider : public VoiceProvider {
 public:
  LogVoiceProvider(std::string path, std::chrono::milliseconds per_character, SpeechWait* wait = nullptr)
      : path_(std::move(path)), perCharacter_(per_character), wait_(wait) {}
  // nullptr when the file cannot be opened for appending.
  std::unique_ptr<Voice> CreateVoice() override;

  const std::string& path() const { return path_; }
  std::chrono::milliseconds perCharacter() const { return perCharacter_; }

 private:
  std::string path_;
  std::chrono::milliseconds perCharacter_;
  SpeechWait* wait_;
};

// Used when no engine can be had: every CreateVoice gives nullptr.
class NoVoiceProvider : public VoiceProvider {
 public:
  std::unique_ptr<Voice> CreateVoice() override { return nullptr; }
};

}  // namespace rotavox
