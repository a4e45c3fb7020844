// The serial link on Windows: a COM device opened with CreateFileA.
//
// Unlike the Linux edition, no name mapping is needed: "COM" followed by
// digits is a device name here. It is opened through the \\.\ device
// namespace, without which COM10 and above are taken for files. Any other
// name is handed to CreateFileA as it is; whatever opens as a disk file is
// refused. Exclusivity is the system's own (share mode 0), so there is no
// lock of our own.
//
// Every call returns at once: reads ask only for what the driver already
// holds, and a frame goes on the line whole or is dropped whole
// (link/frame_gate.h), a write waiting about the frame's own time on the
// wire. A device that has gone away (USB adapter pulled) makes
// ClearCommError fail, and a line that has taken no frame for a second is
// taken for gone; BytesWaiting reports both as failed. No call shows a
// system error box.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "link/frame_gate.h"
#include "link/serial_port.h"

namespace rotavox {

class Win32SerialPort final : public SerialPort {
 public:
  Win32SerialPort() = default;
  ~Win32SerialPort() override;
  Win32SerialPort(const Win32SerialPort&) = delete;
  Win32SerialPort& operator=(const Win32SerialPort&) = delete;

  // Opens `name` exclusively; an open port is closed first. Also sets the
  // time-outs that keep reads and writes from waiting on the line.
  void Open(std::string_view name) override;
  // 9600 baud, 8 data bits, no parity, one stop bit, 1024-byte driver
  // queues, each a separate read-modify-write of the port state; a rejected
  // step leaves the port as that step found it and the next step still runs.
  // No flow control of either kind (CTS, DSR, XON/XOFF); DTR and RTS on.
  void SetLine() override;
  // One WriteFile of all of `bytes` when the driver's output queue
  // (ClearCommError's cbOutQue) has room for them and nothing is left of an
  // earlier frame; otherwise they are dropped whole.
  void Send(std::string_view bytes) override;
  // ClearCommError's received count, 0 on a tick with a line error
  // (overrun, framing, queue overflow, I/O error); failed when the call
  // itself fails.
  WaitingBytes BytesWaiting() override;
  // One ReadFile of at most `count` bytes, shortened to what arrived.
  std::string Receive(std::size_t count) override;
  void Close() override;

  bool IsOpen() const { return handle_ != nullptr; }

  // The path CreateFileA is given for a port name: \\.\COMn for "COM" and
  // digits, the name itself otherwise.
  static std::string DevicePath(std::string_view name);

 private:
  // The HANDLE, kept as void* so that this header needs no <windows.h>;
  // nullptr when closed.
  void* handle_ = nullptr;
  FrameGate gate_;

  // One WriteFile: the bytes that left, nothing when the write failed.
  std::optional<std::size_t> WriteSome(std::string_view bytes);
};

}  // namespace rotavox
