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
  char key;            // an upper-case letter
  unsigned modifiers;  // exactly these are held
  int command;         // the command id the handler receives
};

// Alt+B speaks the bearing; with a home locator Alt+A says what lies along
// the beam.
std::vector<Accelerator> DialogAccelerators(const ProgramState& state);

}  // namespace rotavox
