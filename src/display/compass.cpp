// Compass dial and needle (see compass.h).
#include "display/compass.h"

#include <algorithm>
#include <cmath>

#include "common/context.h"
#include "common/number.h"
#include "common/state.h"
#include "display/surface.h"
#include "ui/dialog.h"
#include "ui/messages.h"

namespace rotavox {
namespace {

std::int32_t Half(int length) { return ToInt32(length / 2.0); }

}  // namespace

Point PointOnDial(double degrees, std::int32_t radius, Point centre, float pi) {
  // Extended precision for the angle, as the dial's geometry was designed
  // with; the program's pi is the single-precision 3.141593.
  const long double radians =
      static_cast<long double>(degrees) * static_cast<long double>(pi) / 180.0L;
  const long double x = std::cos(radians) * radius + centre.x;
  const long double y = std::sin(radians) * radius + centre.y;
  return {ToInt32(static_cast<double>(x)), ToInt32(static_cast<double>(y))};
}

std::string BearingBoxText(std::int32_t bearing) {
  if (bearing == 0) return "0";
  const std::string text = NumberText(std::int64_t{1000} + bearing);
  return text.size() <= 3 ? text : text.substr(text.size() - 3);
}

void DrawCompass(Context& context) {
  ProgramState& s = context.state;
  Surface& surface = context.surface;
  s.CompassDrawn = surface.Available();
  if (!s.CompassDrawn) return;

  surface.Fill(kButtonFace);
  const Size size = surface.ClientSize();
  s.DialCentreX = Half(size.width);
  s.DialCentreY = Half(size.height);
  s.DialRadius = kDialRadius;

  surface.SetPen(6, kYellow);
  surface.Ellipse(s.DialCentreX - s.DialRadius, s.DialCentreY - s.DialRadius,
                  s.DialCentreX + s.DialRadius, s.DialCentreY + s.DialRadius, kBlack);

  // The ticks follow the control's size, so that on a control whose smaller
  // half-side is 124 they sit on the middle of the rim.
  s.TickRadius = std::min(s.DialCentreX, s.DialCentreY) - 4;
  surface.SetPen(2, kBlack);
  const Point centre{s.DialCentreX, s.DialCentreY};
  for (int angle = 0; angle < 360; angle += kTickStepDegrees) {
    const Point tick = PointOnDial(angle, s.TickRadius, centre, s.PiValue);
    s.NeedleTipX = tick.x;
    s.NeedleTipY = tick.y;
    if (angle % kSquareEveryDegrees == 0) {
      surface.Rectangle(tick.x, tick.y, tick.x + 2, tick.y + 2, std::nullopt);
    } else {
      surface.SetPixel(tick.x, tick.y, kBlack);
    }
  }
  s.NeedleTipX = s.DialCentreX;  // no needle yet
  s.NeedleTipY = s.DialCentreY;
  surface.Redraw();
}

void ShowBearing(Context& context) {
  ProgramState& s = context.state;
  s.BearingText = BearingBoxText(s.CurrentBearing);
  context.dialog.SetText(kBearingBox, s.BearingText);
  if (!s.CompassDrawn) return;

  Surface& surface = context.surface;
  // Paint over the previous needle in the colour of the dial face.
  surface.SetPen(3, kBlack);
  surface.MoveTo(s.DialCentreX, s.DialCentreY);
  surface.LineTo(s.NeedleTipX, s.NeedleTipY);

  s.NeedleAngle = static_cast<double>(s.CurrentBearing) - 90.0;
  const Point tip = PointOnDial(s.NeedleAngle, s.DialRadius - kNeedleInset,
                                {s.DialCentreX, s.DialCentreY}, s.PiValue);
  s.NeedleTipX = tip.x;
  s.NeedleTipY = tip.y;
  surface.SetPen(3, kAmber);
  surface.MoveTo(s.DialCentreX, s.DialCentreY);
  surface.LineTo(s.NeedleTipX, s.NeedleTipY);
  surface.Redraw();
}

}  // namespace rotavox
