// Raster rules of the compass image (see raster.h).
#include "display/raster.h"

#include <algorithm>
#include <cmath>

namespace rotavox {

RasterSurface::RasterSurface(int width, int height, std::uint32_t face)
    : width_(std::max(width, 0)),
      height_(std::max(height, 0)),
      face_(face | 0xFF000000u),
      pixels_(static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_), face_) {}

std::uint32_t RasterSurface::Resolve(Colour colour) const {
  if (colour.buttonFace) return face_;
  return 0xFF000000u | (std::uint32_t{colour.red} << 16) | (std::uint32_t{colour.green} << 8) |
         colour.blue;
}

void RasterSurface::Put(int x, int y, std::uint32_t argb) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
  pixels_[Index(x, y)] = argb;
}

void RasterSurface::Fill(Colour colour) { std::fill(pixels_.begin(), pixels_.end(), Resolve(colour)); }

void RasterSurface::SetPen(int width, Colour colour) {
  penWidth_ = std::max(width, 1);
  penColour_ = Resolve(colour);
}

void RasterSurface::Ellipse(int left, int top, int right, int bottom, std::optional<Colour> fill) {
  const double cx = (left + right) / 2.0;
  const double cy = (top + bottom) / 2.0;
  const double a = (right - left) / 2.0;
  const double b = (bottom - top) / 2.0;
  if (a <= 0 || b <= 0) return;
  const double half = penWidth_ / 2.0;
  const double scale = (a + b) / 2.0;  // distance per unit of normalised radius
  const int reach = penWidth_ + 1;
  const std::uint32_t inside = fill ? Resolve(*fill) : 0;
  for (int y = top - reach; y <= bottom + reach; ++y) {
    for (int x = left - reach; x <= right + reach; ++x) {
      const double dx = (x + 0.5 - cx) / a;
      const double dy = (y + 0.5 - cy) / b;
      const double fromEdge = (std::sqrt(dx * dx + dy * dy) - 1.0) * scale;
      if (std::fabs(fromEdge) <= half) {
        Put(x, y, penColour_);
      } else if (fill && fromEdge < 0) {
        Put(x, y, inside);
      }
    }
  }
}

void RasterSurface::Rectangle(int left, int top, int right, int bottom,
                              std::optional<Colour> fill) {
  const std::uint32_t inside = fill ? Resolve(*fill) : 0;
  for (int y = top; y < bottom; ++y) {
    for (int x = left; x < right; ++x) {
      const bool edge = x - left < penWidth_ || right - 1 - x < penWidth_ ||
                        y - top < penWidth_ || bottom - 1 - y < penWidth_;
      if (edge) {
        Put(x, y, penColour_);
      } else if (fill) {
        Put(x, y, inside);
      }
    }
  }
}

void RasterSurface::SetPixel(int x, int y, Colour colour) { Put(x, y, Resolve(colour)); }

void RasterSurface::MoveTo(int x, int y) {
  atX_ = x;
  atY_ = y;
}

void RasterSurface::LineTo(int x, int y) {
  const double x0 = atX_ + 0.5;
  const double y0 = atY_ + 0.5;
  const double dx = x - atX_;
  const double dy = y - atY_;
  const double length = std::sqrt(dx * dx + dy * dy);
  const double half = penWidth_ / 2.0;
  if (length > 0) {
    const double ux = dx / length;
    const double uy = dy / length;
    const int reach = penWidth_ + 1;
    for (int py = std::min(atY_, y) - reach; py <= std::max(atY_, y) + reach; ++py) {
      for (int px = std::min(atX_, x) - reach; px <= std::max(atX_, x) + reach; ++px) {
        const double rx = px + 0.5 - x0;
        const double ry = py + 0.5 - y0;
        const double along = rx * ux + ry * uy;
        const double across = std::fabs(rx * uy - ry * ux);
        if (along >= 0 && along < length && across <= half) Put(px, py, penColour_);
      }
    }
  }
  atX_ = x;
  atY_ = y;
}

void RasterSurface::Redraw() {
  if (present_) present_();
}

}  // namespace rotavox
