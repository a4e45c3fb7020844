// Start-up and shutdown order (see program.h).
#include "app/program.h"

#include <cstdint>

#include "app/settings.h"
#include "app/settings_store.h"
#include "common/context.h"
#include "common/state.h"
#include "link/any_rotator.h"
#include "link/protocol.h"
#include "link/serial_port.h"
#include "speech/speak.h"
#include "target/countries.h"
#include "target/preset_book.h"
#include "ui/dialog.h"
#include "ui/handler.h"
#include "ui/messages.h"

namespace rotavox {
namespace {

// The settings of the RunProgram under way, for SaveSettingsNow: set from
// loading them to saving them at the end.
struct RunningProgram {
  const ProgramState* state = nullptr;
  SettingsStore* settings = nullptr;
};
RunningProgram running;

class RunningRegistration {
 public:
  RunningRegistration(const ProgramState& state, SettingsStore& settings) {
    running = {&state, &settings};
  }
  ~RunningRegistration() { running = {}; }
  RunningRegistration(const RunningRegistration&) = delete;
  RunningRegistration& operator=(const RunningRegistration&) = delete;
};

}  // namespace

void StartProgram(ProgramState& state, SettingsStore& settings) {
  state.AmFrame = AmFrame();
  state.PiValue = kPiValue;
  LoadSettings(state, settings);
  settings.RemoveLeftovers();
  state.TitleText = kTitleText;
}

void RunMainDialog(Context& context, Shell& shell) {
  HandleDialogMessage(context, kWmInitDialog, 0, 0);
  const Size size = shell.ClientSize();
  const auto packed = static_cast<std::intptr_t>(
      (static_cast<std::uint32_t>(size.height & 0xFFFF) << 16) |
      static_cast<std::uint32_t>(size.width & 0xFFFF));
  HandleDialogMessage(context, kWmSize, kSizeRestored, packed);
  shell.ShowMainDialog();
  shell.RunMessageLoop();
}

void EndProgram(Context& context, SettingsStore& settings) {
  Speak(context, "Goodbye");
  context.dialog.KillTimer(context.state.PollTimerId);
  context.rotator.Close();
  SaveSettings(context.state, settings);
}

int RunProgram(Platform& platform) {
  ProgramState state;
  state.ScreenReader = platform.screenReader;
  state.HomeLocator = platform.homeLocator;
  state.OwnCall = platform.ownCall;
  state.Wsjtx = platform.wsjtx != nullptr;
  state.WsjtxFollow = platform.follow;
  // The services the run owns: the presets, and the country file, which is
  // read on first need; and the rotator behind the line that START opens.
  PresetBook presets(platform.presets);
  Countries countries(platform.countries);
  AnyRotator rotator(state, platform.port, platform.network);
  Context context{state,           platform.dialog,  platform.desktop, rotator,
                  platform.voices,  platform.surface, platform.steps,   platform.remoteAims,
                  &presets,         &countries,       platform.wsjtx};
  platform.shell.BeginSession();
  StartProgram(state, platform.settings);
  if (platform.report) {
    for (const std::string& warning : state.StartWarnings) platform.report(warning);
  }
  if (platform.countryFileUnreadable) state.StartWarnings.push_back(kCountryFileUnreadable);
  presets.Load();
  {
    const RunningRegistration registration(state, platform.settings);
    platform.shell.CreateMainDialog(context);
    RunMainDialog(context, platform.shell);
    EndProgram(context, platform.settings);
  }
  platform.shell.EndSession();
  return 0;
}

void SaveSettingsNow() {
  if (running.state) SaveSettings(*running.state, *running.settings);
}

}  // namespace rotavox
