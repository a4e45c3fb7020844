// STAT.DAT through the Win32 file calls: what the operator's next start
// finds after each kind of save; PRESETS.TXT changed under its lock.
#include "app/win32/win32_settings_store.h"
#include "common/presets.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace rotavox::testing {
namespace {

namespace fs = std::filesystem;

// Each test runs in a fresh directory of its own, since the store works on
// the current one.
class Win32SettingsStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device entropy;
    dir_ = fs::temp_directory_path() /
           ("rotavox-store-" + std::to_string(entropy()) + "-" + std::to_string(entropy()));
    ASSERT_TRUE(fs::create_directory(dir_));
    oldCwd_ = fs::current_path();
    fs::current_path(dir_);
  }
  void TearDown() override {
    std::error_code ec;
    fs::current_path(oldCwd_, ec);
    for (const auto& entry : fs::recursive_directory_iterator(dir_, ec)) {
      SetFileAttributesW(entry.path().c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    fs::remove_all(dir_, ec);
  }

  static void WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
  }
  static std::string FileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) {
      names.push_back(entry.path().filename().string());
    }
    return names;
  }
  static void AddAttribute(const char* name, DWORD attribute) {
    ASSERT_TRUE(SetFileAttributesA(name, GetFileAttributesA(name) | attribute));
  }

  const std::vector<std::string> onlyStatDat_{kSettingsFileName};
  fs::path dir_;
  fs::path oldCwd_;
  Win32SettingsStore store_;
};

TEST_F(Win32SettingsStoreTest, MissingFile) {
  EXPECT_EQ(store_.Read().kind, StoredSettings::Kind::kMissing);
}

TEST_F(Win32SettingsStoreTest, ReplaceCreatesExactlyTheBytesAndReadReturnsThem) {
  const std::string bytes("\"\",1\r\n\0\n\x1a\r\xff", 11);
  EXPECT_TRUE(store_.Replace(bytes));
  EXPECT_EQ(FileBytes(kSettingsFileName), bytes);
  EXPECT_EQ(Entries(), onlyStatDat_);
  const StoredSettings stored = store_.Read();
  EXPECT_EQ(stored.kind, StoredSettings::Kind::kRead);
  EXPECT_EQ(stored.bytes, bytes);
}

TEST_F(Win32SettingsStoreTest, ReplaceOverAnOldFileLeavesNothingElseBehind) {
  WriteFile(kSettingsFileName, "\"0123456789\",1\r\n");
  EXPECT_TRUE(store_.Replace("\"3\",0\r\n"));
  EXPECT_EQ(FileBytes(kSettingsFileName), "\"3\",0\r\n");
  EXPECT_TRUE(store_.Replace(""));
  const StoredSettings stored = store_.Read();
  EXPECT_EQ(stored.kind, StoredSettings::Kind::kRead);
  EXPECT_EQ(stored.bytes, "");
  EXPECT_EQ(Entries(), onlyStatDat_);
}

// A record is read whole up to the read limit; a larger file only so far,
// so that a huge STAT.DAT cannot slow the start.
TEST_F(Win32SettingsStoreTest, ReadsWholeRecordsAndOnlyTheStartOfAHugeFile) {
  std::string bytes(kMaxSettingsRead, 'x');
  bytes.back() = 'y';
  EXPECT_TRUE(store_.Replace(bytes));
  EXPECT_EQ(store_.Read().bytes, bytes);
  EXPECT_FALSE(store_.Read().cut);
  EXPECT_TRUE(store_.Replace(bytes + std::string(300 * 1024, 'z')));
  EXPECT_EQ(store_.Read().bytes, bytes);
  EXPECT_TRUE(store_.Read().cut);
}

// A change holds the lock file beside the file from its read to its
// replacement: while another program holds it, the change gives up after
// a while, writing nothing; once it is free, the change is made.
TEST_F(Win32SettingsStoreTest, ChangeWaitsForTheLockFile) {
  Win32SettingsStore presets(kPresetsFileName);
  const auto store = [](std::string_view old) { return std::string(old) + "1,90\r\n"; };
  const HANDLE other = CreateFileA((std::string(kPresetsFileName) + kLockSuffix).c_str(), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0, nullptr);
  OVERLAPPED whole{};
  ASSERT_TRUE(LockFileEx(other, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &whole));
  EXPECT_FALSE(presets.Change(store));
  EXPECT_FALSE(fs::exists(kPresetsFileName));
  CloseHandle(other);
  EXPECT_TRUE(presets.Change(store));
  EXPECT_TRUE(presets.Change(store));
  EXPECT_EQ(FileBytes(kPresetsFileName), "1,90\r\n1,90\r\n");
}

TEST_F(Win32SettingsStoreTest, ReadOnlyFileIsLeftUntouched) {
  WriteFile(kSettingsFileName, "\"3\",1\r\n");
  AddAttribute(kSettingsFileName, FILE_ATTRIBUTE_READONLY);
  EXPECT_FALSE(store_.Replace("\"4\",0\r\n"));
  EXPECT_EQ(FileBytes(kSettingsFileName), "\"3\",1\r\n");
  EXPECT_NE(GetFileAttributesA(kSettingsFileName) & FILE_ATTRIBUTE_READONLY, 0u);
  EXPECT_EQ(Entries(), onlyStatDat_);
  EXPECT_EQ(store_.Read().kind, StoredSettings::Kind::kRead);
}

// Hidden and system files are not the settings file: the program starts
// with its defaults.
TEST_F(Win32SettingsStoreTest, HiddenOrSystemFileCountsAsMissing) {
  for (const DWORD attribute : {FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_SYSTEM}) {
    SCOPED_TRACE(attribute);
    WriteFile(kSettingsFileName, "\"3\",1\r\n");
    AddAttribute(kSettingsFileName, attribute);
    EXPECT_EQ(store_.Read().kind, StoredSettings::Kind::kMissing);
    SetFileAttributesA(kSettingsFileName, FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(kSettingsFileName);
  }
}

// A hidden or system STAT.DAT, which the start passes over, is still the
// file the shutdown writes, and it stays hidden or system.
TEST_F(Win32SettingsStoreTest, ReplaceKeepsHiddenAndSystemAttributes) {
  for (const DWORD attribute : {DWORD{FILE_ATTRIBUTE_HIDDEN}, DWORD{FILE_ATTRIBUTE_SYSTEM},
                                DWORD{FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM}}) {
    SCOPED_TRACE(attribute);
    WriteFile(kSettingsFileName, "\"0123456789\",1\r\n");
    AddAttribute(kSettingsFileName, attribute);
    EXPECT_TRUE(store_.Replace("\"3\",0\r\n"));
    EXPECT_EQ(FileBytes(kSettingsFileName), "\"3\",0\r\n");
    EXPECT_EQ(GetFileAttributesA(kSettingsFileName) & attribute, attribute);
    EXPECT_EQ(Entries(), onlyStatDat_);
    SetFileAttributesA(kSettingsFileName, FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(kSettingsFileName);
  }
}

// Another program holding STAT.DAT open for its attributes only, without
// sharing deletion (an indexer, a virus scanner), may stop a file being
// moved over it, as Wine does; the record still reaches the file, written
// into it in place.
TEST_F(Win32SettingsStoreTest, RefusedMoveWritesTheRecordInPlace) {
  WriteFile(kSettingsFileName, "\"0123456789\",1\r\n");
  const HANDLE held = CreateFileA(kSettingsFileName, FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(store_.Replace("\"3\",0\r\n"));
  CloseHandle(held);
  EXPECT_EQ(FileBytes(kSettingsFileName), "\"3\",0\r\n");
  EXPECT_EQ(Entries(), onlyStatDat_);
}

TEST_F(Win32SettingsStoreTest, DirectoryNamedLikeTheFileCountsAsMissingAndStays) {
  fs::create_directory(kSettingsFileName);
  EXPECT_EQ(store_.Read().kind, StoredSettings::Kind::kMissing);
  EXPECT_FALSE(store_.Replace("\"3\",1\r\n"));
  EXPECT_TRUE(fs::is_directory(kSettingsFileName));
  EXPECT_TRUE(fs::is_empty(kSettingsFileName));
  EXPECT_EQ(Entries(), onlyStatDat_);
}

// Another program holding the file open without sharing: it cannot be
// read, and it is not replaced behind that program's back.
TEST_F(Win32SettingsStoreTest, FileHeldOpenElsewhereIsUnreadableAndKept) {
  WriteFile(kSettingsFileName, "\"3\",1\r\n");
  const HANDLE held = CreateFileA(kSettingsFileName, GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_EQ(store_.Read().kind, StoredSettings::Kind::kUnreadable);
  EXPECT_FALSE(store_.Replace("\"4\",0\r\n"));
  CloseHandle(held);
  EXPECT_EQ(FileBytes(kSettingsFileName), "\"3\",1\r\n");
  EXPECT_EQ(Entries(), onlyStatDat_);
}

TEST_F(Win32SettingsStoreTest, FollowsTheWorkingDirectory) {
  EXPECT_TRUE(store_.Replace("\"1\",1\r\n"));
  fs::create_directory(dir_ / "other");
  fs::current_path(dir_ / "other");
  EXPECT_EQ(store_.Read().kind, StoredSettings::Kind::kMissing);
  EXPECT_TRUE(store_.Replace("\"2\",0\r\n"));
  EXPECT_EQ(FileBytes(dir_ / "other" / kSettingsFileName), "\"2\",0\r\n");
  EXPECT_EQ(FileBytes(dir_ / kSettingsFileName), "\"1\",1\r\n");
}

}  // namespace
}  // namespace rotavox::testing
