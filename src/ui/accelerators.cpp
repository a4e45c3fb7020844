// The dialog's accelerator table (see accelerators.h).
#include "ui/accelerators.h"

#include "common/presets.h"
#include "common/state.h"
#include "ui/messages.h"

namespace rotavox {

std::vector<Accelerator> DialogAccelerators(const ProgramState& state) {
  std::vector<Accelerator> table = {{'B', Accelerator::kAlt, kBearingHotkey}};
  if (!state.HomeLocator.empty()) table.push_back({'A', Accelerator::kAlt, kBeamHotkey});
  table.push_back({Accelerator::kEscape, 0, kStopHotkey});
  if (state.Wsjtx) {
    table.push_back({'J', Accelerator::kAlt, kDxShortHotkey});
    table.push_back({'L', Accelerator::kAlt, kDxLongHotkey});
  }
  for (int n = 1; n <= kPresetCount; ++n) {
    const char digit = static_cast<char>('0' + n);
    table.push_back({digit, Accelerator::kControl, kPresetRecall + n});
    table.push_back({digit, Accelerator::kControl | Accelerator::kShift, kPresetStore + n});
  }
  return table;
}

}  // namespace rotavox
