// The compass control: shows the compass image 1:1 and tells screen readers
// the bearing as its value.
#pragma once

#include <QWidget>

#include <string>

#include "display/raster.h"

namespace rotavox {

class CompassView final : public QWidget {
  Q_OBJECT

 public:
  CompassView(RasterSurface& surface, QWidget* parent);

  // The bearing text screen readers read as the compass's value.
  void SetBearingText(const QString& text);
  QString BearingText() const { return bearingText_; }
  // The bearing in degrees; 0 before the first report.
  int Bearing() const;

  // Puts the image on the screen before returning.
  void PresentNow();

  static void InstallAccessibility();

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  RasterSurface& surface_;
  QString bearingText_;
};

}  // namespace rotavox
