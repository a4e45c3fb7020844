// The operator's own speaking rate (--rate), as SAPI counts it: -10 (about
// a third of the default speed) to 10 (about three times it), 0 the
// voice's default. Each engine takes it in its own units.
#pragma once

#include <optional>

namespace rotavox {

inline constexpr int kSlowestRate = -10;
inline constexpr int kFastestRate = 10;

// speech-dispatcher's rate, -100 to 100.
int SpeechdRate(int rate);
// espeak-ng's words a minute: its default of 175 at 0, rising with every
// step to what espeak-ng takes at its ends, 80 at -10 and 450 at 10.
int EspeakWordsPerMinute(int rate);

// Nothing when `text` is no whole number from kSlowestRate to kFastestRate.
std::optional<int> ReadRate(const char* text);

}  // namespace rotavox
