// Desktop services outside the dialog: message boxes, the beep, and notes
// for whoever started the program.
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
  // A line for whoever started the program (why the link was lost): the
  // Linux edition prints it on stderr, the Windows one hands it to a
  // debugger, if any.
  virtual void Note(std::string_view text) = 0;
};

}  // namespace rotavox
