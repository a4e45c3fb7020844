// The serial link on Linux (see posix_serial_port.h).
#include "link/posix/posix_serial_port.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>
#include <utility>

namespace rotavox {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How long Close lets queued output leave before discarding it: as long
// as the most the frame gate lets the driver hold takes on the wire, so
// that a line that flows never loses the end of a frame.
constexpr auto kDrainPatience = std::chrono::ceil<milliseconds>(WireTime(kMaxQueuedBytes + 16));
// Upper bound of one read, whatever count is asked for.
constexpr std::size_t kMaxRead = 64 * 1024;

int MillisecondsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

PosixSerialPort::PosixSerialPort(PortMap overrides) : overrides_(std::move(overrides)) {}

PosixSerialPort::~PosixSerialPort() { Close(); }

void PosixSerialPort::Open(std::string_view name) {
  Close();
  const std::string path = ComDevicePath(name, overrides_);
  if (path.empty()) return;
  int fd = -1;
  do {
    fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return;

  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISCHR(info.st_mode)) {
    ::close(fd);
    return;
  }
  // The advisory lock first: when another holder has the port, its
  // TIOCEXCL must not be touched by this failed open.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return;
  }
  // A terminal already marked exclusive is held by a program that takes no
  // lock; the kernel lets only root through, and root is turned away here
  // too. TIOCEXCL then also refuses character devices that are no
  // terminals.
  int heldElsewhere = 0;
  if (::ioctl(fd, TIOCGEXCL, &heldElsewhere) != 0) heldElsewhere = 0;
  if (heldElsewhere != 0 || ::ioctl(fd, TIOCEXCL) != 0) {
    ::flock(fd, LOCK_UN);
    ::close(fd);
    return;
  }
  fd_ = fd;
  failed_ = false;
  lastCounts_.reset();
  LineErrorSinceLastTick();  // line errors from before the open do not count
}

void PosixSerialPort::SetLine() {
  if (fd_ < 0) return;
  termios line{};
  if (::tcgetattr(fd_, &line) != 0) return;
  // Raw: no echo, no line editing, no signals, no CR or NL rewriting, no
  // output processing; reads give bytes as they come.
  ::cfmakeraw(&line);
  // No flow control of either kind, whatever the port was left with: on a
  // three-wire cable a port waiting for CTS would send nothing.
  line.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK);
  line.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
  line.c_cflag |= CS8 | CREAD | CLOCAL;
  ::cfsetispeed(&line, B9600);
  ::cfsetospeed(&line, B9600);
  ::tcsetattr(fd_, TCSANOW, &line);
}

void PosixSerialPort::Send(std::string_view bytes) {
  if (fd_ < 0 || failed_ || bytes.empty()) return;
  const FrameGate::Write write = [this](std::string_view b) { return WriteSome(b); };
  const FrameGate::Outcome outcome = gate_.Send(bytes, Queued(), Clock::now(), write);
  if (outcome != FrameGate::Outcome::kPartly) return;
  // The driver took the frame's start: give the rest the frame's own time
  // on the wire to follow, so the next frame rarely has to be dropped. A
  // tail still left goes out first next time.
  const Clock::time_point deadline =
      Clock::now() + std::chrono::ceil<milliseconds>(WireTime(bytes.size()));
  while (gate_.HasTail() && !failed_) {
    const int left = MillisecondsLeft(deadline);
    if (left == 0) break;
    pollfd room{fd_, POLLOUT, 0};
    const int ready = ::poll(&room, 1, left);
    if (ready > 0 && (room.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
      failed_ = true;
      break;
    }
    if (ready > 0 && !gate_.Flush(write)) break;
  }
}

std::optional<std::size_t> PosixSerialPort::WriteSome(std::string_view bytes) {
  for (;;) {
    const ssize_t written = ::write(fd_, bytes.data(), bytes.size());
    if (written >= 0) return static_cast<std::size_t>(written);
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    NoteIoError(errno);
    return std::nullopt;
  }
}

std::size_t PosixSerialPort::Queued() const {
  int queued = 0;
  if (::ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued < 0) return 0;
  return static_cast<std::size_t>(queued);
}

WaitingBytes PosixSerialPort::BytesWaiting() {
  if (fd_ < 0) return {};
  if (failed_) return {0, true};
  // A hung-up terminal (adapter pulled, far end of a pty closed) reports
  // POLLHUP or POLLERR at once, without waiting.
  pollfd state{fd_, POLLIN, 0};
  if (::poll(&state, 1, 0) > 0 && (state.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
    failed_ = true;
    return {0, true};
  }
  int count = 0;
  if (::ioctl(fd_, FIONREAD, &count) != 0 || count < 0) {
    failed_ = true;
    return {0, true};
  }
  // A line that has taken none of our frames for a long while is as good
  // as gone: the operator hears of it rather than frames vanishing.
  if (!gate_.Service([this](std::string_view b) { return WriteSome(b); }, [this] { return Queued(); },
                     Clock::now()) ||
      failed_) {
    failed_ = true;
    return {0, true};
  }
  // The bytes stay queued and are counted on the next tick.
  if (LineErrorSinceLastTick()) return {0, false};
  return {static_cast<std::size_t>(count), false};
}

std::string PosixSerialPort::Receive(std::size_t count) {
  if (fd_ < 0 || failed_ || count == 0) return {};
  std::string bytes(std::min(count, kMaxRead), '\0');
  ssize_t got = -1;
  do {
    got = ::read(fd_, bytes.data(), bytes.size());
  } while (got < 0 && errno == EINTR);
  if (got < 0) {
    NoteIoError(errno);
    return {};
  }
  // 0 bytes is nothing to read; a hang-up behind it shows on the next
  // BytesWaiting.
  bytes.resize(static_cast<std::size_t>(got));
  return bytes;
}

void PosixSerialPort::Close() {
  if (fd_ < 0) return;
  if (!failed_) {
    // The kernel's close waits up to 30 s for queued output on a line held
    // up by flow control; give it a moment to leave, then discard the rest.
    const Clock::time_point deadline = Clock::now() + kDrainPatience;
    int queued = 0;
    while (::ioctl(fd_, TIOCOUTQ, &queued) == 0 && queued > 0 && MillisecondsLeft(deadline) > 0) {
      std::this_thread::sleep_for(milliseconds{2});
    }
  }
  // Also after a stall: what the line never took goes, with the start of
  // a frame that could not finish.
  ::tcflush(fd_, TCOFLUSH);
  // The mark stays on the terminal after close while its driver keeps it
  // (a pty slave does as long as the master is open): clear it, or the
  // next open would be refused.
  ::ioctl(fd_, TIOCNXCL);
  ::flock(fd_, LOCK_UN);
  ::close(fd_);  // not retried on EINTR: on Linux the descriptor is gone
  fd_ = -1;
  failed_ = false;
  lastCounts_.reset();
  gate_.Reset();
}

bool PosixSerialPort::LineErrorSinceLastTick() {
  serial_icounter_struct counters{};
  if (::ioctl(fd_, TIOCGICOUNT, &counters) != 0) {
    lastCounts_.reset();
    return false;
  }
  // Framing errors and overruns (in the UART or the driver's buffer) lose
  // or garble bytes; parity errors and breaks do not count.
  const LineErrorCounts now{counters.frame, counters.overrun, counters.buf_overrun};
  const bool changed = lastCounts_.has_value() && *lastCounts_ != now;
  lastCounts_ = now;
  return changed;
}

void PosixSerialPort::NoteIoError(int error) {
  if (error != EAGAIN && error != EWOULDBLOCK && error != EINTR) failed_ = true;
}

}  // namespace rotavox
