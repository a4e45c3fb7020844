// STAT.DAT and PRESETS.TXT as the Linux edition keeps them, between
// processes: a child replacing a large record is killed at random moments,
// and the file holds one of the two complete records, never a part; two
// storing a preset at once keep both; nothing is written through a link.
#include <gtest/gtest.h>
#include <signal.h>
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

pid_t ReplaceInChild(const std::string& name, const std::string& record) {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(LinuxSettingsStore(name).Replace(record) ? 0 : 1);
  return child;
}

// Each test in a fresh working directory of its own.
class InTempDirectory : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir_);
    fs::current_path(dir_);
  }
  void TearDown() override {
    fs::current_path(old_);
    fs::remove_all(dir_);
  }
  const fs::path old_ = fs::current_path();
  const fs::path dir_ = fs::temp_directory_path() / ("rotavox-kill-" + std::to_string(::getpid()));
};

class SettingsUnderKill : public InTempDirectory, public ::testing::WithParamInterface<std::string> {};

TEST_P(SettingsUnderKill, EveryKillLeavesTheOldOrTheNewRecord) {
  const std::string name = GetParam();
  const std::string records[] = {Record('a'), Record('b')};
  ASSERT_TRUE(LinuxSettingsStore(name).Replace(records[0]));
  std::mt19937 random(12345);
  int current = 0, replaced = 0;
  Clock::duration save{};
  for (int round = 0; round < 200; ++round) {
    // Kills from the fork to half a save past its end, a save as long as a
    // child takes now (the median of three, measured again as load changes).
    if (round % 50 == 0) {
      Clock::duration lengths[3];
      for (Clock::duration& length : lengths) {
        const auto began = Clock::now();
        ::waitpid(ReplaceInChild(name, records[current]), nullptr, 0);
        length = Clock::now() - began;
      }
      std::sort(std::begin(lengths), std::end(lengths));
      save = lengths[1];
    }
    const int next = 1 - current;
    const auto killAt = Clock::now() + Clock::duration(random() % (save.count() * 3 / 2 + 1));
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

using LinuxStore = InTempDirectory;

// Each holds the lock file from its read to its rename.
TEST_F(LinuxStore, TwoProgramsStoringAPresetAtOnceKeepBoth) {
  for (int round = 0; round < 40; ++round) {
    fs::remove(kPresetsFileName);
    int go[2];
    ASSERT_EQ(::pipe(go), 0);
    pid_t children[2];
    for (int i = 0; i < 2; ++i) {
      if ((children[i] = ::fork()) != 0) continue;
      char start = 0;
      ::close(go[1]);
      (void)::read(go[0], &start, 1);  // both go when the pipe closes
      const auto store = [i](std::string_view old) { return StorePreset(old, i + 1, std::to_string(i + 1)); };
      ::_exit(LinuxSettingsStore(kPresetsFileName).Change(store) ? 0 : 1);
    }
    ::close(go[0]);
    ::close(go[1]);
    for (const pid_t child : children) ::waitpid(child, nullptr, 0);
    const Presets presets = ParsePresets(FileBytes(kPresetsFileName));
    ASSERT_EQ(presets[0].target + presets[1].target, "12") << "round " << round;
  }
}

// O_EXCL: neither over a file nor through a link, wherever it points.
TEST_F(LinuxStore, MakesANewRecordOnlyWhereNothingIs) {
  struct Exposed : LinuxSettingsStore {
    using LinuxSettingsStore::Made;
    using LinuxSettingsStore::MakeFresh;
  } store;
  std::ofstream("mine", std::ios::binary) << "mine";
  fs::create_symlink("mine", "link.new");
  fs::create_symlink("nowhere", "dangling.new");
  for (const char* taken : {"link.new", "dangling.new", "mine"}) {
    EXPECT_EQ(store.MakeFresh(taken, "new"), Exposed::Made::kTaken) << taken;
  }
  EXPECT_EQ(FileBytes("mine"), "mine");
  EXPECT_FALSE(fs::exists("nowhere"));
  EXPECT_EQ(store.MakeFresh("fresh.new", "new"), Exposed::Made::kWritten);
}

}  // namespace
}  // namespace rotavox
