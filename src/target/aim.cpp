// Aims at stations (see aim.h).
#include "target/aim.h"

#include <optional>
#include <vector>

#include "common/country_file.h"
#include "common/locator.h"
#include "common/number.h"
#include "speech/bearing_words.h"
#include "target/target.h"

namespace rotavox {
namespace {

// The way from `from` to `to`, rounded as the operator hears it, and its
// words ("short path 1 9 5 , 502 kilometres").
AimPlan PlanPath(GeoPoint from, GeoPoint to, bool longPath) {
  AimPlan plan;
  const GreatCircle path = longPath ? LongPath(from, to) : ShortPath(from, to);
  plan.bearing = ToInt32(RoundHalfEven(path.bearing)) % 360;
  plan.distanceKm = static_cast<std::int64_t>(RoundHalfEven(path.distanceKm));
  plan.words = (longPath ? "long path " : "short path ") + BearingWords(plan.bearing) + ", " +
               std::to_string(plan.distanceKm) + " kilometres";
  return plan;
}

AimPlan Nowhere(std::string words) {
  AimPlan plan;
  plan.outcome = AimPlan::Outcome::kNowhere;
  plan.words = std::move(words);
  return plan;
}

AimPlan PlanLocator(const std::string& from, const Target& target) {
  const std::string& to = target.station;
  if (from.compare(0, to.size(), to) == 0 || to.compare(0, from.size(), from) == 0) {
    AimPlan plan;
    plan.outcome = AimPlan::Outcome::kSameSquare;
    plan.words = to + " same square";
    return plan;
  }
  AimPlan plan = PlanPath(*LocatorCentre(from), *LocatorCentre(to), target.longPath);
  plan.words = to + " " + plan.words;
  return plan;
}

AimPlan PlanCall(GeoPoint from, const CountryFile& countries, const Target& target) {
  if (countries.Empty()) return Nowhere(kNoCountryFile);
  const std::optional<CallEntity> entity = countries.Find(target.station);
  if (!entity) return Nowhere(target.station + " not found");
  AimPlan plan = PlanPath(from, entity->point, target.longPath);
  plan.words = target.station + " " + entity->entity->name + " " + plan.words;
  return plan;
}

}  // namespace

std::int32_t AimBearing(double degrees) { return ToInt32(degrees); }

AimPlan PlanAim(const Target& target, std::string_view home, const CountryFile& countries) {
  const std::optional<std::string> from = ReadLocator(home);
  if (!from) return Nowhere("needs a home locator");
  switch (target.kind) {
    case Target::Kind::kLocator:
      return PlanLocator(*from, target);
    case Target::Kind::kNotALocator:
      return Nowhere(target.station + " not a locator");
    case Target::Kind::kCall:
      return PlanCall(*LocatorCentre(*from), countries, target);
    default:
      return Nowhere(target.text);
  }
}

std::string BeamWords(std::string_view home, const CountryFile& countries, std::int32_t bearing,
                      const CountryEntity* own) {
  const std::optional<GeoPoint> from = LocatorCentre(home);
  if (countries.Empty() || !from) return kNoCountryFile;
  std::string words = "Along " + BearingWords(bearing) + ": ";
  const std::vector<const CountryEntity*> beam = AlongTheBeam(countries, *from, bearing, own);
  if (beam.empty()) return words + "nothing";
  for (std::size_t i = 0; i < beam.size(); ++i) words += (i > 0 ? ", " : "") + beam[i]->name;
  return words;
}

}  // namespace rotavox
