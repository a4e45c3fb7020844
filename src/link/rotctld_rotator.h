// Any rotator through Hamlib's rotctld: Rotavox as the daemon's client, over
// a TCP line (link/byte_line.h), behind the same seam as the C BOX.
//
// START connects and reads the rotator's range with \dump_state (protocol
// version 1: key=value lines up to "done"; version 0: six numeric lines;
// 0 to 360 when neither reads). Then each poll tick asks for the position
// ("p", two lines: azimuth and elevation), one request in flight at a time;
// a GO or a fine step is "P AZ EL" with the elevation last reported, a stop
// "S", each answered "RPRT n". The first position is the start information,
// with the range for the status line ("rotctld -180 to 450"); after that a
// position is an event only when its whole bearing or its busy state
// changes, so that a still rotator leaves the ticks quiet.
//
// A GO takes a bearing only (digits): 0 to 360 goes as the equivalent
// (plus or minus 360) inside the range that lies nearest the current
// azimuth, a larger number as it is when the range holds it; otherwise it
// is refused here and nothing is sent. A turn has arrived when the azimuth
// is within 1 degree of the target and at its whole bearing, or has stood
// unchanged for 2 s after it moved (after a stop: for 2 s); every turn reports busy at least once
// before it reports ready, so that its arrival is spoken once. A move of
// more than a degree that no GO of ours began (another client, the
// daemon's own operator) is a turn too, which arrives where it stands
// still.
//
// Once positions come, a request the daemon leaves unanswered for 2 s
// loses the link ("No answer from rotctld at HOST").
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "common/clock.h"
#include "link/byte_line.h"
#include "link/rotator.h"

namespace rotavox {

inline constexpr int kRotctldPort = 4533;
inline constexpr double kArrivalDegrees = 1.0;
inline constexpr std::chrono::milliseconds kStandingStill{2000};
inline constexpr std::chrono::milliseconds kRotctldAnswerLimit{2000};

class RotctldRotator final : public Rotator {
 public:
  // `clock` may be none: the steady clock.
  explicit RotctldRotator(NetworkLine* line, const Clock* clock = nullptr) : line_(line), clock_(clock) {}

  void Start(std::string_view portText) override;
  void GoTo(std::string_view target) override;
  void Stop() override;
  bool Step(std::int32_t degrees) override;
  void Close() override;
  Reception Receive() override;
  std::optional<RotatorEvent> NextEvent() override;
  std::string Trouble() override;

  // The range as read from \dump_state.
  double MinAzimuth() const { return minAzimuth_; }
  double MaxAzimuth() const { return maxAzimuth_; }

 private:
  enum class Ask { kRange, kPosition, kTurn, kStep, kStop };
  struct Request {
    Ask ask = Ask::kPosition;
    std::string line;    // as sent, with its line end
    std::string target;  // a turn's target as the operator gave it
    double azimuth = 0;  // a turn's azimuth as sent
  };

  Clock::TimePoint Now() const;
  void Queue(Request request);
  void SendNext(Clock::TimePoint now);
  void OnLine(std::string line, Clock::TimePoint now);
  void OnRange();
  void OnPosition(double azimuth, double elevation, Clock::TimePoint now);
  void OnStatus(int status);
  std::optional<double> Aim(double bearing) const;
  std::string AzimuthText(double azimuth) const;

  NetworkLine* line_;
  const Clock* clock_;
  bool started_ = false;
  std::string host_;
  std::string in_;                       // received, not yet a whole line
  std::deque<Request> waiting_;          // to be sent, after the one in flight
  std::optional<Request> inFlight_;
  Clock::TimePoint sentAt_{};
  std::vector<std::string> answer_;      // lines of the answer being read
  double minAzimuth_ = 0;
  double maxAzimuth_ = 360;
  bool linked_ = false;                  // a position has come
  double azimuth_ = 0;
  double elevation_ = 0;
  Clock::TimePoint stillSince_{};        // when the azimuth last changed
  std::optional<RotatorPosition> reported_;  // the last position handed out
  double standingAt_ = 0;                // where the last turn ended
  std::optional<double> stepTo_;         // a fine step under way
  bool turning_ = false;
  std::optional<double> target_;         // none while stopping
  bool moved_ = false;                   // since the turn began
  bool busyReported_ = false;            // this turn has reported busy
  std::deque<RotatorEvent> events_;
  std::string refusedPosition_;          // the daemon's error for "p" ("RPRT -6")
  std::string lost_;                     // why the link was lost
  std::string unreachable_;              // why START reached no line at all
  bool rangeRead_ = false;
};

}  // namespace rotavox
