// The poll tick: following the antenna, arrival, stop reports, the
// no-response alarm and fine stepping.
#include <gtest/gtest.h>

#include "fakes.h"
#include "link/poll.h"
#include "speech/bearing_words.h"

namespace rotavox::testing {
namespace {

std::string Report(const std::string& body) { return "\x02" + body + "\r"; }

// A rig whose link has been started on COM3 with speech on; the log is
// cleared so each test sees only what follows.
struct PollTest : ::testing::Test {
  Rig rig;
  void SetUp() override { Link("\"3\",1\r\n"); }
  void Link(const std::string& statDat) {
    rig.StartWithFile(statDat);
    rig.StartLink();
    rig.ClearLog();
  }
  // One tick that receives `bytes`.
  void Receive(const std::string& bytes) {
    rig.port.Arrive(bytes);
    rig.dialog.Tick();
  }
};

// A move of more than 4 degrees since the last beep sounds one; the
// difference is plain, with no wrap at north.
TEST_F(PollTest, BeepsForMovesOfMoreThanFourDegrees) {
  const struct {
    std::int32_t cue;
    std::vector<int> busy;
    int beeps;
    std::int32_t cueAfter;
  } cases[] = {
      {10, {12, 14, 17}, 1, 17},  // 2 and 4 are not more than 4
      {358, {1}, 1, 1},           // 357, not 3
      {0, {123}, 1, 123},         // first report after start-up
      {100, {96, 104}, 0, 100},
      {100, {95, 90, 85}, 3, 85},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.cue);
    rig.ClearLog();
    rig.state.CueBearing = c.cue;
    for (int bearing : c.busy) Receive(Report("A,?," + std::to_string(bearing) + ",B"));
    EXPECT_EQ(rig.Beeps(), c.beeps);
    EXPECT_EQ(rig.state.CueBearing, c.cueAfter);
    EXPECT_TRUE(rig.Said().empty());
  }
}

TEST_F(PollTest, ReadyWithoutTurningOnlyUpdatesTheDisplay) {
  Receive(Report("A,?,123,R"));
  EXPECT_EQ(rig.state.CurrentBearing, 123);
  EXPECT_EQ(rig.dialog.Text(kBearingBox), "123");
  EXPECT_EQ(rig.state.RotatorState, "READY");
  EXPECT_TRUE(rig.Said().empty());
  EXPECT_EQ(rig.Beeps(), 0);
}

TEST_F(PollTest, ArrivalMovesTheNeedleThenAnnouncesAndAsksForTheNextBearing) {
  Receive(Report("A,?,80,B"));
  rig.ClearLog();
  Receive(Report("A,?,090,R"));
  EXPECT_EQ(rig.log, (Log{"redraw", "focus:702", "say:On bearing 0 9 0 ", "focus:701", "say:",
                          "say:Enter Bearing"}));
  EXPECT_EQ(rig.state.Turning, 0);
  EXPECT_EQ(rig.state.CueBearing, 90);
  EXPECT_EQ(rig.state.GoOnEnter, 1);
}

TEST_F(PollTest, LinesBehindAnArrivalWaitForTheNextReceivingTick) {
  Receive(Report("A,?,45,B") + Report("A,?,50,R") + Report("A,?,60,B"));
  EXPECT_EQ(rig.Said().front(), "On bearing 0 5 0 ");
  EXPECT_EQ(rig.state.CurrentBearing, 50);
  EXPECT_EQ(rig.state.RxText, Report("A,?,60,B").substr(0));
  rig.dialog.Tick();  // nothing new arrives: the line stays
  EXPECT_EQ(rig.state.CurrentBearing, 50);
  Receive("\x02");  // any new byte lets it through
  EXPECT_EQ(rig.state.CurrentBearing, 60);
  EXPECT_EQ(rig.state.Turning, 1);
}

// A long backlog arriving at once is taken whole and in order: every
// report of a 0/10 zigzag beeps, and the last one is where the needle ends.
TEST_F(PollTest, ThousandsOfReportsInOneReceptionAreAllTakenInOrder) {
  constexpr int kReports = 5000;
  std::string burst;
  for (int i = 1; i <= kReports; ++i) burst += Report(i % 2 == 1 ? "A,?,010,B" : "A,?,000,B");
  burst += Report("A,?,003,B");  // too small a move for a beep
  rig.state.CueBearing = 0;
  Receive(burst);
  EXPECT_EQ(rig.Beeps(), kReports);
  EXPECT_EQ(rig.state.CurrentBearing, 3);
  EXPECT_EQ(rig.state.CueBearing, 0);
  EXPECT_EQ(rig.state.RxText, "");
}

TEST_F(PollTest, AReplySplitAcrossTicksDecodesOnceComplete) {
  Receive("\x02" "A,?,1");
  EXPECT_EQ(rig.state.CurrentBearing, 0);
  Receive("23,R\r");
  EXPECT_EQ(rig.state.CurrentBearing, 123);
  EXPECT_EQ(rig.state.RotatorState, "READY");
}

TEST_F(PollTest, LineFeedsAfterCarriageReturnsSpoilTheFollowingReplies) {
  Receive(Report("A,?,45,B") + "\n" + Report("A,?,50,B") + "\n");
  EXPECT_EQ(rig.state.CurrentBearing, 45);  // "\nA,?,50,B" has no letter at 3
  EXPECT_EQ(rig.state.RxText, "\n");
}

TEST_F(PollTest, StopReportNamesTheStopAndSpeaksTheBearing) {
  const struct {
    const char* reply;
    const char* status;
    std::int32_t stopBearing;
    const char* box;
    const char* words;
  } cases[] = {
      {"A,L,90,0,0", "North Stop", 0, "090", "On Bearing 0 9 0 "},
      {"A,L,180,0,1", "South Stop", 182, "180", "On Bearing 1 8 0 "},
      {"A,L,90", "North Stop", 0, "090", "On Bearing 0 9 0 "},
      {"A,L, 7 ,x, 2 ", "South Stop", 182, "007", "On Bearing 0 0 7 "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reply);
    rig.dialog.SetFocus(kPortBox);
    rig.ClearLog();
    Receive(Report(c.reply));
    EXPECT_EQ(rig.dialog.Text(kStatusLabel), c.status);
    EXPECT_EQ(rig.dialog.Text(kBearingBox), c.box);
    EXPECT_EQ(rig.state.StopBearing, c.stopBearing);
    EXPECT_EQ(rig.state.CueBearing, rig.state.CurrentBearing);
    EXPECT_EQ(rig.Said(), (std::vector<std::string>{c.words, "", "Enter Bearing"}));
    EXPECT_EQ(rig.dialog.focus, kGoToBox);
  }
}

TEST_F(PollTest, SpeechOffKeepsBeepsAndFocusButSilencesAnnouncements) {
  rig.state.VoiceOn = 0;
  Receive(Report("A,L,10,0,0") + Report("A,?,20,B"));
  Receive(Report("A,?,30,R"));
  EXPECT_TRUE(rig.Said().empty());
  EXPECT_EQ(rig.Beeps(), 1);
  EXPECT_EQ(rig.dialog.focus, kGoToBox);
  EXPECT_EQ(rig.Entries("focus"), (std::vector<std::string>{"701", "702", "701"}));
}

// The C BOX stays silent after START: the 51st silent tick in a row raises
// the alarm, spoken with speech on and boxed with speech off.
TEST_F(PollTest, FiftyOneSilentTicksRaiseTheAlarm) {
  for (const std::int32_t voice : {1, 0}) {
    SCOPED_TRACE(voice);
    Rig r;
    r.StartWithFile("\"3\"," + std::to_string(voice) + "\r\n");
    r.StartLink();
    r.ClearLog();
    r.Ticks(50);
    EXPECT_TRUE(r.log.empty());
    r.Ticks(1);
    if (voice) {
      EXPECT_EQ(r.log, (Log{"say:No response from the C BOX", "close"}));
    } else {
      EXPECT_EQ(r.log, (Log{"box:No response from CBOX|Com Port Error", "close"}));
    }
    EXPECT_FALSE(r.dialog.TimerRunning());
    EXPECT_TRUE(r.dialog.Enabled(kStartButton));
    EXPECT_TRUE(r.dialog.Enabled(kGoButton));
    EXPECT_FALSE(r.dialog.Enabled(kPortBox));
    EXPECT_EQ(r.state.SilentTicks, 51);
  }
}

TEST_F(PollTest, BytesWithoutALineEndRestartTheSilenceCount) {
  rig.Ticks(29);
  Receive("\x02" "A,?");
  rig.Ticks(50);
  EXPECT_TRUE(rig.Boxes().empty() && rig.Said().empty());
  rig.Ticks(1);
  EXPECT_EQ(rig.Said(), std::vector<std::string>{"No response from the C BOX"});
}

TEST_F(PollTest, AnyCompleteLineEndsTheSilenceWatch) {
  Receive("garbage\r");
  rig.Ticks(500);
  EXPECT_TRUE(rig.log.empty());
  EXPECT_TRUE(rig.dialog.TimerRunning());
}

TEST_F(PollTest, ANewStartWatchesForSilenceAfresh) {
  rig.Ticks(51);
  rig.ClearLog();
  rig.StartLink();
  rig.Ticks(51);
  EXPECT_EQ(rig.Said(), (std::vector<std::string>{"Started", "No response from the C BOX"}));
}

TEST_F(PollTest, AlarmIsBoxedWhenItsOwnSpeechFindsNoVoice) {
  rig.voices.available = false;
  rig.Ticks(51);
  EXPECT_EQ(rig.Boxes(), (std::vector<std::string>{"Sorry no voice available|Windows Voice",
                                                   "No response from CBOX|Com Port Error"}));
  EXPECT_EQ(rig.state.VoiceOn, 0);
  EXPECT_FALSE(rig.dialog.TimerRunning());
}

TEST_F(PollTest, TicksDuringTheAlarmBoxRaiseNoSecondAlarmButStillRead) {
  rig.state.VoiceOn = 0;
  int nested = 0;
  rig.desktop.whileBoxOpen = [&] {
    rig.Ticks(5);
    Receive(Report("A,?,77,R"));
    ++nested;
  };
  rig.Ticks(51);
  EXPECT_EQ(nested, 1);
  EXPECT_EQ(rig.Boxes().size(), 1u);
  EXPECT_EQ(rig.state.CurrentBearing, 77);
  EXPECT_FALSE(rig.port.open);  // closed once the box is gone
}

TEST_F(PollTest, ADeviceThatFailsRaisesTheAlarmAtOnceEvenWhenLinked) {
  Receive(Report("A,L,10,0,0"));
  rig.ClearLog();
  rig.port.failed = true;
  rig.desktop.whileBoxOpen = [&] { rig.Ticks(3); };
  rig.dialog.Tick();
  EXPECT_EQ(rig.log, (Log{"say:No response from the C BOX", "close"}));
  EXPECT_TRUE(rig.dialog.Enabled(kStartButton));
  EXPECT_FALSE(rig.dialog.TimerRunning());
  // Back again: a new START links as before.
  rig.port.failed = false;
  rig.StartLink();
  Receive(Report("A,L,20,0,0"));
  EXPECT_EQ(rig.dialog.Text(kBearingBox), "020");
}

TEST_F(PollTest, ADeviceFailingUnderTheAlarmBoxAlarmsOnce) {
  rig.state.VoiceOn = 0;
  rig.port.failed = true;
  rig.desktop.whileBoxOpen = [&] { rig.Ticks(5); };
  rig.dialog.Tick();
  EXPECT_EQ(rig.Boxes().size(), 1u);
}

TEST_F(PollTest, RxTextAndTurningCarryOverIntoANewStart) {
  Receive(Report("A,?,40,B") + "\x02" "A,?,1");
  rig.port.failed = true;
  rig.dialog.Tick();
  rig.port.failed = false;
  rig.port.waiting.clear();
  rig.ClearLog();
  rig.StartLink();
  Receive("23,R\r");
  EXPECT_EQ(rig.state.CurrentBearing, 123);
  EXPECT_EQ(rig.Said()[1], "On bearing 1 2 3 ");  // after "Started"
}

// Fine stepping: each silent tick with one step input held sends the
// antenna 2 degrees on, short of the stop; letting go announces the bearing.
TEST_F(PollTest, FineSteppingWhileAnInputIsHeld) {
  const struct {
    const char* name;
    std::int32_t bearing;
    std::int32_t stop;
    bool clockwise;
    const char* sent;  // empty: nothing sent
  } cases[] = {
      {"cw", 100, 0, true, "<STX>AG102<CR>"},
      {"cw near the end", 354, 0, true, "<STX>AG356<CR>"},
      {"cw at the end", 356, 0, true, ""},
      {"cw through north", 359, 182, true, "<STX>AG1<CR>"},
      {"cw 360 stays", 358, 182, true, "<STX>AG360<CR>"},
      {"ccw", 100, 0, false, "<STX>AG98<CR>"},
      {"ccw at the end", 2, 0, false, ""},
      {"ccw through north", 0, 182, false, "<STX>AG358<CR>"},
      {"ccw one step from the end", 3, 0, false, "<STX>AG1<CR>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Rig r;
    r.StartWithFile("\"3\",1\r\n");
    r.StartLink();
    r.port.Arrive(Report("A,?,0,R"));
    r.dialog.Tick();
    r.state.CurrentBearing = c.bearing;
    r.state.StopBearing = c.stop;
    r.ClearLog();
    (c.clockwise ? r.steps.clockwise : r.steps.anticlockwise) = -32768;
    r.dialog.Tick();
    EXPECT_EQ(r.Sent(), std::string(c.sent).empty() ? std::vector<std::string>{}
                                                    : std::vector<std::string>{c.sent});
    EXPECT_TRUE(r.Said().empty());
    (c.clockwise ? r.steps.clockwise : r.steps.anticlockwise) = 1;  // let go
    r.Ticks(2);
    EXPECT_EQ(r.Said(), std::vector<std::string>{"On Bearing " + BearingWords(c.bearing)});
  }
}

TEST_F(PollTest, FineSteppingDoesNothingWithBothInputsOrOnReceivingTicks) {
  Receive(Report("A,?,100,R"));
  rig.ClearLog();
  rig.steps.clockwise = rig.steps.anticlockwise = -1;
  rig.Ticks(3);
  EXPECT_TRUE(rig.log.empty());
  rig.steps.anticlockwise = 0;
  Receive(Report("A,?,100,R"));  // a receiving tick does not step
  EXPECT_TRUE(rig.Sent().empty());
}

}  // namespace
}  // namespace rotavox::testing
