// The C BOX as a rotator (see cbox_rotator.h).
#include "link/cbox_rotator.h"

#include "common/state.h"
#include "link/port_text.h"
#include "link/protocol.h"
#include "link/serial_port.h"

namespace rotavox {

void CBoxRotator::Start(std::string_view portText) {
  const PortTarget target = ReadPortText(portText);
  ByteLine* next = nullptr;
  if (target.kind == PortTarget::Kind::kSerial) {
    next = &serial_;
  } else if (target.kind == PortTarget::Kind::kNetwork) {
    next = network_;
  }
  if (line_ != nullptr && line_ != next) line_->Close();
  line_ = next;
  trouble_ = target.trouble;
  if (target.kind == PortTarget::Kind::kSerial) {
    serial_.Open("COM" + std::string(portText));
    serial_.SetLine();
  } else if (target.kind == PortTarget::Kind::kNetwork) {
    if (network_ != nullptr) {
      network_->Open(target.address);
    } else {
      trouble_ = kNoNetworkHere;
    }
  }
  Send(state_.AmFrame);
  Send(ReadStatusFrame());
}

void CBoxRotator::Send(std::string_view frame) {
  if (line_ != nullptr) line_->Send(frame);
}

void CBoxRotator::GoTo(std::string_view target) { Send(GoToFrame(target)); }

void CBoxRotator::Stop() { Send(GoToFrame(std::to_string(state_.CurrentBearing))); }

bool CBoxRotator::Step(std::int32_t degrees) {
  // Distance from the end stop, clockwise, in 64 bits; the steps stay 4
  // degrees short of it either way round.
  std::int64_t fromStop = std::int64_t{state_.CurrentBearing} - state_.StopBearing;
  if (fromStop < 0) fromStop += 360;
  std::int64_t target = std::int64_t{state_.CurrentBearing} + degrees;
  if (degrees > 0) {
    if (fromStop >= 360 - 2 * kFineStepDegrees) return false;
    if (target > 360) target -= 360;  // so 360 itself stays 360
  } else {
    if (fromStop <= kFineStepDegrees) return false;
    if (target < 0) target += 360;
  }
  Send(GoToFrame(std::to_string(target)));
  return true;
}

void CBoxRotator::Close() {
  if (line_ != nullptr) line_->Close();
}

Reception CBoxRotator::Receive() {
  if (line_ == nullptr) return Reception::kSilent;
  const WaitingBytes waiting = line_->BytesWaiting();
  if (waiting.failed) return Reception::kLost;
  if (waiting.count == 0) return Reception::kSilent;
  AppendReceived(state_.RxText, line_->Receive(waiting.count));
  return Reception::kReceived;
}

std::optional<RotatorEvent> CBoxRotator::NextEvent() {
  const std::optional<std::string> line = TakeReplyLine(state_.RxText);
  if (!line) return std::nullopt;
  const Reply reply = DecodeReply(*line);
  if (const auto* position = std::get_if<PositionReport>(&reply)) {
    return RotatorPosition{position->bearing, position->ready};
  }
  if (const auto* stop = std::get_if<StopReport>(&reply)) {
    return RotatorStart{stop->bearing, stop->north ? "North Stop" : "South Stop",
                        stop->north ? kNorthStopBearing : kSouthStopBearing};
  }
  return RotatorAnswer{};
}

std::string CBoxRotator::Trouble() {
  if (!trouble_.empty()) return trouble_;
  return line_ != nullptr ? line_->Trouble() : std::string();
}

}  // namespace rotavox
