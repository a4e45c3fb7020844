// Grid locators, great circles and GO with a station's locator.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "common/country_file.h"
#include "common/locator.h"
#include "fakes.h"
#include "target/aim.h"
#include "link/wsjtx.h"
#include "target/dx_station.h"
#include "target/target.h"

namespace rotavox::testing {
namespace {

// Lines of the Big CTY file (Debian's hamradio-files, 2023-05-02), cut
// down, with a few of our own: positions that aliases give (which that
// file has none of), and lines that cannot be read.
constexpr const char* kCountries =
    "Fiji:                     32:  56:  OC:  -17.78:  -177.92:   -12.0:  3D2:\n"
    "    3D2,=3D5X;\n"
    "Rotuma Island:            32:  56:  OC:  -12.48:  -177.08:   -12.0:  3D2/r:\n"
    "    =3D2AG/P,=3D2EU,\n"
    "    =3D2RX;\n"
    "Israel:                   20:  39:  AS:   31.32:   -34.82:    -2.0:  4X:\n"
    "    4X,4Z;\n"
    "Spain:                    14:  37:  EU:   40.32:     3.43:    -1.0:  EA:\n"
    "    AM,AN,AO,EA,EB,EC,ED,EE,EF,EG,EH;\n"
    "Balearic Islands:         14:  37:  EU:   39.60:    -2.95:    -1.0:  EA6:\n"
    "    AM6,AN6,AO6,EA6,EB6,EC6,ED6,EE6,EF6,EG6,EH6;\n"
    "Fed. Rep. of Germany:     14:  28:  EU:   51.00:   -10.00:    -1.0:  DL:\n"
    "    DA,DB,DC,DD,DE,DF,DG,DH,DI,DJ,DK,DL,DM,DN,DO,DP,DQ,DR,=DL/G4ABC/P(14)[28]<50.5/-7.5>;\r\n"
    "England:                  14:  27:  EU:   52.77:     1.47:     0.0:  G:\n"
    "    2E,G,M;\n"
    "Japan:                    25:  45:  AS:   36.40:  -138.38:    -9.0:  JA:\n"
    "    JA,JE,JF,JG,JH,JI,JJ,JK,JL,JM,JN,JO,JP,JQ,JR,JS,7J,7K,7L,7M,7N,8J;\n"
    "Hawaii:                   31:  61:  OC:   21.12:   157.48:    10.0:  KH6:\n"
    "    AH6,AH7,KH6,KH7,NH6,NH7,WH6,WH7;\n"
    "United States of America: 05:  08:  NA:   37.60:    91.87:     5.0:  K:\n"
    "    AA,K,N,W,=W1AW/KH6,KZ9X<45.5/100.25>{NA}~5.0~;\n"
    "Australia:                30:  59:  OC:  -23.70:  -132.33:   -10.0:  VK:\n"
    "    AX,VH,VI,VJ,VK,VL,VM,VN,=XV9XX(29)bad,XV$X;\n"
    "Nowhere:                  1:  1:  EU:   95.00:     1.00:     0.0:  QQ:\n"
    "    QQ;\n"
    "South Africa:             38:  57:  AF:  -29.07:   -22.63:    -2.0:  ZS:\n"
    "    H5,S4,S8,V9,ZR,ZS,ZT,ZU\n"
    "New Zealand:              32:  60:  OC:  -39.03:  -174.47:   -12.0:  ZL:\n"
    "    ZK,ZL,ZM;\n"
    "Sov Mil Order of Malta:   15:  28:  EU:   41.90:   -12.43:    -1.0:  *1A:\n"
    "    1A;";

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

// A target text is read as nothing, a bearing, a locator, a slip shaped
// like a locator, a callsign or other text, in that order; " L" asks for
// the long path of a station.
TEST(ParseTarget, ReadsEachKindInItsOrder) {
  using K = Target::Kind;
  const struct {
    const char* text;
    K kind;
    const char* station;
    bool longPath;
  } cases[] = {
      {"", K::kNothing, "", false},          {" \t", K::kNothing, "", false},
      {"90", K::kBearing, "", false},        {" 045 ", K::kBearing, "", false},
      {"jn58td", K::kLocator, "JN58TD", false},
      {" JN58TD  l ", K::kLocator, "JN58TD", true},
      {"jo62qm15", K::kLocator, "JO62QM15", false},
      {"GB22GD", K::kLocator, "GB22GD", false},  // a locator before a special call
      {"JN58TZ", K::kNotALocator, "JN58TZ", false},
      {"jn58td4", K::kNotALocator, "JN58TD4", false},
      {"JS58", K::kNotALocator, "JS58", false},
      {"JN58TD4 L", K::kNotALocator, "JN58TD4", true},
      {"ZZ99ZZ99", K::kNotALocator, "ZZ99ZZ99", false},
      {"JN58T", K::kCall, "JN58T", false},   {"DR100X", K::kCall, "DR100X", false},
      {"JA1XYZ", K::kCall, "JA1XYZ", false}, {"dl/g4abc/p l", K::kCall, "DL/G4ABC/P", true},
      {"12x", K::kCall, "12X", false},       {"L", K::kCall, "L", false},
      {"ABCDEFGHIJKLMNO", K::kText, "", false},
      {"1-2", K::kText, "", false},          {"12 4", K::kText, "", false},
      {"JN58TD X", K::kText, "", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string("'") + c.text + "'");
    const Target target = ParseTarget(c.text);
    EXPECT_EQ(target.kind, c.kind);
    EXPECT_EQ(target.station, c.station);
    EXPECT_EQ(target.longPath, c.longPath);
    EXPECT_EQ(target.text, c.text);
  }
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
    const Target target = ParseTarget(c.text);
    ASSERT_EQ(target.kind == Target::Kind::kLocator && *c.home, c.aim);
    if (!c.aim) continue;
    const AimPlan plan = PlanAim(target, c.home, CountryFile());
    EXPECT_EQ(plan.outcome == AimPlan::Outcome::kSameSquare, c.same);
    EXPECT_EQ(plan.bearing, c.bearing);
    EXPECT_EQ(plan.words, c.words);
  }
}

// A callsign names the entity of an exact-call alias equal to the whole
// call, slashes included; else a portable form keeps the call's entity, or
// the shorter of prefix and call names it (each part looked up again); else
// the longest prefix alias that the call begins with wins. At sea or in
// the air there is none. Lines and aliases that cannot be read are skipped.
TEST(CountryFile, FindsTheEntityOfACall) {
  const CountryFile file = CountryFile::Parse(kCountries);
  const struct {
    const char* call;
    const char* entity;  // nullptr: none
    double latitude, longitude;
  } cases[] = {
      {"EA6ABC", "Balearic Islands", 39.60, 2.95},  {"EA1ABC", "Spain", 40.32, -3.43},
      {"3D2AG", "Fiji", -17.78, 177.92},            {"3D2AG/P", "Rotuma Island", -12.48, 177.08},
      {"3d2ag/p", "Rotuma Island", -12.48, 177.08}, {"3D2RX", "Rotuma Island", -12.48, 177.08},
      {"4X1AB", "Israel", 31.32, 34.82},            {"2E0ABC", "England", 52.77, -1.47},
      {"DL1ABC/P", "Fed. Rep. of Germany", 51, 10}, {"DL1ABC/M", "Fed. Rep. of Germany", 51, 10},
      {"DL1ABC/A", "Fed. Rep. of Germany", 51, 10}, {"DL1ABC/QRP", "Fed. Rep. of Germany", 51, 10},
      {"DL1ABC/7", "Fed. Rep. of Germany", 51, 10}, {"DL/G4ABC", "Fed. Rep. of Germany", 51, 10},
      {"G4ABC/DL", "Fed. Rep. of Germany", 51, 10}, {"G4ABC/DL/P", "Fed. Rep. of Germany", 51, 10},
      {"DL/G4ABC/P", "Fed. Rep. of Germany", 50.5, 7.5},  // its own alias, with its own position
      {"KH6/W1AW", "Hawaii", 21.12, -157.48},       {"W1AW/KH6", "United States of America", 37.60, -91.87},
      {"W1AW/KH6/P", "United States of America", 37.60, -91.87},     {"KZ9XYZ", "United States of America", 45.5, -100.25},
      {"1A0KM", "Sov Mil Order of Malta", 41.90, 12.43},
      {"ZS6ABC", "South Africa", -29.07, 22.63},  // a list that runs into the next header
      {"ZL2ABC", "New Zealand", -39.03, 174.47},
      {"XV9XX", nullptr, 0, 0},    // aliases that cannot be read
      {"VK2ABC", "Australia", -23.70, 132.33},
      {"QQ1A", nullptr, 0, 0},     // a header out of range
      {"G4ABC/MM", nullptr, 0, 0}, {"G4ABC/AM", nullptr, 0, 0},
      {"XX1ABC", nullptr, 0, 0},   {"", nullptr, 0, 0},
      {"/", nullptr, 0, 0},        {"/P", nullptr, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.call);
    const std::optional<CallEntity> found = file.Find(c.call);
    ASSERT_EQ(found.has_value(), c.entity != nullptr);
    if (!found) continue;
    EXPECT_EQ(found->entity->name, c.entity);
    EXPECT_DOUBLE_EQ(found->point.latitude, c.latitude);
    EXPECT_DOUBLE_EQ(found->point.longitude, c.longitude);
  }
  EXPECT_FALSE(file.Find("1A0KM")->entity->dxcc);
  EXPECT_TRUE(CountryFile::Parse("").Empty());
}

// From the centre of the home square to the entity's point. The reference
// values are Hamlib 4.5.4's qrb (rotctl -m 1, command B), which counts
// 111.2 km a degree of arc.
TEST(CallAim, BearingsAgreeWithAPublishedCalculator) {
  const CountryFile file = CountryFile::Parse(kCountries);
  const struct {
    const char* home;
    const char* call;
    int bearing;
    double km;  // Hamlib's
  } cases[] = {
      {"JO62QM", "JA1XYZ", 42, 8790.215096},   {"JO62QM", "W1AW", 305, 7679.183226},
      {"JO62QM", "VK2ABC", 82, 14018.464382},  {"JO62QM", "KH6ABC", 351, 11779.285840},
      {"JO62QM", "G4ABC", 277, 1000.199742},   {"JO62QM", "4X1AB", 135, 2926.781020},
      {"JO62QM", "EA6ABC", 213, 1642.831754},  {"JO62QM", "3D2AG/P", 24, 15332.060587},
      {"FN31PR", "DL1ABC", 50, 6090.221985},   {"FN31PR", "JA1XYZ", 335, 10770.744034},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.home) + " to " + c.call);
    const AimPlan plan = PlanAim(ParseTarget(c.call), c.home, file);
    ASSERT_EQ(plan.outcome, AimPlan::Outcome::kTurn);
    EXPECT_EQ(plan.bearing, c.bearing);
    EXPECT_EQ(plan.distanceKm, std::lround(c.km * kEarthRadiusKm / (111.2 * 180 / std::numbers::pi)));
  }
}

// Along the beam: the entities within 15 degrees either side, nearest
// first, at most eight, never the operator's own (that of --call).
TEST(CallAim, AlongTheBeam) {
  const CountryFile file = CountryFile::Parse(kCountries);
  const struct {
    const char* home;
    const char* own;  // the operator's call, or ""
    std::int32_t bearing;
    const char* words;
  } cases[] = {
      {"JO62QM", "", 220, "Along 2 2 0 : Balearic Islands, Spain"},
      {"JO40", "DL1ABC", 45, "Along 0 4 5 : Japan, New Zealand"},
      {"JO40", "", 45, "Along 0 4 5 : Fed. Rep. of Germany, Japan, New Zealand"},  // at 51 degrees
      {"JO40", "JA1XYZ", 45, "Along 0 4 5 : Fed. Rep. of Germany, New Zealand"},
      {"JO40", "", 4, "Along 0 0 4 : Rotuma Island"},  // Fiji lies at 19.2 degrees
      {"JO40", "", 5, "Along 0 0 5 : Rotuma Island, Fiji"},
      {"JO40", "", 355, "Along 3 5 5 : Hawaii"},
      {"JO40", "", 715, "Along 7 1 5 : Hawaii"},  // taken round the circle
      {"JO40", "", 270, "Along 2 7 0 : nothing"},
  };
  for (const auto& c : cases) {
    const std::optional<CallEntity> own = file.Find(c.own);
    EXPECT_EQ(BeamWords(c.home, file, c.bearing, own ? own->entity : nullptr), c.words);
  }
  EXPECT_EQ(BeamWords("JO62QM", CountryFile(), 0), kNoCountryFile);
  EXPECT_EQ(PlanAim(ParseTarget("JA1XYZ"), "JO62QM", CountryFile()).words, kNoCountryFile);
}

// GO with a locator or a callsign: heard once, left as the box's note, and
// then the road of a typed bearing; any other text goes out as typed.
TEST(LocatorAim, GoTurnsThereAfterSayingWhere) {
  Rig rig;
  rig.state.HomeLocator = "JO62QM";
  rig.countries = Countries(CountryFile::Parse(kCountries));
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
      {"12x", {"12X not found"}, {}},  // a callsign, as far as its letters go
      {"1-2", {}, {"<STX>AG1-2<CR>"}},
      {"ja1xyz", {"JA1XYZ Japan short path 0 4 2 , 8790 kilometres"}, {"<STX>AG42<CR>"}},
      {" ja1xyz/p l ", {"JA1XYZ/P Japan long path 2 2 2 , 31240 kilometres"}, {"<STX>AG222<CR>"}},
      {"G4ABC/MM", {"G4ABC/MM not found"}, {}},
      // A slip of the finger in a locator is never taken for a call.
      {"JN58TZ", {"JN58TZ not a locator"}, {}},
      {"jn58td4", {"JN58TD4 not a locator"}, {}},
      {"JS58", {"JS58 not a locator"}, {}},
      {"DR100X", {"DR100X Fed. Rep. of Germany short path 2 3 5 , 287 kilometres"}, {"<STX>AG235<CR>"}},
      {"ABCDEFGHIJKLMN", {"ABCDEFGHIJKLMN not found"}, {}},
      {"ABCDEFGHIJKLMNO", {}, {"<STX>AGABCDEFGHIJKLMNO<CR>"}},  // too long for a call
      {"1234", {}, {"<STX>AG1234<CR>"}},
      {"12 4", {}, {"<STX>AG12 4<CR>"}},
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
  // Alt+A leaves out the operator's own country; a call the file does not
  // place is said at the first Alt+A, and then nothing is left out.
  rig.state.OwnCall = "XX1ABC";
  rig.ClearLog();
  rig.dialog.Command(kBeamHotkey, kAcceleratorCode);
  rig.dialog.Command(kBeamHotkey, kAcceleratorCode);
  EXPECT_EQ(rig.Said(), (std::vector<std::string>{"Own call XX1ABC not found", "Along 0 3 3 : Japan, Rotuma Island, Fiji",
                                              "Along 0 3 3 : Japan, Rotuma Island, Fiji"}));
}

}  // namespace
}  // namespace rotavox::testing

namespace rotavox::testing {
namespace {

// WSJT-X's station is announced once its DX call and grid have stood a
// second; again when the same call gains or changes its grid, and again
// only for another station; an emptied call says nothing; of two programs
// the one that changed last counts. Times replayed: statuses at their ms,
// the window's tick every 80 ms.
TEST(DxStation, AnnouncedOnceSettled) {
  struct Status {
    int ms;
    const char* id;
    const char* call;
    const char* grid;
  };
  const struct {
    const char* what;
    std::vector<Status> statuses;
    std::vector<std::string> heard;  // "ms CALL GRID"
  } cases[] = {
      {"typed, the grid soon after",
       {{0, "A", "J", ""}, {30, "A", "JA", ""}, {60, "A", "JA1", ""}, {100, "A", "JA1X", ""},
        {140, "A", "JA1XY", ""}, {170, "A", "JA1XYZ", ""}, {800, "A", "JA1XYZ", "PM95"}},
       {"1840 JA1XYZ PM95"}},
      {"the grid late: the call, then its grid",
       {{0, "A", "JA1XYZ", ""}, {1700, "A", "JA1XYZ", "PM95"}},
       {"1040 JA1XYZ ", "2720 JA1XYZ PM95"}},
      {"emptied", {{0, "A", "JA1XYZ", ""}, {500, "A", "", ""}}, {}},
      {"the grid taken away", {{0, "A", "JA1XYZ", "PM95"}, {2000, "A", "JA1XYZ", ""}}, {"1040 JA1XYZ PM95"}},
      {"the grid changed", {{0, "A", "JA1XYZ", "PM95"}, {2000, "A", "JA1XYZ", "PM96"}},
       {"1040 JA1XYZ PM95", "3040 JA1XYZ PM96"}},
      {"another station, then back",
       {{0, "A", "JA1XYZ", "PM95"}, {2000, "A", "W1AW", ""}, {4000, "A", "JA1XYZ", "PM95"}},
       {"1040 JA1XYZ PM95", "3040 W1AW ", "5040 JA1XYZ PM95"}},
      {"two programs", {{0, "A", "JA1XYZ", ""}, {500, "B", "W1AW", ""}}, {"1520 W1AW "}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    DxStation dx;
    std::vector<std::string> heard;
    const DxStation::TimePoint start{};
    std::size_t next = 0;
    for (int ms = 0; ms <= 6000; ms += 80) {
      while (next < c.statuses.size() && c.statuses[next].ms <= ms) {
        const Status& s = c.statuses[next++];
        dx.Seen({s.id, s.call, s.grid, ""}, start + std::chrono::milliseconds(s.ms));
      }
      if (const auto due = dx.Due(start + std::chrono::milliseconds(ms))) {
        heard.push_back(std::to_string(ms) + " " + due->dxCall + " " + due->dxGrid);
      }
    }
    EXPECT_EQ(heard, c.heard);
  }
}

using Texts = std::vector<std::string>;

// --follow turns at a newly announced station (Alt+J and Alt+L are the key
// table's), unless another aim came within 30 s: that target stands.
TEST(DxStation, FollowTurnsUnlessAnotherAimStands) {
  Rig rig;
  WsjtxStatuses slot;
  rig.context.wsjtx = &slot;
  rig.state.Wsjtx = rig.state.WsjtxFollow = true;
  rig.state.HomeLocator = "JO62QM";
  rig.countries = Countries(CountryFile::Parse(kCountries));
  rig.StartWithFile("\"3\",1\r\n");
  rig.StartLink();
  rig.port.Arrive("\x02" "A,L,10,0,0\r");
  rig.dialog.Tick();
  rig.dialog.controls[kGoToBox].text = "20";
  rig.dialog.Click(kGoButton);  // the operator's own aim
  rig.ClearLog();
  for (const char* call : {"W1AW", "JA1XYZ"}) {  // by the call's country, 1.2 s and 31.2 s later
    slot.Put({"WSJT-X", call, "", ""});
    for (int ms = 0; ms < 30'000; ms += 80) {
      rig.clock.Advance(std::chrono::milliseconds(80));
      rig.dialog.Tick();
    }
  }
  EXPECT_EQ(rig.Said(), (Texts{"W1AW United States of America short path 3 0 5 , 7679 kilometres",
                               "JA1XYZ Japan short path 0 4 2 , 8790 kilometres"}));
  EXPECT_EQ(rig.Sent(), Texts{"<STX>AG42<CR>"});
}

// The country file is read when Alt+A or a callsign first needs it. One
// not there yet is looked for again at the next need; one that cannot be
// read, or is longer than a country file, counts as empty from then on.
TEST(LocatorAim, TheCountryFileIsReadAtItsFirstNeed) {
  using Kind = StoredSettings::Kind;
  const std::string along = "Along 0 4 5 : Fed. Rep. of Germany, Japan, New Zealand";
  const std::vector<std::pair<StoredSettings, std::string>> firsts = {
      {{Kind::kMissing, ""}, along}, {{Kind::kUnreadable, ""}, kNoCountryFile}, {{Kind::kRead, kCountries, true}, kNoCountryFile}};
  for (const auto& [first, then] : firsts) {
    Rig rig;
    rig.state.HomeLocator = "JO40";
    rig.state.CurrentBearing = 45;
    rig.state.BearingReported = true;
    rig.state.VoiceOn = 1;
    rig.countriesFile.stored = first;
    rig.dialog.Command(kBeamHotkey, kAcceleratorCode);
    rig.countriesFile.stored = {Kind::kRead, kCountries};  // the file as it is at the next need
    rig.dialog.Command(kBeamHotkey, kAcceleratorCode);
    EXPECT_EQ(rig.Said(), (std::vector<std::string>{kNoCountryFile, then}));
  }
}

}  // namespace
}  // namespace rotavox::testing
