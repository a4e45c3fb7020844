// An off-screen image that carries out the compass's drawing commands pixel
// by pixel, so that what the operator sees is exactly what the geometry
// says, whatever toolkit shows it.
//
// Pixels are 32-bit 0xFFRRGGBB, row by row, ready to be shown 1:1. The
// raster rules (pixel centres at x + 0.5, y + 0.5):
//  - Ellipse: the pen is centred on the outline of the ellipse inscribed
//    in the box; the inside is filled.
//  - Rectangle: covers columns left to right - 1 and rows top to bottom - 1;
//    the pen runs along the inside of that edge.
//  - LineTo: every pixel whose centre lies within half the pen width of the
//    segment and projects onto it between the start (included) and the end
//    (excluded): flat ends, so a wipe with the same pen covers a needle
//    exactly.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "display/surface.h"

namespace rotavox {

class RasterSurface final : public Surface {
 public:
  // `face` is the colour the window system uses for the button face.
  RasterSurface(int width, int height, std::uint32_t face);

  // Called by Redraw to bring the image to the screen at once.
  void SetPresenter(std::function<void()> present) { present_ = std::move(present); }

  const std::vector<std::uint32_t>& Pixels() const { return pixels_; }
  std::uint32_t PixelAt(int x, int y) const { return pixels_[Index(x, y)]; }
  std::uint32_t Resolve(Colour colour) const;

  bool Available() override { return width_ > 0 && height_ > 0; }
  Size ClientSize() override { return {width_, height_}; }
  void Fill(Colour colour) override;
  void SetPen(int width, Colour colour) override;
  void Ellipse(int left, int top, int right, int bottom, std::optional<Colour> fill) override;
  void Rectangle(int left, int top, int right, int bottom, std::optional<Colour> fill) override;
  void SetPixel(int x, int y, Colour colour) override;
  void MoveTo(int x, int y) override;
  void LineTo(int x, int y) override;
  void Redraw() override;

 private:
  std::size_t Index(int x, int y) const {
    return static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) +
           static_cast<std::size_t>(x);
  }
  void Put(int x, int y, std::uint32_t argb);

  int width_;
  int height_;
  std::uint32_t face_;
  std::vector<std::uint32_t> pixels_;
  int penWidth_ = 1;
  std::uint32_t penColour_ = 0xFF000000u;
  int atX_ = 0;
  int atY_ = 0;
  std::function<void()> present_;
};

}  // namespace rotavox
