// Qt edition of the desktop services: message boxes and the beep.
//
// A message box stays on top with one OK button and runs its own loop, in
// which the dialog keeps working (ticks, commands), as an ownerless
// system-modal box does on Windows.
#pragma once

#include <functional>

#include "ui/desktop.h"

namespace rotavox {

class QtDesktop final : public Desktop {
 public:
  // `beep` plays the desktop's alert sound.
  explicit QtDesktop(std::function<void()> beep) : beep_(std::move(beep)) {}
  void MessageBox(std::string_view text, std::string_view caption) override;
  void Beep() override;
  // On stderr, as "rotavox: TEXT".
  void Note(std::string_view text) override;

 private:
  std::function<void()> beep_;
};

}  // namespace rotavox
