// Any rotator through rotctld (see rotctld_rotator.h).
#include "link/rotctld_rotator.h"

#include <cmath>
#include <cstdio>

#include "common/number.h"
#include "common/text.h"
#include "link/port_text.h"
#include "target/target.h"

namespace rotavox {
namespace {

// An unfinished line longer than any answer is no answer.
constexpr std::size_t kMaxLine = 4096;

std::string TwoDecimals(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", value);
  return text;
}

// "RPRT -6" -> -6; nothing for any other line.
std::optional<int> Status(std::string_view line) {
  constexpr std::string_view kRprt = "RPRT ";
  if (line.substr(0, kRprt.size()) != kRprt) return std::nullopt;
  const std::optional<double> value = ReadDecimal(Trimmed(line.substr(kRprt.size())));
  if (!value) return -1;
  return ToInt32(*value);
}

// An azimuth as the needle, the bearing box and speech show it: whole
// degrees, 0 to 359.
std::int32_t Bearing(double azimuth) {
  std::int32_t bearing = ToInt32(azimuth) % 360;
  if (bearing < 0) bearing += 360;
  return bearing;
}

}  // namespace

Clock::TimePoint RotctldRotator::Now() const {
  return clock_ ? clock_->Now() : std::chrono::steady_clock::now();
}

void RotctldRotator::Start(std::string_view portText) {
  Close();
  const PortTarget target = ReadPortText(portText);
  started_ = true;
  host_ = target.address.host;
  if (target.kind != PortTarget::Kind::kRotctld) {
    unreachable_ = target.trouble;
    return;
  }
  if (line_ == nullptr) {
    unreachable_ = "No network line in this program";
    return;
  }
  line_->Open(target.address);
  Queue({Ask::kRange, "\\dump_state\n", "", 0});
}

void RotctldRotator::Close() {
  if (started_ && line_ != nullptr) line_->Close();
  *this = RotctldRotator(line_, clock_);
}

void RotctldRotator::Queue(Request request) {
  waiting_.push_back(std::move(request));
  SendNext(Now());
}

void RotctldRotator::SendNext(Clock::TimePoint now) {
  if (inFlight_ || waiting_.empty()) return;
  inFlight_ = std::move(waiting_.front());
  waiting_.pop_front();
  answer_.clear();
  sentAt_ = now;
  line_->Send(inFlight_->line);
}

std::optional<double> RotctldRotator::Aim(double bearing) const {
  if (bearing > 360) {
    if (bearing <= maxAzimuth_ && bearing >= minAzimuth_) return bearing;
    return std::nullopt;
  }
  std::optional<double> best;
  for (const double candidate : {bearing - 360, bearing, bearing + 360}) {
    if (candidate < minAzimuth_ || candidate > maxAzimuth_) continue;
    if (!best || std::fabs(candidate - azimuth_) < std::fabs(*best - azimuth_)) best = candidate;
  }
  return best;
}

std::string RotctldRotator::AzimuthText(double azimuth) const {
  return "P " + TwoDecimals(azimuth) + " " + TwoDecimals(elevation_) + "\n";
}

void RotctldRotator::GoTo(std::string_view text) {
  if (!started_ || !unreachable_.empty()) return;
  const Target target = ParseTarget(text);
  if (target.kind != Target::Kind::kBearing) {
    events_.push_back(RotatorRefusal{});  // "needs a bearing"
    return;
  }
  const std::string typed(Trimmed(target.text));
  const std::optional<double> azimuth = Aim(NumberValue(typed));
  if (!azimuth) {
    events_.push_back(RotatorRefusal{typed});
    return;
  }
  // The newest aim counts: one still waiting to be sent is dropped.
  std::erase_if(waiting_, [](const Request& r) { return r.ask != Ask::kRange && r.ask != Ask::kPosition; });
  Queue({Ask::kTurn, AzimuthText(*azimuth), typed, *azimuth});
}

void RotctldRotator::Stop() {
  if (!started_ || !unreachable_.empty()) return;
  std::erase_if(waiting_, [](const Request& r) { return r.ask != Ask::kRange && r.ask != Ask::kPosition; });
  Queue({Ask::kStop, "S\n", "", 0});
}

bool RotctldRotator::Step(std::int32_t degrees) {
  if (!linked_) return false;
  const double azimuth = azimuth_ + degrees;
  if (azimuth < minAzimuth_ || azimuth > maxAzimuth_) return false;
  std::erase_if(waiting_, [](const Request& r) { return r.ask == Ask::kStep; });
  stepTo_ = azimuth;
  Queue({Ask::kStep, AzimuthText(azimuth), "", azimuth});
  return true;
}

Reception RotctldRotator::Receive() {
  if (!started_ || !unreachable_.empty()) return Reception::kSilent;
  if (!lost_.empty()) return Reception::kLost;
  const Clock::TimePoint now = Now();
  const WaitingBytes waiting = line_->BytesWaiting();
  if (waiting.failed) {
    lost_ = line_->Trouble();
    if (lost_.empty()) lost_ = "Connection to " + host_ + " lost";
    return Reception::kLost;
  }
  if (waiting.count > 0) in_ += line_->Receive(waiting.count);
  for (std::size_t end; (end = in_.find('\n')) != std::string::npos;) {
    std::string line = in_.substr(0, end);
    in_.erase(0, end + 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    OnLine(std::move(line), now);
  }
  if (in_.size() > kMaxLine) in_.clear();
  if (inFlight_ && linked_ && now - sentAt_ >= kRotctldAnswerLimit) {
    lost_ = "No answer from rotctld at " + host_;
    return Reception::kLost;
  }
  // Where the antenna is, once a tick, when nothing else is asked.
  if (!inFlight_ && waiting_.empty() && rangeRead_) waiting_.push_back({Ask::kPosition, "p\n", "", 0});
  SendNext(now);
  return events_.empty() ? Reception::kSilent : Reception::kReceived;
}

void RotctldRotator::OnLine(std::string line, Clock::TimePoint now) {
  if (!inFlight_) return;  // nothing was asked: a stray line
  const Request& asked = *inFlight_;
  bool done = false;
  switch (asked.ask) {
    case Ask::kRange: {
      answer_.push_back(line);
      const std::string& first = answer_.front();
      const std::optional<double> version = ReadDecimal(first);
      if (Status(first) || !version || *version < 0) {
        done = true;  // an error, or no form known here: the whole circle
      } else if (*version == 0) {
        done = answer_.size() == 6;  // version, model, min/max azimuth, min/max elevation
      } else {
        done = line == "done";
      }
      if (done) OnRange();
      break;
    }
    case Ask::kPosition:
      if (answer_.empty()) {
        if (const std::optional<int> status = Status(line)) {
          refusedPosition_ = line;  // another Rotavox whose box has not answered yet
          done = true;
        } else if (ReadDecimal(line)) {
          answer_.push_back(line);
        }  // anything else is no part of an answer
      } else {
        const std::optional<double> elevation = ReadDecimal(line);
        if (elevation) {
          refusedPosition_.clear();
          OnPosition(*ReadDecimal(answer_.front()), *elevation, now);
        }
        done = true;
      }
      break;
    case Ask::kTurn:
    case Ask::kStep:
    case Ask::kStop:
      if (const std::optional<int> status = Status(line)) {
        OnStatus(*status);
        done = true;
      }
      break;
  }
  if (done) {
    inFlight_.reset();
    answer_.clear();
  }
}

void RotctldRotator::OnRange() {
  rangeRead_ = true;
  std::optional<double> low;
  std::optional<double> high;
  const std::optional<double> version = ReadDecimal(answer_.front());
  if (version && *version == 0 && answer_.size() == 6) {
    low = ReadDecimal(answer_[2]);
    high = ReadDecimal(answer_[3]);
  } else if (version && *version >= 1) {
    for (const std::string& line : answer_) {
      const std::size_t eq = line.find('=');
      if (eq == std::string::npos) continue;
      const std::string_view key = Trimmed(std::string_view(line).substr(0, eq));
      const std::optional<double> value = ReadDecimal(Trimmed(std::string_view(line).substr(eq + 1)));
      if (key == "min_az") low = value;
      if (key == "max_az") high = value;
    }
  }
  if (low && high && *low < *high) {
    minAzimuth_ = *low;
    maxAzimuth_ = *high;
  }
}

void RotctldRotator::OnPosition(double azimuth, double elevation, Clock::TimePoint now) {
  if (!linked_ || azimuth != azimuth_) {
    stillSince_ = now;
    if (linked_ && turning_) moved_ = true;
  }
  azimuth_ = azimuth;
  elevation_ = elevation;
  const std::int32_t bearing = Bearing(azimuth);
  if (!linked_) {
    linked_ = true;
    standingAt_ = azimuth;
    reported_ = RotatorPosition{bearing, true};
    events_.push_back(RotatorStart{bearing,
                                   "rotctld " + std::to_string(ToInt32(minAzimuth_)) + " to " +
                                       std::to_string(ToInt32(maxAzimuth_)),
                                   0});
    return;
  }
  // A turn made elsewhere (another client of the daemon, its own
  // operator) is heard too: a move of more than a degree from where the
  // antenna stood starts a turn that ends where it stands still.
  // A fine step moves it too, quietly: its bearing is said when the key
  // is let go.
  if (stepTo_ && (std::fabs(azimuth - *stepTo_) <= kArrivalDegrees || now - stillSince_ >= kStandingStill)) {
    stepTo_.reset();
    standingAt_ = azimuth;
  }
  if (!turning_ && !stepTo_ && std::fabs(azimuth - standingAt_) > kArrivalDegrees) {
    turning_ = true;
    target_.reset();
    moved_ = true;
    busyReported_ = false;
  }
  bool ready = true;
  if (turning_) {
    const bool still = now - stillSince_ >= kStandingStill;
    // Within a degree, and at the target's whole bearing: the bearing said
    // is the one asked for, not one the antenna is still passing.
    const bool there = target_ && std::fabs(azimuth - *target_) <= kArrivalDegrees && bearing == Bearing(*target_);
    const bool arrived = target_ ? there || (moved_ && still) : still;
    if (arrived && busyReported_) {
      turning_ = false;
      standingAt_ = azimuth;
    } else {
      ready = false;
      busyReported_ = true;
    }
  }
  const RotatorPosition position{bearing, ready};
  if (reported_ != position) {
    events_.push_back(position);
    reported_ = position;
  }
}

void RotctldRotator::OnStatus(int status) {
  const Request& asked = *inFlight_;
  if (asked.ask == Ask::kTurn) {
    if (status != 0) {
      events_.push_back(RotatorRefusal{asked.target});
      return;
    }
    turning_ = true;
    target_ = asked.azimuth;
    moved_ = false;
    busyReported_ = false;
  } else if (asked.ask == Ask::kStop && status == 0 && turning_) {
    target_.reset();  // where it stands still is where it went
  }
}

std::optional<RotatorEvent> RotctldRotator::NextEvent() {
  if (events_.empty()) return std::nullopt;
  RotatorEvent event = std::move(events_.front());
  events_.pop_front();
  return event;
}

std::string RotctldRotator::Trouble() {
  if (!lost_.empty()) return lost_;
  if (!unreachable_.empty()) return unreachable_;
  if (!started_ || line_ == nullptr) return {};
  std::string why = line_->Trouble();
  if (!why.empty()) return why;
  if (!refusedPosition_.empty()) return "rotctld at " + host_ + " answers " + refusedPosition_;
  return "No answer from rotctld at " + host_;
}

}  // namespace rotavox
