// Grid locators, great circles and GO with a station's locator.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "common/locator.h"
#include "fakes.h"
#include "ui/locator_aim.h"

namespace rotavox::testing {
namespace {

TEST(Locator, ReadsCellsAndTheirCentres) {
  const struct {
    const char* text;
    bool valid;
    double latitude, longitude;
  } cases[] = {
      {"JO62", true, 52.5, 13.0},          {"jo62qm", true, 52.520833, 13.375},
      {"JN58TD", true, 48.145833, 11.625}, {"JO62QM15", true, 52.522917, 13.345833},
      {"AA00", true, -89.5, -179.0},       {"RR99XX99", true, 89.997917, 179.995833},
      {"JO6", false, 0, 0},                {"JO62Q", false, 0, 0},
      {"SO62", false, 0, 0},               {"JS62", false, 0, 0},
      {"JOA2", false, 0, 0},               {"JO62YA", false, 0, 0},
      {"JO62QMA5", false, 0, 0},           {"JO62QM1", false, 0, 0},
      {"", false, 0, 0},                   {"JO62QM15AA", false, 0, 0},
  };
  for (const auto& c : cases) {
    const std::optional<GeoPoint> centre = LocatorCentre(c.text);
    ASSERT_EQ(centre.has_value(), c.valid) << c.text;
    if (!centre) continue;
    EXPECT_NEAR(centre->latitude, c.latitude, 1e-6) << c.text;
    EXPECT_NEAR(centre->longitude, c.longitude, 1e-6) << c.text;
  }
}

// Bearings and distances between square centres. The reference values are
// Hamlib 4.5.4's qrb (rotctl -m 1, command B, with the square centres of
// its command l), which counts 111.2 km a degree of arc (a sphere of
// 6,371.29 km); the bearing of CM87
// to BL11 and back also agrees with the one published at
// brainwagon.org/2008/01/17/maidenhead-gridsquares (251 and 54 degrees).
TEST(Locator, ShortAndLongPathsAgreeWithAPublishedCalculator) {
  const struct {
    const char* from;
    const char* to;
    int bearing;
    double km;  // Hamlib's
  } cases[] = {
      {"JO62QM", "JN58TD", 195, 502.066931},    // Berlin to Munich
      {"CM87", "BL11", 251, 3711.556835},       // San Francisco to Hawaii
      {"BL11", "CM87", 54, 3711.556835},
      {"JO62QM", "FN31PR", 296, 6226.920824},   // Berlin to Newington, CT
      {"IO91WM", "QF56OD", 61, 16992.518719},   // London to Sydney
      {"JO62QM", "PM95VQ", 42, 8922.473690},    // Berlin to Tokyo
      {"PM95VQ", "CN87", 46, 7653.127452},      // Tokyo to Seattle, over the antimeridian
      {"FN31PR", "KG33XT", 104, 12753.452637},  // Newington to Johannesburg
      {"QF56OD", "RH91", 65, 3239.962483},      // Sydney to Fiji
      {"JO62QM", "JR09", 0, 4113.389915},       // next to the north pole (Hamlib: 360)
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.from) + " to " + c.to);
    const GeoPoint a = *LocatorCentre(c.from);
    const GeoPoint b = *LocatorCentre(c.to);
    const GreatCircle shortWay = ShortPath(a, b);
    const GreatCircle longWay = LongPath(a, b);
    const double km = c.km * kEarthRadiusKm / (111.2 * 180 / std::numbers::pi);
    EXPECT_EQ(static_cast<int>(std::lround(shortWay.bearing)) % 360, c.bearing) << shortWay.bearing;
    EXPECT_NEAR(shortWay.distanceKm, km, 0.01);
    EXPECT_NEAR(longWay.bearing, std::fmod(shortWay.bearing + 180, 360), 1e-9);
    EXPECT_NEAR(longWay.distanceKm + shortWay.distanceKm, 2 * std::numbers::pi * kEarthRadiusKm, 1e-6);
  }
  // Antipodes: every way is as long; the short path leaves due north.
  const GreatCircle antipode = ShortPath(*LocatorCentre("JO62"), *LocatorCentre("AD67"));
  EXPECT_EQ(antipode.bearing, 0);
  EXPECT_NEAR(antipode.distanceKm, std::numbers::pi * kEarthRadiusKm, 1e-6);
  EXPECT_EQ(LongPath(*LocatorCentre("JO62"), *LocatorCentre("AD67")).bearing, 180);
}

TEST(LocatorAim, WordsBearingAndTheTextsThatAreNone) {
  const struct {
    const char* home;
    const char* text;
    bool aim;
    bool same;
    int bearing;
    const char* words;
  } cases[] = {
      {"JO62QM", "JN58TD", true, false, 195, "JN58TD short path 1 9 5 , 502 kilometres"},
      {"JO62QM", " jn58td  l ", true, false, 15, "JN58TD long path 0 1 5 , 39528 kilometres"},
      {"JO62QM", "JN58TD\tL", true, false, 15, "JN58TD long path 0 1 5 , 39528 kilometres"},
      {"JO62QM", "JR09", true, false, 0, "JR09 short path ZERO, 4113 kilometres"},
      {"JO62QM", "JO62", true, true, 0, "JO62 same square"},
      {"JO62", "jo62qm15", true, true, 0, "JO62QM15 same square"},
      {"JO62QM", "JO62QN", true, false, 0, "JO62QN short path ZERO, 5 kilometres"},
      {"JO62QM", "123", false, false, 0, ""},
      {"JO62QM", "JN58TDL", false, false, 0, ""},
      {"JO62QM", "JN58TD X", false, false, 0, ""},
      {"JO62QM", "L", false, false, 0, ""},
      {"", "JN58TD", false, false, 0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.home) + " / '" + c.text + "'");
    const std::optional<AimPlan> plan = PlanLocatorAim(c.home, c.text);
    ASSERT_EQ(plan.has_value(), c.aim);
    if (!plan) continue;
    EXPECT_EQ(plan->sameSquare, c.same);
    EXPECT_EQ(plan->bearing, c.bearing);
    EXPECT_EQ(plan->words, c.words);
  }
}

// GO with a locator: heard once, left as the box's note, and then the road
// of a typed bearing; any other text goes out as typed.
TEST(LocatorAim, GoTurnsThereAfterSayingWhere) {
  Rig rig;
  rig.state.HomeLocator = "JO62QM";
  rig.StartWithFile("\"3\",1\r\n");
  rig.StartLink();
  rig.port.Arrive("\x02" "A,L,33,0,0\r");
  rig.dialog.Tick();
  const struct {
    const char* typed;
    std::vector<std::string> said;
    std::vector<std::string> sent;
  } cases[] = {
      {"jn58td", {"JN58TD short path 1 9 5 , 502 kilometres"}, {"<STX>AG195<CR>"}},
      {"JO62", {"JO62 same square"}, {}},
      {"PM95VQ L", {"PM95VQ long path 2 2 2 , 31108 kilometres"}, {"<STX>AG222<CR>"}},
      {"12x", {}, {"<STX>AG12x<CR>"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.typed);
    rig.dialog.controls[kGoToBox].text = c.typed;
    rig.ClearLog();
    rig.dialog.Click(kGoButton);
    std::vector<std::string> said = rig.Said();
    std::erase(said, "");  // the cleared box's echo
    EXPECT_EQ(said, c.said);
    EXPECT_EQ(rig.Sent(), c.sent);
    if (!c.said.empty()) {
      EXPECT_EQ(rig.dialog.controls[kGoToBox].tip, c.said[0]);
    }
  }
}

}  // namespace
}  // namespace rotavox::testing
