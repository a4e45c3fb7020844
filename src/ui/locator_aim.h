// GO with a station's grid locator: where the antenna turns, and what the
// operator hears first.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace rotavox {

// Where a locator aim turns the antenna, from the home locator.
struct AimPlan {
  // The target's cell holds the home one, or the other way round: no
  // bearing to speak of, nothing is sent.
  bool sameSquare = false;
  std::int32_t bearing = 0;   // whole degrees, 0 to 359
  std::int64_t distanceKm = 0;
  std::string words;          // what the operator hears, and reads
};
// Nothing when `text` is no locator aim (or `home` no locator).
std::optional<AimPlan> PlanLocatorAim(std::string_view home, std::string_view text);

}  // namespace rotavox
