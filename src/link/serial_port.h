// The serial link to the C BOX, as the rest of the program uses it.
//
// Implementations: link/posix (termios), link/win32 (COM devices), and the
// tests' in-memory port. Every operation is plain, synchronous and quick: no
// call waits for the line. Failures are not reported to the caller except
// through BytesWaiting, which is how the poll tick tells a dead device from
// a quiet one.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace rotavox {

// Result of asking the port how many received bytes wait.
struct WaitingBytes {
  std::size_t count = 0;
  // The device has failed for good (gone, hung up, I/O error, the query
  // itself failed). A line error such as an overrun is no failure: it just
  // gives a count of 0 for that tick.
  bool failed = false;
};

class SerialPort {
 public:
  virtual ~SerialPort() = default;

  // Opens the port named `name` ("COM" followed by the port text)
  // exclusively. Leaves the port closed when it cannot be opened.
  virtual void Open(std::string_view name) = 0;
  // 9600 baud, 8 data bits, no parity, one stop bit; nothing when closed.
  virtual void SetLine() = 0;
  // Writes all of `bytes` as one write; a failed or short write loses them.
  virtual void Send(std::string_view bytes) = 0;
  // Received bytes waiting; {0, false} when the port is closed.
  virtual WaitingBytes BytesWaiting() = 0;
  // Reads at most `count` bytes already waiting; never waits for the line.
  virtual std::string Receive(std::size_t count) = 0;
  // Closes the port if it is open.
  virtual void Close() = 0;
};

}  // namespace rotavox
