// The dialog's handler, driven the way an operator drives the dialog.
#include <gtest/gtest.h>

#include "fakes.h"
#include "link/poll.h"

namespace rotavox::testing {
namespace {

using Texts = std::vector<std::string>;

TEST(StartUp, WithoutAPortAsksForOne) {
  Rig rig;
  rig.Start();  // no STAT.DAT: speech on, no port
  EXPECT_EQ(rig.log, (Log{"redraw", "say:Rotavox Controller ", "say:Please set com port",
                          "focus:201", "say:Set Com Port"}));
  EXPECT_FALSE(rig.dialog.Enabled(kGoButton));
  EXPECT_TRUE(rig.dialog.Enabled(kStartButton));
  EXPECT_EQ(rig.dialog.controls[kVoiceCheck].check, 1);
}

TEST(StartUp, WithAPortOnlyPromptsInThePortBox) {
  Rig rig;
  rig.StartWithFile("\"7\",1\r\n");
  EXPECT_EQ(rig.Said(), (Texts{"Rotavox Controller ", "Set Com Port"}));
  EXPECT_EQ(rig.state.PortText, "7");
}

TEST(StartUp, SilentWithSpeechOff) {
  Rig rig;
  rig.StartWithFile("\"\",0\r\n");
  EXPECT_TRUE(rig.Said().empty());
  EXPECT_EQ(rig.dialog.focus, kPortBox);
  EXPECT_EQ(rig.dialog.controls[kVoiceCheck].check, 0);
}

struct HandlerTest : ::testing::Test {
  Rig rig;
  void SetUp() override {
    rig.StartWithFile("\"3\",1\r\n");
    rig.ClearLog();
  }
};

TEST_F(HandlerTest, TypingIsEchoed) {
  rig.dialog.Type(kPortBox, "12");
  rig.dialog.SetFocus(kGoToBox);
  rig.dialog.Type(kGoToBox, "27");
  rig.dialog.Erase(kGoToBox);
  // The port box is spoken whole, the bearing box spelled.
  EXPECT_EQ(rig.Said(), (Texts{"31", "312", "", "Enter Bearing", "2 ", "2 7 ", "2 "}));

  // A screen reader says the prompts, the echoes and the voice switch.
  rig.ClearLog();
  rig.state.ScreenReader = true;
  rig.dialog.SetFocus(kPortBox);
  rig.dialog.Type(kPortBox, "4");
  rig.dialog.SetFocus(kBearingBox);
  rig.dialog.SetFocus(kGoToBox);
  rig.dialog.Type(kGoToBox, "90");
  rig.dialog.Click(kVoiceCheck);
  rig.dialog.Click(kVoiceCheck);
  rig.dialog.PressEnter();
  EXPECT_EQ(rig.Said(), Texts{});
  EXPECT_EQ(rig.dialog.Text(kGoToBox), "90");
  EXPECT_EQ(rig.state.VoiceOn, 1);
}

TEST_F(HandlerTest, FocusPrompts) {
  rig.dialog.SetFocus(kBearingBox);
  rig.dialog.SetFocus(kPortBox);
  rig.dialog.SetFocus(kPortBox);  // no change of focus, no prompt
  EXPECT_EQ(rig.Said(), (Texts{"Bearing is ZERO", "Set Com Port"}));
}

TEST_F(HandlerTest, StartOpensTheLink) {
  rig.StartLink();
  EXPECT_EQ(rig.log, (Log{"focus:501", "open:COM3", "send:<STX>AM<CR>", "send:<STX>AL<CR>",
                          "say:Started"}));
  EXPECT_FALSE(rig.dialog.Enabled(kStartButton));
  EXPECT_FALSE(rig.dialog.Enabled(kPortBox));
  EXPECT_TRUE(rig.dialog.Enabled(kGoButton));
  EXPECT_EQ(rig.dialog.timers, (std::map<unsigned, unsigned>{{100, 80}}));
  EXPECT_EQ(rig.state.PollTimerId, 100u);
  EXPECT_EQ(rig.state.ReplyPending, 1);
}

TEST_F(HandlerTest, StartUsesThePortTextAsTyped) {
  rig.dialog.controls[kPortBox].text = " 12";
  rig.StartLink();
  EXPECT_EQ(rig.port.name, "COM 12");
  EXPECT_EQ(rig.state.PortText, " 12");
}

TEST_F(HandlerTest, StartOnAPortThatWillNotOpenSaysStartedThenAlarms) {
  rig.port.refuseOpen = true;
  rig.StartLink();
  EXPECT_TRUE(rig.Sent().empty());
  EXPECT_EQ(rig.Said(), Texts{"Started"});
  rig.Ticks(51);
  EXPECT_EQ(rig.Said(), (Texts{"Started", "No response from the C BOX"}));
}

TEST(Start, WithAnEmptyPortOnlyPromptsOrShowsABox) {
  for (const std::int32_t voice : {1, 0}) {
    SCOPED_TRACE(voice);
    Rig rig;
    rig.StartWithFile("\"\"," + std::to_string(voice) + "\r\n");
    rig.ClearLog();
    rig.StartLink();  // the click takes the focus from the port box
    if (voice) {
      EXPECT_EQ(rig.log, (Log{"focus:501", "focus:201", "say:Set Com Port"}));
    } else {
      EXPECT_EQ(rig.log, (Log{"focus:501", "focus:201", "box:Com Port not set|Start error"}));
    }
    EXPECT_TRUE(rig.dialog.Enabled(kStartButton));
    EXPECT_FALSE(rig.dialog.TimerRunning());
    EXPECT_TRUE(rig.port.name.empty());
  }
}

// GO sends the typed text exactly as typed, unless it is empty, its value
// equals the current bearing, or it holds a control byte; then the box is
// cleared (and its empty echo spoken) and nothing is sent.
TEST_F(HandlerTest, GoSendsTheTypedTextOrClearsTheBox) {
  const struct {
    const char* typed;
    std::int32_t current;
    const char* sent;  // empty: nothing sent, box cleared
  } cases[] = {
      {"90", 0, "<STX>AG90<CR>"},   {"045", 0, "<STX>AG045<CR>"},
      {"400", 0, "<STX>AG400<CR>"}, {"abc", 45, "<STX>AGabc<CR>"},
      {"90.4", 90, "<STX>AG90.4<CR>"}, {" 90", 45, "<STX>AG 90<CR>"},
      {"090", 90, ""},              {"abc", 0, ""},
      {"", 10, ""},                 {"9\r", 0, ""},
      {"\x02" "AG1", 0, ""},        {"90E0", 90, ""},
      {"ABCDEFGHIJKLMNOPQRST", 45, "<STX>AGABCDEFGHIJKLMNOPQRST<CR>"},
      {"ABCDEFGHIJKLMNOPQRSTU", 45, ""},  // longer than any parameter
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Visible(c.typed));
    Rig r;
    r.StartWithFile("\"3\",1\r\n");
    r.StartLink();
    r.state.CurrentBearing = c.current;
    r.dialog.controls[kGoToBox].text = c.typed;
    r.ClearLog();
    r.dialog.Click(kGoButton);
    if (*c.sent) {
      EXPECT_EQ(r.Sent(), Texts{c.sent});
      EXPECT_EQ(r.dialog.Text(kGoToBox), c.typed);
    } else {
      EXPECT_TRUE(r.Sent().empty());
      EXPECT_EQ(r.dialog.Text(kGoToBox), "");
      EXPECT_EQ(r.Said(), Texts{""});
    }
  }
}

TEST_F(HandlerTest, GoWorksBeforeStartButReachesNoLine) {
  rig.dialog.SetFocus(kGoToBox);
  rig.dialog.Type(kGoToBox, "90");
  rig.dialog.PressEnter();
  EXPECT_TRUE(rig.Sent().empty());
  EXPECT_EQ(rig.dialog.Text(kGoToBox), "90");
}

TEST_F(HandlerTest, EnterActsAsGoOncePerVisitToTheBearingBox) {
  rig.StartLink();
  rig.dialog.SetFocus(kGoToBox);
  rig.dialog.Type(kGoToBox, "90");
  rig.dialog.PressEnter();
  rig.dialog.PressEnter();
  EXPECT_EQ(rig.Sent().size(), 3u);  // AM, AL and one GO
  rig.dialog.SetFocus(kPortBox);
  rig.dialog.PressEnter();  // Enter in the port box does nothing
  EXPECT_EQ(rig.Sent().size(), 3u);
}

TEST_F(HandlerTest, EnterStillGoesAfterAClickOnTheVoiceSwitch) {
  rig.StartLink();
  rig.dialog.SetFocus(kGoToBox);
  rig.dialog.Type(kGoToBox, "90");
  rig.dialog.Click(kVoiceCheck);  // not an edit box: Enter keeps its meaning
  rig.dialog.PressEnter();
  EXPECT_EQ(rig.Sent().back(), "<STX>AG90<CR>");
}

TEST_F(HandlerTest, GoFromEnterRunsAfterTheCurrentMessage) {
  rig.StartLink();
  rig.dialog.SetFocus(kGoToBox);
  rig.dialog.Type(kGoToBox, "90");
  rig.dialog.Command(kIdOk, kBnClicked);
  EXPECT_EQ(rig.Sent().size(), 2u);
  EXPECT_EQ(rig.dialog.posted.size(), 1u);
  rig.dialog.Pump();
  EXPECT_EQ(rig.Sent().size(), 3u);
}

TEST_F(HandlerTest, VoiceSwitch) {
  rig.dialog.Click(kVoiceCheck);
  EXPECT_EQ(rig.state.VoiceOn, 0);
  rig.dialog.SetFocus(kPortBox);  // silent now
  rig.dialog.Click(kVoiceCheck);
  EXPECT_EQ(rig.state.VoiceOn, 1);
  EXPECT_EQ(rig.Said(), (Texts{"Voice Off.", "Voice On."}));
}

TEST_F(HandlerTest, AltBSpeaksTheBearingBoxWithoutMovingTheFocus) {
  rig.dialog.PressAltB();
  rig.StartLink();
  rig.port.Arrive("\x02" "A,?,45,R\r");
  rig.dialog.Tick();
  rig.dialog.SetFocus(kGoToBox);
  rig.ClearLog();
  rig.dialog.PressAltB();
  EXPECT_EQ(rig.log, Log{"say:On bearing 045"});
  EXPECT_EQ(rig.dialog.focus, kGoToBox);
}

TEST_F(HandlerTest, AltBBeforeAnyReportSpeaksOnlyTheLeadIn) {
  rig.dialog.PressAltB();
  EXPECT_EQ(rig.Said(), Texts{"On bearing "});
}

TEST_F(HandlerTest, UnknownCommandsAndEscapeChangeNothing) {
  const ProgramState before = rig.state;
  rig.dialog.PressEscape();
  rig.dialog.Command(999, kBnClicked);
  rig.dialog.Command(kPortBox, kBnClicked);
  rig.dialog.Command(kBearingBox, kEnChange);
  rig.dialog.handler(kWmClose, 0, 0);
  rig.dialog.handler(kWmSize, 0, 0);
  EXPECT_TRUE(rig.log.empty());
  EXPECT_EQ(rig.state.GoOnEnter, before.GoOnEnter);
  EXPECT_FALSE(rig.dialog.ended);
}

TEST_F(HandlerTest, ExitEndsTheDialog) {
  rig.dialog.Click(kExitButton);
  EXPECT_TRUE(rig.dialog.ended);
}

TEST_F(HandlerTest, ReturnsZeroForEveryMessage) {
  const struct {
    unsigned message;
    std::uintptr_t wParam;
  } cases[] = {
      {kWmCommand, MakeCommand(kGoToBox, kEnSetFocus)}, {kWmCommand, MakeCommand(kPortBox, kEnChange)},
      {kWmCommand, MakeCommand(kBearingHotkey, 1)},     {kWmCommand, MakeCommand(kIdCancel, 0)},
      {kWmTimer, 100},                                  {kWmSize, 0},
      {kWmClose, 0},                                    {0x0112, 0xF060},  // SC_CLOSE
  };
  for (const auto& c : cases) {
    EXPECT_EQ(HandleDialogMessage(rig.context, c.message, c.wParam, 0), 0);
  }
}

// The road of one GO: from the stop report that follows START to the
// arrival, with the prompts, echoes, beeps and announcement on the way.
TEST(Session, OneGoFromStartToArrival) {
  Rig rig;
  rig.StartWithFile("\"3\",1\r\n");
  rig.StartLink();
  rig.port.Arrive("\x02" "A,M,R\r\x02" "A,L,10,0,0\r");
  rig.dialog.Tick();
  rig.dialog.Type(kGoToBox, "90");
  rig.dialog.PressEnter();
  for (const char* report : {"A,?,12,B", "A,?,30,B", "A,?,33,B", "A,?,60,B", "A,?,89,B"}) {
    rig.port.Arrive(std::string("\x02") + report + "\r");
    rig.dialog.Tick();
  }
  rig.port.Arrive("\x02" "A,?,90,R\r");
  rig.dialog.Tick();

  EXPECT_EQ(rig.Said(), (Texts{"Rotavox Controller ", "Set Com Port", "Started",
                               "On Bearing 0 1 0 ", "", "Enter Bearing", "9 ", "9 0 ",
                               "On bearing 0 9 0 ", "", "Enter Bearing"}));
  EXPECT_EQ(rig.Sent(), (Texts{"<STX>AM<CR>", "<STX>AL<CR>", "<STX>AG90<CR>"}));
  EXPECT_EQ(rig.Beeps(), 3);  // at 30, 60 and 89
  EXPECT_EQ(rig.dialog.Text(kStatusLabel), "North Stop");
  EXPECT_EQ(rig.dialog.Text(kBearingBox), "090");
  EXPECT_EQ(rig.dialog.Text(kGoToBox), "");
  EXPECT_EQ(rig.state.GoOnEnter, 1);
}

// Beyond the key table: a preset's name from the file is said; a recall
// leaves the GoTo box alone; a store that cannot be written says so and
// changes nothing; after the alarm the keys do nothing.
TEST(Session, PresetsFromTheFileAndTheirFaults) {
  Rig rig;
  rig.StartWithFile("\"3\",1\r\n");
  rig.presetsFile.stored = {StoredSettings::Kind::kRead, "4,180,South\r\n5,\"ABCDEFGHIJKLMNOPQRSTU\"\r\n"};
  rig.presets.Load();
  rig.StartLink();
  rig.port.Arrive("\x02" "A,L,45,0,0\r\x02" "A,?,50,B\r");
  rig.dialog.Tick();
  rig.dialog.controls[kGoToBox].text = "7";
  rig.ClearLog();
  for (const int key : {kPresetRecall + 4, kPresetStore + 1, kPresetRecall + 5}) {
    rig.dialog.Command(key, kAcceleratorCode);
    rig.clock.Advance(std::chrono::seconds(1));
  }
  EXPECT_EQ(rig.Said(), (Texts{"Preset 4 South", "Preset 1 set to 0 0 7 ", "Preset 5 empty: too long"}));
  EXPECT_EQ(rig.Sent(), Texts{"<STX>AG180<CR>"});
  EXPECT_EQ(rig.dialog.Text(kGoToBox), "7");
  EXPECT_EQ(rig.presetsFile.writes.back(), "1,\"7\"\r\n4,180,South\r\n5,\"ABCDEFGHIJKLMNOPQRSTU\"\r\n");
  rig.presetsFile.writable = false;
  rig.dialog.controls[kGoToBox].text = "8";
  rig.ClearLog();
  rig.dialog.Command(kPresetStore + 1, kAcceleratorCode);
  EXPECT_EQ(rig.Said(), Texts{"Preset 1 not saved: PRESETS.TXT cannot be written"});
  rig.dialog.controls[kGoToBox].text = "8\r\x02";
  rig.ClearLog();
  rig.clock.Advance(std::chrono::seconds(1));
  rig.dialog.Command(kPresetStore + 1, kAcceleratorCode);
  EXPECT_EQ(rig.Said(), Texts{"Preset 1 not saved: bad character"});
  // A file longer than is read would lose its end.
  rig.presetsFile.writable = true;
  rig.presetsFile.stored.cut = true;
  rig.dialog.controls[kGoToBox].text = "8";
  rig.ClearLog();
  rig.clock.Advance(std::chrono::seconds(1));
  rig.dialog.Command(kPresetStore + 1, kAcceleratorCode);
  EXPECT_EQ(rig.Said(), Texts{"Preset 1 not saved: PRESETS.TXT cannot be written"});
  EXPECT_EQ(rig.presetsFile.writes.size(), 1u);
  EXPECT_EQ(rig.presets.At(1).target, "7");
  // After the alarm: nothing, though the antenna was turning.
  rig.state.SilentTicks = kAlarmRaised;
  rig.ClearLog();
  rig.dialog.Command(kStopHotkey, kAcceleratorCode);
  rig.dialog.Command(kPresetRecall + 4, kAcceleratorCode);
  EXPECT_EQ(rig.log, Log{});
}

// Escape stops a turn from the moment its frame went out, once; preset
// keys that come faster than their words collapse into the last of them.
// Times are replayed: 40 ms between the keys of a storm, 80 ms a tick.
TEST(Session, EscapeAtOnceAndKeyStormsCollapse) {
  Rig rig;
  rig.StartWithFile("\"3\",1\r\n");
  rig.presetsFile.stored = {StoredSettings::Kind::kRead, "1,90\r\n2,180\r\n"};
  rig.presets.Load();
  rig.StartLink();
  rig.port.Arrive("\x02" "A,L,20,0,0\r");
  rig.dialog.Tick();
  const auto storm = [&rig](std::initializer_list<int> keys, int times) {
    for (int i = 0; i < times; ++i) {
      for (const int key : keys) {
        rig.dialog.Command(key, kAcceleratorCode);
        rig.clock.Advance(std::chrono::milliseconds(40));
      }
    }
    for (int i = 0; i < 5; ++i) {
      rig.clock.Advance(std::chrono::milliseconds(80));
      rig.dialog.Tick();
    }
  };
  const struct {
    int msAfterGo;
    std::vector<std::string> sent;
  } escapes[] = {{30, {"<STX>AG200<CR>", "<STX>AG20<CR>"}},
                 {200, {"<STX>AG200<CR>", "<STX>AG20<CR>"}},
                 {1500, {"<STX>AG200<CR>"}}};  // the box never said busy: no turn
  for (const auto& e : escapes) {
    SCOPED_TRACE(e.msAfterGo);
    rig.dialog.controls[kGoToBox].text = "200";
    rig.ClearLog();
    rig.dialog.Click(kGoButton);
    rig.clock.Advance(std::chrono::milliseconds(e.msAfterGo));
    storm({kStopHotkey}, 200);
    EXPECT_EQ(rig.Sent(), e.sent);
  }
  // Busy: one stop for the turn; its arrival ends the turn.
  rig.port.Arrive("\x02" "A,?,25,B\r");
  rig.dialog.Tick();
  rig.ClearLog();
  storm({kStopHotkey}, 200);
  rig.port.Arrive("\x02" "A,?,25,R\r");
  rig.dialog.Tick();
  storm({kStopHotkey}, 200);
  EXPECT_EQ(rig.Sent(), Texts{"<STX>AG25<CR>"});

  rig.ClearLog();
  storm({kPresetRecall + 1, kPresetRecall + 2}, 50);
  EXPECT_EQ(rig.Said(), (Texts{"Preset 1 0 9 0 ", "Preset 2 1 8 0 "}));
  EXPECT_EQ(rig.Sent(), (Texts{"<STX>AG90<CR>", "<STX>AG180<CR>"}));
  rig.dialog.controls[kGoToBox].text = "7";
  rig.ClearLog();
  storm({kPresetStore + 3}, 100);
  EXPECT_EQ(rig.presetsFile.writes.size(), 2u);
  EXPECT_EQ(rig.Said(), (Texts{"Preset 3 set to 0 0 7 ", "Preset 3 set to 0 0 7 "}));
}

}  // namespace
}  // namespace rotavox::testing
