// GO with a station's grid locator or callsign, and what lies along the
// beam: where the antenna turns, and what the operator hears first.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace rotavox {

class CountryFile;

// Where an aim at a station turns the antenna, from the home locator.
struct AimPlan {
  // The target's cell holds the home one, or the other way round: no
  // bearing to speak of, nothing is sent.
  bool sameSquare = false;
  // False when a callsign names no entity (or there is no country file):
  // nothing is sent.
  bool found = true;
  std::int32_t bearing = 0;   // whole degrees, 0 to 359
  std::int64_t distanceKm = 0;
  std::string words;          // what the operator hears, and reads
};
// Nothing when `text` is no locator aim (or `home` no locator).
std::optional<AimPlan> PlanLocatorAim(std::string_view home, std::string_view text);
// Nothing when `text` is no callsign aim (or `home` no locator). The words
// are the call, the entity's name and the way there ("JA1XYZ Japan short
// path 0 4 2 , 8790 kilometres"); the call and "not found" for a call of no
// entity or at sea; "No country file" when the file gave nothing.
std::optional<AimPlan> PlanCallAim(std::string_view home, const CountryFile& countries, std::string_view text);

inline constexpr const char* kNoCountryFile = "No country file";

// With a home locator the GoTo box takes at most this many characters:
// enough for a callsign with its portable parts and " L".
inline constexpr int kStationAimMaxLength = 20;

// What lies along the beam at `bearing` from the home locator: "Along 0 4 5
// : Latvia, Estonia", or "Along 0 4 5 : nothing".
std::string BeamWords(std::string_view home, const CountryFile& countries, std::int32_t bearing);

}  // namespace rotavox
