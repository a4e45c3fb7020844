// Qt message boxes and beep (see qt_desktop.h).
#include "ui/qt/qt_desktop.h"

#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>

#include <iostream>

#include "common/cp1252.h"

namespace rotavox {

void QtDesktop::MessageBox(std::string_view text, std::string_view caption) {
  QMessageBox box(QMessageBox::NoIcon, QString::fromStdString(Cp1252ToUtf8(caption)),
                  QString::fromStdString(Cp1252ToUtf8(text)), QMessageBox::Ok);
  // Not modal to the dialog: with no owner the dialog stays usable. (Set
  // before the flags: changing the modality afterwards turns the box back
  // into a dialog-type window.)
  box.setWindowModality(Qt::NonModal);
  // Above everything, the always-on-top dialog included.
  // A plain top-level window: a dialog-type window without a parent is made
  // transient for Qt's hidden leader, and window managers keep those below
  // an always-on-top window.
  box.setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                     Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint);
  box.setObjectName(QStringLiteral("RotavoxMessageBox"));
  box.setStyleSheet(QStringLiteral("QLabel { min-width: 220px; }"));  // room for the caption
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

void QtDesktop::Note(std::string_view text) {
  std::cerr << "rotavox: " << Cp1252ToUtf8(text) << std::endl;
}

}  // namespace rotavox
