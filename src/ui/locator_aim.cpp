// Aims at stations (see locator_aim.h).
#include "ui/locator_aim.h"

#include <vector>

#include "common/country_file.h"
#include "common/locator.h"
#include "common/number.h"
#include "speech/bearing_words.h"

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

}  // namespace

std::optional<AimPlan> PlanLocatorAim(std::string_view home, std::string_view text) {
  const std::optional<std::string> from = ReadLocator(home);
  const std::optional<LocatorAim> aim = ReadLocatorAim(text);
  if (!from || !aim) return std::nullopt;
  const std::string& to = aim->locator;
  if (from->compare(0, to.size(), to) == 0 || to.compare(0, from->size(), *from) == 0) {
    AimPlan plan;
    plan.sameSquare = true;
    plan.words = to + " same square";
    return plan;
  }
  AimPlan plan = PlanPath(*LocatorCentre(*from), *LocatorCentre(to), aim->longPath);
  plan.words = to + " " + plan.words;
  return plan;
}

std::optional<AimPlan> PlanCallAim(std::string_view home, const CountryFile& countries, std::string_view text) {
  const std::optional<GeoPoint> from = LocatorCentre(home);
  const std::optional<CallAim> aim = ReadCallAim(text);
  if (!from || !aim) return std::nullopt;
  AimPlan plan;
  plan.found = false;
  if (countries.Empty()) {
    plan.words = kNoCountryFile;
    return plan;
  }
  const std::optional<CallEntity> entity = countries.Find(aim->call);
  if (!entity) {
    plan.words = aim->call + " not found";
    return plan;
  }
  plan = PlanPath(*from, entity->point, aim->longPath);
  plan.words = aim->call + " " + entity->entity->name + " " + plan.words;
  return plan;
}

std::string BeamWords(std::string_view home, const CountryFile& countries, std::int32_t bearing) {
  const std::optional<GeoPoint> from = LocatorCentre(home);
  if (countries.Empty() || !from) return kNoCountryFile;
  std::string words = "Along " + BearingWords(bearing) + ": ";
  const std::vector<const CountryEntity*> beam = AlongTheBeam(countries, *from, bearing);
  if (beam.empty()) return words + "nothing";
  for (std::size_t i = 0; i < beam.size(); ++i) words += (i > 0 ? ", " : "") + beam[i]->name;
  return words;
}

}  // namespace rotavox
