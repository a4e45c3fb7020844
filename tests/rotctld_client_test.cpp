// Any rotator through rotctld: Rotavox as the daemon's client, answered by
// a daemon played in memory.
#include <gtest/gtest.h>

#include "fakes.h"
#include "link/poll.h"

namespace rotavox::testing {
namespace {

// Hamlib 4.5.4's rotctld -m 1 answers \dump_state so.
const std::string kHamlibRange =
    "1\n1\nmin_az=-180.000000\nmax_az=450.000000\nmin_el=0.000000\nmax_el=90.000000\nsouth_zero=0\n"
    "rot_type=AzEl\ndone\n";
using Said = std::vector<std::string>;
const Said kAlarm = {"No response from the C BOX"};
const Said kPrompt = {"", "Enter Bearing"};

// The daemon's answer to "p".
std::string P(const std::string& azimuth, const char* elevation = "0.00") {
  return azimuth + "\n" + elevation + "\n";
}

Said operator+(Said a, const Said& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// START on rotctld://box, where the daemon is.
void Link(Rig& r) {
  r.StartWithFile("\"rotctld://box\",1\r\n");
  r.network.connected = true;
  r.StartLink();
  EXPECT_EQ(r.Entries("open"), std::vector<std::string>{"net:box:4533"});
  EXPECT_EQ(r.Sent(), std::vector<std::string>{"\\dump_state\n"});
}

// Each step: ">TEXT" typed into the GoTo box and sent, "+MS" the clock
// moved on, "cw" and "let go" the clockwise step key, anything else the
// daemon's bytes, read on a tick of their own ("": a tick it stays silent).
void Play(Rig& r, const std::vector<std::string>& steps) {
  for (const std::string& step : steps) {
    if (step == "cw" || step == "let go") {
      r.steps.clockwise = step == "cw" ? -1 : 0;
    } else if (!step.empty() && step[0] == '>') {
      r.dialog.controls[kGoToBox].text = step.substr(1);
      r.dialog.Click(kGoButton);
    } else if (!step.empty() && step[0] == '+') {
      r.clock.Advance(std::chrono::milliseconds(std::stoi(step.substr(1))));
    } else {
      r.network.waiting += step;
      r.dialog.Tick();
    }
  }
}

// What the client sent besides "p".
std::vector<std::string> Commands(const Rig& r) {
  std::vector<std::string> out;
  for (const std::string& sent : r.Sent()) {
    if (sent != "p\n") out.push_back(sent);
  }
  return out;
}

// The range from \dump_state in both forms Hamlib has had, the whole circle
// when neither reads; the first position spoken with the range in the
// status line; a daemon that never answers, or answers nothing but errors
// (another Rotavox before its box has answered), is the usual silent box.
TEST(RotctldRotator, StartsWithTheRangeAndTheFirstPosition) {
  const struct {
    const char* name;
    std::vector<std::string> steps;
    const char* status;
    Said said;
  } cases[] = {
      {"version 1, Hamlib 4.5", {kHamlibRange, P("7.20")}, "rotctld -180 to 450", {"On Bearing 0 0 7 "}},
      {"version 1 cut across reads", {kHamlibRange.substr(0, 5), kHamlibRange.substr(5, 30), kHamlibRange.substr(35),
                                      P("7.20")}, "rotctld -180 to 450", {"On Bearing 0 0 7 "}},
      {"version 0, six numbers", {"0\n1\n-180.000000\n540.000000\n0.000000\n90.000000\n", P("-10.000000")},
       "rotctld -180 to 540", {"On Bearing 3 5 0 "}},
      {"an error", {"RPRT -11\n", P("7.20")}, "rotctld 0 to 360", {"On Bearing 0 0 7 "}},
      {"silent", std::vector<std::string>(52, ""), "No answer from rotctld at box", kAlarm},
      {"RPRT -6 and nothing else", std::vector<std::string>(52, "RPRT -6\n"), "rotctld at box answers RPRT -6",
       kAlarm},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Rig r;
    Link(r);
    r.ClearLog();
    Play(r, c.steps);
    EXPECT_EQ(r.dialog.Text(kStatusLabel), c.status);
    if (c.said == kAlarm) {
      EXPECT_EQ(r.Said(), kAlarm + Said{c.status});
    } else {
      EXPECT_EQ(r.Said(), c.said + kPrompt);
      EXPECT_EQ(r.state.ReplyPending, 0);
    }
  }
}

// After a start at `from`: a GO goes inside the range nearest the antenna,
// with the elevation last reported, a number past 360 only where the range
// holds it, no text but a bearing; the daemon's refusal is said with the
// target. A turn has arrived, said once, within a degree of the target and
// at its whole bearing, or standing still 2 s after it moved, whoever made
// it; a wobble within a degree is no turn. Steps go 2 degrees within the
// range, and their move is no turn. A daemon silent for 2 s is lost.
TEST(RotctldRotator, AimsArrivesStepsAndIsLost) {
  const struct {
    const char* name;
    const char* from;
    std::vector<std::string> steps;
    std::vector<std::string> commands;
    Said said;
  } cases[] = {
      {"past 360, nearer", "350.00", {P("350.00", "5.00"), ">10", P("350.00", "5.00")}, {"P 370.00 5.00\n"}, {}},
      {"below 0, nearer", "-170.00", {">200", P("-170.00")}, {"P -160.00 0.00\n"}, {}},
      {"360 as 0", "10.00", {">360", P("10.00")}, {"P 0.00 0.00\n"}, {}},
      {"360 as 360", "300.00", {">360", P("300.00")}, {"P 360.00 0.00\n"}, {}},
      {"past 360, refused by the daemon", "10.00", {">400", P("10.00"), "RPRT -1\n"}, {"P 400.00 0.00\n"},
       {"Rotator refused 4 0 0 "}},
      {"beyond the range", "10.00", {">500", P("10.00")}, {}, {"Rotator refused 5 0 0 "}},
      {"no bearing", "10.00", {">abc", P("10.00")}, {}, {"Rotator needs a bearing"}},
      {"within a degree", "0.00", {">60", P("0.00"), "RPRT 0\n", P("30.00"), P("59.50"), P("59.50")},
       {"P 60.00 0.00\n"}, Said{"On bearing 0 6 0 "} + kPrompt},
      {"six decimals", "0.000000", {">60", P("0.000000"), "RPRT 0\n", P("60.000000"), P("60.000000")},
       {"P 60.00 0.00\n"}, Said{"On bearing 0 6 0 "} + kPrompt},
      {"there already", "59.20", {">60", P("59.20"), "RPRT 0\n", P("59.70"), P("59.70")}, {"P 60.00 0.00\n"},
       Said{"On bearing 0 6 0 "} + kPrompt},
      {"short of it, 1.9 s still", "0.00", {">60", P("0.00"), "RPRT 0\n", P("58.90"), "+1900", P("58.90")},
       {"P 60.00 0.00\n"}, {}},
      {"a degree short of its whole bearing, 1.9 s still", "0.00",
       {">60", P("0.00"), "RPRT 0\n", P("59.30"), "+1900", P("59.30")}, {"P 60.00 0.00\n"}, {}},
      {"2 s still", "0.00", {">60", P("0.00"), "RPRT 0\n", P("41.00"), "+2000", P("41.00"), P("41.00")},
       {"P 60.00 0.00\n"}, Said{"On bearing 0 4 1 "} + kPrompt},
      {"turned elsewhere", "10.00", {P("14.00"), P("20.00"), "+2000", P("20.00"), P("20.00")}, {},
       Said{"On bearing 0 2 0 "} + kPrompt},
      {"a wobble", "10.00", {P("10.60"), P("9.40"), "+2000", P("9.40"), P("9.40")}, {}, {}},
      {"a step", "10.00", {"cw", P("10.00"), P("10.00"), "let go", "RPRT 0\n", "RPRT 0\n", P("12.00"), "+2000",
                           P("12.00"), P("12.00")}, {"P 12.00 0.00\n", "P 12.00 0.00\n"}, {"On Bearing 0 1 0 "}},
      {"no step past the range", "449.00", {"cw", P("449.00"), P("449.00"), "let go", P("449.00")}, {},
       {"On Bearing 0 8 9 "}},
      {"silent 1.9 s", "0.00", {"", "+1900", ""}, {}, {}},
      {"silent 2 s", "0.00", {"", "+2000", ""}, {}, kAlarm + Said{"No answer from rotctld at box"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Rig r;
    Link(r);
    Play(r, {kHamlibRange, P(c.from)});
    r.ClearLog();
    Play(r, c.steps);
    EXPECT_EQ(Commands(r), c.commands);
    EXPECT_EQ(r.Said(), c.said);
  }
}

}  // namespace
}  // namespace rotavox::testing
