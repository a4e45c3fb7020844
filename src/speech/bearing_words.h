// How a bearing is spoken: its three digits one by one, each followed by a
// blank, so that the voice names every digit ("0 4 5 " for 45); 0 is the
// word "ZERO".
#pragma once

#include <cstdint>
#include <string>

namespace rotavox {

// Characters 3 to 5 of the number text of 1000 + `bearing`, each followed by
// a blank (a missing character leaves just its blank); "ZERO" for 0.
std::string BearingWords(std::int32_t bearing);

}  // namespace rotavox
