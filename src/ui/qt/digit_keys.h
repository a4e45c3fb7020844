// The digit keys of the keyboard under X11 (and Wayland, whose compositors
// pass X11's key codes on), for the preset accelerators: the Qt edition's
// counterpart of ui/win32/digit_keys.h.
#pragma once

class QKeyEvent;

namespace rotavox {

// The digit 1 to 9 whose key is pressed, on the main row or the numeric
// keypad, whatever the keyboard's layout makes of it (AZERTY types "&" with
// the key of 1; Shift, or Num Lock off, turns the keypad's 1 into End):
// read from the key's place; 0 for any other key.
int PhysicalDigit(const QKeyEvent& key);

}  // namespace rotavox
