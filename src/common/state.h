// The program's shared state: one object, created by the program entry and
// handed to every routine through the Context (common/context.h).
//
// Everything starts zero or empty, as a fresh process would have it. The
// open serial port and the dialog window are not here: they are the
// SerialPort and Dialog objects of the platform.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "target/dx_station.h"

namespace rotavox {

struct ProgramState {
  // Program shell.
  std::string TitleText;   // "Rotavox Controller ", spoken at start-up
  std::string PortText;    // the port number text that follows "COM"
  std::int32_t VoiceOn = 0;  // 0 = silent, anything else = speak
  // STAT.DAT was there at start but could not be read (locked, no read
  // permission), or not written (another user's file): the record in it is
  // never overwritten, and the operator hears so at start-up.
  bool KeepSettingsFile = false;
  // Said at start-up (shown with speech off): a file that will not be
  // saved or cannot be read.
  std::vector<std::string> StartWarnings;
  float PiValue = 0.0f;    // 3.141593 in single precision, for the dial
  std::string AmFrame;     // STX "AM" CR, built once at start-up

  // Operator commands.
  unsigned PollTimerId = 0;     // returned when the poll timer was started
  std::int32_t GoOnEnter = 0;   // Enter acts as GO while 1
  // The operator's screen reader runs beside the program (--screen-reader)
  // and says what it can know itself: the title, the prompt of the box that
  // takes the focus, the voice switch's state and the typing echo. The
  // program then says only the rest.
  bool ScreenReader = false;
  // The operator's own grid locator (--home); empty without. With one, GO
  // also takes a station's locator.
  std::string HomeLocator;
  // The operator's own callsign (--call), upper case; empty without. Its
  // entity is never named along the beam. When the country file does not
  // place it, the first Alt+A says so, once.
  std::string OwnCall;
  bool OwnCallNotFoundSaid = false;
  // WSJT-X's statuses are heard (--wsjtx): the station being worked there
  // is announced, and Alt+J and Alt+L turn to it; with WsjtxFollow every
  // newly announced station is turned to, unless another aim came within
  // kFollowHold (LastAimTime).
  bool Wsjtx = false;
  bool WsjtxFollow = false;
  DxStation Dx;

  // Rotator link.
  std::int32_t ReplyPending = 0;    // 1 from START until the first reply line
  std::int32_t CurrentBearing = 0;  // degrees, last reported by the C BOX
  bool BearingReported = false;     // a report has set CurrentBearing since the program started
  std::string RxText;               // received bytes not yet taken as lines
  std::int32_t SilentTicks = 0;     // silent ticks in a row; 51 after an alarm
  std::string RotatorState;         // "READY", "BUSY", or empty before a report
  std::int32_t Turning = 0;         // 1 once a BUSY report has come
  std::int32_t CueBearing = 0;      // bearing at the last beep or announcement
  std::int32_t StopBearing = 0;     // 0 north stop, 182 south stop
  std::int32_t StepUpPending = 0;   // a clockwise step awaits its announcement
  std::int32_t StepDownPending = 0; // an anticlockwise step awaits its announcement
  // When the operator's GO (a preset, an aim), and a station program's
  // turn, last put a frame on the line: the turn counts from then, before
  // the box has reported it busy (kRemoteStopGrace); a remote stop looks at
  // both (RemoteAimAt).
  std::chrono::steady_clock::time_point OperatorGoTime{};
  std::chrono::steady_clock::time_point RemoteTurnTime{};
  // Escape has sent its stop for the turn under way: one is enough.
  bool StopSent = false;
  // When an aim other than a WSJT-X follow last put a frame on the line:
  // the operator's GO, a preset, Alt+J or Alt+L, Escape, a step, a station
  // program.
  std::chrono::steady_clock::time_point LastAimTime{};
  // Preset keys pressed faster than their words are said collapse into the
  // last of them (ui/handler.cpp): when the last one came, when the words
  // of the last one acted on ended, and the one waiting for the storm to
  // end (its command id; 0: none).
  std::chrono::steady_clock::time_point PresetKeyTime{};
  std::chrono::steady_clock::time_point PresetWordsEnd{};
  int PendingPresetKey = 0;

  // Compass display.
  bool CompassDrawn = false;  // DrawCompass found a surface to draw on
  std::int32_t DialCentreX = 0;
  std::int32_t DialCentreY = 0;
  std::int32_t DialRadius = 0;
  std::int32_t TickRadius = 0;
  std::int32_t NeedleTipX = 0;
  std::int32_t NeedleTipY = 0;
  std::string BearingText;   // the text last put into the bearing box
  double NeedleAngle = 0.0;  // CurrentBearing - 90, in degrees
};

}  // namespace rotavox
