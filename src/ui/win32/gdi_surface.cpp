// Compass drawing surface on a GDI memory bitmap (see gdi_surface.h).
#include "ui/win32/gdi_surface.h"

#include <windows.h>

namespace rotavox {
namespace {

COLORREF ToColorRef(Colour colour) {
  if (colour.buttonFace) return GetSysColor(COLOR_BTNFACE);
  return RGB(colour.red, colour.green, colour.blue);
}

// Selects a solid brush of `fill`, or the empty brush, for one shape and
// puts the previous brush back afterwards.
class ShapeBrush {
 public:
  ShapeBrush(HDC dc, std::optional<Colour> fill)
      : dc_(dc), brush_(fill ? CreateSolidBrush(ToColorRef(*fill)) : nullptr) {
    previous_ = SelectObject(dc_, brush_ ? static_cast<HGDIOBJ>(brush_) : GetStockObject(NULL_BRUSH));
  }
  ~ShapeBrush() {
    SelectObject(dc_, previous_);
    if (brush_) DeleteObject(brush_);
  }
  ShapeBrush(const ShapeBrush&) = delete;
  ShapeBrush& operator=(const ShapeBrush&) = delete;

 private:
  HDC dc_;
  HBRUSH brush_;
  HGDIOBJ previous_ = nullptr;
};

}  // namespace

GdiSurface::~GdiSurface() { Detach(); }

void GdiSurface::Attach(HWND control) {
  Detach();
  RECT client{};
  if (!control || !GetClientRect(control, &client)) return;
  const int width = client.right - client.left;
  const int height = client.bottom - client.top;
  if (width <= 0 || height <= 0) return;

  HDC screen = GetDC(control);
  if (!screen) return;
  HDC dc = CreateCompatibleDC(screen);
  HBITMAP bitmap = dc ? CreateCompatibleBitmap(screen, width, height) : nullptr;
  ReleaseDC(control, screen);
  if (!bitmap) {
    if (dc) DeleteDC(dc);
    return;
  }
  control_ = control;
  dc_ = dc;
  bitmap_ = bitmap;
  width_ = width;
  height_ = height;
  originalBitmap_ = SelectObject(dc_, bitmap_);
  originalPen_ = GetCurrentObject(dc_, OBJ_PEN);
  Fill(kButtonFace);
}

void GdiSurface::Detach() {
  if (dc_) {
    SelectObject(dc_, originalPen_);
    SelectObject(dc_, originalBitmap_);
    DeleteDC(dc_);
  }
  if (pen_) DeleteObject(pen_);
  if (bitmap_) DeleteObject(bitmap_);
  control_ = nullptr;
  dc_ = nullptr;
  bitmap_ = nullptr;
  pen_ = nullptr;
  originalBitmap_ = nullptr;
  originalPen_ = nullptr;
  width_ = 0;
  height_ = 0;
}

void GdiSurface::Paint(HDC target) const {
  if (dc_ && target) BitBlt(target, 0, 0, width_, height_, dc_, 0, 0, SRCCOPY);
}

void GdiSurface::Fill(Colour colour) {
  if (!dc_) return;
  const RECT all{0, 0, width_, height_};
  HBRUSH brush = CreateSolidBrush(ToColorRef(colour));
  FillRect(dc_, &all, brush);
  DeleteObject(brush);
}

void GdiSurface::SetPen(int width, Colour colour) {
  if (!dc_) return;
  HPEN pen = CreatePen(PS_SOLID, width, ToColorRef(colour));
  if (!pen) return;
  SelectObject(dc_, pen);
  if (pen_) DeleteObject(pen_);
  pen_ = pen;
}

void GdiSurface::Ellipse(int left, int top, int right, int bottom, std::optional<Colour> fill) {
  if (!dc_) return;
  const ShapeBrush brush(dc_, fill);
  ::Ellipse(dc_, left, top, right, bottom);
}

void GdiSurface::Rectangle(int left, int top, int right, int bottom, std::optional<Colour> fill) {
  if (!dc_) return;
  const ShapeBrush brush(dc_, fill);
  ::Rectangle(dc_, left, top, right, bottom);
}

void GdiSurface::SetPixel(int x, int y, Colour colour) {
  if (dc_) ::SetPixel(dc_, x, y, ToColorRef(colour));
}

void GdiSurface::MoveTo(int x, int y) {
  if (dc_) MoveToEx(dc_, x, y, nullptr);
}

void GdiSurface::LineTo(int x, int y) {
  if (dc_) ::LineTo(dc_, x, y);
}

void GdiSurface::Redraw() {
  if (!control_) return;
  InvalidateRect(control_, nullptr, FALSE);
  UpdateWindow(control_);
}

}  // namespace rotavox
