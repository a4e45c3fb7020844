// Presets: nine targets the operator keeps, recalled with Ctrl+1 to Ctrl+9
// and stored with Ctrl+Shift+1 to Ctrl+Shift+9, and the file that holds
// them, PRESETS.TXT beside STAT.DAT.
//
// The file is plain text in the bytes of the port text in STAT.DAT, meant
// to be edited by hand: comment lines start with '#'; a preset is a line
//   N,"TARGET",NAME
// with N from 1 to 9, TARGET as it would be typed into the GoTo box (a
// bearing, a grid locator or a callsign, " L" after it for the long path;
// a double quote in it written twice; the quotes may be left out when it
// holds no comma), and an optional NAME, spoken instead of the target when
// the preset is recalled. The first line of a number is that preset's. A
// line whose number cannot be read belongs to no preset; a line with a
// number and a target that cannot be read, or a target or name that is too
// long or holds a control character, leaves that preset empty. Storing
// a preset replaces its line, keeping its name, and leaves every other line
// as it was, comments and lines that cannot be read included.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace rotavox {

inline constexpr const char* kPresetsFileName = "PRESETS.TXT";
inline constexpr int kPresetCount = 9;
// A target goes to the box as a frame's parameter, which is never longer;
// a name is spoken, and a longer one would keep the operator waiting.
inline constexpr std::size_t kMaxPresetTarget = 20;
inline constexpr std::size_t kMaxPresetName = 40;

struct Preset {
  // What makes a line's target or name unfit for a preset, which is then
  // empty.
  enum class Fault { kNone, kTooLong, kBadCharacter };
  std::string target;  // empty: no preset
  std::string name;    // empty: none
  Fault fault = Fault::kNone;  // why an empty preset is empty, if a line gave one
  bool operator==(const Preset&) const = default;
};

// Whether `target` (blanks around it aside) may be kept as a preset:
// at most kMaxPresetTarget characters and no control character; the same
// for a name with kMaxPresetName.
Preset::Fault TargetFault(std::string_view target);
Preset::Fault NameFault(std::string_view name);
// "too long", "bad character"; empty for none.
const char* FaultWords(Preset::Fault fault);
using Presets = std::array<Preset, kPresetCount>;  // preset N at N - 1

Presets ParsePresets(std::string_view bytes);

// The file `bytes` with preset `number`'s line set to `target`, its name
// kept; a file that has none yet gets the comment that says how to edit
// it first. A new line ends as the file's lines do (LF or CR LF).
std::string StorePreset(std::string_view bytes, int number, std::string_view target);

}  // namespace rotavox
