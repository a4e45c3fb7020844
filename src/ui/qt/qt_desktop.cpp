// Qt message boxes and beep (see qt_desktop.h).
#include "ui/qt/qt_desktop.h"

#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>

#include "common/cp1252.h"

namespace rotavox {

void QtDesktop::MessageBox(std::string_view text, std::string_view caption) {
  QMessageBox box(QMessageBox::NoIcon, QString::fromStdString(Cp1252ToUtf8(caption)),
                  QString::fromStdString(Cp1252ToUtf8(text)), QMessageBox::Ok, nullptr,
                  Qt::Dialog | Qt::WindowStaysOnTopHint);
  // Not modal to the dialog: with no owner the dialog stays usable.
  box.setWindowModality(Qt::NonModal);
  box.setObjectName(QStringLiteral("RotavoxMessageBox"));
  QEventLoop loop;
  QObject::connect(&box, &QMessageBox::finished, &loop, &QEventLoop::quit);
  box.show();
  box.raise();
  box.activateWindow();
  loop.exec();
}

void QtDesktop::Beep() {
  if (beep_) {
    beep_();
  } else {
    QApplication::beep();
  }
}

}  // namespace rotavox
