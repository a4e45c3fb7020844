// The serial port to the C BOX, as the rest of the program uses it.
//
// Implementations: link/posix (termios), link/win32 (COM devices), and the
// tests' in-memory port. It is a byte line (link/byte_line.h) that is opened
// by its COM name and given its line settings.
#pragma once

#include <string_view>

#include "link/byte_line.h"

namespace rotavox {

class SerialPort : public ByteLine {
 public:
  // Opens the port named `name` ("COM" followed by the port text)
  // exclusively. Leaves the port closed when it cannot be opened.
  virtual void Open(std::string_view name) = 0;
  // 9600 baud, 8 data bits, no parity, one stop bit; nothing when closed.
  virtual void SetLine() = 0;
};

}  // namespace rotavox
