// The settings record: the COM port text and the voice switch, kept in
// STAT.DAT between runs.
//
// The writer always produces one line: the port text in double quotes, a
// comma, the voice switch in decimal, CR LF ("\"3\",1\r\n"). The reader
// also takes the fields on two lines, and an unquoted port text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace rotavox {

struct ProgramState;
class SettingsStore;

// Said at start-up, in every mode, when STAT.DAT is there but will not be
// saved.
inline constexpr const char* kSettingsUnreadableSpoken =
    "Settings file STAT.DAT cannot be read and will not be saved";
inline constexpr const char* kSettingsUnwritableSpoken =
    "Settings file STAT.DAT cannot be written and will not be saved";

struct Settings {
  std::string portText;
  std::int32_t voiceOn = 0;

  friend bool operator==(const Settings&, const Settings&) = default;
};

// Reads a record.
//  - Port text: leading blanks are skipped. A quoted text runs to the next
//    double quote (commas and line ends included); everything after the
//    closing quote is skipped up to and including the next comma, or the
//    next CR and an LF right after it. An unquoted text runs to the next
//    comma or CR or the end; tabs and line feeds in it are dropped, other
//    bytes (trailing blanks too) stay; the comma or CR (and LF) is consumed.
//  - Voice switch: leading blanks are skipped; the field runs to the next
//    comma, blank, CR or the end, tabs and line feeds in it are dropped, and
//    its number is rounded to a whole one. A missing field gives 0.
Settings ParseSettings(std::string_view bytes);

// The one-line record. A double quote would end the quoted port text early
// and push the rest of it into the voice field, so the port text is stored
// without its double quotes; every other byte is stored as it is.
std::string FormatSettings(const Settings& settings);

// PortText and VoiceOn from the store: speech on and no port when there is
// no file, when it is empty, and when it cannot be read; in the last case
// the file is kept as it is (KeepSettingsFile) and the operator is told at
// start-up (StartWarnings). So is one that was read but cannot be written
// though it is not read-only; a read-only one is left alone in silence.
void LoadSettings(ProgramState& state, SettingsStore& store);

// Writes PortText and VoiceOn back, unless the file is to be kept; failures
// leave the old file as it was.
void SaveSettings(const ProgramState& state, SettingsStore& store);

}  // namespace rotavox
