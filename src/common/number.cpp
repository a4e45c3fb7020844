// Number reading, rounding and writing (see number.h for the rules).
#include "common/number.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace rotavox {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Value of `c` as a digit of `radix`, or -1 when it is none.
int DigitValue(char c, int radix) {
  int v = -1;
  if (c >= '0' && c <= '9') {
    v = c - '0';
  } else if (c >= 'a' && c <= 'f') {
    v = c - 'a' + 10;
  } else if (c >= 'A' && c <= 'F') {
    v = c - 'A' + 10;
  }
  return v < radix ? v : -1;
}

// "&" forms. `text` starts just after the "&".
double RadixValue(std::string_view text) {
  int radix = 8;
  std::size_t i = 0;
  if (!text.empty()) {
    switch (text[0]) {
      case 'h': case 'H': radix = 16; i = 1; break;
      case 'b': case 'B': radix = 2; i = 1; break;
      case 'o': case 'O': case 'q': case 'Q': radix = 8; i = 1; break;
      default: break;  // "&" then a digit: octal, the digit is the first one
    }
  }
  double value = 0.0;
  for (; i < text.size(); ++i) {
    const int d = DigitValue(text[i], radix);
    if (d < 0) break;
    value = value * radix + d;  // grows to +inf at worst, never UB
  }
  return value;
}

// Decimal form. `text` starts at the optional sign.
double DecimalValue(std::string_view text) {
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  // The mantissa is copied without its sign; from_chars takes no '+'.
  std::string clean;
  long long leadingExponent = 0;  // decimal exponent of the first non-zero digit
  bool seenNonZero = false;
  long long intDigits = 0;
  const std::size_t intStart = i;
  while (i < text.size() && IsDigit(text[i])) {
    if (text[i] != '0' || seenNonZero) {
      if (!seenNonZero) seenNonZero = true;
      ++intDigits;
    }
    clean += text[i++];
  }
  bool anyDigits = i > intStart;
  long long fracLeadingZeros = 0;
  if (i < text.size() && text[i] == '.') {
    const std::size_t fracStart = i + 1;
    std::size_t j = fracStart;
    while (j < text.size() && IsDigit(text[j])) {
      if (!seenNonZero) {
        if (text[j] == '0') {
          ++fracLeadingZeros;
        } else {
          seenNonZero = true;
        }
      }
      ++j;
    }
    if (j > fracStart || anyDigits) {
      clean += '.';
      clean.append(text.substr(fracStart, j - fracStart));
      anyDigits = anyDigits || j > fracStart;
      i = j;
    }
  }
  if (!anyDigits) return 0.0;
  if (!seenNonZero) return negative ? -0.0 : 0.0;
  leadingExponent = intDigits > 0 ? intDigits - 1 : -(fracLeadingZeros + 1);

  long long exponent = 0;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E' || text[i] == 'd' || text[i] == 'D')) {
    std::size_t j = i + 1;
    bool expNegative = false;
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) {
      expNegative = text[j] == '-';
      ++j;
    }
    if (j < text.size() && IsDigit(text[j])) {
      constexpr long long kExponentCap = 100000;  // far beyond any double
      while (j < text.size() && IsDigit(text[j])) {
        if (exponent < kExponentCap) exponent = exponent * 10 + (text[j] - '0');
        ++j;
      }
      if (expNegative) exponent = -exponent;
      clean += 'e';
      clean += std::to_string(exponent);
    }
  }

  double value = 0.0;
  const auto result = std::from_chars(clean.data(), clean.data() + clean.size(), value);
  if (result.ec == std::errc::result_out_of_range) {
    // Too large or too small for a double: decide by the decimal exponent of
    // the leading digit.
    value = leadingExponent + exponent > 0 ? std::numeric_limits<double>::infinity() : 0.0;
  } else if (result.ec != std::errc()) {
    value = 0.0;
  }
  return negative ? -value : value;
}

}  // namespace

double NumberValue(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n')) ++i;
  text.remove_prefix(i);
  if (!text.empty() && text[0] == '&') return RadixValue(text.substr(1));
  return DecimalValue(text);
}

double RoundHalfEven(double value) {
  if (!std::isfinite(value)) return value;
  const double down = std::floor(value);
  const double rest = value - down;
  if (rest > 0.5) return down + 1.0;
  if (rest < 0.5) return down;
  return std::fmod(down, 2.0) == 0.0 ? down : down + 1.0;
}

std::int32_t ToInt32(double value) {
  if (std::isnan(value)) return 0;
  const double r = RoundHalfEven(value);
  if (r >= static_cast<double>(std::numeric_limits<std::int32_t>::max())) {
    return std::numeric_limits<std::int32_t>::max();
  }
  if (r <= static_cast<double>(std::numeric_limits<std::int32_t>::min())) {
    return std::numeric_limits<std::int32_t>::min();
  }
  return static_cast<std::int32_t>(r);
}

std::string NumberText(std::int64_t value) {
  std::string digits = std::to_string(value);
  if (value >= 0) digits.insert(digits.begin(), ' ');
  return digits;
}

std::optional<double> ReadDecimal(std::string_view word) {
  std::string text(word);
  for (char& c : text) {
    if (c == ',') c = '.';
  }
  // One sign at most: "+-5" is no number.
  if (!text.empty() && text[0] == '+') {
    text.erase(0, 1);
    if (!text.empty() && text[0] == '-') return std::nullopt;
  }
  double value = 0;
  const char* end = text.data() + text.size();
  const auto result = std::from_chars(text.data(), end, value);
  if (text.empty() || result.ec != std::errc() || result.ptr != end || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

}  // namespace rotavox
