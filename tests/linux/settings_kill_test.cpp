// STAT.DAT and PRESETS.TXT as the Linux edition keeps them, between
// processes: a child replaces a large record and is killed at a random
// moment, again and again, and after each kill the file holds one of the
// two complete records, never a part; two processes store a preset each
// at the same moment, and both are kept. And what the store opens and
// makes: never a FIFO or a device, never through a link.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "app/linux/linux_settings_store.h"
#include "common/presets.h"

namespace rotavox {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string FileBytes(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// 1 MiB, so that writing it takes long enough to be interrupted.
std::string Record(char fill) { return "\"" + std::string(1 << 20, fill) + "\",1\r\n"; }

// Each test in a fresh working directory of its own.
class InTempDirectory : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("rotavox-store-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
    old_ = fs::current_path();
    fs::current_path(dir_);
  }
  void TearDown() override {
    fs::current_path(old_);
    fs::remove_all(dir_);
  }
  fs::path dir_, old_;
};

// A child replacing `record`, from its fork to its end.
pid_t ReplaceInChild(const std::string& name, const std::string& record) {
  const pid_t child = ::fork();
  if (child == 0) {
    LinuxSettingsStore own(name);
    ::_exit(own.Replace(record) ? 0 : 1);
  }
  return child;
}

// How long a child takes to replace a record, as the median of a few:
// the kills are spread over that time, however fast or loaded the machine.
Clock::duration SaveLength(const std::string& name, const std::string& record) {
  std::vector<Clock::duration> lengths;
  for (int i = 0; i < 5; ++i) {
    const auto began = Clock::now();
    const pid_t child = ReplaceInChild(name, record);
    ::waitpid(child, nullptr, 0);
    lengths.push_back(Clock::now() - began);
  }
  std::sort(lengths.begin(), lengths.end());
  return lengths[lengths.size() / 2];
}

class SettingsUnderKill : public InTempDirectory, public ::testing::WithParamInterface<std::string> {};

TEST_P(SettingsUnderKill, EveryKillLeavesTheOldOrTheNewRecord) {
  const std::string name = GetParam();
  LinuxSettingsStore store(name);
  const std::string records[] = {Record('a'), Record('b')};
  ASSERT_TRUE(store.Replace(records[0]));
  std::mt19937 random(12345);
  int current = 0, replaced = 0;
  Clock::duration length{};
  for (int round = 0; round < 200; ++round) {
    // Measured again now and then, since the machine's load changes.
    if (round % 50 == 0) {
      length = SaveLength(name, records[current]);
      ASSERT_EQ(FileBytes(name), records[current]);
    }
    const int next = 1 - current;
    // Anywhere from the fork to half a save past its end.
    std::uniform_int_distribution<Clock::rep> when(0, length.count() * 3 / 2);
    const auto killAt = Clock::now() + Clock::duration(when(random));
    const pid_t child = ReplaceInChild(name, records[next]);
    ASSERT_GE(child, 0);
    std::this_thread::sleep_until(killAt);
    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    const std::string now = FileBytes(name);
    if (now == records[next]) {
      current = next;
      ++replaced;
    } else {
      ASSERT_EQ(now.size(), records[current].size()) << "round " << round;
      ASSERT_TRUE(now == records[current]) << "round " << round;
    }
  }
  // Both outcomes were seen: the kills landed before and after the rename.
  EXPECT_GT(replaced, 0);
  EXPECT_LT(replaced, 200);
}

INSTANTIATE_TEST_SUITE_P(BothFiles, SettingsUnderKill, ::testing::Values(kSettingsFileName, kPresetsFileName),
                         [](const auto& info) { return info.param.substr(0, info.param.find('.')); });

// Two programs store a preset each at the same moment: both are kept, as
// each holds the lock file from its read to its rename.
using TwoPrograms = InTempDirectory;

TEST_F(TwoPrograms, StoringAtOnceKeepBothPresets) {
  int lost = 0;
  for (int round = 0; round < 40; ++round) {
    fs::remove(kPresetsFileName);
    int go[2];
    ASSERT_EQ(::pipe(go), 0);
    pid_t children[2];
    for (int i = 0; i < 2; ++i) {
      children[i] = ::fork();
      if (children[i] == 0) {
        ::close(go[1]);
        char start = 0;
        (void)::read(go[0], &start, 1);  // both wait here, then go together
        LinuxSettingsStore presets(kPresetsFileName);
        const std::string target = std::to_string(10 * (i + 1));
        ::_exit(presets.Change([&](std::string_view old) { return StorePreset(old, i + 1, target); }) ? 0 : 1);
      }
    }
    ::close(go[0]);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ::close(go[1]);
    for (const pid_t child : children) {
      int status = 0;
      ASSERT_EQ(::waitpid(child, &status, 0), child);
      EXPECT_EQ(status, 0) << "round " << round;
    }
    const Presets presets = ParsePresets(FileBytes(kPresetsFileName));
    lost += presets[0].target != "10" || presets[1].target != "20";
  }
  EXPECT_EQ(lost, 0) << "of 40 files";
  EXPECT_TRUE(fs::exists(std::string(kPresetsFileName) + kLockSuffix));
}

// What the store reads: a plain file only, opened without waiting; at
// most its limit, saying when there was more.
struct Exposed : LinuxSettingsStore {
  using LinuxSettingsStore::LinuxSettingsStore;
  using LinuxSettingsStore::Made;
  using LinuxSettingsStore::MakeFresh;
  using LinuxSettingsStore::ReadFile;
};

using LinuxStore = InTempDirectory;

TEST_F(LinuxStore, ReadsOnlyAPlainFileAndNeverWaits) {
  using Kind = StoredSettings::Kind;
  ASSERT_EQ(::mkfifo("fifo", 0600), 0);
  fs::create_directory("dir");
  std::ofstream("file", std::ios::binary) << "12345";
  const struct {
    const char* path;
    Kind kind;
    std::string bytes;
    bool cut;
  } cases[] = {
      {"missing", Kind::kMissing, "", false},   {"dir", Kind::kMissing, "", false},
      {"fifo", Kind::kUnreadable, "", false},   {"/dev/zero", Kind::kUnreadable, "", false},
      {"file", Kind::kRead, "1234", true},      {"dir/missing", Kind::kMissing, "", false},
  };
  Exposed store("STAT.DAT");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    const StoredSettings read = store.ReadFile(c.path, 4);
    EXPECT_EQ(read.kind, c.kind);
    EXPECT_EQ(read.bytes, c.bytes);
    EXPECT_EQ(read.cut, c.cut);
  }
  EXPECT_FALSE(store.ReadFile("file", 5).cut);
}

// A new record's file is made only where nothing has its name: not over a
// file, and not through a link, wherever it points.
TEST_F(LinuxStore, MakesANewRecordOnlyWhereNothingIs) {
  using Made = Exposed::Made;
  std::ofstream("victim", std::ios::binary) << "mine";
  fs::create_symlink("victim", "link.new");
  fs::create_symlink("nowhere", "dangling.new");
  Exposed store("STAT.DAT");
  EXPECT_EQ(store.MakeFresh("link.new", "new"), Made::kTaken);
  EXPECT_EQ(store.MakeFresh("dangling.new", "new"), Made::kTaken);
  EXPECT_EQ(store.MakeFresh("victim", "new"), Made::kTaken);
  EXPECT_EQ(FileBytes("victim"), "mine");
  EXPECT_FALSE(fs::exists("nowhere"));
  EXPECT_EQ(store.MakeFresh("fresh.new", "new"), Made::kWritten);
  EXPECT_EQ(FileBytes("fresh.new"), "new");
}

}  // namespace
}  // namespace rotavox
