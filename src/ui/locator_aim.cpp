// Locator aims (see locator_aim.h).
#include "ui/locator_aim.h"

#include "common/locator.h"
#include "common/number.h"
#include "speech/bearing_words.h"

namespace rotavox {

std::optional<AimPlan> PlanLocatorAim(std::string_view home, std::string_view text) {
  const std::optional<std::string> from = ReadLocator(home);
  const std::optional<LocatorAim> aim = ReadLocatorAim(text);
  if (!from || !aim) return std::nullopt;
  AimPlan plan;
  const std::string& to = aim->locator;
  if (from->compare(0, to.size(), to) == 0 || to.compare(0, from->size(), *from) == 0) {
    plan.sameSquare = true;
    plan.words = to + " same square";
    return plan;
  }
  const GeoPoint a = *LocatorCentre(*from);
  const GeoPoint b = *LocatorCentre(to);
  const GreatCircle path = aim->longPath ? LongPath(a, b) : ShortPath(a, b);
  plan.bearing = ToInt32(RoundHalfEven(path.bearing)) % 360;
  plan.distanceKm = static_cast<std::int64_t>(RoundHalfEven(path.distanceKm));
  plan.words = to + (aim->longPath ? " long path " : " short path ") + BearingWords(plan.bearing) + ", " +
               std::to_string(plan.distanceKm) + " kilometres";
  return plan;
}

}  // namespace rotavox
