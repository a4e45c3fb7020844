// The program's whole life through RunProgram: start-up order, the dialog's
// first messages, shutdown and the settings written at the end.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

#include "app/program.h"
#include "app/settings.h"
#include "fakes.h"

namespace rotavox::testing {
namespace {

// A shell whose message loop plays an operator's script.
class ScriptedShell final : public Shell {
 public:
  ScriptedShell(Log& log, FakeDialog& dialog) : log_(log), dialog_(dialog) {}
  std::function<void()> script;

  void BeginSession() override { log_.push_back("begin"); }
  void CreateMainDialog(Context& context) override {
    log_.push_back("create");
    dialog_.Create(context.state);
    dialog_.handler = [this, &context](unsigned m, std::uintptr_t w, std::intptr_t l) {
      HandleDialogMessage(context, m, w, l);
    };
    captionStart = context.state.TitleText;
  }
  Size ClientSize() override { return {540, 423}; }
  void ShowMainDialog() override { log_.push_back("show"); }
  void RunMessageLoop() override {
    if (script) script();
  }
  void EndSession() override { log_.push_back("end session"); }

  std::string captionStart;

 private:
  Log& log_;
  FakeDialog& dialog_;
};

struct ProgramRig {
  Log log;
  FakeDialog dialog{log};
  FakeDesktop desktop{log};
  FakePort port{log};
  FakeVoices voices{log};
  FakeSurface surface{log};
  FakeSteps steps;
  MemorySettingsStore store;
  ScriptedShell shell{log, dialog};
  Platform platform{shell, dialog, desktop, port, voices, surface, steps, store};

  std::vector<std::string> Said() const {
    std::vector<std::string> said;
    for (const auto& entry : log) {
      if (entry.rfind("say:", 0) == 0) said.push_back(entry.substr(4));
    }
    return said;
  }
  void File(std::string bytes) { store.stored = {StoredSettings::Kind::kRead, std::move(bytes)}; }
  void Exit() {
    shell.script = [this] { dialog.Click(kExitButton); };
  }
  int Run() { return RunProgram(platform); }
};

struct ProgramTest : ::testing::Test, ProgramRig {};

TEST_F(ProgramTest, LifeInOrder) {
  shell.script = [this] {
    log.push_back("loop");
    dialog.Click(kExitButton);
  };
  EXPECT_EQ(RunProgram(platform), 0);
  EXPECT_EQ(log, (Log{"begin", "create", "redraw", "say:Rotavox Controller ",
                      "say:Please set com port", "focus:201", "say:Set Com Port", "show", "loop",
                      "focus:703", "end", "say:Goodbye", "end session"}));
  EXPECT_EQ(shell.captionStart, "Rotavox Controller ");
}

TEST_F(ProgramTest, FirstRunWritesTheDefaults) {
  Exit();
  RunProgram(platform);
  EXPECT_EQ(store.writes, std::vector<std::string>{"\"\",1\r\n"});
}

TEST_F(ProgramTest, SettingsComeBackInOneLineForm) {
  const struct {
    const char* before;
    const char* after;
  } cases[] = {
      {"3\r\n1\r\n", "\"3\",1\r\n"},
      {"\"3\"\r\n", "\"3\",0\r\n"},
      {"  4 ,1", "\"4 \",1\r\n"},
      {"\"12\", 2.5\r\n", "\"12\",2\r\n"},
      {"\"a\"b\",1\r\n", "\"a\",1\r\n"},  // read up to the quote inside
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Visible(c.before));
    ProgramRig t;
    t.File(c.before);
    t.Exit();
    t.Run();
    EXPECT_EQ(t.store.writes, std::vector<std::string>{c.after});
  }
}

TEST_F(ProgramTest, OnlyThePortTextTakenAtStartIsSaved) {
  File("\"3\",1\r\n");
  shell.script = [this] {
    dialog.Type(kPortBox, "4");  // "34", never started: not saved
    dialog.Click(kExitButton);
  };
  RunProgram(platform);
  EXPECT_EQ(store.writes.back(), "\"3\",1\r\n");

  ProgramRig started;
  started.File("\"3\",1\r\n");
  started.shell.script = [&started] {
    started.dialog.Type(kPortBox, "4");
    started.dialog.Click(kStartButton);
    started.dialog.Click(kExitButton);
  };
  started.Run();
  EXPECT_EQ(started.store.writes.back(), "\"34\",1\r\n");
}

TEST_F(ProgramTest, ShutdownStopsTheLinkBeforeSaving) {
  File("\"3\",1\r\n");
  shell.script = [this] {
    dialog.Click(kStartButton);
    dialog.Click(kExitButton);
  };
  RunProgram(platform);
  EXPECT_FALSE(dialog.TimerRunning());
  EXPECT_FALSE(port.open);
  const auto goodbye = std::find(log.begin(), log.end(), "say:Goodbye");
  ASSERT_NE(goodbye, log.end());
  EXPECT_EQ(*std::next(goodbye), "close");
}

TEST_F(ProgramTest, NoVoiceAtGoodbyeSavesSpeechOff) {
  File("\"3\",1\r\n");
  shell.script = [this] {
    voices.available = false;
    dialog.Click(kExitButton);
  };
  EXPECT_EQ(RunProgram(platform), 0);
  EXPECT_EQ(store.writes.back(), "\"3\",0\r\n");
}

TEST_F(ProgramTest, UnwritableSettingsStillEndNormally) {
  store.writable = false;
  Exit();
  EXPECT_EQ(RunProgram(platform), 0);
  EXPECT_TRUE(store.writes.empty());
}

// A STAT.DAT that cannot be read, or written though it is not read-only, is
// kept, and said at start (in a box with speech off; to the edition's
// report too); so is a country file named but unreadable.
TEST(ProgramStart, FilesThatWillNotBeSavedOrReadAreToldAtStart) {
  using Kind = StoredSettings::Kind;
  using Texts = std::vector<std::string>;
  const std::string unwritable = kSettingsUnwritableSpoken;
  struct Case {
    StoredSettings stored;
    bool countryUnreadable;
    Texts said, boxes, reported;
  };
  const std::vector<Case> cases = {
      {{Kind::kUnreadable, ""}, false, {kTitleText, kSettingsUnreadableSpoken, "Please set com port", "Set Com Port",
       "Goodbye"}, {}, {kSettingsUnreadableSpoken}},
      {{Kind::kRead, "\"3\",1\r\n", false, true}, false, {kTitleText, unwritable, "Set Com Port", "Goodbye"}, {},
       {unwritable}},
      {{Kind::kRead, "\"3\",0\r\n", false, true}, false, {}, {"box:" + unwritable + "|File Error"}, {unwritable}},
      {{Kind::kRead, "\"3\",1\r\n"}, true, {kTitleText, kCountryFileUnreadable, "Set Com Port", "Goodbye"}, {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.said.size() > 1 ? c.said[1] : "speech off");
    ProgramRig rig;
    rig.store.stored = c.stored;
    rig.platform.countryFileUnreadable = c.countryUnreadable;
    Texts reported;
    rig.platform.report = [&reported](std::string_view text) { reported.emplace_back(text); };
    rig.shell.script = [&rig] {
      SaveSettingsNow();  // as the session ending would
      rig.dialog.Click(kExitButton);
    };
    rig.Run();
    EXPECT_EQ(rig.Said(), c.said);
    Texts boxes;
    std::copy_if(rig.log.begin(), rig.log.end(), std::back_inserter(boxes),
                 [](const std::string& entry) { return entry.rfind("box:", 0) == 0; });
    EXPECT_EQ(boxes, c.boxes);
    EXPECT_EQ(reported, c.reported);
    EXPECT_EQ(rig.store.writes.empty(), c.stored.kind == Kind::kUnreadable || c.stored.unwritable);
  }
}

// When the session ends under the program, the settings are saved at once
// as the shutdown saves them, with nothing spoken; before the start and
// after the shutdown there is nothing to save.
TEST_F(ProgramTest, SaveSettingsNowWritesWhatTheShutdownWould) {
  File("\"3\",1\r\n");
  SaveSettingsNow();
  EXPECT_TRUE(store.writes.empty());
  std::size_t said = 0;
  shell.script = [this, &said] {
    dialog.Type(kPortBox, "4");
    dialog.Click(kStartButton);
    dialog.Click(kVoiceCheck);
    said = Said().size();
    SaveSettingsNow();
    EXPECT_EQ(Said().size(), said);
    EXPECT_EQ(store.writes, std::vector<std::string>{"\"34\",0\r\n"});
    dialog.Click(kExitButton);
  };
  RunProgram(platform);
  EXPECT_EQ(store.writes, (std::vector<std::string>{"\"34\",0\r\n", "\"34\",0\r\n"}));
  SaveSettingsNow();
  EXPECT_EQ(store.writes.size(), 2u);
}

}  // namespace
}  // namespace rotavox::testing
