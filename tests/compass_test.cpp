// The compass dial, its needle and the bearing box.
#include "display/compass.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "fakes.h"

namespace rotavox::testing {
namespace {

std::string Xy(int x, int y) { return std::to_string(x) + "," + std::to_string(y); }

// The default surface is 248 x 252, so the centre is (124, 126).
struct CompassTest : ::testing::Test {
  Rig rig;
  void SetUp() override { rig.state.PiValue = 3.141593f; }
  void Draw() {
    DrawCompass(rig.context);
    rig.surface.ops.clear();
  }
  std::vector<std::string> Show(std::int32_t bearing) {
    rig.surface.ops.clear();
    rig.state.CurrentBearing = bearing;
    ShowBearing(rig.context);
    return rig.surface.ops;
  }
  std::string BearingBox() { return rig.dialog.controls[kBearingBox].text; }
};

// "0" for 0, otherwise the last three characters of the number text of
// 1000 + bearing, so 1 to 999 always show three digits.
TEST(BearingBoxText, ThreeDigitsExceptZero) {
  const struct {
    std::int32_t bearing;
    const char* text;
  } cases[] = {
      {0, "0"},     {1, "001"},     {10, "010"}, {45, "045"}, {90, "090"}, {100, "100"},
      {270, "270"}, {360, "360"},   {999, "999"}, {1000, "000"}, {-5, "995"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bearing);
    EXPECT_EQ(BearingBoxText(c.bearing), c.text);
  }
}

// 0 degrees is to the right of the centre and angles run clockwise on the
// screen (y grows downwards); coordinates are rounded halves to even.
TEST(PointOnDial, ClockwiseFromTheRight) {
  const Point centre{124, 126};
  const struct {
    double degrees;
    std::int32_t radius;
    Point point;
  } cases[] = {
      {0, 120, {244, 126}},  {90, 120, {124, 246}}, {180, 120, {4, 126}},
      {270, 120, {124, 6}},  {-90, 114, {124, 12}}, {-45, 114, {205, 45}},
      {-89, 114, {126, 12}}, {6, 120, {243, 139}},  {30, 0, {124, 126}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.degrees);
    const Point p = PointOnDial(c.degrees, c.radius, centre, 3.141593f);
    EXPECT_EQ(Xy(p.x, p.y), Xy(c.point.x, c.point.y));
  }
}

// The dial: face fill, a black disc of radius 120 with a yellow 6-pixel rim,
// then one tick every 6 degrees from 0, a hollow 2-pixel square at each
// multiple of 30 and a black pixel at the others, then one redraw.
TEST_F(CompassTest, DrawsDialAndTicks) {
  DrawCompass(rig.context);
  const auto& ops = rig.surface.ops;
  ASSERT_EQ(ops.size(), 65u);
  EXPECT_EQ(ops[0], "fill face");
  EXPECT_EQ(ops[1], "pen 6 yellow");
  EXPECT_EQ(ops[2], "ellipse 4,6 244,246 fill black");
  EXPECT_EQ(ops[3], "pen 2 black");
  EXPECT_EQ(ops[4], "rect 244,126 246,128 hollow");   // 0: 120 right, level
  EXPECT_EQ(ops[5], "pixel 243,139 black");           // 6
  EXPECT_EQ(ops[4 + 15], "rect 124,246 126,248 hollow");  // 90: 120 below
  EXPECT_EQ(ops[4 + 30], "rect 4,126 6,128 hollow");      // 180
  EXPECT_EQ(ops[4 + 45], "rect 124,6 126,8 hollow");      // 270
  EXPECT_EQ(ops.back(), "redraw");
  for (int k = 0; k < 60; ++k) {
    SCOPED_TRACE(k * 6);
    EXPECT_EQ(ops[4 + k].rfind(k % 5 == 0 ? "rect " : "pixel ", 0), 0u);
  }
  EXPECT_EQ(std::count(rig.log.begin(), rig.log.end(), "redraw"), 1);

  const ProgramState& s = rig.state;
  EXPECT_TRUE(s.CompassDrawn);
  EXPECT_EQ(Xy(s.DialCentreX, s.DialCentreY), "124,126");
  EXPECT_EQ(s.DialRadius, 120);
  EXPECT_EQ(s.TickRadius, 120);
  EXPECT_EQ(Xy(s.NeedleTipX, s.NeedleTipY), "124,126");  // no needle yet
}

// The centre is half the client size, halves to even; the ticks sit 4
// pixels inside the smaller half-side; the disc stays radius 120.
TEST_F(CompassTest, CentreAndTickRadiusFollowTheClientSize) {
  const struct {
    int width, height;
    const char* centre;
    std::int32_t tickRadius;
    const char* ellipse;
  } cases[] = {
      {248, 252, "124,126", 120, "ellipse 4,6 244,246 fill black"},
      {247, 252, "124,126", 120, "ellipse 4,6 244,246 fill black"},
      {245, 252, "122,126", 118, "ellipse 2,6 242,246 fill black"},
      {249, 249, "124,124", 120, "ellipse 4,4 244,244 fill black"},
      {200, 300, "100,150", 96, "ellipse -20,30 220,270 fill black"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
    rig.surface.ops.clear();
    rig.surface.size = {c.width, c.height};
    DrawCompass(rig.context);
    EXPECT_EQ(Xy(rig.state.DialCentreX, rig.state.DialCentreY), c.centre);
    EXPECT_EQ(rig.state.TickRadius, c.tickRadius);
    ASSERT_GT(rig.surface.ops.size(), 2u);
    EXPECT_EQ(rig.surface.ops[2], c.ellipse);
  }
}

// The needle is a 3-pixel amber line 114 pixels long from the centre: 0
// straight up, 1 two pixels right of that, 45 81 right and 81 up, then
// clockwise; 360 as 0. Right after the dial the wiping stroke has no length.
TEST_F(CompassTest, NeedlePointsAtTheBearing) {
  const struct {
    std::int32_t bearing;
    const char* box;
    const char* tip;
  } cases[] = {
      {0, "0", "124,12"},     {1, "001", "126,12"},    {45, "045", "205,45"},
      {90, "090", "238,126"}, {180, "180", "124,240"}, {270, "270", "10,126"},
      {360, "360", "124,12"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bearing);
    Draw();
    EXPECT_EQ(Show(c.bearing),
              (std::vector<std::string>{"pen 3 black", "move 124,126", "line 124,126",
                                        "pen 3 amber", "move 124,126",
                                        std::string("line ") + c.tip, "redraw"}));
    EXPECT_EQ(BearingBox(), c.box);
    EXPECT_EQ(rig.state.BearingText, c.box);
    EXPECT_EQ(Xy(rig.state.NeedleTipX, rig.state.NeedleTipY), c.tip);
  }
}

// Each needle first paints over the previous one in the face colour.
TEST_F(CompassTest, SecondBearingWipesTheFirstNeedle) {
  Draw();
  Show(45);
  EXPECT_EQ(Show(90), (std::vector<std::string>{"pen 3 black", "move 124,126", "line 205,45",
                                                "pen 3 amber", "move 124,126", "line 238,126",
                                                "redraw"}));
  EXPECT_EQ(Show(90)[2], "line 238,126");
  EXPECT_EQ(BearingBox(), "090");
}

// Without a dial the bearing box is still written and nothing is drawn.
TEST_F(CompassTest, BoxIsWrittenEvenWithoutADial) {
  EXPECT_TRUE(Show(45).empty());  // before DrawCompass
  EXPECT_EQ(BearingBox(), "045");

  rig.surface.available = false;
  DrawCompass(rig.context);
  EXPECT_FALSE(rig.state.CompassDrawn);
  EXPECT_TRUE(Show(7).empty());
  EXPECT_EQ(BearingBox(), "007");
  EXPECT_TRUE(rig.surface.ops.empty());
  EXPECT_TRUE(rig.log.empty());
}

}  // namespace
}  // namespace rotavox::testing
