// The serial link on Linux: a termios character device, opened exclusively.
//
// Open resolves the "COM..." name through ComDevicePath (com_names.h) and
// accepts only a terminal character device; a missing device, a regular
// file, a directory, a FIFO or a device that is no terminal (/dev/null)
// leaves the port closed. Exclusive means both an
// advisory flock(LOCK_EX) on the descriptor, which makes a second open fail
// in any process, root included, and TIOCEXCL, which makes the kernel refuse
// further opens of the terminal by other users' processes and by programs
// that take no lock. Either lock failing, or a terminal already marked
// exclusive by another program, leaves the port closed.
//
// Every call returns at once: the descriptor is non-blocking, Send gives up
// on a stalled line after about 50 ms, and Receive reads only what waits.
// When the device is gone (USB adapter pulled, the far end of a pty closed,
// an I/O error) BytesWaiting reports failed until the port is closed.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "link/posix/com_names.h"
#include "link/serial_port.h"

namespace rotavox {

class PosixSerialPort final : public SerialPort {
 public:
  explicit PosixSerialPort(PortMap overrides = {});
  ~PosixSerialPort() override;
  PosixSerialPort(const PosixSerialPort&) = delete;
  PosixSerialPort& operator=(const PosixSerialPort&) = delete;

  // Opens the device that `name` maps to; an open port is closed first.
  void Open(std::string_view name) override;
  // Raw 9600 8N1 with the receiver on and modem lines ignored (CLOCAL).
  // Software flow control (IXON, IXOFF, IXANY) is turned off, since a
  // binary line must pass every byte; hardware flow control (CRTSCTS), the
  // DTR and RTS lines and the output speed's effect on them are left as the
  // port had them.
  void SetLine() override;
  // Writes `bytes`, waiting at most about 50 ms in all for room on a
  // stalled line; what does not fit by then is lost.
  void Send(std::string_view bytes) override;
  // The received byte count (FIONREAD). 0 on a tick on which the driver
  // counted a framing error or an overrun (TIOCGICOUNT, where the device
  // keeps such counters; a pty does not). Failed when the device is gone.
  WaitingBytes BytesWaiting() override;
  // One non-blocking read of at most `count` bytes.
  std::string Receive(std::size_t count) override;
  // Gives queued output about 50 ms to leave and discards the rest (the
  // kernel's own close would wait up to 30 s on a line held up by flow
  // control), releases both locks and closes the device; nothing when
  // closed.
  void Close() override;

  bool IsOpen() const { return fd_ >= 0; }

 private:
  // True when the line counted a framing error or overrun since last asked.
  bool LineErrorSinceLastTick();
  // Notes a failed read or write: anything but "try again" means the
  // device is gone.
  void NoteIoError(int error);

  // The driver's counts of the line errors that suppress a tick's count.
  struct LineErrorCounts {
    int frame = 0;
    int overrun = 0;
    int bufferOverrun = 0;
    bool operator==(const LineErrorCounts&) const = default;
  };

  PortMap overrides_;
  int fd_ = -1;
  // The device is gone; sticky until Close.
  bool failed_ = false;
  // Counts at the last look; none when the device keeps no counters.
  std::optional<LineErrorCounts> lastCounts_;
};

}  // namespace rotavox
