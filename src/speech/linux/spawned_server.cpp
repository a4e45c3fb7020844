// The speech-dispatcher servers this process started (see spawned_server.h).
#include "speech/linux/spawned_server.h"

#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

namespace rotavox {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How long a server that heeds SIGTERM takes to end (measured: about 15 ms).
constexpr milliseconds kTermGrace{300};
// How long the kernel may take to end a process after SIGKILL.
constexpr milliseconds kKillWait{500};
// How long the pid file may take to name the server that goes on running.
constexpr milliseconds kPidFileWait{300};
// The name the server runs under (its command name, cut to 15 characters).
constexpr char kServerName[] = "speech-dispatch";

struct Registry {
  std::mutex mutex;
  std::vector<ProcessId> servers;
  bool exitHandler = false;
};

Registry& TheRegistry() {
  // Never destroyed: the exit handler uses it after static destruction
  // may have begun.
  static Registry* const registry = new Registry;
  return *registry;
}

bool Gone(const ProcessId& process) {
  const std::optional<ProcessInfo> now = FindProcess(process.pid);
  return !now || now->id.start != process.start;
}

bool WaitGone(const ProcessId& process, milliseconds limit) {
  const Clock::time_point end = Clock::now() + limit;
  for (;;) {
    if (Gone(process)) return true;
    if (Clock::now() >= end) return false;
    std::this_thread::sleep_for(milliseconds(5));
  }
}

}  // namespace

std::optional<ProcessInfo> FindProcess(pid_t pid) {
  if (pid <= 0) return std::nullopt;
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  const std::string stat{std::istreambuf_iterator<char>(in), {}};
  // "pid (name) state ppid ...": the name may hold blanks and parentheses.
  const size_t open = stat.find('(');
  const size_t close = stat.rfind(')');
  if (open == std::string::npos || close == std::string::npos || close < open) return std::nullopt;
  std::istringstream fields(stat.substr(close + 1));
  std::string state;
  fields >> state;
  // The start time is the 22nd field, the 20th after the name.
  std::string skipped;
  for (int i = 0; i < 18 && fields; ++i) fields >> skipped;
  unsigned long long start = 0;
  if (!(fields >> start) || state.empty() || state == "Z" || state == "X") return std::nullopt;
  return ProcessInfo{{pid, start}, stat.substr(open + 1, close - open - 1)};
}

unsigned long long TicksSinceBoot() {
  timespec now{};
  clock_gettime(CLOCK_BOOTTIME, &now);
  const unsigned long long ticks = static_cast<unsigned long long>(sysconf(_SC_CLK_TCK));
  return static_cast<unsigned long long>(now.tv_sec) * ticks +
         static_cast<unsigned long long>(now.tv_nsec) * ticks / 1000000000ULL;
}

bool EndProcess(const ProcessId& process, milliseconds grace) {
  if (Gone(process)) return true;
  if (grace > milliseconds(0)) {
    kill(process.pid, SIGTERM);
    if (WaitGone(process, grace)) return true;
  }
  // A stopped process ends by SIGKILL as well.
  if (!Gone(process)) kill(process.pid, SIGKILL);
  return WaitGone(process, kKillWait);
}

bool NoteSpawnedSpeechServer(const std::string& socket_path, unsigned long long before) {
  // The server writes its pid next to its socket: DIR/speechd.sock and
  // DIR/pid/speech-dispatcher.pid.
  const size_t slash = socket_path.rfind('/');
  if (slash == std::string::npos) return false;
  const std::string pid_file = socket_path.substr(0, slash) + "/pid/speech-dispatcher.pid";
  // The server listens before it forks into the background, and the file
  // names the process that has just ended until the one that goes on
  // replaces it.
  std::optional<ProcessInfo> server;
  const Clock::time_point end = Clock::now() + kPidFileWait;
  for (;;) {
    std::ifstream in(pid_file);
    long pid = 0;
    if (in >> pid && pid > 0) server = FindProcess(static_cast<pid_t>(pid));
    if ((server && server->name == kServerName) || Clock::now() >= end) break;
    std::this_thread::sleep_for(milliseconds(5));
  }
  // Start times count in whole ticks: one tick of rounding either way.
  if (!server || server->name != kServerName || server->id.start + 1 < before) return false;

  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  for (const ProcessId& known : registry.servers) {
    if (known.pid == server->id.pid && known.start == server->id.start) return true;
  }
  registry.servers.push_back(server->id);
  if (!registry.exitHandler) {
    registry.exitHandler = true;
    // The engine that started it may never end (a worker stuck in the
    // library when the program exits).
    std::atexit([] { StopSpawnedSpeechServers(); });
  }
  return true;
}

void StopSpawnedSpeechServers(bool stuck) {
  Registry& registry = TheRegistry();
  std::vector<ProcessId> servers;
  {
    std::lock_guard lock(registry.mutex);
    servers.swap(registry.servers);
  }
  for (const ProcessId& server : servers) EndProcess(server, stuck ? milliseconds(0) : kTermGrace);
}

}  // namespace rotavox
