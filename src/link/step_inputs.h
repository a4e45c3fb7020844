// The two fine-stepping inputs read by the poll tick.
//
// Each state is a signed 16-bit value that counts as held while it is
// negative (the convention of a key-state query). An edition supplies them
// from keys; NoStepInputs never holds either.
#pragma once

#include <cstdint>

namespace rotavox {

class StepInputs {
 public:
  virtual ~StepInputs() = default;
  virtual std::int16_t Clockwise() = 0;
  virtual std::int16_t Anticlockwise() = 0;
};

class NoStepInputs final : public StepInputs {
 public:
  std::int16_t Clockwise() override { return 0; }
  std::int16_t Anticlockwise() override { return 0; }
};

}  // namespace rotavox
