// The rotator the Com Port box names: Hamlib's rotctld for a rotctld://
// address, the C BOX (on a serial port or a network serial server) for
// everything else. START picks one; every other command goes to the one
// START picked, and the other is closed.
#pragma once

#include "link/cbox_rotator.h"
#include "link/rotctld_rotator.h"

namespace rotavox {

class AnyRotator final : public Rotator {
 public:
  AnyRotator(ProgramState& state, SerialPort& serial, NetworkLine* network, const Clock* clock = nullptr)
      : cbox_(state, serial, network), rotctld_(network, clock) {}

  void Start(std::string_view portText) override;
  void GoTo(std::string_view target) override { active_->GoTo(target); }
  void Stop() override { active_->Stop(); }
  bool Step(std::int32_t degrees) override { return active_->Step(degrees); }
  void Close() override { active_->Close(); }
  Reception Receive() override { return active_->Receive(); }
  std::optional<RotatorEvent> NextEvent() override { return active_->NextEvent(); }
  std::string Trouble() override { return active_->Trouble(); }

 private:
  CBoxRotator cbox_;
  RotctldRotator rotctld_;
  Rotator* active_ = &cbox_;
};

}  // namespace rotavox
