// The rotator the Com Port box names (see any_rotator.h).
#include "link/any_rotator.h"

#include "link/port_text.h"

namespace rotavox {

void AnyRotator::Start(std::string_view portText) {
  Rotator* next = ReadPortText(portText).kind == PortTarget::Kind::kRotctld ? static_cast<Rotator*>(&rotctld_)
                                                                            : static_cast<Rotator*>(&cbox_);
  if (next != active_) active_->Close();
  active_ = next;
  active_->Start(portText);
}

}  // namespace rotavox
