// The compass dial and its needle, and the three-digit bearing box.
//
// The dial is a black disc of radius 120 with a 6-pixel yellow rim, a ring
// of black dots every 6 degrees and a small black square every 30 degrees.
// The needle is a 3-pixel amber line 114 pixels long from the centre;
// bearing 0 points up and angles run clockwise. Everything is computed here
// in whole pixels; the surface only carries out the drawing commands.
#pragma once

#include <cstdint>
#include <string>

namespace rotavox {

struct Context;

inline constexpr std::int32_t kDialRadius = 120;
inline constexpr std::int32_t kNeedleInset = 6;   // the needle ends inside the rim
inline constexpr int kTickStepDegrees = 6;        // 60 ticks, 0 to 354 degrees
inline constexpr int kSquareEveryDegrees = 30;

// Draws the empty dial once and keeps its centre and radius in the state.
void DrawCompass(Context& context);

// Shows CurrentBearing in the bearing box and as the needle, wiping the
// previous needle. Needs DrawCompass for the needle; the box is written
// either way.
void ShowBearing(Context& context);

// The text of the bearing box: "0" for 0, else the last three characters of
// the number text of 1000 + bearing ("045" for 45).
std::string BearingBoxText(std::int32_t bearing);

// A point `radius` pixels from the centre at `degrees` (0 to the right,
// clockwise on screen), in whole pixels, halves to even.
struct Point {
  std::int32_t x = 0;
  std::int32_t y = 0;
  friend bool operator==(const Point&, const Point&) = default;
};
Point PointOnDial(double degrees, std::int32_t radius, Point centre, float pi);

}  // namespace rotavox
