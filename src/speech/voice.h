// The platform voice, as Speak (speech/speak.h) uses it.
//
// Speak asks the provider for a fresh voice on every call that speaks and
// drops it when the call ends; nothing is kept between calls.
// Implementations: speech/speechd and speech/espeak on Linux, speech/win32
// (the SAPI voice) on Windows, and the tests' recording voice.
#pragma once

#include <memory>
#include <string_view>

namespace rotavox {

enum class VoiceResult {
  kDone,        // the call did its work
  kCallFailed,  // this call failed; the voice is still there (not reported)
  kLost,        // the voice is gone or stuck past its deadline: no voice
};

class Voice {
 public:
  virtual ~Voice() = default;
  // Hands one text (8-bit bytes) to the voice.
  virtual VoiceResult Speak(std::string_view text) = 0;
  // Returns when the voice has nothing left to say.
  virtual VoiceResult WaitUntilDone() = 0;
};

class VoiceProvider {
 public:
  virtual ~VoiceProvider() = default;
  // A new voice, or nullptr when none can be had.
  virtual std::unique_ptr<Voice> CreateVoice() = 0;
};

}  // namespace rotavox
