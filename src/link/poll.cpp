// The poll tick (see poll.h).
#include "link/poll.h"

#include <string>
#include <variant>

#include "common/context.h"
#include "common/state.h"
#include "display/compass.h"
#include "link/protocol.h"
#include "link/serial_port.h"
#include "link/step_inputs.h"
#include "speech/bearing_words.h"
#include "speech/speak.h"
#include "ui/desktop.h"
#include "ui/dialog.h"
#include "ui/messages.h"

namespace rotavox {
namespace {

enum class LineOutcome { kGoOn, kEndTick };

// After an arrival or the stop report the GoTo box asks for the next
// bearing: the focus comes to it anew, which clears it and makes Enter GO
// again. Beside a screen reader a box that has the focus keeps it and is
// only cleared: taking the focus away and back would make the screen reader
// read both controls once more.
void BackToGoToBox(Context& context) {
  if (context.state.ScreenReader && context.dialog.Focused() == kGoToBox) {
    context.dialog.SetText(kGoToBox, "");
    context.state.GoOnEnter = 1;
  } else {
    context.dialog.SetFocus(kGoToBox);
  }
}

void RaiseNoResponseAlarm(Context& context) {
  ProgramState& s = context.state;
  s.SilentTicks = kAlarmRaised;
  if (s.VoiceOn != 0) Speak(context, kNoResponseSpoken);
  // Also when speaking it just failed and switched speech off: the alarm
  // must reach the operator one way or the other.
  if (s.VoiceOn == 0) context.desktop.MessageBox(kNoResponseText, kNoResponseCaption);
  context.dialog.KillTimer(s.PollTimerId);
  context.port.Close();
  context.dialog.Enable(kStartButton, true);
}

LineOutcome OnPositionReport(Context& context, const PositionReport& report) {
  ProgramState& s = context.state;
  s.RotatorState = report.ready ? "READY" : "BUSY";
  s.CurrentBearing = report.bearing;
  s.BearingReported = true;
  ShowBearing(context);
  if (s.Turning == 1 && report.ready) {
    // Arrival: the box is ready after at least one busy report, whatever
    // the bearing. The focus leaves GoToBox and comes back, so that it
    // clears and asks for the next bearing.
    s.Turning = 0;
    s.StopSent = false;
    if (!s.ScreenReader) context.dialog.SetFocus(kGoButton);
    Speak(context, "On bearing " + BearingWords(s.CurrentBearing));
    BackToGoToBox(context);
    s.CueBearing = s.CurrentBearing;
    return LineOutcome::kEndTick;
  }
  if (!report.ready) {
    s.Turning = 1;
    // Plain difference, no wrap at north: 358 to 1 is a move of 357.
    const std::int64_t moved = std::int64_t{s.CurrentBearing} - s.CueBearing;
    if (moved > kBeepStepDegrees || moved < -kBeepStepDegrees) {
      context.desktop.Beep();
      s.CueBearing = s.CurrentBearing;
    }
  }
  return LineOutcome::kGoOn;
}

void OnStopReport(Context& context, const StopReport& report) {
  ProgramState& s = context.state;
  s.CurrentBearing = report.bearing;
  s.BearingReported = true;
  s.StopBearing = report.north ? kNorthStopBearing : kSouthStopBearing;
  const char* side = report.north ? "North Stop" : "South Stop";
  context.dialog.SetText(kStatusLabel, side);
  ShowBearing(context);
  Speak(context, "On Bearing " + BearingWords(s.CurrentBearing));
  // Shown only, unless a screen reader runs: no screen reader announces a
  // change of the status line where the focus is not.
  if (s.ScreenReader) Speak(context, side);
  s.CueBearing = s.CurrentBearing;
  BackToGoToBox(context);
}

LineOutcome OnReplyLine(Context& context, const std::string& line) {
  const Reply reply = DecodeReply(line);
  if (const auto* position = std::get_if<PositionReport>(&reply)) {
    return OnPositionReport(context, *position);
  }
  if (const auto* stop = std::get_if<StopReport>(&reply)) OnStopReport(context, *stop);
  return LineOutcome::kGoOn;
}

// Fine stepping: while a step input is held, each silent tick sends the
// antenna 2 degrees further, short of the stop; when it is let go, the
// bearing is announced once.
void StepWhileHeld(Context& context) {
  ProgramState& s = context.state;
  const bool up = context.steps.Clockwise() < 0;
  const bool down = context.steps.Anticlockwise() < 0;
  if (up && down) return;
  // Distance from the stop, clockwise, in 64 bits.
  const auto fromStop = [&s] {
    std::int64_t d = std::int64_t{s.CurrentBearing} - s.StopBearing;
    if (d < 0) d += 360;
    return d;
  };
  if (up) {
    if (fromStop() < 356) {
      std::int64_t target = std::int64_t{s.CurrentBearing} + kFineStepDegrees;
      if (target > 360) target -= 360;
      context.port.Send(GoToFrame(std::to_string(target)));
      s.LastAimTime = Now(context);
    }
    s.StepUpPending = 1;
  }
  if (!up && s.StepUpPending == 1) {
    Speak(context, "On Bearing " + BearingWords(s.CurrentBearing));
    s.StepUpPending = 0;
  }
  if (down) {
    if (fromStop() > 2) {
      std::int64_t target = std::int64_t{s.CurrentBearing} - kFineStepDegrees;
      if (target < 0) target += 360;
      context.port.Send(GoToFrame(std::to_string(target)));
      s.LastAimTime = Now(context);
    }
    s.StepDownPending = 1;
  }
  if (!down && s.StepDownPending == 1) {
    Speak(context, "On Bearing " + BearingWords(s.CurrentBearing));
    s.StepDownPending = 0;
  }
}

}  // namespace

void PollLink(Context& context) {
  ProgramState& s = context.state;
  const WaitingBytes waiting = context.port.BytesWaiting();

  if (waiting.failed && s.SilentTicks != kAlarmRaised) {
    // The device is gone: silence would never be noticed once the link is
    // up, so tell the operator now.
    RaiseNoResponseAlarm(context);
    return;
  }

  if (!waiting.failed && waiting.count > 0) {
    s.SilentTicks = 0;
    AppendReceived(s.RxText, context.port.Receive(waiting.count));
    // Taken one line at a time from the shared text: a message box or a
    // voice may run further ticks before a line's handling returns.
    while (!s.RxText.empty()) {
      const std::optional<std::string> line = TakeReplyLine(s.RxText);
      if (!line) return;
      if (s.ReplyPending > 0) --s.ReplyPending;
      if (OnReplyLine(context, *line) == LineOutcome::kEndTick) return;
    }
    return;
  }

  if (s.ReplyPending != 0 && s.SilentTicks == kSilentTicksLimit) {
    RaiseNoResponseAlarm(context);
    return;
  }
  if (s.SilentTicks < kSilentTicksLimit) ++s.SilentTicks;
  StepWhileHeld(context);
}

}  // namespace rotavox
