// The digit keys of the Windows keyboard (see digit_keys.h).
#include "ui/win32/digit_keys.h"

#include <windows.h>

namespace rotavox {

DigitKey DigitOfKey(std::uintptr_t virtualKey, std::intptr_t lParam, bool numLock) {
  if (virtualKey >= '1' && virtualKey <= '9') return {static_cast<int>(virtualKey - '0'), false};
  if (virtualKey >= VK_NUMPAD1 && virtualKey <= VK_NUMPAD9) {
    return {static_cast<int>(virtualKey - VK_NUMPAD0), false};
  }
  constexpr std::intptr_t kExtendedKey = 1 << 24;
  if (lParam & kExtendedKey) return {};
  // The keypad's navigation keys, 1 (End) to 9 (Page Up).
  constexpr std::uintptr_t kKeypad[] = {VK_END, VK_DOWN, VK_NEXT, VK_LEFT, VK_CLEAR,
                                        VK_RIGHT, VK_HOME, VK_UP, VK_PRIOR};
  for (int digit = 1; digit <= 9; ++digit) {
    if (kKeypad[digit - 1] == virtualKey) return {digit, numLock};
  }
  return {};
}

}  // namespace rotavox
