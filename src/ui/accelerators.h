// The dialog's accelerator table: keys that give the handler a command from
// anywhere in the window, before the dialog's own keyboard handling sees
// them (so that Alt+B is never the mnemonic of "&Bearing:").
//
// Both editions build their window system's table from this one: the
// Windows edition as an ACCEL table, the Qt edition in DialogKeys.
#pragma once

#include <vector>

namespace rotavox {

struct ProgramState;

struct Accelerator {
  enum Modifier : unsigned { kAlt = 1, kControl = 2, kShift = 4 };
  static constexpr char kEscape = '\x1b';
  // An upper-case letter, kEscape, or a digit 1 to 9: the key of that
  // digit, on the main row or on the numeric keypad, wherever the
  // keyboard's layout puts the digit itself.
  char key;
  unsigned modifiers;  // exactly these are held
  int command;         // the command id the handler receives
};

// Alt+B speaks the bearing; with a home locator Alt+A says what lies along
// the beam; with WSJT-X heard Alt+J and Alt+L turn to its station by the
// short and the long path; Escape stops a turn (and is nothing otherwise); Ctrl+1 to
// Ctrl+9 recall a preset and Ctrl+Shift+1 to Ctrl+Shift+9 store one.
std::vector<Accelerator> DialogAccelerators(const ProgramState& state);

}  // namespace rotavox
