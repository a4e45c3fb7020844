#include "posix/pty_cbox.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

namespace rotavox::sim {

namespace {

[[noreturn]] void ThrowErrno(const char* what) {
  throw std::system_error(errno, std::generic_category(), what);
}

void SetRaw9600(int fd) {
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) ThrowErrno("tcgetattr");
  cfmakeraw(&tio);
  tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
  tio.c_cflag |= CS8 | CREAD | CLOCAL;
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  if (cfsetispeed(&tio, B9600) != 0 || cfsetospeed(&tio, B9600) != 0) ThrowErrno("cfsetspeed");
  if (tcsetattr(fd, TCSANOW, &tio) != 0) ThrowErrno("tcsetattr");
}

}  // namespace

PtyCBox::PtyCBox(const CBoxOptions& options, std::chrono::milliseconds tick)
    : model_(options), tick_(std::max(tick, std::chrono::milliseconds(1))) {
  try {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0) ThrowErrno("posix_openpt");
    if (fcntl(master_, F_SETFD, FD_CLOEXEC) != 0) ThrowErrno("fcntl");
    if (grantpt(master_) != 0) ThrowErrno("grantpt");
    if (unlockpt(master_) != 0) ThrowErrno("unlockpt");
    char name[128];
    if (ptsname_r(master_, name, sizeof name) != 0) ThrowErrno("ptsname_r");
    slavePath_ = name;

    // Holding the slave open ourselves keeps the master out of the hung-up
    // state (reads failing with EIO) while the controller has it closed.
    slave_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_ < 0) ThrowErrno("open slave");
    SetRaw9600(slave_);
    const int flags = fcntl(master_, F_GETFL);
    if (flags < 0 || fcntl(master_, F_SETFL, flags | O_NONBLOCK) != 0) ThrowErrno("fcntl");

    watch_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch_ < 0) ThrowErrno("inotify_init1");
    if (inotify_add_watch(watch_, name, IN_OPEN | IN_CLOSE) < 0) ThrowErrno("inotify_add_watch");

    int wake[2];
    if (pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) ThrowErrno("pipe2");
    wakeRead_ = wake[0];
    wakeWrite_ = wake[1];

    thread_ = std::thread(&PtyCBox::Run, this);
  } catch (...) {
    CloseAll();
    throw;
  }
}

PtyCBox::~PtyCBox() {
  stop_ = true;
  if (wakeWrite_ >= 0) {
    const char byte = 0;
    (void)!write(wakeWrite_, &byte, 1);
  }
  if (thread_.joinable()) thread_.join();
  CloseAll();
}

void PtyCBox::CloseAll() {
  for (int* fd : {&wakeRead_, &wakeWrite_, &watch_, &slave_, &master_}) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
}

// Because we hold the slave open, the pseudo-terminal outlives every close
// by the controller, and with it two things a real serial port forgets when
// its last user closes it: the exclusive-open flag (TIOCEXCL), which would
// make every reopen fail with EBUSY, and the bytes the box sent while nobody
// listened. Both are cleared here, as the controller opens and closes.
void PtyCBox::WatchOpens() {
  alignas(inotify_event) char buffer[4096];
  for (;;) {
    const ssize_t n = read(watch_, buffer, sizeof buffer);
    if (n <= 0) return;
    for (ssize_t at = 0; at < n;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      if (event->mask & IN_OPEN) tcflush(slave_, TCIFLUSH);
      if (event->mask & IN_CLOSE) ioctl(slave_, TIOCNXCL);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
}

void PtyCBox::Run() {
  using std::chrono::duration_cast;
  using std::chrono::milliseconds;
  using std::chrono::steady_clock;

  auto last = steady_clock::now();
  bool hungUp = false;
  while (!stop_) {
    // While the master is hung up it would report so at once on every poll;
    // leave it out for a tick instead of spinning.
    pollfd fds[] = {{wakeRead_, POLLIN, 0}, {watch_, POLLIN, 0}, {hungUp ? -1 : master_, POLLIN, 0}};
    // Only a turning box has anything to do between the controller's bytes.
    const bool ticking = hungUp || model_.Turning();
    poll(fds, 3, ticking ? static_cast<int>(tick_.count()) : -1);
    if (stop_) break;

    // The time that passed before the controller's bytes came belongs to
    // what the box was doing then: a turn they start begins now, not at
    // the last wake-up.
    const auto now = steady_clock::now();
    const auto elapsed = duration_cast<milliseconds>(now - last);
    last += elapsed;
    std::string out = model_.Advance(elapsed);

    // The controller's bytes first, then its opens: any byte read here was
    // written after the open that came before it, so the flush on that open
    // never throws away an answer to it.
    hungUp = false;
    char buffer[4096];
    for (;;) {
      const ssize_t n = read(master_, buffer, sizeof buffer);
      if (n > 0) {
        model_.Feed(std::string_view(buffer, static_cast<std::size_t>(n)));
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else {
        hungUp = n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
        break;
      }
    }
    WatchOpens();
    out += model_.Advance(milliseconds(0));  // the answers to those bytes
    // Whatever the terminal cannot take now (nobody reading, or nobody
    // there) is lost, as on a serial line.
    for (std::size_t sent = 0; sent < out.size();) {
      const ssize_t n = write(master_, out.data() + sent, out.size() - sent);
      if (n > 0) {
        sent += static_cast<std::size_t>(n);
      } else if (!(n < 0 && errno == EINTR)) {
        break;
      }
    }
  }
}

}  // namespace rotavox::sim
