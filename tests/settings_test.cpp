// The settings record and the STAT.DAT file that holds it.
#include "app/settings.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "app/settings_store.h"
#include "common/presets.h"
#include "common/state.h"
#include "fakes.h"

namespace rotavox::testing {
namespace {

namespace fs = std::filesystem;

// PRESETS.TXT: the first line of a number 1 to 9 is that preset's; its
// target may be quoted (a doubled quote inside) or run to the next comma,
// and a name may follow. A store replaces that line only, keeping its
// name, or adds one in number order; every other line stays byte for byte.
TEST(PresetsFile, ReadAndStoreBesideHandEditedAndDamagedLines) {
  const std::string file =
      "# mine\r\n"
      "1, 90 ,  Home  \r\n"
      "3,\"JA1XYZ\",Japan\r\n"
      "x,45\n"
      "12,45\n"
      "4,\"unterminated\n"
      "5\n"
      "6,\"say \"\"hi\"\"\"  ,  a, name\n"
      "7,\"jn58td l\"\n"
      "3,180,ignored\n"
      "  \n"
      "9,\"QF56\"junk";
  const Presets presets = ParsePresets(file);
  const Presets expected = {{{"90", "Home"}, {}, {"JA1XYZ", "Japan"}, {}, {}, {"say \"hi\"", "a, name"},
                             {"jn58td l", ""}, {}, {}}};
  EXPECT_EQ(presets, expected);

  const struct {
    int number;
    const char* target;
    std::string before, after;  // the line that changes, or "" around an insertion
  } stores[] = {
      {3, "EA6ABC", "3,\"JA1XYZ\",Japan\r\n", "3,\"EA6ABC\",Japan\r\n"},
      {4, "4\"5", "4,\"unterminated\n", "4,\"4\"\"5\"\n"},
      {9, "270", "9,\"QF56\"junk", "9,\"270\""},
      {2, "JO62", "3,\"JA1XYZ\"", "2,\"JO62\"\r\n3,\"JA1XYZ\""},
      {8, "8", "9,\"QF56\"", "8,\"8\"\r\n9,\"QF56\""},
  };
  for (const auto& s : stores) {
    SCOPED_TRACE(s.number);
    const std::string stored = StorePreset(file, s.number, s.target);
    std::string expectedFile = file;
    expectedFile.replace(expectedFile.find(s.before), s.before.size(), s.after);
    EXPECT_EQ(stored, expectedFile);
    EXPECT_EQ(ParsePresets(stored)[static_cast<std::size_t>(s.number - 1)].target, s.target);
  }
  // No file yet: the comment that says how to edit it, then the preset.
  const std::string fresh = StorePreset("", 5, "123");
  EXPECT_EQ(fresh.rfind("# Rotavox presets.", 0), 0u);
  EXPECT_EQ(fresh.substr(fresh.size() - 9), "5,\"123\"\r\n");
  EXPECT_EQ(ParsePresets(fresh), (Presets{{{}, {}, {}, {}, {"123", ""}, {}, {}, {}, {}}}));
  EXPECT_EQ(StorePreset("# mine", 1, "1"), "# mine\r\n1,\"1\"\r\n");
  // A new line ends as the file's do.
  EXPECT_EQ(StorePreset("# mine\n1,90", 2, "45"), "# mine\n1,90\n2,\"45\"\n");
  EXPECT_EQ(StorePreset("1,90\n", 9, "45"), "1,90\n9,\"45\"\n");

  // A target that no frame could carry (over 20 characters), a name over
  // 40, or either with a control character: the preset is empty and knows
  // why; a store keeps no such name.
  using F = Preset::Fault;
  const Presets faulty = ParsePresets(
      "1,\"ABCDEFGHIJKLMNOPQRSTU\"\n2,\"ABCDEFGHIJKLMNOPQRST\"\n3,90,\x1b[5mBlink\n4,\"9\x02" "0\"\n"
      "5,90,A name of forty-one characters, too long!\n6,\" 90\tL\"\n");
  const Presets expectedFaults = {{{"", "", F::kTooLong}, {"ABCDEFGHIJKLMNOPQRST", ""}, {"", "", F::kBadCharacter},
                                   {"", "", F::kBadCharacter}, {"", "", F::kTooLong}, {"", "", F::kBadCharacter},
                                   {}, {}, {}}};
  EXPECT_EQ(faulty, expectedFaults);
  EXPECT_EQ(StorePreset("3,90,\x1b[5mBlink\r\n", 3, "45"), "3,\"45\"\r\n");
}

// The port text is quoted (anything up to the next quote, then the rest of
// the field skipped) or unquoted (up to comma or CR, tabs and line feeds
// dropped, trailing blanks kept). The voice field runs to comma, blank or
// CR and is rounded, halves to even; missing, it is 0.
TEST(ParseSettings, ReadsPortTextAndVoiceSwitch) {
  const struct {
    const char* name;
    std::string bytes;
    Settings settings;
  } cases[] = {
      {"one-line record", "\"3\",1\r\n", {"3", 1}}, {"no port", "\"\",1\r\n", {"", 1}},
      {"only the port", "\"3\"\r\n", {"3", 0}}, {"only the port, no line end", "\"3\"", {"3", 0}},
      {"two lines unquoted", "3\r\n1\r\n", {"3", 1}},
      {"two lines quoted", "\"3\"\r\n1\r\n", {"3", 1}}, {"CR without LF", "3\r1", {"3", 1}},
      {"unquoted keeps trailing blank", "  4 ,1", {"4 ", 1}},
      {"unquoted drops tabs and LFs", "\t3\n,1", {"3", 1}}, {"unquoted to the end", "3", {"3", 0}},
      {"quoted holds commas", "\"COM,3\",1", {"COM,3", 1}},
      {"quoted holds line ends", "\"a\r\nb\",1", {"a\r\nb", 1}},
      {"after the closing quote skipped", "\"3\" \t\nx ,1", {"3", 1}},
      {"leading blanks before quote", "  \"3\",1", {"3", 1}},
      {"no closing quote", "\"3,1", {"3,1", 0}}, {"empty file", "", {"", 0}},
      {"voice half up", "\"3\",1.5", {"3", 2}}, {"voice half to even", "\"3\",2.5", {"3", 2}},
      {"voice letters", "\"3\",abc", {"3", 0}}, {"voice off", "\"3\",0\r\n", {"3", 0}},
      {"voice after blanks", "\"3\",  1", {"3", 1}}, {"voice ends at blank", "\"3\",1 2", {"3", 1}},
      {"voice ends at comma", "\"3\",1,0", {"3", 1}},
      {"voice drops tabs", "\"3\",\t1\t2", {"3", 12}}, {"voice negative", "\"3\",-1", {"3", -1}},
      {"voice hex", "\"3\",&H10", {"3", 16}}, {"voice saturates", "\"3\",9E9", {"3", INT_MAX}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Settings read = ParseSettings(c.bytes);
    EXPECT_EQ(read.portText, c.settings.portText);
    EXPECT_EQ(read.voiceOn, c.settings.voiceOn);
  }
}

// The writer always produces one line: quoted port text, comma, voice
// switch in decimal, CR LF. Nothing in the port text is escaped; a double
// quote, which would end it early, is left out.
TEST(FormatSettings, WritesTheOneLineRecord) {
  const struct {
    Settings settings;
    const char* bytes;
  } cases[] = {
      {{"3", 1}, "\"3\",1\r\n"}, {{"", 1}, "\"\",1\r\n"}, {{"12", 0}, "\"12\",0\r\n"},
      {{"3", -5}, "\"3\",-5\r\n"}, {{"a\"b", 1}, "\"ab\",1\r\n"},
      {{"1\",0", 1}, "\"1,0\",1\r\n"},
      {{"x", INT_MIN}, "\"x\",-2147483648\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes);
    EXPECT_EQ(FormatSettings(c.settings), c.bytes);
  }
}

TEST(FormatSettings, ReadsBackWhatItWrote) {
  for (const Settings& s : std::vector<Settings>{
           {"3", 1}, {"", 0}, {"COM,7 ", -3}, {"a\r\nb", INT_MAX}, {"x", INT_MIN}}) {
    SCOPED_TRACE(s.portText);
    EXPECT_EQ(ParseSettings(FormatSettings(s)), s);
  }
  // A quote in the port text is left out, and the voice field survives.
  EXPECT_EQ(ParseSettings(FormatSettings({"a\"b", 1})), (Settings{"ab", 1}));
}

// No file, an empty one, or one that cannot be read (which is then kept):
// no port and speech on. Otherwise the record as read.
TEST(LoadSettings, DefaultsDependOnWhyNothingWasRead) {
  using Kind = StoredSettings::Kind;
  const struct {
    const char* name;
    StoredSettings stored;
    const char* port;
    std::int32_t voice;
  } cases[] = {
      {"missing", {Kind::kMissing, ""}, "", 1}, {"unreadable", {Kind::kUnreadable, ""}, "", 1},
      {"empty file", {Kind::kRead, ""}, "", 1}, {"record", {Kind::kRead, "\"3\",1\r\n"}, "3", 1},
      {"port only", {Kind::kRead, "\"3\"\r\n"}, "3", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MemorySettingsStore store;
    store.stored = c.stored;
    ProgramState state;
    LoadSettings(state, store);
    EXPECT_EQ(state.PortText, c.port);
    EXPECT_EQ(state.VoiceOn, c.voice);
  }
}

TEST(SaveSettings, RewritesATwoLineFileAsOneLine) {
  MemorySettingsStore store;
  store.stored = {StoredSettings::Kind::kRead, "3\r\n1\r\n"};
  ProgramState state;
  LoadSettings(state, store);
  SaveSettings(state, store);
  EXPECT_EQ(store.writes, std::vector<std::string>{"\"3\",1\r\n"});
}

// FileSettingsStore works on STAT.DAT in the current working directory, so
// each test runs in a fresh directory of its own.
class FileSettingsStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device entropy;
    dir_ = fs::temp_directory_path() /
           ("rotavox-settings-" + std::to_string(entropy()) + "-" + std::to_string(entropy()));
    ASSERT_TRUE(fs::create_directory(dir_));
    oldCwd_ = fs::current_path();
    fs::current_path(dir_);
  }
  void TearDown() override {
    std::error_code ec;
    fs::current_path(oldCwd_, ec);
    for (const auto& entry : fs::recursive_directory_iterator(dir_, ec)) {
      fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ec);
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

  const std::vector<std::string> onlyStatDat_{kSettingsFileName};
  fs::path dir_;
  fs::path oldCwd_;
  FileSettingsStore store_;
};

// Every byte in the port text: what is saved is what the next start
// loads, but for a double quote, which is left out; the voice field always
// reads back as saved.
TEST_F(FileSettingsStoreTest, EveryPortTextByteSurvivesSaveAndLoad) {
  for (int b = 0; b < 256; ++b) {
    SCOPED_TRACE(b);
    const char byte = static_cast<char>(b);
    ProgramState saved;
    saved.PortText = std::string("1") + byte + "2";
    saved.VoiceOn = b % 2 == 0 ? 0 : 1;
    SaveSettings(saved, store_);
    ProgramState loaded;
    LoadSettings(loaded, store_);
    EXPECT_EQ(loaded.VoiceOn, saved.VoiceOn);
    EXPECT_EQ(loaded.PortText, byte == '"' ? "12" : saved.PortText);
  }
}

// The new record reaches the disk before it takes STAT.DAT's name, and the
// directory, which holds that name, after.
TEST_F(FileSettingsStoreTest, FlushesTheNewFileBeforeTheRenameAndTheDirectoryAfter) {
  WriteFile(kSettingsFileName, "old");
  std::vector<std::string> seen;
  FileSettingsStore store([&seen](const fs::path& path) {
    seen.push_back(path.filename().string() == "." ? "directory" : FileBytes(path));
    seen.push_back(FileBytes(kSettingsFileName));
    return true;
  });
  EXPECT_TRUE(store.Replace("new"));
  EXPECT_EQ(seen, (std::vector<std::string>{"new", "old", "directory", "new"}));
  // A new file the disk does not take leaves the old record.
  FileSettingsStore failing([](const fs::path&) { return false; });
  EXPECT_FALSE(failing.Replace("newer"));
  EXPECT_EQ(FileBytes(kSettingsFileName), "new");
  EXPECT_EQ(Entries(), onlyStatDat_);
}

TEST_F(FileSettingsStoreTest, MissingFile) {
  const StoredSettings stored = store_.Read();
  EXPECT_EQ(stored.kind, StoredSettings::Kind::kMissing);
  EXPECT_EQ(stored.bytes, "");
}

TEST_F(FileSettingsStoreTest, ReplaceCreatesExactlyTheBytesAndReadReturnsThem) {
  const std::string bytes("\"\",1\r\n\0\n\x1a\r", 10);
  EXPECT_TRUE(store_.Replace(bytes));
  EXPECT_EQ(FileBytes(kSettingsFileName), bytes);
  EXPECT_EQ(Entries(), onlyStatDat_);
  const StoredSettings stored = store_.Read();
  EXPECT_EQ(stored.kind, StoredSettings::Kind::kRead);
  EXPECT_EQ(stored.bytes, bytes);
}

TEST_F(FileSettingsStoreTest, ReplaceOverAnOldFileLeavesNothingElseBehind) {
  WriteFile(kSettingsFileName, "\"0123456789\",1\r\n");
  EXPECT_TRUE(store_.Replace("\"3\",0\r\n"));
  EXPECT_EQ(FileBytes(kSettingsFileName), "\"3\",0\r\n");
  EXPECT_TRUE(store_.Replace(""));
  const StoredSettings stored = store_.Read();  // an empty file is still read
  EXPECT_EQ(stored.kind, StoredSettings::Kind::kRead);
  EXPECT_EQ(stored.bytes, "");
  EXPECT_EQ(Entries(), onlyStatDat_);
}

TEST_F(FileSettingsStoreTest, ReplaceKeepsTheOldFilesPermissions) {
  WriteFile(kSettingsFileName, "old");
  fs::permissions(kSettingsFileName, fs::perms::owner_read | fs::perms::owner_write);
  const fs::perms before = fs::status(kSettingsFileName).permissions();
  EXPECT_TRUE(store_.Replace("new"));
  EXPECT_EQ(fs::status(kSettingsFileName).permissions(), before);
}

// A read-only file is left as it is, even for a user the system would let
// write it anyway.
TEST_F(FileSettingsStoreTest, ReadOnlyFileIsLeftUntouched) {
  WriteFile(kSettingsFileName, "\"3\",1\r\n");
  fs::permissions(kSettingsFileName,
                  fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  const fs::perms before = fs::status(kSettingsFileName).permissions();
  EXPECT_FALSE(store_.Replace("\"4\",0\r\n"));
  EXPECT_EQ(FileBytes(kSettingsFileName), "\"3\",1\r\n");
  EXPECT_EQ(fs::status(kSettingsFileName).permissions(), before);
  EXPECT_EQ(Entries(), onlyStatDat_);
  EXPECT_EQ(store_.Read().kind, StoredSettings::Kind::kRead);
}

TEST_F(FileSettingsStoreTest, DirectoryNamedLikeTheFileCountsAsMissingAndStays) {
  fs::create_directory(kSettingsFileName);
  EXPECT_EQ(store_.Read().kind, StoredSettings::Kind::kMissing);
  EXPECT_FALSE(store_.Replace("\"3\",1\r\n"));
  EXPECT_TRUE(fs::is_directory(kSettingsFileName));
  EXPECT_TRUE(fs::is_empty(kSettingsFileName));
  EXPECT_EQ(Entries(), onlyStatDat_);
}

// Only the start of a huge file is read; the record there still counts.
TEST_F(FileSettingsStoreTest, ReadsOnlyTheStartOfAHugeFile) {
  {
    std::ofstream out(kSettingsFileName, std::ios::binary);
    out << "\"7\",1\r\n";
  }
  fs::resize_file(kSettingsFileName, 64 * 1024 * 1024);
  const StoredSettings stored = store_.Read();
  EXPECT_EQ(stored.kind, StoredSettings::Kind::kRead);
  EXPECT_EQ(stored.bytes.size(), kMaxSettingsRead);
  EXPECT_TRUE(stored.cut);
  EXPECT_EQ(ParseSettings(stored.bytes).portText, "7");
  EXPECT_EQ(ParseSettings(stored.bytes).voiceOn, 1);
  fs::resize_file(kSettingsFileName, kMaxSettingsRead);
  EXPECT_FALSE(store_.Read().cut);
}

// The name is resolved against the working directory of each call.
TEST_F(FileSettingsStoreTest, FollowsTheWorkingDirectory) {
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
