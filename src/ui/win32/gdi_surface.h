// Windows edition of the compass drawing surface: a GDI memory bitmap.
//
// The image is a bitmap compatible with the screen, selected into a memory
// device context and drawn with the GDI's own pens, brushes, Ellipse,
// Rectangle, SetPixel and MoveToEx/LineTo, so the dial comes out exactly as
// the window system rasterises it. The owner-drawn compass control copies
// the bitmap to the screen when it is asked to paint (WM_DRAWITEM), and
// Redraw makes it paint at once. The Linux edition draws the same commands
// into a RasterSurface of its own rules instead.
#pragma once

#include <optional>

#include "display/surface.h"

// Opaque Win32 handles, so that this header needs no <windows.h>.
struct HWND__;
struct HDC__;
struct HBITMAP__;
struct HPEN__;

namespace rotavox {

class GdiSurface final : public Surface {
 public:
  GdiSurface() = default;
  GdiSurface(const GdiSurface&) = delete;
  GdiSurface& operator=(const GdiSurface&) = delete;
  ~GdiSurface() override;

  // Makes the image for `control`: its client size, filled with the button
  // face colour. Nothing is shown until the control paints.
  void Attach(HWND__* control);
  // The control is going away: the image is released, drawing does nothing.
  void Detach();
  // Copies the image onto the control's device context `target`.
  void Paint(HDC__* target) const;

  bool Available() override { return dc_ != nullptr; }
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
  HWND__* control_ = nullptr;
  HDC__* dc_ = nullptr;
  HBITMAP__* bitmap_ = nullptr;
  void* originalBitmap_ = nullptr;
  HPEN__* pen_ = nullptr;  // the pen of the last SetPen, selected into dc_
  void* originalPen_ = nullptr;
  int width_ = 0;
  int height_ = 0;
};

}  // namespace rotavox
