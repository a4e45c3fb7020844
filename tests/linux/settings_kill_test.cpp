// STAT.DAT and PRESETS.TXT under SIGKILL: a child replaces a large record
// and is killed at a random moment, again and again; after each kill the
// file holds one of the two complete records, never a part.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>

#include "app/settings_store.h"
#include "common/presets.h"

namespace rotavox {
namespace {

namespace fs = std::filesystem;

std::string FileBytes(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// 1 MiB, so that writing it takes long enough to be interrupted.
std::string Record(char fill) { return "\"" + std::string(1 << 20, fill) + "\",1\r\n"; }

class SettingsUnderKill : public ::testing::TestWithParam<std::string> {};

TEST_P(SettingsUnderKill, EveryKillLeavesTheOldOrTheNewRecord) {
  const std::string name = GetParam();
  const fs::path old_cwd = fs::current_path();
  const fs::path dir = fs::temp_directory_path() / ("rotavox-kill-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  fs::current_path(dir);
  FileSettingsStore store(nullptr, name);
  const std::string records[] = {Record('a'), Record('b')};
  ASSERT_TRUE(store.Replace(records[0]));
  std::mt19937 random(12345);
  int current = 0, replaced = 0;
  for (int round = 0; round < 200; ++round) {
    const int next = 1 - current;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      FileSettingsStore own(nullptr, name);
      ::_exit(own.Replace(records[next]) ? 0 : 1);
    }
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 1500));
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
  fs::current_path(old_cwd);
  fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(BothFiles, SettingsUnderKill, ::testing::Values(kSettingsFileName, kPresetsFileName),
                         [](const auto& info) { return info.param.substr(0, info.param.find('.')); });

}  // namespace
}  // namespace rotavox
