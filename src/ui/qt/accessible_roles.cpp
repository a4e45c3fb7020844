// Roles for screen readers (see accessible_roles.h).
#include "ui/qt/accessible_roles.h"

#include <QAccessibleWidget>
#include <QLabel>
#include <QVariant>
#include <QWidget>

namespace rotavox {
namespace {

constexpr char kRoleProperty[] = "rotavoxAccessibleRole";

// A label whose text is its name, whatever role it plays.
class LabelAccessible final : public QAccessibleWidget {
 public:
  LabelAccessible(QLabel* label, QAccessible::Role role) : QAccessibleWidget(label, role) {}
  QString text(QAccessible::Text t) const override {
    if (t == QAccessible::Name) return static_cast<const QLabel*>(widget())->text();
    return QAccessibleWidget::text(t);
  }
};

QAccessibleInterface* Factory(const QString& /*className*/, QObject* object) {
  if (!object || !object->isWidgetType()) return nullptr;
  const QVariant role = object->property(kRoleProperty);
  if (!role.isValid()) return nullptr;
  const auto r = static_cast<QAccessible::Role>(role.toInt());
  if (auto* label = qobject_cast<QLabel*>(object)) return new LabelAccessible(label, r);
  // A top-level QAccessibleWidget is named by its window title.
  return new QAccessibleWidget(static_cast<QWidget*>(object), r);
}

}  // namespace

void SetAccessibleRole(QWidget* widget, QAccessible::Role role) {
  static const bool installed = [] {
    QAccessible::installFactory(Factory);
    return true;
  }();
  (void)installed;
  widget->setProperty(kRoleProperty, static_cast<int>(role));
}

}  // namespace rotavox
