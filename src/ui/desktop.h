// Desktop services outside the dialog: message boxes and the beep.
#pragma once

#include <string_view>

namespace rotavox {

class Desktop {
 public:
  virtual ~Desktop() = default;
  // A system-modal box with no owner, the text, the caption and one OK
  // button; returns when the operator has closed it. While it is open the
  // dialog keeps receiving its messages, poll ticks included.
  virtual void MessageBox(std::string_view text, std::string_view caption) = 0;
  // The default system sound.
  virtual void Beep() = 0;
};

}  // namespace rotavox
