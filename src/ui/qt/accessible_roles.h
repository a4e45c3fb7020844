// Roles for screen readers where Qt's own would mislead.
//
// Qt presents a plain widget as a "filler" and a label as a label. The main
// window is a frame, the role of an application's own window (Orca reads
// its title first, and looks for a status bar only inside a frame), and
// the status line ("North Stop") a status bar named by its text, whose
// changes reach the accessibility bus and which a screen reader's "read the
// status bar" command finds.
#pragma once

#include <QAccessible>

class QWidget;

namespace rotavox {

// From now on screen readers meet `widget` in `role` (Window, a frame, for
// the main window; StatusBar for a label, named by its text).
void SetAccessibleRole(QWidget* widget, QAccessible::Role role);

}  // namespace rotavox
