// The dialog's event handler (see handler.h).
#include "ui/handler.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "common/context.h"
#include "common/country_file.h"
#include "common/number.h"
#include "common/state.h"
#include "common/text.h"
#include "display/compass.h"
#include "link/poll.h"
#include "link/remote_aims.h"
#include "link/protocol.h"
#include "link/rotator.h"
#include "link/rotctld.h"
#include "link/wsjtx.h"
#include "speech/bearing_words.h"
#include "speech/speak.h"
#include "target/aim.h"
#include "target/countries.h"
#include "target/dx_station.h"
#include "target/preset_book.h"
#include "target/target.h"
#include "ui/desktop.h"
#include "ui/dialog.h"
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
  // WSJT-X is heard from the start, the link up or not.
  if (context.wsjtx) context.dialog.SetTimer(kWsjtxTimerId, kWsjtxPeriodMs);
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
  context.rotator.Start(s.PortText);
  s.ReplyPending = 1;
  // Watch for silence afresh: after an earlier alarm the count stands at
  // 51, and a box that is still silent would never be reported.
  s.SilentTicks = 0;
  Speak(context, "Started");
  dialog.Enable(kPortBox, false);
}

// Where GO's target comes from: the GoTo box, which is cleared when
// nothing is sent; a preset or a key, which leave the box alone; or the
// station WSJT-X announced, followed without a key.
enum class From { kBox, kPreset, kFollow };

void GoTo(Context& context, const std::string& target, From from) {
  // A typed control byte (a pasted STX or CR) would put extra frames on the
  // line, and a parameter is never long, so such a text is refused like a
  // bearing that is already set.
  if (target.empty() || NumberValue(target) == context.state.CurrentBearing || HasControl(target) ||
      target.size() > kMaxFrameParameter) {
    if (from == From::kBox) context.dialog.SetText(kGoToBox, "");
    return;
  }
  context.rotator.GoTo(target);
  // The turn counts from now, for Escape; a remote stop leaves the
  // operator's GO alone for a while (RemoteAimAt); a follow leaves it
  // standing longer.
  context.state.OperatorGoTime = Now(context);
  context.state.StopSent = false;
  if (from != From::kFollow) context.state.LastAimTime = context.state.OperatorGoTime;
}

// The country file; an empty one where the program has none.
const CountryFile& CountryFileOf(Context& context) {
  static const CountryFile kNone;
  return context.countries ? context.countries->File() : kNone;
}

// The road of GO for a target: a station's locator or callsign is heard
// and turned to when there is a home locator; anything else goes out as
// typed.
void GoToTarget(Context& context, const Target& target, From from) {
  const ProgramState& s = context.state;
  if (s.HomeLocator.empty() || !target.AtStation()) {
    GoTo(context, target.text, from);
    return;
  }
  const AimPlan plan = PlanAim(target, s.HomeLocator, CountryFileOf(context));
  // Where the antenna is going, heard once before it turns and left on the
  // box for anyone watching; then the same road as a typed bearing.
  context.dialog.SetToolTip(kGoToBox, plan.words);
  Speak(context, plan.words);
  if (plan.outcome == AimPlan::Outcome::kSameSquare) {
    if (from == From::kBox) context.dialog.SetText(kGoToBox, "");
    return;
  }
  if (plan.outcome == AimPlan::Outcome::kTurn) GoTo(context, std::to_string(plan.bearing), from);
}

void OnGo(Context& context) { GoToTarget(context, ParseTarget(context.dialog.Text(kGoToBox)), From::kBox); }

// Alt+A: what lies along the beam, leaving out the operator's own country.
void OnBeam(Context& context) {
  ProgramState& s = context.state;
  if (s.HomeLocator.empty()) return;
  // A bearing nobody reported has no beam.
  if (!s.BearingReported) {
    Speak(context, "Bearing not known");
    return;
  }
  const CountryFile& countries = CountryFileOf(context);
  const CountryEntity* own = nullptr;
  if (!s.OwnCall.empty() && !countries.Empty()) {
    if (const std::optional<CallEntity> found = countries.Find(s.OwnCall)) {
      own = found->entity;
    } else if (!s.OwnCallNotFoundSaid) {
      s.OwnCallNotFoundSaid = true;
      Speak(context, "Own call " + s.OwnCall + " not found");
    }
  }
  Speak(context, BeamWords(s.HomeLocator, countries, s.CurrentBearing, own));
}

// The link is up or on its way: START done, and no alarm since.
bool LinkStarted(const ProgramState& s) { return s.PollTimerId != 0 && s.SilentTicks != kAlarmRaised; }

// Escape while the antenna turns: the box is sent the bearing it last
// reported, so it turns no further; its next ready report is the arrival.
// A turn counts from the moment its frame went out, before the box has
// reported busy, and one stop is sent for it however often Escape is
// pressed.
void OnStopKey(Context& context) {
  ProgramState& s = context.state;
  if (!LinkStarted(s) || s.StopSent) return;
  const Clock::TimePoint now = Now(context);
  const bool turning =
      s.Turning == 1 || now - s.OperatorGoTime < kRemoteStopGrace || now - s.RemoteTurnTime < kRemoteStopGrace;
  if (!turning) return;
  RemoteStop(context);
  s.StopSent = true;
  s.LastAimTime = now;
}

// WSJT-X's station from the home locator, else from the DE grid it gave.
AimPlan PlanDx(Context& context, const WsjtxStatus& station, bool longPath) {
  const ProgramState& s = context.state;
  const std::string& home = s.HomeLocator.empty() ? station.deGrid : s.HomeLocator;
  return PlanDxAim(station, home, longPath, CountryFileOf(context));
}

// Alt+J, Alt+L: the station WSJT-X announced last, heard again, and turned
// to as a GO with its bearing would turn, the link being up.
void OnDxKey(Context& context, bool longPath) {
  ProgramState& s = context.state;
  if (!context.wsjtx) return;
  const std::optional<WsjtxStatus>& station = s.Dx.Announced();
  if (!station) {
    Speak(context, "No station from WSJT-X");
    return;
  }
  const AimPlan plan = PlanDx(context, *station, longPath);
  Speak(context, plan.words);
  if (LinkStarted(s) && plan.outcome == AimPlan::Outcome::kTurn) {
    GoTo(context, std::to_string(plan.bearing), From::kPreset);
  }
}

// On WSJT-X's tick: its latest news, and the station announced once it has
// settled; with --follow also turned to, unless another aim stands.
void OnWsjtxTick(Context& context) {
  ProgramState& s = context.state;
  if (std::unique_ptr<WsjtxStatus> status = context.wsjtx->Take()) s.Dx.Seen(*status, Now(context));
  const std::optional<WsjtxStatus> station = s.Dx.Due(Now(context));
  if (!station) return;
  const AimPlan plan = PlanDx(context, *station, false);
  Speak(context, plan.words);
  if (s.WsjtxFollow && LinkStarted(s) && plan.outcome == AimPlan::Outcome::kTurn &&
      Now(context) - s.LastAimTime >= kFollowHold) {
    GoTo(context, std::to_string(plan.bearing), From::kFollow);
  }
}

// A target as the operator hears it: a bearing digit by digit, other text
// as written.
std::string TargetWords(const Target& target) {
  return target.kind == Target::Kind::kBearing ? BearingWords(ToInt32(NumberValue(target.text)))
                                               : std::string(Trimmed(target.text));
}

void OnRecallPreset(Context& context, int number) {
  ProgramState& s = context.state;
  if (!LinkStarted(s) || context.presets == nullptr) return;
  const Preset& preset = context.presets->At(number);
  const std::string title = "Preset " + std::to_string(number);
  const Target target = ParseTarget(Trimmed(preset.target));
  if (target.kind == Target::Kind::kNothing) {
    // A line of the file that was unfit says why it gave no preset.
    const std::string why = FaultWords(preset.fault);
    Speak(context, title + " empty" + (why.empty() ? "" : ": " + why));
    return;
  }
  if (target.AtStation() && s.HomeLocator.empty()) {
    Speak(context, title + " needs a home locator");
    return;
  }
  if (!preset.name.empty()) {
    Speak(context, title + " " + preset.name);
  } else {
    Speak(context, target.kind == Target::Kind::kBearing ? title + " " + TargetWords(target) : title);
  }
  GoToTarget(context, target, From::kPreset);
}

void OnStorePreset(Context& context, int number) {
  ProgramState& s = context.state;
  if (!LinkStarted(s) || context.presets == nullptr || !context.presets->CanStore()) return;
  const std::string title = "Preset " + std::to_string(number);
  std::string text(Trimmed(context.dialog.Text(kGoToBox)));
  if (text.empty()) text = std::to_string(s.CurrentBearing);
  // A pasted line end would split the file's line, and no frame takes a
  // long text: GO refuses both anyway.
  if (const Preset::Fault fault = TargetFault(text); fault != Preset::Fault::kNone) {
    Speak(context, title + " not saved: " + FaultWords(fault));
    return;
  }
  if (!context.presets->Store(number, text)) {
    Speak(context, title + " not saved: " + kPresetsFileName + " cannot be written");
    return;
  }
  Speak(context, title + " set to " + TargetWords(ParseTarget(text)));
}

// A preset key (recall or store) acted on.
void ActOnPresetKey(Context& context, int id) {
  if (id > kPresetStore) {
    OnStorePreset(context, id - kPresetStore);
  } else {
    OnRecallPreset(context, id - kPresetRecall);
  }
  context.state.PresetWordsEnd = Now(context);
}

// Preset keys that come faster than their words can be said (a key held
// down, a storm of presses, keys pressed while the words of an earlier one
// were spoken, which the window hands over all at once when they end)
// collapse into the last of them: it waits until the keys have been quiet
// for kPresetKeyGap, and then acts alone. No operator hears the end of a
// preset's words and presses the next key within that time.
constexpr std::chrono::milliseconds kPresetKeyGap{150};

void OnPresetKey(Context& context, int id) {
  ProgramState& s = context.state;
  if (!LinkStarted(s) || context.presets == nullptr) return;
  const Clock::TimePoint now = Now(context);
  const bool storm = now - s.PresetKeyTime < kPresetKeyGap || now - s.PresetWordsEnd < kPresetKeyGap;
  s.PresetKeyTime = now;
  if (storm) {
    s.PendingPresetKey = id;
    return;
  }
  s.PendingPresetKey = 0;
  ActOnPresetKey(context, id);
}

// On the poll tick: the last key of a storm that is over.
void ActOnWaitingPresetKey(Context& context) {
  ProgramState& s = context.state;
  if (s.PendingPresetKey == 0 || Now(context) - s.PresetKeyTime < kPresetKeyGap) return;
  const int id = std::exchange(s.PendingPresetKey, 0);
  ActOnPresetKey(context, id);
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
    case kDxShortHotkey:
    case kDxLongHotkey:
      OnDxKey(context, id == kDxLongHotkey);
      break;
    case kExitButton:
      context.dialog.End();
      break;
    default:
      if ((id > kPresetRecall && id <= kPresetRecall + kPresetCount) ||
          (id > kPresetStore && id <= kPresetStore + kPresetCount)) {
        OnPresetKey(context, id);
      }
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
      if (wParam == kWsjtxTimerId && context.wsjtx) {
        OnWsjtxTick(context);
        break;
      }
      PollLink(context);  // every other tick is the poll timer's
      SendRemoteAim(context);
      ActOnWaitingPresetKey(context);
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
