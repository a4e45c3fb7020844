// The rotator as the handler, the poll tick, speech and the display see
// it, whatever controller and whatever line stand behind it.
//
// Commands go out at once and never wait for the line. What the rotator
// says comes back on the poll tick: Receive once per tick tells whether
// anything came (or the line was lost), and on a tick on which something
// came, NextEvent hands out what it said one event at a time, so that a
// tick that must stop after an event (an arrival) leaves the rest for a
// later receiving tick.
//
// Implementations: CBoxRotator (link/cbox_rotator.h), over a serial port
// or a network line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace rotavox {

// A fine step (Page Up, Page Down).
inline constexpr std::int32_t kFineStepDegrees = 2;

// What one tick brought.
enum class Reception {
  kSilent,    // nothing came
  kReceived,  // something came: take the events
  kLost,      // the line failed for good (the reason: Trouble)
};

// An answer that says nothing the operator hears of; it still counts as
// an answer for the no-response watch.
struct RotatorAnswer {
  friend bool operator==(const RotatorAnswer&, const RotatorAnswer&) = default;
};
// Where the rotator stands when the link starts, and what the status line
// shows of it: the stop side ("North Stop"), or the range it turns through.
struct RotatorStart {
  std::int32_t bearing = 0;
  std::string status;
  // The end stop the fine steps keep clear of: 0 north, 182 south.
  std::int32_t stopBearing = 0;
  friend bool operator==(const RotatorStart&, const RotatorStart&) = default;
};
// Where the antenna points, and whether it is still turning.
struct RotatorPosition {
  std::int32_t bearing = 0;
  bool ready = false;
  friend bool operator==(const RotatorPosition&, const RotatorPosition&) = default;
};
// A target the rotator will not go to: what was asked for, as the operator
// gave it; empty when the text was no bearing at all.
struct RotatorRefusal {
  std::string target;
  friend bool operator==(const RotatorRefusal&, const RotatorRefusal&) = default;
};
using RotatorEvent = std::variant<RotatorAnswer, RotatorStart, RotatorPosition, RotatorRefusal>;

class Rotator {
 public:
  virtual ~Rotator() = default;

  // START: opens the line that `portText` names and asks where the rotator
  // stands.
  virtual void Start(std::string_view portText) = 0;
  // GO: turn to `target`, the text as the operator typed it or a bearing
  // worked out from it.
  virtual void GoTo(std::string_view target) = 0;
  // Stop where the antenna is.
  virtual void Stop() = 0;
  // A fine step of `degrees` (positive clockwise), short of the end stops;
  // false when no step went out.
  virtual bool Step(std::int32_t degrees) = 0;
  // Closes the line; after the alarm and at exit.
  virtual void Close() = 0;

  // Once per poll tick.
  virtual Reception Receive() = 0;
  // The next thing the rotator said; nothing when no more is complete.
  virtual std::optional<RotatorEvent> NextEvent() = 0;
  // Why the rotator has not answered or was lost, in the operator's words;
  // empty when there is nothing to add to the alarm. Asked before Close.
  virtual std::string Trouble() = 0;
};

}  // namespace rotavox
