// Spoken form of a bearing (see bearing_words.h).
#include "speech/bearing_words.h"

#include "common/number.h"

namespace rotavox {

std::string BearingWords(std::int32_t bearing) {
  if (bearing == 0) return "ZERO";
  // 64-bit sum: 1000 + the largest bearing must not overflow.
  const std::string text = NumberText(std::int64_t{1000} + bearing);
  std::string words;
  for (std::size_t position = 3; position <= 5; ++position) {
    if (position <= text.size()) words += text[position - 1];
    words += ' ';
  }
  return words;
}

}  // namespace rotavox
