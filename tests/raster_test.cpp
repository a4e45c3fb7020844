// The compass image: raster rules of the drawing commands, and the dial as
// the operator sees it.
#include <gtest/gtest.h>

#include "display/compass.h"
#include "display/raster.h"
#include "fakes.h"

namespace rotavox::testing {
namespace {

constexpr std::uint32_t kFace = 0xFFF0F0F0u;
constexpr std::uint32_t kBlackPixel = 0xFF000000u;
constexpr std::uint32_t kYellowPixel = 0xFFFFFF00u;
constexpr std::uint32_t kAmberPixel = 0xFFC89600u;

int CountOf(const RasterSurface& s, std::uint32_t argb) {
  return static_cast<int>(std::count(s.Pixels().begin(), s.Pixels().end(), argb));
}

TEST(Raster, LinesHaveFlatEndsAndExcludeTheirEndPoint) {
  // A vertical 3-pixel line 114 long covers 3 columns and 114 rows.
  RasterSurface s(248, 252, kFace);
  s.SetPen(3, kAmber);
  s.MoveTo(124, 126);
  s.LineTo(124, 12);
  EXPECT_EQ(CountOf(s, kAmberPixel), 3 * 114);
  EXPECT_EQ(s.PixelAt(124, 13), kAmberPixel);
  EXPECT_EQ(s.PixelAt(124, 12), kFace);  // the end point is not painted
  EXPECT_EQ(s.PixelAt(124, 126), kAmberPixel);
  EXPECT_EQ(s.PixelAt(122, 60), kFace);
  EXPECT_EQ(s.PixelAt(126, 60), kFace);
}

TEST(Raster, TheSameLineInBlackWipesANeedleCompletely) {
  for (const int bearing : {0, 1, 45, 123, 200, 271, 359}) {
    SCOPED_TRACE(bearing);
    RasterSurface s(248, 252, kFace);
    s.Fill(kBlack);
    const Point tip = PointOnDial(bearing - 90.0, 114, {124, 126}, 3.141593f);
    s.SetPen(3, kAmber);
    s.MoveTo(124, 126);
    s.LineTo(tip.x, tip.y);
    EXPECT_GT(CountOf(s, kAmberPixel), 300);
    s.SetPen(3, kBlack);
    s.MoveTo(124, 126);
    s.LineTo(tip.x, tip.y);
    EXPECT_EQ(CountOf(s, kAmberPixel), 0);
  }
}

TEST(Raster, RectanglesCoverLeftTopToRightBottomExclusive) {
  RasterSurface s(10, 10, kFace);
  s.SetPen(2, kBlack);
  s.Rectangle(3, 4, 5, 6, std::nullopt);  // the dial's small square
  EXPECT_EQ(CountOf(s, kBlackPixel), 4);
  EXPECT_EQ(s.PixelAt(3, 4), kBlackPixel);
  EXPECT_EQ(s.PixelAt(4, 5), kBlackPixel);
  EXPECT_EQ(s.PixelAt(5, 6), kFace);
}

TEST(Raster, DrawingOffTheImageIsClipped) {
  RasterSurface s(4, 4, kFace);
  s.SetPen(3, kBlack);
  s.MoveTo(-100, -100);
  s.LineTo(100, 100);
  s.SetPixel(-1, 2, kBlack);
  s.Ellipse(-50, -50, 50, 50, kBlack);
  EXPECT_EQ(s.Pixels().size(), 16u);
}

TEST(Raster, TheDialAsDrawn) {
  Rig rig;
  RasterSurface s(248, 252, kFace);
  Context context{rig.state, rig.dialog, rig.desktop, rig.rotator, rig.voices, s, rig.steps};
  rig.state.PiValue = 3.141593f;
  rig.dialog.Create(rig.state);
  DrawCompass(context);
  // Centre black, rim yellow at radius 120 on the axes, face outside.
  EXPECT_EQ(s.PixelAt(124, 126), kBlackPixel);
  EXPECT_EQ(s.PixelAt(243, 132), kYellowPixel);  // 3 degrees: between two ticks
  EXPECT_EQ(s.PixelAt(4, 119), kYellowPixel);    // 183 degrees
  EXPECT_EQ(s.PixelAt(184, 22), kBlackPixel);    // the square at 300 degrees
  EXPECT_EQ(s.PixelAt(0, 0), kFace);
  EXPECT_EQ(s.PixelAt(247, 251), kFace);
  // The square at 0 degrees sits on the rim, right of the centre.
  EXPECT_EQ(s.PixelAt(244, 126), kBlackPixel);
  EXPECT_EQ(s.PixelAt(245, 127), kBlackPixel);

  rig.state.CurrentBearing = 90;
  ShowBearing(context);
  EXPECT_EQ(s.PixelAt(200, 126), kAmberPixel);
  rig.state.CurrentBearing = 180;
  ShowBearing(context);
  EXPECT_EQ(s.PixelAt(200, 126), kBlackPixel);  // the old needle is gone
  EXPECT_EQ(s.PixelAt(124, 200), kAmberPixel);
  EXPECT_EQ(CountOf(s, kAmberPixel), 3 * 114);
}

}  // namespace
}  // namespace rotavox::testing
