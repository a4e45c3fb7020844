// A line of bytes to a rotator's controller: a serial port, or a TCP
// connection to a network serial server or a daemon.
//
// Every operation is plain and quick: no call waits for the line or the
// network. Failures are not reported to the caller except through
// BytesWaiting, which is how the poll tick tells a dead line from a quiet
// one, and Trouble, which says why a line has given nothing.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace rotavox {

// Result of asking the line how many received bytes wait.
struct WaitingBytes {
  std::size_t count = 0;
  // The line has failed for good (device gone, hung up, I/O error,
  // connection dropped, the query itself failed). A line error such as an
  // overrun is no failure: it just gives a count of 0 for that tick.
  bool failed = false;
};

class ByteLine {
 public:
  virtual ~ByteLine() = default;

  // Puts all of `bytes` on the line or none of them; a failed or short
  // write loses them.
  virtual void Send(std::string_view bytes) = 0;
  // Received bytes waiting; {0, false} when the line is closed.
  virtual WaitingBytes BytesWaiting() = 0;
  // Reads at most `count` bytes already waiting; never waits for the line.
  virtual std::string Receive(std::size_t count) = 0;
  // Closes the line if it is open; whatever is under way is abandoned.
  virtual void Close() = 0;
  // Why the line has given nothing, in the operator's words ("Connection
  // refused by box.local"), asked before Close; empty when there is
  // nothing to add to the alarm (a serial port says nothing more).
  virtual std::string Trouble() { return {}; }
};

// Where a TCP line goes.
struct NetworkAddress {
  std::string host;  // a name, an IPv4 address, or an IPv6 address without brackets
  int port = 0;
  // The far end speaks telnet with the COM port control option (RFC
  // 2217); otherwise the bytes pass as they are.
  bool telnet = false;
  bool operator==(const NetworkAddress&) const = default;
};

// A TCP line. Implementations: link/asio (both editions) and the tests'
// in-memory line.
class NetworkLine : public ByteLine {
 public:
  // Starts looking up and connecting to `address` and returns at once; an
  // open line is closed first. Frames sent before the connection is up
  // wait for it, within the room the frame gate allows.
  virtual void Open(const NetworkAddress& address) = 0;
};

}  // namespace rotavox
