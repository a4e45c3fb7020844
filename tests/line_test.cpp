// What reaches the line: frames whole or not at all, and one remote aim per
// poll tick however many come.
#include <gtest/gtest.h>

#include "fakes.h"
#include "link/frame_gate.h"
#include "link/remote_aims.h"

namespace rotavox::testing {
namespace {

using namespace std::chrono_literals;

// Each step offers a frame (or, with an empty frame, lets a tick look at
// the line) to a driver that takes at most `room` bytes.
struct GateStep {
  std::chrono::milliseconds at;
  const char* frame;  // "" for a tick
  std::size_t queued;
  std::size_t room;
  FrameGate::Outcome outcome;  // for a frame
  bool stalled;
};

TEST(FrameGate, PutsFramesOnTheLineWholeOrNotAtAll) {
  using O = FrameGate::Outcome;
  const struct {
    const char* name;
    std::vector<GateStep> steps;
    std::string line;
  } cases[] = {
      {"room for all", {{0ms, "AG200.", 0, 99, O::kSent, false}, {80ms, "AG20.", 0, 99, O::kSent, false}},
       "AG200.AG20."},
      {"a full driver queue drops the frame whole",
       {{0ms, "AG200.", kMaxQueuedBytes - 5, 99, O::kDropped, false},
        {80ms, "AG20.", kMaxQueuedBytes - 5, 99, O::kSent, false}},
       "AG20."},
      {"a cut frame's tail goes before the next frame, which waits its turn",
       {{0ms, "AG200.", 0, 3, O::kPartly, false},
        {80ms, "AG20.", 0, 0, O::kDropped, false},
        {160ms, "", 0, 99, O::kSent, false},
        {240ms, "AG20.", 0, 99, O::kSent, false}},
       "AG200.AG20."},
      {"a line that takes nothing for a second is stalled",
       {{0ms, "AG200.", 0, 2, O::kPartly, false},
        {500ms, "", 0, 0, O::kSent, false},
        {999ms, "AG1.", 0, 0, O::kDropped, false},
        {1000ms, "", 0, 0, O::kSent, true}},
       "AG"},
      {"a queue that never empties is stalled too, one that empties is not",
       {{0ms, "AG1.", 500, 99, O::kDropped, false},
        {900ms, "", 500, 99, O::kSent, false},
        {950ms, "", 0, 99, O::kSent, false},
        {2000ms, "", 0, 99, O::kSent, false}},
       ""},
      {"a queue stuck short of room for the dropped frame is stalled",
       {{0ms, "AG123.", kMaxQueuedBytes - 5, 99, O::kDropped, false},
        {500ms, "", kMaxQueuedBytes - 5, 99, O::kSent, false},
        {1000ms, "", kMaxQueuedBytes - 5, 99, O::kSent, true}},
       ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FrameGate gate;
    std::string line;
    std::size_t room = 0;
    const FrameGate::Write write = [&](std::string_view bytes) -> std::optional<std::size_t> {
      const std::size_t taken = std::min(room, bytes.size());
      line.append(bytes.substr(0, taken));
      room -= taken;
      return taken;
    };
    const FrameGate::Clock::time_point start{};
    for (const GateStep& step : c.steps) {
      room = step.room;
      const auto now = start + step.at;
      if (*step.frame != '\0') {
        EXPECT_EQ(gate.Send(step.frame, step.queued, now, write), step.outcome) << step.frame;
      } else {
        gate.Flush(write);
        gate.Observe(step.queued);
      }
      EXPECT_EQ(gate.Stalled(now), step.stalled) << step.at.count();
    }
    EXPECT_EQ(line, c.line);
  }
}

TEST(FrameGate, AFailedWriteIsReported) {
  FrameGate gate;
  const auto fail = [](std::string_view) -> std::optional<std::size_t> { return std::nullopt; };
  EXPECT_EQ(gate.Send("AG1.", 0, {}, fail), FrameGate::Outcome::kFailed);
  EXPECT_EQ(WireTime(8), 8333us);
}

// A flood of aims from station programs between two ticks sends one frame,
// the newest; an aim that came while the link was down is dropped at START.
TEST(RemoteAims, OneFramePerTickTheNewestAndNoneFromBeforeStart) {
  Rig rig;
  RemoteAims aims;
  rig.context.remoteAims = &aims;
  rig.StartWithFile("\"3\",1\r\n");
  aims.Put({RemoteAim::Kind::kTurn, 45});  // before START
  rig.StartLink();
  rig.port.Arrive("\x02" "A,L,33,0,0\r");
  rig.dialog.Tick();
  rig.ClearLog();
  for (int azimuth = 100; azimuth < 40'100; ++azimuth) aims.Put({RemoteAim::Kind::kTurn, azimuth % 360});
  aims.Put({RemoteAim::Kind::kTurn, 270});
  rig.Ticks(3);
  aims.Put({RemoteAim::Kind::kTurn, 90});
  aims.Put({RemoteAim::Kind::kStop, 0});
  rig.dialog.Tick();
  EXPECT_EQ(rig.Sent(), (std::vector<std::string>{"<STX>AG270<CR>", "<STX>AG33<CR>"}));
  EXPECT_EQ(aims.Replaced(), 40'001u);
}

// A station program's stop acts only while the antenna turns (the box says
// so, or a remote turn went out within a second), and never undoes the
// operator's GO (given in the dialog at -1) within its first second.
TEST(RemoteAims, AStopActsOnlyOnATurnAndNeverUndoesTheOperatorsGo) {
  const struct { const char* report; int msSinceGo, msSinceRemoteTurn; bool sent; } cases[] = {
      {"R", 5000, 5000, false}, {"B", 5000, 5000, true}, {"B", -1, 5000, false},
      {"B", 1000, 5000, true},  {"R", 5000, 900, true},  {"R", 5000, 1000, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.report << ' ' << c.msSinceGo << ' ' << c.msSinceRemoteTurn);
    Rig rig;
    rig.StartWithFile("\"3\",1\r\n");
    rig.StartLink();
    rig.port.Arrive(std::string("\x02" "A,?,33,") + c.report + "\r");
    rig.dialog.Tick();
    const auto now = rig.clock.Now();
    rig.state.OperatorGoTime = now - std::chrono::milliseconds(c.msSinceGo < 0 ? 5000 : c.msSinceGo);
    rig.state.RemoteTurnTime = now - std::chrono::milliseconds(c.msSinceRemoteTurn);
    rig.dialog.controls[kGoToBox].text = "90";
    if (c.msSinceGo < 0) rig.dialog.Click(kGoButton);
    rig.ClearLog();
    RemoteAimAt(rig.context, {RemoteAim::Kind::kStop, 0});
    EXPECT_EQ(rig.Sent(), std::vector<std::string>(c.sent, "<STX>AG33<CR>"));
  }
}

}  // namespace
}  // namespace rotavox::testing
