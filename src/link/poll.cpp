// The poll tick (see poll.h).
#include "link/poll.h"

#include <string>
#include <variant>

#include "common/context.h"
#include "common/number.h"
#include "common/state.h"
#include "display/compass.h"
#include "link/port_text.h"
#include "link/rotator.h"
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
  // Asked now: closing abandons what is under way.
  const std::string trouble = context.rotator.Trouble();
  if (s.VoiceOn != 0) Speak(context, kNoResponseSpoken);
  // Also when speaking it just failed and switched speech off: the alarm
  // must reach the operator one way or the other.
  if (s.VoiceOn == 0) context.desktop.MessageBox(kNoResponseText, kNoResponseCaption);
  if (!trouble.empty()) {
    Speak(context, trouble);
    context.dialog.SetText(kStatusLabel, trouble);
    context.desktop.Note(trouble);
  }
  context.dialog.KillTimer(s.PollTimerId);
  context.rotator.Close();
  context.dialog.Enable(kStartButton, true);
  // A mistyped address can be put right without a restart; a serial port
  // stays as START left it.
  if (NamesTheNetwork(s.PortText)) context.dialog.Enable(kPortBox, true);
}

LineOutcome OnPosition(Context& context, const RotatorPosition& report) {
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

void OnStart(Context& context, const RotatorStart& start) {
  ProgramState& s = context.state;
  s.CurrentBearing = start.bearing;
  s.BearingReported = true;
  s.StopBearing = start.stopBearing;
  context.dialog.SetText(kStatusLabel, start.status);
  ShowBearing(context);
  Speak(context, "On Bearing " + BearingWords(s.CurrentBearing));
  // Shown only, unless a screen reader runs: no screen reader announces a
  // change of the status line where the focus is not.
  if (s.ScreenReader) Speak(context, start.status);
  s.CueBearing = s.CurrentBearing;
  BackToGoToBox(context);
}

// A target as the operator hears it: a whole number digit by digit, other
// text as written.
std::string TargetWords(const std::string& target) {
  const bool digits = !target.empty() && target.find_first_not_of("0123456789") == std::string::npos;
  return digits ? BearingWords(ToInt32(NumberValue(target))) : target;
}

void OnRefusal(Context& context, const RotatorRefusal& refusal) {
  if (refusal.target.empty()) {
    Speak(context, kNeedsBearingSpoken);
  } else {
    Speak(context, std::string(kRefusedSpoken) + " " + TargetWords(refusal.target));
  }
}

LineOutcome OnEvent(Context& context, const RotatorEvent& event) {
  if (const auto* position = std::get_if<RotatorPosition>(&event)) return OnPosition(context, *position);
  if (const auto* start = std::get_if<RotatorStart>(&event)) OnStart(context, *start);
  if (const auto* refusal = std::get_if<RotatorRefusal>(&event)) OnRefusal(context, *refusal);
  return LineOutcome::kGoOn;
}

// Fine stepping: while a step input is held, each silent tick steps the
// antenna 2 degrees further (the rotator keeps short of its end stops);
// when it is let go, the bearing is announced once.
void StepWhileHeld(Context& context) {
  ProgramState& s = context.state;
  const bool up = context.steps.Clockwise() < 0;
  const bool down = context.steps.Anticlockwise() < 0;
  if (up && down) return;
  if (up) {
    if (context.rotator.Step(kFineStepDegrees)) s.LastAimTime = Now(context);
    s.StepUpPending = 1;
  }
  if (!up && s.StepUpPending == 1) {
    Speak(context, "On Bearing " + BearingWords(s.CurrentBearing));
    s.StepUpPending = 0;
  }
  if (down) {
    if (context.rotator.Step(-kFineStepDegrees)) s.LastAimTime = Now(context);
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
  const Reception reception = context.rotator.Receive();

  if (reception == Reception::kLost && s.SilentTicks != kAlarmRaised) {
    // The line is gone: silence would never be noticed once the link is
    // up, so tell the operator now.
    RaiseNoResponseAlarm(context);
    return;
  }

  if (reception == Reception::kReceived) {
    s.SilentTicks = 0;
    // Taken one at a time: a message box or a voice may run further ticks
    // before an event's handling returns.
    while (const std::optional<RotatorEvent> event = context.rotator.NextEvent()) {
      if (s.ReplyPending > 0) --s.ReplyPending;
      if (OnEvent(context, *event) == LineOutcome::kEndTick) return;
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
