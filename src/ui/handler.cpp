// The dialog's event handler (see handler.h).
#include "ui/handler.h"

#include <chrono>
#include <optional>
#include <string>

#include "common/context.h"
#include "common/number.h"
#include "common/state.h"
#include "display/compass.h"
#include "link/poll.h"
#include "link/remote_aims.h"
#include "link/protocol.h"
#include "link/serial_port.h"
#include "speech/bearing_words.h"
#include "speech/speak.h"
#include "ui/desktop.h"
#include "ui/dialog.h"
#include "ui/locator_aim.h"
#include "ui/messages.h"

namespace rotavox {
namespace {

void OnInitDialog(Context& context) {
  ProgramState& s = context.state;
  DrawCompass(context);
  Speak(context, s.TitleText);
  if (s.KeepSettingsFile) Speak(context, kSettingsUnreadableSpoken);
  context.dialog.Enable(kGoButton, false);  // until START
  s.PortText = context.dialog.Text(kPortBox);
  if (s.PortText.empty()) Speak(context, "Please set com port");
  context.dialog.SetFocus(kPortBox);  // "Set Com Port" follows from the focus
}

void OnStart(Context& context) {
  ProgramState& s = context.state;
  Dialog& dialog = context.dialog;
  s.PortText = dialog.Text(kPortBox);
  if (s.PortText.empty()) {
    dialog.SetFocus(kPortBox);
    if (s.VoiceOn == 0) context.desktop.MessageBox(kPortNotSetText, kPortNotSetCaption);
    return;
  }
  dialog.Enable(kStartButton, false);
  dialog.Enable(kGoButton, true);
  s.PollTimerId = dialog.SetTimer(kPollTimerId, kPollPeriodMs);
  DropRemoteAim(context);
  context.port.Open("COM" + s.PortText);
  context.port.SetLine();
  context.port.Send(s.AmFrame);
  context.port.Send(ReadStatusFrame());
  s.ReplyPending = 1;
  // Watch for silence afresh: after an earlier alarm the count stands at
  // 51, and a box that is still silent would never be reported.
  s.SilentTicks = 0;
  Speak(context, "Started");
  dialog.Enable(kPortBox, false);
}

bool HasControlBytes(std::string_view text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) < 0x20) return true;
  }
  return false;
}

void GoTo(Context& context, const std::string& target) {
  // A typed control byte (a pasted STX or CR) would put extra frames on the
  // line, so such a text is refused like a bearing that is already set.
  if (target.empty() || NumberValue(target) == context.state.CurrentBearing ||
      HasControlBytes(target)) {
    context.dialog.SetText(kGoToBox, "");
    return;
  }
  context.port.Send(GoToFrame(target));
  // A remote stop leaves the operator's GO alone for a while (RemoteAimAt).
  context.state.OperatorGoTime = std::chrono::steady_clock::now();
}

void OnGo(Context& context) {
  const std::string target = context.dialog.Text(kGoToBox);
  const std::optional<AimPlan> plan =
      context.state.HomeLocator.empty() ? std::nullopt : PlanLocatorAim(context.state.HomeLocator, target);
  if (!plan) {
    GoTo(context, target);
    return;
  }
  // Where the antenna is going, heard once before it turns and left on the
  // box for anyone watching; then the same road as a typed bearing.
  context.dialog.SetToolTip(kGoToBox, plan->words);
  Speak(context, plan->words);
  if (plan->sameSquare) {
    context.dialog.SetText(kGoToBox, "");
    return;
  }
  GoTo(context, std::to_string(plan->bearing));
}

void OnVoiceSwitch(Context& context) {
  if (context.dialog.Check(kVoiceCheck) == 0) {
    Speak(context, "Voice Off.");  // still heard
    context.state.VoiceOn = 0;
  } else {
    context.state.VoiceOn = 1;
    Speak(context, "Voice On.");
  }
}

void OnSetFocus(Context& context, int id) {
  ProgramState& s = context.state;
  s.GoOnEnter = 0;
  switch (id) {
    case kPortBox:
      Speak(context, "Set Com Port");
      break;
    case kBearingBox:
      Speak(context, "Bearing is " + BearingWords(s.CurrentBearing));
      break;
    case kGoToBox:
      context.dialog.SetText(kGoToBox, "");  // its empty echo is spoken first
      Speak(context, "Enter Bearing");
      s.GoOnEnter = 1;
      break;
    default:
      break;
  }
}

void OnChange(Context& context, int id) {
  // A screen reader that echoes the keys says this already; saying it again
  // would only make the operator wait behind it.
  if (!context.state.EchoTyping) return;
  if (id == kPortBox) Speak(context, context.dialog.Text(kPortBox));
  if (id == kGoToBox) Speak(context, SpelledOut(context.dialog.Text(kGoToBox)));
}

void OnCommand(Context& context, int id) {
  ProgramState& s = context.state;
  switch (id) {
    case kStartButton:
      OnStart(context);
      break;
    case kVoiceCheck:
      OnVoiceSwitch(context);
      break;
    case kGoButton:
      OnGo(context);
      break;
    case kIdOk:
      // Enter acts as GO once per visit to GoToBox; GO runs as a message of
      // its own, after this one.
      if (s.GoOnEnter != 0) {
        s.GoOnEnter = 0;
        context.dialog.PostCommand(MakeCommand(kGoButton, kBnClicked), 0);
      }
      break;
    case kBearingHotkey:
      Speak(context, "On bearing " + context.dialog.Text(kBearingBox));
      break;
    case kExitButton:
      context.dialog.End();
      break;
    default:
      break;
  }
}

}  // namespace

std::string SpelledOut(std::string_view text) {
  std::string spelled;
  spelled.reserve(text.size() * 2);
  for (const char c : text) {
    spelled += c;
    spelled += ' ';
  }
  return spelled;
}

std::intptr_t HandleDialogMessage(Context& context, unsigned message, std::uintptr_t wParam,
                                  std::intptr_t /*lParam*/) {
  switch (message) {
    case kWmInitDialog:
      OnInitDialog(context);
      break;
    case kWmTimer:
      PollLink(context);  // the poll timer is the only timer
      SendRemoteAim(context);
      break;
    case kWmCommand: {
      const int id = CommandId(wParam);
      const unsigned code = CommandCode(wParam);
      if (code == kEnSetFocus) {
        OnSetFocus(context, id);
      } else if (code == kEnChange) {
        OnChange(context, id);
      } else {
        OnCommand(context, id);
      }
      break;
    }
    default:
      break;
  }
  return 0;
}

}  // namespace rotavox
