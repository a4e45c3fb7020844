// rotavox-say: speaks texts through the Linux voices exactly as the program
// does, for manual checks and for the speech-dispatcher capture test.
//
//   rotavox-say [--voice ENGINE] [--rate N] [--beep] TEXT...
//
// Each TEXT (UTF-8, as typed in the shell) is spoken with a fresh voice.
// Exit status: 0 all spoken, 1 no voice, 2 bad command line.
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "common/cp1252.h"
#include "speech/linux/linux_beep.h"
#include "speech/linux/linux_voices.h"
#include "speech/rate.h"

namespace {

const char kUsage[] =
    "usage: rotavox-say [--voice auto|speechd|espeak|log:FILE[:MS]] [--rate -10..10] [--beep] TEXT...\n";

const char* Name(rotavox::VoiceResult result) {
  switch (result) {
    case rotavox::VoiceResult::kDone: return "done";
    case rotavox::VoiceResult::kCallFailed: return "call failed";
    case rotavox::VoiceResult::kLost: return "lost";
  }
  return "?";
}

}  // namespace

int main(int argc, char** argv) {
  using Clock = std::chrono::steady_clock;
  std::string engine;
  std::optional<int> rate;
  bool beep = false;
  std::vector<std::string> texts;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--voice" && i + 1 < argc) {
      engine = argv[++i];
    } else if (arg.starts_with("--voice=")) {
      engine = arg.substr(8);
    } else if (arg == "--rate" && i + 1 < argc) {
      rate = rotavox::ReadRate(argv[++i]);
      if (!rate) {
        std::fputs(kUsage, stderr);
        return 2;
      }
    } else if (arg == "--beep") {
      beep = true;
    } else if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else {
      texts.emplace_back(arg);
    }
  }
  if (texts.empty() && !beep) {
    std::fputs(kUsage, stderr);
    return 2;
  }

  int status = 0;
  if (beep) {
    bool fell_back = false;
    {
      rotavox::LinuxBeep bell([&] { fell_back = true; });
      bell.Beep();
      // The sound plays on after Beep returns; give it time before the end.
      std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    std::printf("beep: %s\n", fell_back ? "fallback bell" : "bell event sound");
  }
  if (texts.empty()) return status;

  std::string error;
  const auto start = Clock::now();
  auto provider = rotavox::MakeVoiceProvider(engine, &error, nullptr, rate);
  if (!provider) {
    std::fprintf(stderr, "rotavox-say: %s\n", error.c_str());
    return 2;
  }
  std::printf("voice chosen in %lld ms\n",
              static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count()));
  for (const std::string& text : texts) {
    const auto begin = Clock::now();
    auto voice = provider->CreateVoice();
    rotavox::VoiceResult result = rotavox::VoiceResult::kLost;
    if (voice) {
      result = voice->Speak(rotavox::Utf8ToCp1252(text));
      if (result != rotavox::VoiceResult::kLost) result = voice->WaitUntilDone();
    }
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - begin).count();
    std::printf("\"%s\": %s in %lld ms\n", text.c_str(), voice ? Name(result) : "no voice",
                static_cast<long long>(ms));
    if (!voice || result == rotavox::VoiceResult::kLost) status = 1;
  }
  std::fflush(stdout);
  return status;
}
