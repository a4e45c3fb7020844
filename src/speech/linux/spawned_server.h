// The speech-dispatcher servers that this process has started.
//
// When a connection finds no server, libspeechd starts one itself
// ("speech-dispatcher --spawn"), which then lives on in the background. A
// server started that way belongs to this program and is stopped when the
// program no longer needs it (when the engine that started it goes, and at
// the latest at exit), so that nothing the program started outlives it.
// A server that was already running (the desktop's, the screen reader's) is
// never noted here and never touched.
//
// A server whose output module cannot reach a sound device deadlocks on the
// way out and ignores SIGTERM: stopping ends with SIGKILL when SIGTERM has
// not been enough within its grace.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>

namespace rotavox {

// One process, told apart from a later one that got the same pid by its
// start time.
struct ProcessId {
  pid_t pid = 0;
  unsigned long long start = 0;  // clock ticks after boot, as /proc reports it
};

// The process with `pid` as /proc shows it now, with its command name;
// nothing when there is none or it has ended (a zombie has ended).
struct ProcessInfo {
  ProcessId id;
  std::string name;
};
std::optional<ProcessInfo> FindProcess(pid_t pid);

// Now, in the clock ticks of ProcessId::start.
unsigned long long TicksSinceBoot();

// Ends `process` unless it has gone already or its pid now belongs to
// another one: SIGTERM, up to `grace` for it to end, then SIGKILL (at once
// when `grace` is zero). True when it has ended.
bool EndProcess(const ProcessId& process, std::chrono::milliseconds grace);

// Notes the server that libspeechd has just started for a connection to the
// socket `socket_path`, found by its pid file; `before` is TicksSinceBoot()
// taken before the connection attempt, so that a server that was running
// earlier is never taken for one of ours. Returns whether a server was
// noted.
bool NoteSpawnedSpeechServer(const std::string& socket_path, unsigned long long before);

// Stops every server noted above. `stuck`: a text of ours never ended on it,
// so it will not heed SIGTERM and is killed at once.
void StopSpawnedSpeechServers(bool stuck = false);

}  // namespace rotavox
