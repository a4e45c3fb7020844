// The compass control (see compass_view.h).
#include "ui/qt/compass_view.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QImage>
#include <QPainter>

namespace rotavox {
namespace {

// Screen readers read the compass as a graphic whose value is the bearing,
// 0 to 360 degrees. The value is shown, not set: the antenna turns only on a
// GO.
class CompassAccessible final : public QAccessibleWidget, public QAccessibleValueInterface {
 public:
  explicit CompassAccessible(CompassView* view) : QAccessibleWidget(view, QAccessible::Graphic) {}

  void* interface_cast(QAccessible::InterfaceType type) override {
    if (type == QAccessible::ValueInterface) return static_cast<QAccessibleValueInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
  }
  QVariant currentValue() const override { return static_cast<const CompassView*>(widget())->Bearing(); }
  void setCurrentValue(const QVariant&) override {}
  QVariant maximumValue() const override { return 360; }
  QVariant minimumValue() const override { return 0; }
  QVariant minimumStepSize() const override { return 1; }

  QString text(QAccessible::Text t) const override {
    const auto* view = static_cast<const CompassView*>(widget());
    switch (t) {
      case QAccessible::Name:
        return QStringLiteral("Compass");
      case QAccessible::Value:
        return view->BearingText();
      case QAccessible::Description:
        return view->BearingText().isEmpty() ? QStringLiteral("No bearing yet")
                                             : QStringLiteral("Bearing ") + view->BearingText();
      default:
        return QAccessibleWidget::text(t);
    }
  }
};

QAccessibleInterface* CompassFactory(const QString& className, QObject* object) {
  if (className == QLatin1String("rotavox::CompassView") && object && object->isWidgetType()) {
    return new CompassAccessible(static_cast<CompassView*>(object));
  }
  return nullptr;
}

}  // namespace

CompassView::CompassView(RasterSurface& surface, QWidget* parent)
    : QWidget(parent), surface_(surface) {
  setFocusPolicy(Qt::NoFocus);
  setAttribute(Qt::WA_OpaquePaintEvent);
  const Size size = surface_.ClientSize();
  setFixedSize(size.width, size.height);
}

void CompassView::InstallAccessibility() { QAccessible::installFactory(CompassFactory); }

void CompassView::SetBearingText(const QString& text) {
  if (text == bearingText_) return;
  bearingText_ = text;
  QAccessibleValueChangeEvent event(this, Bearing());
  QAccessible::updateAccessibility(&event);
}

int CompassView::Bearing() const { return bearingText_.toInt(); }

void CompassView::PresentNow() {
  if (isVisible()) {
    repaint();
  } else {
    update();
  }
}

void CompassView::paintEvent(QPaintEvent*) {
  const Size size = surface_.ClientSize();
  const QImage image(reinterpret_cast<const uchar*>(surface_.Pixels().data()), size.width,
                     size.height, size.width * 4, QImage::Format_RGB32);
  QPainter painter(this);
  painter.drawImage(0, 0, image);
}

}  // namespace rotavox
