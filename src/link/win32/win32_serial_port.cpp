// The serial link on Windows (see win32_serial_port.h).
#include "link/win32/win32_serial_port.h"
#include "common/win32/quiet_errors.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <utility>

namespace rotavox {
namespace {

// Line errors that void a tick's count: receive queue overflow, overrun,
// framing error, transmit queue full, I/O error. Parity errors and breaks
// do not.
constexpr DWORD kLineErrors = CE_RXOVER | CE_OVERRUN | CE_FRAME | CE_TXFULL | CE_IOE;
static_assert(kLineErrors == 0x050B);

constexpr DWORD kBaudRate = 9600;
constexpr DWORD kQueueSize = 1024;
// A write waits at most about the frame's own time on the wire (1.04 ms a
// byte at 9600 baud), plus a little; what has not left by then waits in the
// frame gate.
constexpr DWORD kWriteMsPerByte = 1;
constexpr DWORD kWriteSlackMs = 2;

HANDLE AsHandle(void* handle) { return static_cast<HANDLE>(handle); }

bool IsComName(std::string_view name) {
  constexpr std::string_view kCom = "COM";
  if (name.size() <= kCom.size() || name.substr(0, kCom.size()) != kCom) return false;
  return std::all_of(name.begin() + kCom.size(), name.end(),
                     [](char c) { return c >= '0' && c <= '9'; });
}

// One read-modify-write of the port state.
template <typename Change>
void ChangeCommState(HANDLE handle, Change change) {
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  bool got;
  {
    QuietErrors quiet;
    got = GetCommState(handle, &dcb) != 0;
  }
  if (!got) return;
  change(dcb);
  QuietErrors quiet;
  SetCommState(handle, &dcb);
}

// One read-modify-write of the driver queue sizes.
template <typename Sizes>
void ChangeQueues(HANDLE handle, Sizes sizes) {
  COMMPROP properties{};
  bool got;
  {
    QuietErrors quiet;
    got = GetCommProperties(handle, &properties) != 0;
  }
  if (!got) return;
  const auto [rx, tx] = sizes(properties);
  QuietErrors quiet;
  SetupComm(handle, rx, tx);
}

}  // namespace

Win32SerialPort::~Win32SerialPort() { Close(); }

std::string Win32SerialPort::DevicePath(std::string_view name) {
  std::string path;
  if (IsComName(name)) path = "\\\\.\\";
  path.append(name);
  return path;
}

void Win32SerialPort::Open(std::string_view name) {
  Close();
  // A name with a NUL in it would be cut short by CreateFileA: it names no
  // port.
  if (name.find('\0') != std::string_view::npos) return;
  const std::string path = DevicePath(name);
  HANDLE handle;
  {
    QuietErrors quiet;
    handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  if (handle == INVALID_HANDLE_VALUE) return;
  DWORD type;
  {
    QuietErrors quiet;
    type = GetFileType(handle);
  }
  if (type == FILE_TYPE_DISK) {
    QuietErrors quiet;
    CloseHandle(handle);
    return;
  }
  handle_ = handle;

  // Reads return at once with what is queued; a write waits about its own
  // time on the wire. The driver's own settings may block for good.
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.ReadTotalTimeoutMultiplier = 0;
  timeouts.ReadTotalTimeoutConstant = 0;
  timeouts.WriteTotalTimeoutMultiplier = kWriteMsPerByte;
  timeouts.WriteTotalTimeoutConstant = kWriteSlackMs;
  QuietErrors quiet;
  SetCommTimeouts(handle, &timeouts);
}

void Win32SerialPort::SetLine() {
  if (!IsOpen()) return;
  const HANDLE handle = AsHandle(handle_);
  ChangeCommState(handle, [](DCB& dcb) { dcb.BaudRate = kBaudRate; });
  ChangeCommState(handle, [](DCB& dcb) {
    dcb.ByteSize = 8;
    dcb.StopBits = ONESTOPBIT;
    dcb.fParity = 0;
    dcb.Parity = NOPARITY;
  });
  ChangeCommState(handle, [](DCB& dcb) { dcb.fParity = 0; });
  // No flow control of either kind, whatever the port was left with: on a
  // three-wire cable a port waiting for CTS or DSR would send nothing. DTR
  // and RTS are then simply held on, a step of their own, since a driver
  // without those lines may refuse it.
  ChangeCommState(handle, [](DCB& dcb) {
    dcb.fOutxCtsFlow = 0;
    dcb.fOutxDsrFlow = 0;
    dcb.fOutX = 0;
    dcb.fInX = 0;
  });
  ChangeCommState(handle, [](DCB& dcb) {
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
  });
  ChangeQueues(handle, [](const COMMPROP& p) {
    return std::pair<DWORD, DWORD>{p.dwCurrentRxQueue, kQueueSize};
  });
  ChangeQueues(handle, [](const COMMPROP& p) {
    return std::pair<DWORD, DWORD>{kQueueSize, p.dwCurrentTxQueue};
  });
}

void Win32SerialPort::Send(std::string_view bytes) {
  if (!IsOpen() || bytes.empty() || bytes.size() > MAXDWORD) return;
  DWORD errors = 0;
  COMSTAT status{};
  {
    QuietErrors quiet;
    if (!ClearCommError(AsHandle(handle_), &errors, &status)) return;
  }
  gate_.Send(bytes, status.cbOutQue, std::chrono::steady_clock::now(),
             [this](std::string_view b) { return WriteSome(b); });
}

std::optional<std::size_t> Win32SerialPort::WriteSome(std::string_view bytes) {
  DWORD written = 0;
  QuietErrors quiet;
  // A write that times out succeeds with what did leave.
  if (!WriteFile(AsHandle(handle_), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                 nullptr)) {
    return std::nullopt;
  }
  return written;
}

WaitingBytes Win32SerialPort::BytesWaiting() {
  if (!IsOpen()) return {};
  DWORD errors = 0;
  COMSTAT status{};
  BOOL ok;
  {
    QuietErrors quiet;
    ok = ClearCommError(AsHandle(handle_), &errors, &status);
  }
  if (!ok) return {0, true};
  // A line that has taken none of our frames for a long while is as good
  // as gone: the operator hears of it rather than frames vanishing.
  if (!gate_.Service([this](std::string_view b) { return WriteSome(b); },
                     [&status] { return static_cast<std::size_t>(status.cbOutQue); },
                     std::chrono::steady_clock::now())) {
    return {0, true};
  }
  if ((errors & kLineErrors) != 0) return {0, false};
  return {status.cbInQue, false};
}

std::string Win32SerialPort::Receive(std::size_t count) {
  if (!IsOpen() || count == 0) return {};
  std::string bytes(std::min<std::size_t>(count, MAXDWORD), '\0');
  DWORD read = 0;
  {
    QuietErrors quiet;
    ReadFile(AsHandle(handle_), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
  }
  // Whatever did arrive is kept, even from a read that then failed.
  bytes.resize(std::min<std::size_t>(read, bytes.size()));
  return bytes;
}

void Win32SerialPort::Close() {
  if (!IsOpen()) return;
  const HANDLE handle = AsHandle(handle_);
  handle_ = nullptr;
  gate_.Reset();
  QuietErrors quiet;
  CloseHandle(handle);
}

}  // namespace rotavox
