// MakeVoiceProvider (see linux_voices.h).
#include "speech/linux/linux_voices.h"

#include <charconv>

#include "speech/linux/worker_voice.h"

namespace rotavox {
namespace {

// The automatic choice happens once, when the program starts, on the
// engines' own workers: a stuck server costs at most these times. A silent
// test text ends within tens of milliseconds once it has begun wherever
// there is sound; a server without a sound device begins it and never ends
// it, so this is how long "no voice" takes to be known (with the server's
// own start, about half a second, before it).
constexpr std::chrono::milliseconds kSpeechdCheck{800};
constexpr std::chrono::milliseconds kEspeakCheck{2000};
// Longer holds than this are surely a typing error.
constexpr long kMaxHoldPerCharacter = 60000;

std::unique_ptr<VoiceProvider> ChooseAutomatically(SpeechWait* wait, std::optional<int> rate) {
  auto speechd = std::make_unique<WorkerVoiceProvider>(MakeSpeechdEngine(rate), VoiceDeadline{}, wait);
  if (speechd->Check(kSpeechdCheck)) return speechd;
  speechd.reset();
  auto espeak = std::make_unique<WorkerVoiceProvider>(MakeEspeakEngine(rate), VoiceDeadline{}, wait);
  if (espeak->Check(kEspeakCheck)) return espeak;
  return std::make_unique<NoVoiceProvider>();
}

std::unique_ptr<VoiceProvider> MakeLogProvider(std::string_view value, std::string* error, SpeechWait* wait) {
  std::string_view path = value;
  long hold = 0;
  const size_t colon = value.rfind(':');
  if (colon != std::string_view::npos) {
    const std::string_view digits = value.substr(colon + 1);
    const bool all_digits =
        !digits.empty() && digits.find_first_not_of("0123456789") == std::string_view::npos;
    if (digits.empty()) {
      *error = "--voice log:FILE:MS needs the milliseconds after the last colon";
      return nullptr;
    }
    if (all_digits) {
      const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), hold);
      if (ec != std::errc() || end != digits.data() + digits.size() || hold > kMaxHoldPerCharacter) {
        *error = "--voice log:FILE:MS takes at most " + std::to_string(kMaxHoldPerCharacter) +
                 " milliseconds per character";
        return nullptr;
      }
      path = value.substr(0, colon);
    }
  }
  if (path.empty()) {
    *error = "--voice log: needs a file name (log:FILE or log:FILE:MS)";
    return nullptr;
  }
  return std::make_unique<LogVoiceProvider>(std::string(path), std::chrono::milliseconds(hold), wait);
}

std::string UnknownVoice(std::string_view engine) {
  return "unknown voice \"" + std::string(engine) +
         "\": use auto, speechd, espeak, log:FILE or log:FILE:MS";
}

}  // namespace

std::unique_ptr<VoiceProvider> MakeVoiceProvider(std::string_view engine, std::string* error,
                                                 SpeechWait* wait, std::optional<int> rate) {
  error->clear();
  if (engine.empty() || engine == "auto") return ChooseAutomatically(wait, rate);
  if (engine == "speechd") {
    return std::make_unique<WorkerVoiceProvider>(MakeSpeechdEngine(rate), VoiceDeadline{}, wait);
  }
  if (engine == "espeak") {
    return std::make_unique<WorkerVoiceProvider>(MakeEspeakEngine(rate), VoiceDeadline{}, wait);
  }
  if (engine.starts_with("log:")) return MakeLogProvider(engine.substr(4), error, wait);
  *error = UnknownVoice(engine);
  return nullptr;
}

bool IsVoiceEngine(std::string_view engine, std::string* error) {
  error->clear();
  if (engine.empty() || engine == "auto" || engine == "speechd" || engine == "espeak") return true;
  // The log voice's file is opened only by its first voice.
  if (engine.starts_with("log:")) return MakeLogProvider(engine.substr(4), error, nullptr) != nullptr;
  *error = UnknownVoice(engine);
  return false;
}

}  // namespace rotavox
