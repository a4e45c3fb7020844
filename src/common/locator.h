// Maidenhead grid locators, and the great circle from the operator's own
// square to a station's.
//
// A locator names a cell of the globe: a field (two letters A to R: 20
// degrees of longitude, 10 of latitude), a square (two digits: 2 by 1
// degrees), a subsquare (two letters A to X: 5 by 2.5 minutes) and an
// extended square (two digits: 30 by 15 seconds); 4, 6 or 8 characters, in
// either case. Everything here works from the centre of the cell, on a
// sphere of radius 6,371 km.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace rotavox {

inline constexpr double kEarthRadiusKm = 6371.0;

struct GeoPoint {
  double latitude = 0;   // degrees, north positive
  double longitude = 0;  // degrees, east positive
};

// Upper case when `text` is a 4-, 6- or 8-character locator; nothing
// otherwise.
std::optional<std::string> ReadLocator(std::string_view text);

// The centre of the locator's cell; nothing when it is none.
std::optional<GeoPoint> LocatorCentre(std::string_view locator);

struct GreatCircle {
  double bearing = 0;     // initial bearing, degrees clockwise from north, 0 to below 360
  double distanceKm = 0;  // along the path
};

// The shorter way round, and the longer one (the opposite bearing, the rest
// of the circle). Between antipodes every way is as short: the short path
// then leaves due north and the long one due south.
GreatCircle ShortPath(GeoPoint from, GeoPoint to);
GreatCircle LongPath(GeoPoint from, GeoPoint to);

}  // namespace rotavox
