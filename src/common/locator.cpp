// Grid locators and great circles (see locator.h).
#include "common/locator.h"

#include <cmath>
#include <numbers>

#include "common/text.h"

namespace rotavox {
namespace {

constexpr double kDegree = std::numbers::pi / 180.0;

// The size of each pair's cells in degrees of longitude (latitude is half),
// and the characters a pair may hold.
struct Pair {
  double longitudeDegrees;
  char first;
  char last;
};
constexpr Pair kPairs[] = {
    {20.0, 'A', 'R'}, {2.0, '0', '9'}, {2.0 / 24.0, 'A', 'X'}, {2.0 / 240.0, '0', '9'}};

double Normalised(double bearing) {
  bearing = std::fmod(bearing, 360.0);
  if (bearing < 0) bearing += 360.0;
  return bearing;
}

}  // namespace

std::optional<std::string> ReadLocator(std::string_view text) {
  if (text.size() != 4 && text.size() != 6 && text.size() != 8) return std::nullopt;
  std::string locator;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = Upper(text[i]);
    const Pair& pair = kPairs[i / 2];
    if (c < pair.first || c > pair.last) return std::nullopt;
    locator += c;
  }
  return locator;
}

std::optional<GeoPoint> LocatorCentre(std::string_view text) {
  const std::optional<std::string> locator = ReadLocator(text);
  if (!locator) return std::nullopt;
  GeoPoint point{-90.0, -180.0};
  double width = 0;
  for (std::size_t i = 0; i < locator->size(); i += 2) {
    const Pair& pair = kPairs[i / 2];
    width = pair.longitudeDegrees;
    point.longitude += ((*locator)[i] - pair.first) * width;
    point.latitude += ((*locator)[i + 1] - pair.first) * width / 2;
  }
  point.longitude += width / 2;
  point.latitude += width / 4;
  return point;
}

GreatCircle ShortPath(GeoPoint from, GeoPoint to) {
  const double lat1 = from.latitude * kDegree;
  const double lat2 = to.latitude * kDegree;
  const double dLon = (to.longitude - from.longitude) * kDegree;
  const double y = std::sin(dLon) * std::cos(lat2);
  const double x = std::cos(lat1) * std::sin(lat2) - std::sin(lat1) * std::cos(lat2) * std::cos(dLon);
  // The central angle by atan2, which stays accurate for short and for
  // nearly antipodal paths alike.
  const double along = std::hypot(y, x);
  const double cosine = std::sin(lat1) * std::sin(lat2) + std::cos(lat1) * std::cos(lat2) * std::cos(dLon);
  const double angle = std::atan2(along, cosine);
  // At the antipode (and at the start) the direction is undefined: north.
  const double bearing = along < 1e-12 ? 0.0 : Normalised(std::atan2(y, x) / kDegree);
  return {bearing, angle * kEarthRadiusKm};
}

GreatCircle LongPath(GeoPoint from, GeoPoint to) {
  const GreatCircle shortWay = ShortPath(from, to);
  return {Normalised(shortWay.bearing + 180.0), 2 * std::numbers::pi * kEarthRadiusKm - shortWay.distanceKm};
}

}  // namespace rotavox
