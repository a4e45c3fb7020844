// Reading a target text (see target.h).
#include "target/target.h"

#include <algorithm>
#include <optional>

#include "common/locator.h"
#include "common/text.h"

namespace rotavox {
namespace {

// The text with the blanks around it taken off, and a trailing blank and L
// (either case), which asks for the long path, split from it.
struct PathText {
  std::string_view target;
  bool longPath = false;
};

PathText SplitLongPath(std::string_view text) {
  text = Trimmed(text);
  PathText path;
  if (text.size() > 2 && IsBlank(text[text.size() - 2]) && Upper(text.back()) == 'L') {
    path.longPath = true;
    text = Trimmed(text.substr(0, text.size() - 2));
  }
  path.target = text;
  return path;
}

bool IsBearing(std::string_view text) {
  text = Trimmed(text);
  return !text.empty() && std::all_of(text.begin(), text.end(), IsDigit);
}

// Two letters and two digits, then optionally two letters, then optionally
// one or two digits: what a locator looks like, whether or not it is one.
bool LooksLikeLocator(std::string_view text) {
  const auto letters = [&](std::size_t at) { return IsLetter(text[at]) && IsLetter(text[at + 1]); };
  const auto digits = [&](std::size_t at, std::size_t count) {
    return std::all_of(text.begin() + static_cast<std::ptrdiff_t>(at),
                       text.begin() + static_cast<std::ptrdiff_t>(at + count), IsDigit);
  };
  if (text.size() < 4 || text.size() > 8 || text.size() == 5) return false;
  if (!letters(0) || !digits(2, 2)) return false;
  return text.size() == 4 || (letters(4) && digits(6, text.size() - 6));
}

std::string UpperCase(std::string_view text) {
  std::string upper(text);
  std::transform(upper.begin(), upper.end(), upper.begin(), Upper);
  return upper;
}

}  // namespace

bool IsCallsign(std::string_view call) {
  if (call.empty() || call.size() > kMaxCallLength) return false;
  bool letter = false;
  for (const char c : call) {
    if (!IsLetter(c) && !IsDigit(c) && c != '/') return false;
    letter = letter || IsLetter(c);
  }
  return letter;
}

Target ParseTarget(std::string_view text) {
  Target target;
  target.text = std::string(text);
  if (Trimmed(text).empty()) return target;
  if (IsBearing(text)) {
    target.kind = Target::Kind::kBearing;
    return target;
  }
  const PathText path = SplitLongPath(text);
  target.longPath = path.longPath;
  if (const std::optional<std::string> locator = ReadLocator(path.target)) {
    target.kind = Target::Kind::kLocator;
    target.station = *locator;
  } else if (LooksLikeLocator(path.target)) {
    target.kind = Target::Kind::kNotALocator;
    target.station = UpperCase(path.target);
  } else if (IsCallsign(path.target)) {
    target.kind = Target::Kind::kCall;
    target.station = UpperCase(path.target);
  } else {
    target.kind = Target::Kind::kText;
    target.longPath = false;
  }
  return target;
}

}  // namespace rotavox
