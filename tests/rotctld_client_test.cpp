// Any rotator through rotctld: Rotavox as the daemon's client, answered by
// a daemon played in memory.
#include <gtest/gtest.h>

#include <algorithm>

#include "fakes.h"
#include "link/poll.h"

namespace rotavox::testing {
namespace {

using namespace std::chrono_literals;

// Hamlib 4.5.4's rotctld -m 1 answers \dump_state so.
const std::string kHamlibRange =
    "1\n1\nmin_az=-180.000000\nmax_az=450.000000\nmin_el=0.000000\nmax_el=90.000000\nsouth_zero=0\n"
    "rot_type=AzEl\ndone\n";

// The daemon's answer, then one tick.
void Answer(Rig& rig, const std::string& bytes) {
  rig.network.waiting += bytes;
  rig.dialog.Tick();
}

// START on rotctld://box (port 4533), the daemon answering \dump_state
// with `range` and the first "p" with `position`; the log then cleared.
void Link(Rig& rig, const std::string& range = kHamlibRange, const std::string& position = "0.00\n0.00\n") {
  rig.StartWithFile("\"rotctld://box\",1\r\n");
  rig.network.connected = true;
  rig.StartLink();
  Answer(rig, range);
  Answer(rig, position);
  rig.ClearLog();
}

std::string LastSent(const Rig& rig) { return rig.Sent().empty() ? "" : rig.Sent().back(); }
std::string LastSaid(const Rig& rig) { return rig.Said().empty() ? "" : rig.Said().back(); }

void Go(Rig& rig, const std::string& typed) {
  rig.dialog.controls[kGoToBox].text = typed;
  rig.dialog.Click(kGoButton);
}

// The range from \dump_state, in both forms Hamlib has had, and the whole
// circle when neither reads; the first position is the start, spoken with
// the range in the status line.
TEST(RotctldRotator, ReadsTheRangeInEitherFormAndStartsWithTheFirstPosition) {
  const struct {
    const char* name;
    std::vector<std::string> pieces;  // the answer, as it arrives
    const char* status;
  } cases[] = {
      {"version 1, Hamlib 4.5", {kHamlibRange}, "rotctld -180 to 450"},
      {"version 1 cut across reads", {kHamlibRange.substr(0, 5), kHamlibRange.substr(5, 30), kHamlibRange.substr(35)},
       "rotctld -180 to 450"},
      {"version 0, six numbers", {"0\n1\n-180.000000\n540.000000\n0.000000\n90.000000\n"}, "rotctld -180 to 540"},
      {"another Rotavox", {"1\n0\nmin_az=0.000000\nmax_az=360.000000\nmin_el=0.000000\nmax_el=90.000000\n"
                           "south_zero=0\nrot_type=Az\ndone\n"}, "rotctld 0 to 360"},
      {"an error", {"RPRT -11\n"}, "rotctld 0 to 360"},
      {"no form known", {"hello\n"}, "rotctld 0 to 360"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Rig r;
    r.StartWithFile("\"rotctld://box\",1\r\n");
    r.network.connected = true;
    r.StartLink();
    EXPECT_EQ(r.Entries("open"), std::vector<std::string>{"net:box:4533"});
    EXPECT_EQ(r.Sent(), std::vector<std::string>{"\\dump_state\n"});
    for (const std::string& piece : c.pieces) Answer(r, piece);
    EXPECT_EQ(LastSent(r), "p\n");
    r.ClearLog();
    Answer(r, "7.20\n0.00\n");
    EXPECT_EQ(r.dialog.Text(kStatusLabel), c.status);
    EXPECT_EQ(r.Said(), (std::vector<std::string>{"On Bearing 0 0 7 ", "", "Enter Bearing"}));
    EXPECT_EQ(r.state.ReplyPending, 0);
  }
}

// A GO goes inside the range, nearest the antenna, with the elevation last
// reported; a number past 360 only where the range holds it; anything but
// a bearing never goes; the daemon's refusal is said with the target.
TEST(RotctldRotator, AimsInsideTheRangeNearestTheAntenna) {
  const struct {
    const char* azimuth;  // where the antenna stands, as the daemon says
    const char* typed;
    const char* sent;     // empty: nothing
    const char* answer;   // the daemon's, to a P
    const char* said;     // empty: nothing
  } cases[] = {
      {"350.00", "10", "P 370.00 5.00\n", "RPRT 0\n", ""},
      {"350.000000", "200", "P 200.00 5.00\n", "RPRT 0\n", ""},
      {"-170.00", "200", "P -160.00 5.00\n", "RPRT 0\n", ""},
      {"10.00", "360", "P 0.00 5.00\n", "RPRT 0\n", ""},
      {"300.00", "360", "P 360.00 5.00\n", "RPRT 0\n", ""},
      {"10.00", "400", "P 400.00 5.00\n", "RPRT 0\n", ""},
      {"10.00", "400", "P 400.00 5.00\n", "RPRT -1\n", "Rotator refused 4 0 0 "},
      {"10.00", "500", "", "", "Rotator refused 5 0 0 "},
      {"10.00", "abc", "", "", "Rotator needs a bearing"},
      {"10.00", "1-2", "", "", "Rotator needs a bearing"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.azimuth) + " " + c.typed + " " + c.answer);
    Rig r;
    const std::string position = std::string(c.azimuth) + "\n5.00\n";
    Link(r, kHamlibRange, position);
    Go(r, c.typed);
    Answer(r, position);  // the "p" under way first: one request at a time
    EXPECT_EQ(LastSent(r), *c.sent ? c.sent : "p\n");
    if (*c.answer) Answer(r, c.answer);
    EXPECT_EQ(LastSaid(r), c.said);
  }
}

// A turn reports busy until the azimuth is within a degree of the target
// and at its whole bearing, or has stood still for 2 s after moving; then
// its arrival is said once. Beeps follow every move of more than 4 degrees.
TEST(RotctldRotator, ATurnArrivesWithinADegreeOrStandingStill) {
  const struct {
    const char* name;
    const char* from;                   // where the antenna stands at GO 60
    std::vector<const char*> azimuths;  // one "p" answer each, 100 ms apart
    std::chrono::milliseconds still;    // then this long at the last one
    const char* arrival;                // empty: none yet
  } cases[] = {
      {"within a degree", "0.00", {"3.02", "30.00", "59.50"}, 0ms, "On bearing 0 6 0 "},
      {"six decimals", "0.000000", {"3.020000", "60.000000"}, 0ms, "On bearing 0 6 0 "},
      {"still short of it", "0.00", {"3.02", "30.00", "58.90"}, 1900ms, ""},
      {"stood still after moving", "0.00", {"3.02", "30.00", "41.00"}, 2000ms, "On bearing 0 4 1 "},
      {"within a degree but short of its bearing", "0.00", {"30.00", "59.30"}, 1900ms, ""},
      {"short of its bearing, then standing", "0.00", {"30.00", "59.30"}, 2000ms, "On bearing 0 5 9 "},
      {"there already: busy once, then arrived", "59.20", {"59.70"}, 0ms, "On bearing 0 6 0 "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Rig r;
    const std::string from = std::string(c.from) + "\n0.00\n";
    Link(r, kHamlibRange, from);
    Go(r, "60");
    Answer(r, from);
    EXPECT_EQ(LastSent(r), "P 60.00 0.00\n");
    Answer(r, "RPRT 0\n");
    for (const char* azimuth : c.azimuths) {
      r.clock.Advance(100ms);
      Answer(r, std::string(azimuth) + "\n0.00\n");
    }
    r.clock.Advance(c.still);
    Answer(r, std::string(c.azimuths.back()) + "\n0.00\n");
    Answer(r, std::string(c.azimuths.back()) + "\n0.00\n");
    const std::vector<std::string> said = r.Said();
    EXPECT_EQ(std::count(said.begin(), said.end(), std::string(c.arrival)), *c.arrival ? 1 : 0);
    EXPECT_EQ(r.state.Turning, *c.arrival ? 0 : 1);
  }
}

// A turn that no GO of ours began (another client of the daemon) is heard
// where it stands still; a wobble within a degree is no turn.
TEST(RotctldRotator, TurnsMadeElsewhereAreHeardToo) {
  Rig rig;
  Link(rig, kHamlibRange, "10.00\n0.00\n");
  for (const char* azimuth : {"10.60", "9.40", "10.00", "14.00", "20.00", "20.00"}) Answer(rig, std::string(azimuth) + "\n0.00\n");
  EXPECT_TRUE(rig.Said().empty());
  EXPECT_EQ(rig.state.Turning, 1);
  rig.clock.Advance(2000ms);
  Answer(rig, "20.00\n0.00\n");
  EXPECT_EQ(rig.Said(), (std::vector<std::string>{"On bearing 0 2 0 ", "", "Enter Bearing"}));
}

TEST(RotctldRotator, EscapeStopsAndTheStopIsSaidWhereItStands) {
  Rig rig;
  Link(rig);
  Go(rig, "200");
  Answer(rig, "0.00\n0.00\n");
  Answer(rig, "RPRT 0\n");
  Answer(rig, "6.00\n0.00\n");
  rig.dialog.Command(kStopHotkey, kAcceleratorCode);  // Escape
  Answer(rig, "7.00\n0.00\n");
  EXPECT_EQ(LastSent(rig), "S\n");
  Answer(rig, "RPRT 0\n");
  Answer(rig, "9.00\n0.00\n");
  rig.clock.Advance(2000ms);
  Answer(rig, "9.00\n0.00\n");
  Answer(rig, "9.00\n0.00\n");
  EXPECT_EQ(LastSaid(rig), "Enter Bearing");
  EXPECT_EQ(rig.Said()[rig.Said().size() - 3], "On bearing 0 0 9 ");
}

// Fine steps go 2 degrees within the range, on quiet ticks.
TEST(RotctldRotator, FineStepsStayInsideTheRange) {
  for (const auto& [azimuth, sent] : {std::pair{"10.00", "P 12.00 0.00\n"}, std::pair{"449.00", ""}}) {
    SCOPED_TRACE(azimuth);
    Rig r;
    Link(r, kHamlibRange, std::string(azimuth) + "\n0.00\n");
    r.steps.clockwise = -1;
    Answer(r, std::string(azimuth) + "\n0.00\n");  // unchanged: a quiet tick, which steps
    Answer(r, std::string(azimuth) + "\n0.00\n");  // then the step goes, after the "p"
    EXPECT_EQ(LastSent(r), *sent ? sent : "p\n");
    // Let go: the bearing is said on the next quiet tick; the steps' move
    // is no turn of its own.
    r.steps.clockwise = 0;
    r.ClearLog();
    Answer(r, *sent ? "RPRT 0\n" : std::string(azimuth) + "\n0.00\n");
    if (*sent) {
      Answer(r, "RPRT 0\n");  // the step that went while the key was still down
      for (const char* moved : {"11.00", "12.00", "12.00"}) Answer(r, std::string(moved) + "\n0.00\n");
      r.clock.Advance(2000ms);
      Answer(r, "12.00\n0.00\n");
    }
    EXPECT_EQ(r.Said(), std::vector<std::string>{*sent ? "On Bearing 0 1 0 " : "On Bearing 0 8 9 "});
  }
}

// A daemon that stops answering loses the link after 2 s; one that never
// answers, or answers only errors (another Rotavox before its box has
// answered), is the silent box of the usual alarm, with its reason.
TEST(RotctldRotator, SilenceAndErrorsRaiseTheAlarmWithTheirReason) {
  Rig rig;
  Link(rig);
  rig.dialog.Tick();  // "p" asked
  rig.clock.Advance(1900ms);
  rig.dialog.Tick();
  EXPECT_TRUE(rig.Said().empty());
  rig.clock.Advance(100ms);
  rig.dialog.Tick();
  EXPECT_EQ(rig.Said(), (std::vector<std::string>{"No response from the C BOX", "No answer from rotctld at box"}));

  for (const auto& [answer, reason] : {std::pair{"", "No answer from rotctld at ::1"},
                                       std::pair{"RPRT -6\n", "rotctld at ::1 answers RPRT -6"}}) {
    SCOPED_TRACE(reason);
    Rig r;
    r.StartWithFile("\"rotctld://[::1]:4000\",1\r\n");
    r.network.connected = true;
    r.StartLink();
    Answer(r, kHamlibRange);
    r.ClearLog();
    for (int tick = 0; tick < 51; ++tick) Answer(r, answer);
    EXPECT_EQ(r.Said(), (std::vector<std::string>{"No response from the C BOX", reason}));
    EXPECT_TRUE(r.dialog.Enabled(kPortBox));
  }
}

}  // namespace
}  // namespace rotavox::testing
