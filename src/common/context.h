// Everything a routine of the program can reach: the shared state and the
// platform's services. One Context exists per run; routines take it by
// reference instead of reaching for globals.
#pragma once

#include "common/clock.h"

namespace rotavox {

struct ProgramState;
class Dialog;
class Desktop;
class Rotator;
class VoiceProvider;
class Surface;
class StepInputs;
class RemoteAims;
class PresetBook;
class Countries;
class WsjtxStatuses;

struct Context {
  ProgramState& state;
  Dialog& dialog;
  Desktop& desktop;
  // The rotator behind the line that START opens.
  Rotator& rotator;
  VoiceProvider& voices;
  Surface& surface;
  StepInputs& steps;
  // Where aims from station programs wait for the poll tick; none when no
  // station server runs.
  RemoteAims* remoteAims = nullptr;
  // The operator's presets and their file (PRESETS.TXT); none: no presets.
  PresetBook* presets = nullptr;
  // The country file that places callsigns, read on first need; none: no
  // file.
  Countries* countries = nullptr;
  // Where WSJT-X's statuses wait for the window; none without --wsjtx.
  WsjtxStatuses* wsjtx = nullptr;
  // Where the time comes from; none: the steady clock.
  const Clock* clock = nullptr;
};

// The time now, as the context's clock tells it.
inline Clock::TimePoint Now(const Context& context) {
  return context.clock ? context.clock->Now() : std::chrono::steady_clock::now();
}

}  // namespace rotavox
