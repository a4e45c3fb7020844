// The Win32 dialog manager's keyboard, for the Qt dialog.
//
// The Windows edition hands every key to TranslateAccelerator and then to
// IsDialogMessage, and the Qt edition must do exactly what those do, since
// a blind operator learns the dialog by its keys. This class is that pair,
// written from the Win32 rules over the dialog's controls in creation
// order:
//  - the accelerators (ui/accelerators.h): Alt+B is command 402 from
//    anywhere, and so on;
//  - keys typed with Alt held, and every key while no control has the
//    focus, are system keys: nothing is ever typed into a box, a letter or
//    digit is a mnemonic, anything else does nothing;
//  - a mnemonic is looked for from the focused control on, among enabled
//    labels, buttons and the check box; a label's gives its box (the next
//    tab stop after the label) the focus anew, without the label ever
//    holding it, a button's clicks it, which focuses it first;
//  - on a button, the check box or a label, plain letters and digits are
//    mnemonics too; Space belongs to the button;
//  - Tab and Shift+Tab go to the next or previous enabled tab stop and
//    select its whole text; arrows, except in an edit box, go to the next
//    or previous enabled control of any kind;
//  - Enter is command IDOK, unless the focused button is the default one
//    (which an arrow makes the button it reaches), which is then clicked;
//    Escape is IDCANCEL;
//  - an edit box without automatic scrolling takes no character that would
//    not fit its width; the refused key still reports a change.
// Focus moves are made with QWidget::setFocus, so the dialog reports them
// to the handler as it reports every focus change.
#pragma once

#include <QString>
#include <QValidator>

#include <functional>
#include <vector>

#include "ui/accelerators.h"

class QKeyEvent;
class QLineEdit;
class QWidget;

namespace rotavox {

// Whether `text` fits the text area of `edit` as the same text would fit
// the Windows edition's box: measured in the dialog's base units.
bool TextFitsBox(const QLineEdit& edit, const QString& text);

// Keeps an edit box that never scrolls from taking, by a paste, more than
// fits its width; the paste is refused whole.
class FitsBoxValidator final : public QValidator {
  Q_OBJECT

 public:
  explicit FitsBoxValidator(QLineEdit* edit);
  State validate(QString& input, int& position) const override;

 private:
  const QLineEdit* edit_;
};

class DialogKeys {
 public:
  enum class Kind { kLabel, kEdit, kButton, kCheckBox, kPicture };
  struct Control {
    QWidget* widget;
    int id;
    Kind kind;
    QString caption;        // with & before the mnemonic letter
    bool tabStop = false;
    bool fixedWidth = false;  // an edit box that never scrolls its text
  };
  // `command(id, code)` gives the handler a WM_COMMAND.
  DialogKeys(QWidget* dialog, std::vector<Control> controls, std::function<void(int, unsigned)> command);

  // The shortcut check that precedes a key press: true when the key is the
  // dialog manager's, so that no Qt shortcut (a label's buddy, a button's
  // mnemonic) may act on it.
  bool TakesShortcut(const QKeyEvent& key) const;
  // A key press, for whichever control has the focus (or none). True when
  // the dialog manager has dealt with it; false when it belongs to the
  // control (typing into an edit box, Space on a button).
  bool Press(const QKeyEvent& key);
  // Lets an edit box scroll its text (or not): a box that scrolls takes
  // what does not fit its width.
  void SetFixedWidth(int id, bool fixed);
  // The accelerator table, consulted before anything else.
  void SetAccelerators(std::vector<Accelerator> table) { accelerators_ = std::move(table); }

 private:
  int IndexOf(const QWidget* widget) const;
  bool Usable(int index) const;
  // The control with the keyboard focus, or -1 for none.
  int Focused() const;
  bool Mnemonic(int from, QChar letter);
  int NextTabStop(int from, bool backward) const;
  int NextControl(int from, bool backward) const;
  // What WM_NEXTDLGCTL does: selects an edit box's text, focuses the
  // control and makes it the default button if it is a push button.
  void FocusByDialog(int index);
  bool Fits(int index, const QKeyEvent& key) const;

  QWidget* dialog_;
  std::vector<Control> controls_;
  std::function<void(int, unsigned)> command_;
  std::vector<Accelerator> accelerators_;
  int defaultButton_ = -1;  // the push button shown as the default one
};

}  // namespace rotavox
