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
// Every call returns at once: the descriptor is non-blocking, Send puts a
// frame on the line whole or drops it whole (link/frame_gate.h) and waits
// at most the frame's own time on the wire, and Receive reads only what
// waits. When the device is gone (USB adapter pulled, the far end of a pty
// closed, an I/O error) or the line has taken no frame for a second,
// BytesWaiting reports failed until the port is closed.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "link/frame_gate.h"
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
  // No flow control: software flow control (IXON, IXOFF, IXANY) would eat
  // bytes of a binary line, and hardware flow control (CRTSCTS) would hold
  // every frame back on a cable without handshake lines. The DTR and RTS
  // lines are left as the port had them.
  void SetLine() override;
  // Writes `bytes` when the driver holds little enough (TIOCOUTQ) and
  // nothing is left of an earlier frame; otherwise drops them whole.
  void Send(std::string_view bytes) override;
  // The received byte count (FIONREAD). 0 on a tick on which the driver
  // counted a framing error or an overrun (TIOCGICOUNT, where the device
  // keeps such counters; a pty does not). Failed when the device is gone.
  WaitingBytes BytesWaiting() override;
  // One non-blocking read of at most `count` bytes.
  std::string Receive(std::size_t count) override;
  // Gives queued output up to about 150 ms (the most the frame gate lets
  // the driver hold) to leave and discards the rest (the kernel's own close
  // would wait up to 30 s on a line held up by flow control), releases both
  // locks and closes the device; nothing when closed.
  void Close() override;

  bool IsOpen() const { return fd_ >= 0; }

 private:
  // True when the line counted a framing error or overrun since last asked.
  bool LineErrorSinceLastTick();
  // Notes a failed read or write: anything but "try again" means the
  // device is gone.
  void NoteIoError(int error);
  // One non-blocking write: the bytes taken, 0 when there is no room,
  // nothing when the device has failed.
  std::optional<std::size_t> WriteSome(std::string_view bytes);
  // Bytes the driver still holds for the line; 0 where it cannot tell
  // (a pty).
  std::size_t Queued() const;

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
  FrameGate gate_;
};

}  // namespace rotavox
