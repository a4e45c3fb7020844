// Everything a routine of the program can reach: the shared state and the
// platform's services. One Context exists per run; routines take it by
// reference instead of reaching for globals.
#pragma once

namespace rotavox {

struct ProgramState;
class Dialog;
class Desktop;
class SerialPort;
class VoiceProvider;
class Surface;
class StepInputs;
class RemoteAims;
class SettingsStore;

struct Context {
  ProgramState& state;
  Dialog& dialog;
  Desktop& desktop;
  SerialPort& port;
  VoiceProvider& voices;
  Surface& surface;
  StepInputs& steps;
  // Where aims from station programs wait for the poll tick; none when no
  // station server runs.
  RemoteAims* remoteAims = nullptr;
  // Where the presets are kept (PRESETS.TXT); none: they cannot be stored.
  SettingsStore* presets = nullptr;
  // The country file that places callsigns; none: there is none.
  SettingsStore* countries = nullptr;
};

}  // namespace rotavox
