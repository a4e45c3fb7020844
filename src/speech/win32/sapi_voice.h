// The platform voice on Windows: the SAPI automation object "SAPI.SpVoice".
//
// Where the Linux edition keeps a worker thread and a deadline around its
// engines, here each voice is a fresh SpVoice reached through IDispatch,
// created for one Speak call and released at its end. Speak and
// WaitUntilDone are looked up by name on every call and invoked
// synchronously; SpVoice speaks synchronously and WaitUntilDone(-1) waits
// without limit, so the calls return when the text has been spoken. A
// failed look-up or call is only kCallFailed: the voice is never reported
// lost once it has been created. COM must already be initialised on the
// calling thread (single-threaded apartment); the entry point does that.
#pragma once

#include <memory>
#include <optional>

#include "speech/voice.h"

namespace rotavox {

class SapiVoiceProvider final : public VoiceProvider {
 public:
  // With a rate (-10 to 10), each new voice's Rate property is set to it
  // before it speaks; without, the voice keeps the system's rate.
  explicit SapiVoiceProvider(std::optional<int> rate = std::nullopt) : rate_(rate) {}
  // A new SpVoice, or nullptr when the class is not registered or the
  // object cannot be created.
  std::unique_ptr<Voice> CreateVoice() override;

 private:
  std::optional<int> rate_;
};

}  // namespace rotavox
