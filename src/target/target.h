// What a target text aims at: the one reader of the texts that the GoTo box
// and the presets hold.
//
// A text is read, in this order, as
//   nothing     empty, or blanks only;
//   a bearing   digits only, blanks around them allowed ("90", " 045");
//   a locator   a station's grid locator of 4, 6 or 8 characters, either
//               case, optionally followed by a blank and L for the long path
//               ("jn58td", "PM95VQ L");
//   no locator  the shape of a locator ("JN58TZ", "JS58", "JN58TD4": two
//               letters and two digits, then two letters, optionally one or
//               two digits more) that names no cell: a slip of the finger,
//               never a callsign;
//   a callsign  1 to 14 letters, digits and '/', at least one letter, either
//               case, optionally " L" ("JA1XYZ", "dl/g4abc/p l");
//   text        anything else, which goes to the box as typed ("1-2").
// Com Port texts are no targets.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace rotavox {

inline constexpr std::size_t kMaxCallLength = 14;

struct Target {
  enum class Kind { kNothing, kBearing, kLocator, kNotALocator, kCall, kText };
  Kind kind = Kind::kNothing;
  // The text as given, untrimmed: a bearing or text goes out exactly so.
  std::string text;
  // A locator or callsign, upper case, without " L".
  std::string station;
  bool longPath = false;

  // An aim at a station, which needs the home locator.
  bool AtStation() const {
    return kind == Kind::kLocator || kind == Kind::kNotALocator || kind == Kind::kCall;
  }
};

Target ParseTarget(std::string_view text);

// A callsign on its own, without " L": 1 to kMaxCallLength letters,
// digits and '/', at least one letter.
bool IsCallsign(std::string_view text);

}  // namespace rotavox
