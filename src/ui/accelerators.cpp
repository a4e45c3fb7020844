// The dialog's accelerator table (see accelerators.h).
#include "ui/accelerators.h"

#include "common/state.h"
#include "ui/messages.h"

namespace rotavox {

std::vector<Accelerator> DialogAccelerators(const ProgramState& state) {
  std::vector<Accelerator> table = {{'B', Accelerator::kAlt, kBearingHotkey}};
  if (!state.HomeLocator.empty()) table.push_back({'A', Accelerator::kAlt, kBeamHotkey});
  return table;
}

}  // namespace rotavox
