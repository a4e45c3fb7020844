// Speak (see speak.h).
#include "speech/speak.h"

#include "common/context.h"
#include "common/state.h"
#include "speech/voice.h"
#include "ui/desktop.h"
#include "ui/dialog.h"
#include "ui/messages.h"

namespace rotavox {
namespace {

void SwitchSpeechOff(Context& context) {
  context.desktop.MessageBox(kNoVoiceText, kNoVoiceCaption);
  // Cleared only after the box is closed: calls made from messages handled
  // while it is open still try to speak.
  context.state.VoiceOn = 0;
  context.dialog.SetCheck(kVoiceCheck, 0);
}

}  // namespace

void Speak(Context& context, std::string_view text) {
  if (context.state.VoiceOn == 0) return;
  std::unique_ptr<Voice> voice = context.voices.CreateVoice();
  if (!voice) {
    SwitchSpeechOff(context);
    return;
  }
  // A failed speak step still waits; only a lost voice skips the wait.
  bool lost = voice->Speak(text) == VoiceResult::kLost;
  if (!lost) lost = voice->WaitUntilDone() == VoiceResult::kLost;
  voice.reset();
  if (lost) SwitchSpeechOff(context);
}

}  // namespace rotavox
