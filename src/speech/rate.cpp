// Speaking rates (see rate.h).
#include "speech/rate.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace rotavox {

int SpeechdRate(int rate) { return std::clamp(rate, kSlowestRate, kFastestRate) * 10; }

int EspeakWordsPerMinute(int rate) {
  // Each step a like factor of the way from the default to the end on its
  // side: every rate a speed of its own, the ends espeak-ng's limits.
  constexpr double kDefault = 175, kSlowest = 80, kFastest = 450;
  const int r = std::clamp(rate, kSlowestRate, kFastestRate);
  const double end = r < 0 ? kSlowest : kFastest;
  return static_cast<int>(std::lround(kDefault * std::pow(end / kDefault, std::abs(r) / 10.0)));
}

std::optional<int> ReadRate(const char* text) {
  int rate = 0;
  const char* end = text + std::strlen(text);
  const char* from = *text == '+' ? text + 1 : text;
  if (from != text && *from == '-') return std::nullopt;  // one sign at most
  const auto result = std::from_chars(from, end, rate);
  if (from == end || result.ec != std::errc() || result.ptr != end || rate < kSlowestRate || rate > kFastestRate) {
    return std::nullopt;
  }
  return rate;
}

}  // namespace rotavox
