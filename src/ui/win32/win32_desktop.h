// Windows edition of the desktop services: MessageBoxA and MessageBeep.
//
// The box is system-modal with no owner; its own modal loop keeps
// dispatching the dialog's messages, poll ticks included, which is what the
// Linux edition has to arrange by hand. The beep is the default system
// sound, where the Linux edition plays the desktop's bell event.
#pragma once

#include <string_view>

#include "ui/desktop.h"

namespace rotavox {

class Win32Desktop final : public Desktop {
 public:
  void MessageBox(std::string_view text, std::string_view caption) override;
  void Beep() override;
  // OutputDebugStringA: a GUI program has no console.
  void Note(std::string_view text) override;
};

}  // namespace rotavox
