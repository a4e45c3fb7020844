// The dialog's event handler (see handler.h).
#include "ui/handler.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "app/settings_store.h"
#include "common/context.h"
#include "common/country_file.h"
#include "common/number.h"
#include "common/presets.h"
#include "common/state.h"
#include "display/compass.h"
#include "link/poll.h"
#include "link/remote_aims.h"
#include "link/protocol.h"
#include "link/rotctld.h"
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
  if (!s.ScreenReader) Speak(context, s.TitleText);  // else the screen reader reads the window's name
  for (const std::string& warning : s.StartWarnings) {
    if (s.VoiceOn != 0) Speak(context, warning);
    else context.desktop.MessageBox(warning, kStartWarningCaption);
  }
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

// Where GO's target comes from: the GoTo box, which is cleared when
// nothing is sent, or a preset, which leaves the box alone.
enum class From { kBox, kPreset };

void GoTo(Context& context, const std::string& target, From from) {
  // A typed control byte (a pasted STX or CR) would put extra frames on the
  // line, so such a text is refused like a bearing that is already set.
  if (target.empty() || NumberValue(target) == context.state.CurrentBearing ||
      HasControlBytes(target)) {
    if (from == From::kBox) context.dialog.SetText(kGoToBox, "");
    return;
  }
  context.port.Send(GoToFrame(target));
  // A remote stop leaves the operator's GO alone for a while (RemoteAimAt).
  context.state.OperatorGoTime = std::chrono::steady_clock::now();
}

// The country file, read the first time a callsign or Alt+A needs it; one
// not there yet is looked for again at the next need. One that is no plain
// file, cannot be read or is too long for one counts as empty.
const CountryFile& Countries(Context& context) {
  static const CountryFile none;
  ProgramState& s = context.state;
  if (!s.Countries && context.countries) {
    const StoredSettings file = context.countries->Read();
    if (file.kind == StoredSettings::Kind::kMissing) return none;
    const bool whole = file.kind == StoredSettings::Kind::kRead && !file.cut;
    s.Countries = std::make_shared<const CountryFile>(whole ? CountryFile::Parse(file.bytes) : CountryFile());
  }
  return s.Countries ? *s.Countries : none;
}

// With a home locator: a station's locator or callsign, planned; nothing
// for a bearing or any other text, which go out as typed.
std::optional<AimPlan> PlanStationAim(Context& context, const std::string& target) {
  const ProgramState& s = context.state;
  if (s.HomeLocator.empty()) return std::nullopt;
  if (std::optional<AimPlan> plan = PlanLocatorAim(s.HomeLocator, target)) return plan;
  if (!ReadCallAim(target)) return std::nullopt;
  return PlanCallAim(s.HomeLocator, Countries(context), target);
}

// The road of GO for a target.
void GoToTarget(Context& context, const std::string& target, From from) {
  const std::optional<AimPlan> plan = PlanStationAim(context, target);
  if (!plan) {
    GoTo(context, target, from);
    return;
  }
  // Where the antenna is going, heard once before it turns and left on the
  // box for anyone watching; then the same road as a typed bearing.
  context.dialog.SetToolTip(kGoToBox, plan->words);
  Speak(context, plan->words);
  if (plan->sameSquare) {
    if (from == From::kBox) context.dialog.SetText(kGoToBox, "");
    return;
  }
  if (plan->found) GoTo(context, std::to_string(plan->bearing), from);
}

void OnGo(Context& context) { GoToTarget(context, context.dialog.Text(kGoToBox), From::kBox); }

void OnBeam(Context& context) {
  ProgramState& s = context.state;
  if (s.HomeLocator.empty()) return;
  Speak(context, BeamWords(s.HomeLocator, Countries(context), s.CurrentBearing));
}

// The link is up or on its way: START done, and no alarm since.
bool LinkStarted(const ProgramState& s) { return s.PollTimerId != 0 && s.SilentTicks != kAlarmRaised; }

// Escape while the antenna turns: the box is sent the bearing it last
// reported, so it turns no further; its next ready report is the arrival.
void OnStopKey(Context& context) {
  if (LinkStarted(context.state) && context.state.Turning == 1) RemoteStop(context);
}

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

bool IsBearingText(std::string_view text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// A target as the operator hears it: a bearing digit by digit, other text
// as written.
std::string TargetWords(std::string_view target) {
  return IsBearingText(target) ? BearingWords(ToInt32(NumberValue(target))) : std::string(target);
}

void OnRecallPreset(Context& context, int number) {
  ProgramState& s = context.state;
  if (!LinkStarted(s)) return;
  const Preset& preset = s.StoredPresets[static_cast<std::size_t>(number - 1)];
  const std::string title = "Preset " + std::to_string(number);
  const std::string_view target = Trimmed(preset.target);
  if (target.empty()) {
    Speak(context, title + " empty");
    return;
  }
  const bool station = !IsBearingText(target) && (ReadLocatorAim(target) || ReadCallAim(target));
  if (station && s.HomeLocator.empty()) {
    Speak(context, title + " needs a home locator");
    return;
  }
  if (!preset.name.empty()) {
    Speak(context, title + " " + preset.name);
  } else {
    Speak(context, IsBearingText(target) ? title + " " + TargetWords(target) : title);
  }
  GoToTarget(context, std::string(target), From::kPreset);
}

void OnStorePreset(Context& context, int number) {
  ProgramState& s = context.state;
  if (!LinkStarted(s) || context.presets == nullptr) return;
  const std::string title = "Preset " + std::to_string(number);
  std::string target(Trimmed(context.dialog.Text(kGoToBox)));
  if (target.empty()) target = std::to_string(s.CurrentBearing);
  // A pasted line end would split the file's line; GO refuses such a text
  // anyway.
  if (HasControlBytes(target)) {
    Speak(context, title + " not saved: the GoTo box holds a control character");
    return;
  }
  // Read again just before, under the file's lock, so that an edit made
  // meanwhile and another instance's store are kept; a file that cannot be
  // read whole is not replaced, which would lose the rest.
  std::string bytes;
  if (!context.presets->Change([&](std::string_view old) { return bytes = StorePreset(old, number, target); })) {
    Speak(context, title + " not saved: " + kPresetsFileName + " cannot be written");
    return;
  }
  s.StoredPresets = ParsePresets(bytes);
  Speak(context, title + " set to " + TargetWords(target));
}

void OnVoiceSwitch(Context& context) {
  // A screen reader says the check box's state itself.
  const bool say = !context.state.ScreenReader;
  if (context.dialog.Check(kVoiceCheck) == 0) {
    if (say) Speak(context, "Voice Off.");  // still heard
    context.state.VoiceOn = 0;
  } else {
    context.state.VoiceOn = 1;
    if (say) Speak(context, "Voice On.");
  }
}

void OnSetFocus(Context& context, int id) {
  ProgramState& s = context.state;
  s.GoOnEnter = 0;
  // A screen reader reads the box that takes the focus itself.
  const bool prompt = !s.ScreenReader;
  switch (id) {
    case kPortBox:
      if (prompt) Speak(context, "Set Com Port");
      break;
    case kBearingBox:
      if (prompt) Speak(context, "Bearing is " + BearingWords(s.CurrentBearing));
      break;
    case kGoToBox:
      context.dialog.SetText(kGoToBox, "");  // its empty echo is spoken first
      if (prompt) Speak(context, "Enter Bearing");
      s.GoOnEnter = 1;
      break;
    default:
      break;
  }
}

void OnChange(Context& context, int id) {
  // A screen reader that echoes the keys says this already; saying it again
  // would only make the operator wait behind it.
  if (context.state.ScreenReader) return;
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
    case kBeamHotkey:
      OnBeam(context);
      break;
    case kStopHotkey:
      OnStopKey(context);
      break;
    case kExitButton:
      context.dialog.End();
      break;
    default:
      if (id > kPresetRecall && id <= kPresetRecall + kPresetCount) OnRecallPreset(context, id - kPresetRecall);
      if (id > kPresetStore && id <= kPresetStore + kPresetCount) OnStorePreset(context, id - kPresetStore);
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
