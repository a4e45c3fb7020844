// The drawing surface of the compass view.
//
// The surface keeps an off-screen image of the control's client area, one
// image pixel per screen pixel, and shows it on the screen only at Redraw.
// Coordinates are client pixels, (0, 0) top left, y growing downwards.
// Operations follow the usual raster rules of a desktop drawing API: a
// current pen (width and colour, always solid) outlines ellipses and
// rectangles and draws lines from the current position; a line does not
// paint its end point. Implementations: display/qt, display/win32, and the
// tests' recording surface.
#pragma once

#include <cstdint>
#include <optional>

namespace rotavox {

struct Colour {
  std::uint8_t red = 0;
  std::uint8_t green = 0;
  std::uint8_t blue = 0;
  // The window system's button-face colour; red, green and blue unused.
  bool buttonFace = false;

  friend bool operator==(const Colour&, const Colour&) = default;
};

inline constexpr Colour kButtonFace{0, 0, 0, true};
inline constexpr Colour kBlack{0, 0, 0, false};
inline constexpr Colour kYellow{255, 255, 0, false};
inline constexpr Colour kAmber{200, 150, 0, false};

struct Size {
  int width = 0;
  int height = 0;
};

class Surface {
 public:
  virtual ~Surface() = default;

  // False when there is no image to draw on; the drawing then does nothing.
  virtual bool Available() = 0;
  virtual Size ClientSize() = 0;
  // Fills the whole image.
  virtual void Fill(Colour colour) = 0;
  virtual void SetPen(int width, Colour colour) = 0;
  // Ellipse inscribed in the box (left, top) - (right, bottom), outlined with
  // the pen and filled with `fill` (nothing when empty).
  virtual void Ellipse(int left, int top, int right, int bottom, std::optional<Colour> fill) = 0;
  virtual void Rectangle(int left, int top, int right, int bottom, std::optional<Colour> fill) = 0;
  virtual void SetPixel(int x, int y, Colour colour) = 0;
  virtual void MoveTo(int x, int y) = 0;
  virtual void LineTo(int x, int y) = 0;
  // Shows the image on the screen now, before returning.
  virtual void Redraw() = 0;
};

}  // namespace rotavox
