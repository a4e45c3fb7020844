// Where an aim turns the antenna, and what the operator hears first: the
// one place that turns an aim (a station's locator or callsign, or a
// number from a station program) into a bearing and its words.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace rotavox {

class CountryFile;
struct CountryEntity;
struct Target;

// Where an aim turns the antenna, from the home locator.
struct AimPlan {
  enum class Outcome {
    kTurn,        // turn to `bearing`
    kSameSquare,  // the target's cell holds the home one, or the other way round
    kNowhere,     // a call of no entity, at sea, or no country file: nothing is sent
  };
  Outcome outcome = Outcome::kTurn;
  std::int32_t bearing = 0;  // whole degrees, 0 to 359
  std::int64_t distanceKm = 0;
  std::string words;  // what the operator hears, and reads
};

// A station program's azimuth in degrees as the whole bearing it turns to:
// the nearest, an exact half to the even one.
std::int32_t AimBearing(double degrees);

// A target at a station (Target::AtStation), seen from the home locator
// `home`. A locator's words are the locator and the way there ("JN58TD
// short path 1 9 5 , 502 kilometres"), or "JO62 same square"; a call's are
// the call, the entity's name and the way ("JA1XYZ Japan short path 0 4 2
// , 8790 kilometres"), the call and "not found" for a call of no entity or
// at sea, or "No country file" when the file gave nothing. A text shaped
// like a locator that is none is "JS58 not a locator": nothing is sent.
AimPlan PlanAim(const Target& target, std::string_view home, const CountryFile& countries);

inline constexpr const char* kNoCountryFile = "No country file";

// With a home locator the GoTo box takes at most this many characters:
// enough for a callsign with its portable parts and " L".
inline constexpr int kStationAimMaxLength = 20;

// What lies along the beam at `bearing` from the home locator: "Along 0 4 5
// : Latvia, Estonia", or "Along 0 4 5 : nothing"; the operator's own
// entity, `own`, is never named.
std::string BeamWords(std::string_view home, const CountryFile& countries, std::int32_t bearing,
                      const CountryEntity* own = nullptr);

}  // namespace rotavox
