// Speaking rates (see rate.h).
#include "speech/rate.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

namespace rotavox {

int SpeechdRate(int rate) { return std::clamp(rate, kSlowestRate, kFastestRate) * 10; }

int EspeakWordsPerMinute(int rate) {
  constexpr double kDefault = 175;
  const double wpm = kDefault * std::pow(3.0, std::clamp(rate, kSlowestRate, kFastestRate) / 10.0);
  return std::clamp(static_cast<int>(std::lround(wpm)), 80, 450);
}

std::optional<int> ReadRate(const char* text) {
  int rate = 0;
  const char* end = text + std::strlen(text);
  const char* from = *text == '+' ? text + 1 : text;
  const auto result = std::from_chars(from, end, rate);
  if (from == end || result.ec != std::errc() || result.ptr != end || rate < kSlowestRate || rate > kFastestRate) {
    return std::nullopt;
  }
  return rate;
}

}  // namespace rotavox
