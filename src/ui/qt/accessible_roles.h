// Roles for screen readers where Qt's own would mislead.
//
// Qt presents a plain widget as a "filler" and a label as a label. The main
// window is a dialog (Orca then reads it as one, title first), and the
// status line ("North Stop") a status bar named by its text, whose changes
// reach the accessibility bus and which a screen reader's "read the status
// bar" command finds.
#pragma once

#include <QAccessible>

class QWidget;

namespace rotavox {

// From now on screen readers meet `widget` in `role` (Dialog for a window,
// StatusBar for a label, named by its text).
void SetAccessibleRole(QWidget* widget, QAccessible::Role role);

}  // namespace rotavox
