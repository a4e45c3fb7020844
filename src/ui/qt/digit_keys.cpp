// Digit keys by their place (see digit_keys.h).
#include "ui/qt/digit_keys.h"

#include <QKeyEvent>

namespace rotavox {

int PhysicalDigit(const QKeyEvent& key) {
  // X11's key codes (evdev's plus 8): the main row's 1 to 9, then the
  // keypad's rows from the bottom.
  constexpr quint32 kMainRowOne = 10;
  constexpr quint32 kKeypad[] = {87, 88, 89, 83, 84, 85, 79, 80, 81};
  const quint32 code = key.nativeScanCode();
  if (code == 0) {
    // No key code to go by (the offscreen platform): the key itself.
    return key.key() >= Qt::Key_1 && key.key() <= Qt::Key_9 ? key.key() - Qt::Key_0 : 0;
  }
  if (code >= kMainRowOne && code < kMainRowOne + 9) return static_cast<int>(code - kMainRowOne) + 1;
  for (int digit = 1; digit <= 9; ++digit) {
    if (kKeypad[digit - 1] == code) return digit;
  }
  return 0;
}

}  // namespace rotavox
