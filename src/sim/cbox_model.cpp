#include "cbox_model.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <utility>

namespace rotavox::sim {

namespace {

constexpr char kStx = '\x02';
constexpr char kCr = '\r';

std::string ThreeDigits(int value) {
  std::string text = std::to_string(value);
  if (text.size() < 3) text.insert(0, 3 - text.size(), '0');
  return text;
}

}  // namespace

std::optional<int> ParseTarget(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end == text.data()) return std::nullopt;
  if (!std::isfinite(value) || value < 0 || value > 360) return std::nullopt;
  return static_cast<int>(std::lround(value));
}

CBoxModel::CBoxModel(const CBoxOptions& options)
    : options_(options),
      position_(std::clamp(options.startBearing, 0, 360) * kUnitsPerDegree),
      unitsPerMs_(std::max<std::int64_t>(
          1, std::llround(std::clamp(options.degreesPerSecond, 0.001, 1e6) * 1000.0))),
      periodMs_(std::max<std::int64_t>(1, options.reportPeriod.count())),
      random_(options.seed) {}

int CBoxModel::Bearing() const {
  return static_cast<int>((position_ + kUnitsPerDegree / 2) / kUnitsPerDegree);
}

void CBoxModel::Feed(std::string_view bytes) {
  input_.append(bytes);
  for (auto cr = input_.find(kCr); cr != std::string::npos; cr = input_.find(kCr)) {
    const std::string line = input_.substr(0, cr);
    input_.erase(0, cr + 1);
    // Anything before the last STX (a line feed, noise) is not part of the
    // frame; a line without STX is no frame at all.
    const auto stx = line.rfind(kStx);
    if (stx != std::string::npos) HandleFrame(std::string_view(line).substr(stx + 1));
  }
  if (input_.size() > kMaxFrame) input_.erase(0, input_.size() - kMaxFrame);
}

void CBoxModel::HandleFrame(std::string_view frame) {
  if (frame.size() < 2) return;
  const std::string_view command = frame.substr(0, 2);
  const std::string_view parameter = frame.substr(2);
  if (command == "AM") {
    Send("A,M,R");
  } else if (command == "AL") {
    Send("A,L," + ThreeDigits(Bearing()) + ",0," +
         (options_.stopSide == StopSide::kSouth ? "1" : "0"));
  } else if (command == "AG") {
    if (const auto target = ParseTarget(parameter)) StartTurn(*target);
  } else if (command == "AS") {
    Send("A,S,R");
    if (Turning()) {
      target_.reset();
      sinceReportMs_ = 0;
      SendPosition(true);
    }
  }
}

void CBoxModel::StartTurn(int target) {
  if (position_ == target * kUnitsPerDegree) {
    // Already there: nothing to turn, but the controller still hears that
    // the box is ready at that bearing.
    target_.reset();
    sinceReportMs_ = 0;
    SendPosition(true);
    return;
  }
  // A new target while turning keeps the report rhythm going.
  if (!Turning()) sinceReportMs_ = 0;
  target_ = target;
}

std::string CBoxModel::Advance(std::chrono::milliseconds elapsed) {
  std::int64_t left = std::max<std::int64_t>(0, elapsed.count());
  while (left > 0 && target_) {
    const std::int64_t goal = *target_ * kUnitsPerDegree;
    const std::int64_t remaining = goal > position_ ? goal - position_ : position_ - goal;
    const std::int64_t toArrive = (remaining + unitsPerMs_ - 1) / unitsPerMs_;
    const std::int64_t step = std::min({left, toArrive, periodMs_ - sinceReportMs_});
    left -= step;
    sinceReportMs_ += step;
    if (step == toArrive) {
      position_ = goal;
      target_.reset();
      sinceReportMs_ = 0;
      SendPosition(true);
      break;
    }
    position_ += goal > position_ ? step * unitsPerMs_ : -step * unitsPerMs_;
    if (sinceReportMs_ >= periodMs_) {
      sinceReportMs_ = 0;
      SendPosition(false);
    }
  }
  return std::exchange(output_, {});
}

void CBoxModel::SendPosition(bool ready) {
  Send("A,?," + ThreeDigits(Bearing()) + (ready ? ",R" : ",B"));
}

double CBoxModel::Draw() {
  // 53 random bits as a fraction in [0, 1): the same on every standard library.
  return static_cast<double>(random_() >> 11) * 0x1p-53;
}

void CBoxModel::Send(std::string_view text) {
  if (options_.silent) return;
  std::string line;
  line += kStx;
  line += text;
  line += options_.crlf ? "\r\n" : "\r";
  for (const char byte : line) {
    if (options_.dropProbability > 0 && Draw() < options_.dropProbability) continue;
    if (options_.garbleProbability > 0 && Draw() < options_.garbleProbability) {
      output_ += static_cast<char>(random_() & 0xFF);
    } else {
      output_ += byte;
    }
  }
}

}  // namespace rotavox::sim
