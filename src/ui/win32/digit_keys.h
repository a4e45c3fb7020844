// The digit keys of the Windows keyboard, for the preset accelerators.
#pragma once

#include <cstdint>

namespace rotavox {

struct DigitKey {
  int digit = 0;         // 1 to 9; 0: the key is none of them
  bool shifted = false;  // the key itself tells that Shift is held
};

// The digit 1 to 9 whose key a WM_KEYDOWN reports, on the main row or on
// the numeric keypad, whatever the keyboard's layout makes of it: the main
// row's virtual keys are '1' to '9' on every layout (AZERTY's "&" key is
// VK '1'); the keypad's are VK_NUMPAD1 to VK_NUMPAD9 with Num Lock on, and
// the navigation keys VK_END to VK_PRIOR without the extended-key flag
// (which the separate navigation keys carry) with Num Lock off, or with
// Num Lock on while Shift is held: Windows then reports Shift let go for
// the moment of the key, so such a key stands for Shift itself.
DigitKey DigitOfKey(std::uintptr_t virtualKey, std::intptr_t lParam, bool numLock);

}  // namespace rotavox
