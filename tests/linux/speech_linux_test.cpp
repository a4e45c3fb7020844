// The Linux voices: the log stand-in, the --voice values, the deadline that
// keeps a stuck engine from freezing the program, the stopping of a speech
// server started for the program, and the beep's fallback.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "speech/linux/linux_beep.h"
#include "speech/linux/linux_voices.h"
#include "speech/linux/spawned_server.h"
#include "speech/linux/worker_voice.h"

extern char** environ;

namespace rotavox::testing {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

milliseconds Since(Clock::time_point start) {
  return std::chrono::duration_cast<milliseconds>(Clock::now() - start);
}

std::string TempPath(const std::string& name) {
  return (std::filesystem::temp_directory_path() /
          ("rotavox_speech_" + std::to_string(::getpid()) + "_" + name))
      .string();
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// Speaks as the core does: "none" when there is no voice.
std::string SpeakOnce(VoiceProvider& provider, std::string_view text) {
  auto voice = provider.CreateVoice();
  if (!voice) return "none";
  const VoiceResult spoke = voice->Speak(text);
  const VoiceResult waited = spoke == VoiceResult::kLost ? spoke : voice->WaitUntilDone();
  if (spoke == VoiceResult::kLost || waited == VoiceResult::kLost) return "lost";
  if (spoke == VoiceResult::kCallFailed || waited == VoiceResult::kCallFailed) return "failed";
  return "done";
}

TEST(LogVoiceTest, WritesEachTextAsOneUtf8Line) {
  const std::string path = TempPath("lines.log");
  std::filesystem::remove(path);
  std::string error;
  auto provider = MakeVoiceProvider("log:" + path, &error);
  ASSERT_TRUE(provider) << error;
  const struct {
    std::string_view text;
    std::string_view line;
  } cases[] = {
      {"On bearing 0 9 0 ", "On bearing 0 9 0 "},
      {"Rotavox Controller   ", "Rotavox Controller   "},
      {"", ""},
      {"\xE9t\xE9", "\xC3\xA9t\xC3\xA9"},             // é
      {"\x80 5", "\xE2\x82\xAC 5"},                   // €
      {"\x85\x99\xFF", "\xE2\x80\xA6\xE2\x84\xA2\xC3\xBF"},  // … ™ ÿ
  };
  std::string expected;
  for (const auto& c : cases) {
    EXPECT_EQ(SpeakOnce(*provider, c.text), "done");
    expected += std::string(c.line) + "\n";
    // Each line is in the file as soon as it has been spoken.
    EXPECT_EQ(ReadAll(path), expected);
  }
  std::filesystem::remove(path);
}

TEST(LogVoiceTest, HoldsEachTextForItsCharacters) {
  const std::string path = TempPath("hold.log");
  LogVoiceProvider provider(path, milliseconds(30));
  const struct {
    std::string_view text;
    milliseconds least, most;
  } cases[] = {
      {"", milliseconds(0), milliseconds(25)},
      {"0 9 0 ", milliseconds(180), milliseconds(400)},
      {"Enter Bearing", milliseconds(390), milliseconds(700)},
  };
  for (const auto& c : cases) {
    const auto start = Clock::now();
    EXPECT_EQ(SpeakOnce(provider, c.text), "done");
    const milliseconds took = Since(start);
    EXPECT_GE(took, c.least) << c.text;
    EXPECT_LE(took, c.most) << c.text;
  }
  std::filesystem::remove(path);
}

TEST(LogVoiceTest, UnwritableFileIsNoVoice) {
  const std::string dir = TempPath("dir");
  std::filesystem::create_directories(dir);
  for (const std::string& path : {dir, dir + "/missing/x.log", std::string("/proc/version")}) {
    LogVoiceProvider provider(path, milliseconds(0));
    EXPECT_EQ(provider.CreateVoice(), nullptr) << path;
  }
  std::filesystem::remove_all(dir);
}

TEST(MakeVoiceProviderTest, ParsesVoiceValues) {
  const struct {
    std::string_view value;
    bool ok;
    std::string_view path;  // for log voices
    long ms;
  } cases[] = {
      {"speechd", true, "", 0},
      {"espeak", true, "", 0},
      {"log:/tmp/said.txt", true, "/tmp/said.txt", 0},
      {"log:/tmp/said.txt:250", true, "/tmp/said.txt", 250},
      {"log:/tmp/said.txt:0", true, "/tmp/said.txt", 0},
      {"log:said:x.txt", true, "said:x.txt", 0},
      {"log:a:b:7", true, "a:b", 7},
      {"log:said", true, "said", 0},
      {"log:", false, "", 0},
      {"log::40", false, "", 0},
      {"log:/tmp/said.txt:", false, "", 0},
      {"log:/tmp/said.txt:99999999999999999999", false, "", 0},
      {"log:/tmp/said.txt:60001", false, "", 0},
      {"festival", false, "", 0},
      {"Speechd", false, "", 0},
      {" speechd", false, "", 0},
      {"log", false, "", 0},
  };
  for (const auto& c : cases) {
    std::string error = "stale";
    auto provider = MakeVoiceProvider(c.value, &error);
    EXPECT_EQ(provider != nullptr, c.ok) << c.value;
    EXPECT_EQ(error.empty(), c.ok) << c.value << ": " << error;
    if (auto* log = dynamic_cast<LogVoiceProvider*>(provider.get())) {
      EXPECT_EQ(log->path(), c.path) << c.value;
      EXPECT_EQ(log->perCharacter(), milliseconds(c.ms)) << c.value;
    } else if (!c.path.empty()) {
      ADD_FAILURE() << c.value << " is not a log voice";
    }
  }
}

// What a fake engine did, shared with the test since the engine lives and
// dies on the worker thread.
struct EngineRecord {
  std::mutex mutex;
  std::condition_variable changed;
  bool released = false;  // lets a stuck Say return
  bool destroyed = false;
  int opens = 0;
  std::vector<std::string> said;
  std::set<std::thread::id> threads;

  void Note() { threads.insert(std::this_thread::get_id()); }
  void Release() {
    std::lock_guard lock(mutex);
    released = true;
    changed.notify_all();
  }
  bool WaitDestroyed() {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(5), [&] { return destroyed; });
  }
};

enum class Behaviour { kSpeaks, kCannotOpen, kLosesVoice, kFailsCall, kStuck, kQueuedBehindOthers };

class FakeEngine : public SpeechEngine {
 public:
  FakeEngine(std::shared_ptr<EngineRecord> record, Behaviour behaviour)
      : record_(std::move(record)), behaviour_(behaviour) {}
  ~FakeEngine() override {
    std::lock_guard lock(record_->mutex);
    record_->Note();
    record_->destroyed = true;
    record_->changed.notify_all();
  }
  bool Open() override {
    std::lock_guard lock(record_->mutex);
    record_->Note();
    ++record_->opens;
    return behaviour_ != Behaviour::kCannotOpen;
  }
  VoiceResult Say(const std::string& utf8, milliseconds limit, DeadlineWorker::Deadline& deadline) override {
    std::unique_lock lock(record_->mutex);
    record_->Note();
    record_->said.push_back(utf8);
    switch (behaviour_) {
      case Behaviour::kLosesVoice: return VoiceResult::kLost;
      case Behaviour::kFailsCall: return VoiceResult::kCallFailed;
      case Behaviour::kStuck: record_->changed.wait(lock, [&] { return record_->released; }); break;
      case Behaviour::kQueuedBehindOthers:
        // Another program talks for three times the text's own limit; the
        // text then begins and is spoken within it.
        deadline.Reset(4 * limit);
        lock.unlock();
        std::this_thread::sleep_for(3 * limit);
        deadline.Reset(limit);
        std::this_thread::sleep_for(limit / 2);
        break;
      default: break;
    }
    return VoiceResult::kDone;
  }

 private:
  std::shared_ptr<EngineRecord> record_;
  Behaviour behaviour_;
};

constexpr VoiceDeadline kShortDeadline{milliseconds(150), milliseconds(20)};

TEST(WorkerVoiceTest, ReportsWhatTheEngineDid) {
  const struct {
    Behaviour behaviour;
    std::string_view result;
  } cases[] = {
      {Behaviour::kSpeaks, "done"},
      {Behaviour::kCannotOpen, "lost"},
      {Behaviour::kLosesVoice, "lost"},
      {Behaviour::kFailsCall, "failed"},
      {Behaviour::kStuck, "lost"},
      {Behaviour::kQueuedBehindOthers, "done"},
  };
  for (const auto& c : cases) {
    auto record = std::make_shared<EngineRecord>();
    {
      WorkerVoiceProvider provider(std::make_unique<FakeEngine>(record, c.behaviour), kShortDeadline);
      const auto start = Clock::now();
      EXPECT_EQ(SpeakOnce(provider, "\xE9\x80 "), c.result);
      const milliseconds limit = kShortDeadline.For("   ");
      EXPECT_LT(Since(start), (c.behaviour == Behaviour::kQueuedBehindOthers ? 4 * limit : limit) +
                                  kCallerMargin + milliseconds(200));
      // The engine gets UTF-8, on a thread of its own.
      std::lock_guard lock(record->mutex);
      if (c.behaviour != Behaviour::kCannotOpen) {
        EXPECT_EQ(record->said, std::vector<std::string>{"\xC3\xA9\xE2\x82\xAC "});
      }
      EXPECT_EQ(record->threads.count(std::this_thread::get_id()), 0u);
    }
    record->Release();
    EXPECT_TRUE(record->WaitDestroyed());
    EXPECT_EQ(record->threads.size(), 1u);  // open, say and destruction on one thread
  }
}

TEST(WorkerVoiceTest, StuckEngineCostsOneDeadlineOnly) {
  auto record = std::make_shared<EngineRecord>();
  auto provider = std::make_unique<WorkerVoiceProvider>(std::make_unique<FakeEngine>(record, Behaviour::kStuck),
                                                        kShortDeadline);
  auto start = Clock::now();
  EXPECT_EQ(SpeakOnce(*provider, "Goodbye"), "lost");
  EXPECT_GE(Since(start), milliseconds(150 + 7 * 20 - 5) + kCallerMargin);
  EXPECT_LT(Since(start), milliseconds(150 + 7 * 20 + 200) + kCallerMargin);

  // While the worker is stuck: no voice, at once, and destruction does not wait.
  start = Clock::now();
  EXPECT_EQ(provider->CreateVoice(), nullptr);
  EXPECT_FALSE(provider->Check(milliseconds(100)));
  EXPECT_LT(Since(start), milliseconds(50));
  start = Clock::now();
  provider.reset();
  EXPECT_LT(Since(start), milliseconds(50));
  record->Release();
  EXPECT_TRUE(record->WaitDestroyed());
}

TEST(WorkerVoiceTest, WorkerIsUsableAgainOnceTheStuckTextEnds) {
  auto record = std::make_shared<EngineRecord>();
  WorkerVoiceProvider provider(std::make_unique<FakeEngine>(record, Behaviour::kStuck), kShortDeadline);
  EXPECT_EQ(SpeakOnce(provider, "1 8 0 "), "lost");
  EXPECT_EQ(provider.CreateVoice(), nullptr);
  record->Release();
  std::unique_ptr<Voice> voice;
  for (int i = 0; i < 100 && !voice; ++i) {
    voice = provider.CreateVoice();
    if (!voice) std::this_thread::sleep_for(milliseconds(5));
  }
  ASSERT_TRUE(voice);
  EXPECT_EQ(voice->Speak("Started"), VoiceResult::kDone);
  EXPECT_EQ(record->opens, 2);
}

TEST(WorkerVoiceTest, EmptyTextNeedsNoEngine) {
  for (Behaviour behaviour : {Behaviour::kStuck, Behaviour::kCannotOpen}) {
    auto record = std::make_shared<EngineRecord>();
    {
      WorkerVoiceProvider provider(std::make_unique<FakeEngine>(record, behaviour), kShortDeadline);
      const auto start = Clock::now();
      for (int i = 0; i < 3; ++i) EXPECT_EQ(SpeakOnce(provider, ""), "done");
      EXPECT_LT(Since(start), milliseconds(20));
      // A real text after them still gets its chance.
      EXPECT_EQ(SpeakOnce(provider, "x"), "lost");
    }
    record->Release();
    EXPECT_TRUE(record->WaitDestroyed());
    EXPECT_EQ(record->opens, 1);
  }
}

TEST(WorkerVoiceTest, EachTextTriesToOpenAfresh) {
  auto record = std::make_shared<EngineRecord>();
  WorkerVoiceProvider provider(std::make_unique<FakeEngine>(record, Behaviour::kCannotOpen), kShortDeadline);
  EXPECT_EQ(SpeakOnce(provider, "Voice On."), "lost");
  EXPECT_EQ(SpeakOnce(provider, "Voice On."), "lost");
  EXPECT_EQ(record->opens, 2);
  EXPECT_FALSE(provider.Check(milliseconds(100)));
}

// A child process running `program` with `args`; reaped by the caller.
pid_t Spawn(const std::string& program, std::vector<std::string> args) {
  args.insert(args.begin(), program);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  EXPECT_EQ(posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ), 0) << program;
  return pid;
}

ProcessId Started(pid_t pid) {
  const auto found = FindProcess(pid);
  EXPECT_TRUE(found) << pid;
  return found ? found->id : ProcessId{pid, 0};
}

TEST(SpawnedServerTest, EndsAProcessThatIgnoresSigtermToo) {
  const struct {
    bool ignoresTerm;
    milliseconds grace, least, most;
  } cases[] = {
      {false, milliseconds(300), milliseconds(0), milliseconds(250)},
      {true, milliseconds(300), milliseconds(300), milliseconds(800)},
      {true, milliseconds(0), milliseconds(0), milliseconds(250)},
  };
  for (const auto& c : cases) {
    const pid_t pid = c.ignoresTerm ? Spawn("/bin/sh", {"-c", "trap '' TERM; exec sleep 30"})
                                    : Spawn("/bin/sleep", {"30"});
    std::this_thread::sleep_for(milliseconds(100));  // the trap is set
    const ProcessId process = Started(pid);
    const auto start = Clock::now();
    EXPECT_TRUE(EndProcess(process, c.grace)) << c.ignoresTerm;
    EXPECT_GE(Since(start), c.least - milliseconds(5));
    EXPECT_LE(Since(start), c.most);
    EXPECT_FALSE(FindProcess(pid));  // a zombie has ended
    ::waitpid(pid, nullptr, 0);
  }
  // A pid now held by another process is left alone.
  const pid_t pid = Spawn("/bin/sleep", {"30"});
  const ProcessId earlier{pid, Started(pid).start - 1};
  EXPECT_TRUE(EndProcess(earlier, milliseconds(300)));
  EXPECT_TRUE(FindProcess(pid));
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
}

TEST(SpawnedServerTest, OnlyAServerStartedForUsIsStopped) {
  // Stand-ins: sleep under the server's name (its command name is cut to
  // "speech-dispatch", as the server's is) and under a name of its own.
  namespace fs = std::filesystem;
  const fs::path dir = TempPath("server");
  fs::create_directories(dir / "pid");
  fs::create_symlink("/bin/sleep", dir / "speech-dispatcher");
  fs::create_symlink("/bin/sleep", dir / "sleepy (1) x");
  const std::string socket = (dir / "speechd.sock").string();
  const struct {
    std::string program;
    long ticksAfterStart;  // when our connection attempt began
    bool pidFile, ours;
  } cases[] = {
      {"speech-dispatcher", -100, true, true},
      {"speech-dispatcher", 100, true, false},  // it was running before
      {"sleepy (1) x", -100, true, false},      // not a server
      {"speech-dispatcher", -100, false, false},
  };
  for (const auto& c : cases) {
    const pid_t pid = Spawn((dir / c.program).string(), {"30"});
    std::this_thread::sleep_for(milliseconds(50));
    const ProcessId process = Started(pid);
    EXPECT_EQ(FindProcess(pid)->name, c.program.substr(0, 15));
    fs::remove(dir / "pid/speech-dispatcher.pid");
    if (c.pidFile) std::ofstream(dir / "pid/speech-dispatcher.pid") << pid << "\n";
    EXPECT_EQ(NoteSpawnedSpeechServer(socket, process.start + c.ticksAfterStart), c.ours) << c.program;
    StopSpawnedSpeechServers();
    EXPECT_EQ(!FindProcess(pid), c.ours) << c.program << " " << c.ticksAfterStart;
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
  }
  fs::remove_all(dir);
}

TEST(LinuxBeepTest, FallsBackQuicklyWhenNoSoundCanPlay) {
  // No such libcanberra driver: the event sound cannot play.
  ::setenv("CANBERRA_DRIVER", "rotavox-none", 1);
  int fallbacks = 0;
  {
    LinuxBeep beep([&] { ++fallbacks; });
    for (int i = 0; i < 3; ++i) {
      const auto start = Clock::now();
      beep.Beep();
      EXPECT_LT(Since(start), LinuxBeep::kStartLimit + milliseconds(50));
    }
  }
  ::unsetenv("CANBERRA_DRIVER");
  EXPECT_EQ(fallbacks, 3);
}

}  // namespace
}  // namespace rotavox::testing
