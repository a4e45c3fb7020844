// Speak: the one way the program talks to its operator.
#pragma once

#include <string_view>

namespace rotavox {

struct Context;

inline constexpr const char* kNoVoiceText = "Sorry no voice available";
inline constexpr const char* kNoVoiceCaption = "Windows Voice";

// Speaks `text` and returns when it has been spoken. Returns at once while
// speech is off (VoiceOn 0). Each call takes a fresh voice from the
// provider; when none can be had, or the voice is lost while speaking, the
// operator is told once in a message box and speech is switched off
// (VoiceOn 0, the voice check box unticked). A voice call that merely fails
// is not reported.
void Speak(Context& context, std::string_view text);

}  // namespace rotavox
