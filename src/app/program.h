// The program's life: start-up, the modal run of the main dialog, and
// shutdown, written once for every edition.
//
// An edition supplies its platform (a Shell for the window's life and the
// services of common/context.h) and calls RunProgram from its entry point.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "display/surface.h"

namespace rotavox {

struct Context;
struct ProgramState;
class Dialog;
class Desktop;
class SerialPort;
class NetworkLine;
class VoiceProvider;
class StepInputs;
class SettingsStore;
class RemoteAims;
class WsjtxStatuses;

inline constexpr const char* kTitleText = "Rotavox Controller ";
inline constexpr float kPiValue = 3.141593f;
// Said at start-up (shown with speech off) when the country file named on
// the command line cannot be read.
inline constexpr const char* kCountryFileUnreadable = "Country file cannot be read: callsigns will not be found";

// The window's life, as the program entry drives it.
class Shell {
 public:
  virtual ~Shell() = default;
  // Before anything else (the Windows edition initialises COM here).
  virtual void BeginSession() = 0;
  // Builds the dialog, hidden, with its controls showing PortText and
  // VoiceOn and its caption starting with TitleText. From here on every
  // message of the dialog goes to HandleDialogMessage with this context.
  virtual void CreateMainDialog(Context& context) = 0;
  // The dialog's client size in pixels.
  virtual Size ClientSize() = 0;
  virtual void ShowMainDialog() = 0;
  // Runs the message loop until the dialog has been destroyed.
  virtual void RunMessageLoop() = 0;
  // Just before the process ends (the Windows edition uninitialises COM).
  virtual void EndSession() = 0;
};

struct Platform {
  Shell& shell;
  Dialog& dialog;
  Desktop& desktop;
  SerialPort& port;
  VoiceProvider& voices;
  Surface& surface;
  StepInputs& steps;
  SettingsStore& settings;
  // The operator's screen reader says the title, focus prompts, the voice
  // switch's state and the typing echo (--screen-reader).
  bool screenReader = false;
  // Aims from station programs, taken by the poll tick; none without a
  // station server.
  RemoteAims* remoteAims = nullptr;
  // The operator's own grid locator (--home), upper case; empty: none.
  std::string homeLocator = {};
  // The country file that places callsigns (with a home locator); none:
  // there is none.
  SettingsStore* countries = nullptr;
  // Where the presets are kept (PRESETS.TXT); none: no presets.
  SettingsStore* presets = nullptr;
  // The country file the operator named cannot be read: said at start.
  bool countryFileUnreadable = false;
  // Where an edition also writes what the operator is told at start about
  // STAT.DAT (the Linux edition: standard error); none: nowhere else.
  std::function<void(std::string_view)> report = {};
  // The operator's own callsign (--call), upper case; empty: none.
  std::string ownCall = {};
  // Where WSJT-X's statuses wait (--wsjtx); none: WSJT-X is not heard.
  WsjtxStatuses* wsjtx = nullptr;
  // Every station WSJT-X announces is turned to (--follow).
  bool follow = false;
  // The TCP line to a network serial server; none: network addresses in
  // the Com Port box reach nothing.
  NetworkLine* network = nullptr;
};

// Start-up, dialog, shutdown. Returns the process exit code, always 0.
int RunProgram(Platform& platform);

// The parts of RunProgram, for editions and tests that drive them one by
// one. StartProgram loads the settings into `state` and clears away what
// saves cut short left beside STAT.DAT; RunMainDialog starts the dialog
// (the handler sees start-up and the size before the dialog is shown) and
// returns when it is gone; EndProgram says goodbye, stops the
// link and saves the settings.
void StartProgram(ProgramState& state, SettingsStore& settings);
void RunMainDialog(Context& context, Shell& shell);
void EndProgram(Context& context, SettingsStore& settings);

// For an edition whose session ends under the program, leaving no time
// for the shutdown (a termination signal, the display gone, the system
// logging off): saves the settings of the running RunProgram at once,
// exactly as its shutdown would write them, with nothing spoken and nothing
// waited for. Does nothing before RunProgram has loaded the settings or
// once its shutdown has saved them. Call on the user-interface thread or
// from an exit handler.
void SaveSettingsNow();

}  // namespace rotavox
