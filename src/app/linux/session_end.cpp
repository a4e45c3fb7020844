// SaveSettingsWhenTheSessionEnds (see session_end.h).
//
// The signal handler only writes the signal's number into a pipe (a
// self-pipe: nothing else is safe inside a handler); a QSocketNotifier on
// the pipe's far end runs the save on the user-interface thread, where the
// program's state lives, and then lets the signal take its course.
#include "app/linux/session_end.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>

#include "app/program.h"
#include "speech/linux/spawned_server.h"

namespace rotavox {
namespace {

constexpr int kSignals[] = {SIGTERM, SIGHUP, SIGINT};
// How long the thread has to reach its event loop before the signal is
// left to end the process unsaved.
constexpr unsigned kGraceSeconds = 3;

int signalPipe[2] = {-1, -1};
volatile sig_atomic_t caught = 0;
// A record is being saved (on whichever thread): lock-free, so the handler
// may read it.
std::atomic<bool> saving{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void Restore(int signo) {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(signo, &action, nullptr);
}

extern "C" void OnSignal(int signo) {
  if (caught != 0) {
    // A save under way ends in moments; SIGALRM ends one that is stuck.
    if (saving.load()) return;
    // The operator insists, or the thread is stuck elsewhere.
    Restore(signo);
    raise(signo);
    return;
  }
  caught = signo;
  const int saved = errno;
  const unsigned char byte = static_cast<unsigned char>(signo);
  if (write(signalPipe[1], &byte, 1) != 1) {
    Restore(signo);
    raise(signo);
  }
  // SIGALRM's own action ends the process should the thread be stuck.
  alarm(kGraceSeconds);
  errno = saved;
}

void EndBySignal(int signo) {
  SaveSettingsNow();
  // The signal ends the process without its exit handlers: a speech
  // server this program started goes now, not left behind.
  StopSpawnedSpeechServers();
  Restore(signo);
  raise(signo);
  _exit(128 + signo);  // only if the signal was blocked in this thread
}

}  // namespace

bool SignalSafeSettings::Replace(std::string_view bytes) {
  saving.store(true);
  const bool replaced = store_.Replace(bytes);
  saving.store(false);
  return replaced;
}

bool SignalSafeSettings::Change(const std::function<std::string(std::string_view)>& change) {
  saving.store(true);
  const bool changed = store_.Change(change);
  saving.store(false);
  return changed;
}

void SaveSettingsWhenTheSessionEnds() {
  // Qt's exit(1) on a lost display runs the exit handlers, with the
  // program's state still in place beneath it.
  std::atexit([] { SaveSettingsNow(); });

  if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, QCoreApplication::instance());
  QObject::connect(notifier, &QSocketNotifier::activated, notifier, [] {
    unsigned char byte = 0;
    if (read(signalPipe[0], &byte, 1) == 1) EndBySignal(byte);
  });
  for (const int signo : kSignals) {
    // A signal ignored from the start (SIGHUP under nohup, SIGINT in a
    // background job) stays ignored.
    struct sigaction before {};
    if (sigaction(signo, nullptr, &before) != 0 || before.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    for (const int other : kSignals) sigaddset(&action.sa_mask, other);
    action.sa_flags = SA_RESTART;
    sigaction(signo, &action, nullptr);
  }
}

}  // namespace rotavox
