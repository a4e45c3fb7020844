// Number reading, rounding and writing on arbitrary text.
//
// The first 8 bytes (when there are that many) are also a 64-bit number
// for NumberText to write and NumberValue to read back.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

#include "common/number.h"

namespace {

using namespace rotavox;

void Check(bool ok) {
  if (!ok) std::abort();
}

bool Same(double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const double value = NumberValue(text);
  Check(!std::isnan(value));
  // Blanks before a number are skipped, and a byte that cannot continue
  // one ends it.
  Check(Same(NumberValue(" " + text), value));
  Check(Same(NumberValue(text + "x"), value));

  const double rounded = RoundHalfEven(value);
  if (std::isfinite(value)) {
    Check(std::floor(rounded) == rounded);
    const double off = std::fabs(rounded - value);
    Check(off <= 0.5);
    if (off == 0.5) Check(std::fmod(rounded, 2.0) == 0.0);
  } else {
    Check(rounded == value);
  }
  const std::int32_t whole = ToInt32(value);
  constexpr double kMax = std::numeric_limits<std::int32_t>::max();
  constexpr double kMin = std::numeric_limits<std::int32_t>::min();
  Check(whole == (rounded >= kMax ? kMax : rounded <= kMin ? kMin : rounded));

  if (size >= sizeof(std::int64_t)) {
    std::int64_t n;
    std::memcpy(&n, data, sizeof n);
    const std::string written = NumberText(n);
    Check(written[0] == (n < 0 ? '-' : ' '));
    Check(NumberValue(written) == static_cast<double>(n));
    const auto n32 = static_cast<std::int32_t>(n);
    Check(ToInt32(NumberValue(NumberText(n32))) == n32);
  }
  return 0;
}
