// The Win32 dialog manager's keyboard (see dialog_keys.h).
#include "ui/qt/dialog_keys.h"

#include "ui/qt/digit_keys.h"

#include <QAbstractButton>
#include <QFontMetrics>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QStyle>
#include <QWidget>

#include <algorithm>

#include "ui/messages.h"

namespace rotavox {
namespace {

// QLineEdit keeps this many pixels free on each side of its text.
constexpr int kLineEditInnerMargin = 2;
// The dialog is laid out in the base units of the Windows dialog font, 6
// pixels for an average character.
constexpr int kBaseUnitX = 6;

// The font's average character width as Windows takes it for dialog base
// units: the mean width of the 52 Latin letters, rounded.
int BaseUnitOf(const QFontMetrics& metrics) {
  const int letters =
      metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  return std::max(1, (letters / 26 + 1) / 2);
}

// The letter after the first single & of a caption ("&&" is a plain &).
QChar MnemonicOf(const QString& caption) {
  for (qsizetype i = 0; i + 1 < caption.size(); ++i) {
    if (caption[i] != u'&') continue;
    if (caption[i + 1] == u'&') {
      ++i;
      continue;
    }
    return caption[i + 1].toUpper();
  }
  return {};
}

// The character a key stands for as a mnemonic, whatever the modifiers.
QChar CharacterOf(const QKeyEvent& key) {
  const int k = key.key();
  if (k >= Qt::Key_A && k <= Qt::Key_Z) return QChar(u'A' + (k - Qt::Key_A));
  if (k >= Qt::Key_0 && k <= Qt::Key_9) return QChar(u'0' + (k - Qt::Key_0));
  const QString text = key.text();
  if (!text.isEmpty() && text[0].isPrint()) return text[0].toUpper();
  return {};
}

bool IsModifierKey(int k) {
  return k == Qt::Key_Shift || k == Qt::Key_Control || k == Qt::Key_Alt || k == Qt::Key_Meta ||
         k == Qt::Key_AltGr || k == Qt::Key_CapsLock || k == Qt::Key_NumLock || k == Qt::Key_Super_L ||
         k == Qt::Key_Super_R;
}

constexpr Qt::KeyboardModifiers kModifiers =
    Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;

// Whether the key is that of an accelerator entry: a letter or Escape by
// the key itself, a digit by the key's place (PhysicalDigit).
bool IsKeyOf(const Accelerator& a, const QKeyEvent& key) {
  if (a.key == Accelerator::kEscape) return key.key() == Qt::Key_Escape;
  if (a.key >= '1' && a.key <= '9') return PhysicalDigit(key) == a.key - '0';
  return key.key() == a.key;
}

}  // namespace

DialogKeys::DialogKeys(QWidget* dialog, std::vector<Control> controls,
                       std::function<void(int, unsigned)> command)
    : dialog_(dialog), controls_(std::move(controls)), command_(std::move(command)) {}

int DialogKeys::IndexOf(const QWidget* widget) const {
  for (std::size_t i = 0; i < controls_.size(); ++i) {
    if (controls_[i].widget == widget) return static_cast<int>(i);
  }
  return -1;
}

bool DialogKeys::Usable(int index) const {
  const QWidget* w = controls_[static_cast<std::size_t>(index)].widget;
  return !w->isHidden() && w->isEnabled();
}

int DialogKeys::Focused() const { return IndexOf(QApplication::focusWidget()); }

bool DialogKeys::TakesShortcut(const QKeyEvent& key) const {
  return (key.modifiers() & Qt::AltModifier) || Focused() < 0;
}

bool DialogKeys::Press(const QKeyEvent& key) {
  const int k = key.key();
  if (IsModifierKey(k)) return false;
  const Qt::KeyboardModifiers mods = key.modifiers() & kModifiers;
  // The accelerator table comes first, whatever has the focus.
  for (const Accelerator& a : accelerators_) {
    const Qt::KeyboardModifiers wanted = ((a.modifiers & Accelerator::kAlt) ? Qt::AltModifier : Qt::NoModifier) |
                                         ((a.modifiers & Accelerator::kControl) ? Qt::ControlModifier : Qt::NoModifier) |
                                         ((a.modifiers & Accelerator::kShift) ? Qt::ShiftModifier : Qt::NoModifier);
    if (mods == wanted && IsKeyOf(a, key)) {
      command_(a.command, kAcceleratorCode);
      return true;
    }
  }
  const int focus = Focused();
  if ((mods & Qt::AltModifier) || focus < 0) {
    // System keys: mnemonics, the window's own Alt+F4, and nothing else.
    if (k == Qt::Key_F4 && (mods & Qt::AltModifier)) {
      dialog_->close();
      return true;
    }
    const QChar c = CharacterOf(key);
    if (!c.isNull() && !(mods & Qt::ControlModifier)) Mnemonic(focus, c);
    return true;
  }

  const Control& control = controls_[static_cast<std::size_t>(focus)];
  const bool edit = control.kind == Kind::kEdit;
  switch (k) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab: {
      const int next = NextTabStop(focus, k == Qt::Key_Backtab || (mods & Qt::ShiftModifier));
      if (next >= 0) FocusByDialog(next);
      return true;
    }
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_Left:
    case Qt::Key_Right: {
      if (edit) return false;  // an edit box moves its caret
      const int next = NextControl(focus, k == Qt::Key_Up || k == Qt::Key_Left);
      if (next >= 0) FocusByDialog(next);
      return true;
    }
    case Qt::Key_Escape:
      command_(kIdCancel, kBnClicked);
      return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      if (focus == defaultButton_) {
        command_(control.id, kBnClicked);
      } else {
        command_(kIdOk, kBnClicked);
      }
      return true;
    default:
      break;
  }
  if (edit) {
    if (control.fixedWidth && !(mods & Qt::ControlModifier) && !key.text().isEmpty() &&
        key.text()[0].isPrint() && !Fits(focus, key)) {
      command_(control.id, kEnChange);
      return true;
    }
    return false;  // typed into the box
  }
  if (k == Qt::Key_Space && !(mods & Qt::ControlModifier)) return false;  // the button's own
  const QChar c = CharacterOf(key);
  if (c.isNull()) return false;
  if (!(mods & Qt::ControlModifier)) Mnemonic(focus, c);
  return true;
}

bool DialogKeys::Mnemonic(int from, QChar letter) {
  const int n = static_cast<int>(controls_.size());
  const int start = from < 0 ? 0 : from;
  for (int i = 0; i < n; ++i) {
    const int index = (start + i) % n;
    const Control& c = controls_[static_cast<std::size_t>(index)];
    if (!Usable(index) || c.kind == Kind::kEdit || MnemonicOf(c.caption) != letter.toUpper()) continue;
    if (c.kind == Kind::kLabel || c.kind == Kind::kPicture) {
      // The focus goes straight to the next tab stop: a label never holds
      // it on the way, or a screen reader would read the label. A box that
      // has it already takes it anew, as the handler hears it, but the
      // screen reader, seeing no move, reads nothing twice.
      const int next = NextTabStop(index, false);
      if (next >= 0 && QApplication::focusWidget() == controls_[static_cast<std::size_t>(next)].widget) {
        if (auto* edit = qobject_cast<QLineEdit*>(controls_[static_cast<std::size_t>(next)].widget)) {
          edit->selectAll();
        }
        command_(controls_[static_cast<std::size_t>(next)].id, kEnSetFocus);
      } else if (next >= 0) {
        FocusByDialog(next);
      }
    } else if (auto* button = qobject_cast<QAbstractButton*>(c.widget)) {
      // As a click: the button takes the focus, then acts at once.
      button->setFocus(Qt::ShortcutFocusReason);
      button->click();
    }
    return true;
  }
  return false;
}

int DialogKeys::NextTabStop(int from, bool backward) const {
  const int n = static_cast<int>(controls_.size());
  for (int i = 1; i <= n; ++i) {
    const int index = ((from + (backward ? -i : i)) % n + n) % n;
    if (controls_[static_cast<std::size_t>(index)].tabStop && Usable(index)) return index;
  }
  return -1;
}

int DialogKeys::NextControl(int from, bool backward) const {
  const int n = static_cast<int>(controls_.size());
  for (int i = 1; i < n; ++i) {
    const int index = ((from + (backward ? -i : i)) % n + n) % n;
    if (Usable(index)) return index;
  }
  return from;
}

void DialogKeys::FocusByDialog(int index) {
  const Control& c = controls_[static_cast<std::size_t>(index)];
  if (auto* edit = qobject_cast<QLineEdit*>(c.widget)) {
    edit->selectAll();
    edit->setFocus(Qt::TabFocusReason);
  } else {
    c.widget->setFocus(Qt::OtherFocusReason);
  }
  defaultButton_ = c.kind == Kind::kButton ? index : -1;
}

void DialogKeys::SetFixedWidth(int id, bool fixed) {
  for (Control& control : controls_) {
    if (control.id == id) control.fixedWidth = fixed;
  }
}

bool DialogKeys::Fits(int index, const QKeyEvent& key) const {
  const auto* edit = static_cast<const QLineEdit*>(controls_[static_cast<std::size_t>(index)].widget);
  QString text = edit->text();
  qsizetype at = edit->cursorPosition();
  if (edit->hasSelectedText()) {
    at = edit->selectionStart();
    text.remove(at, edit->selectedText().size());
  }
  text.insert(at, key.text());
  return TextFitsBox(*edit, text);
}

bool TextFitsBox(const QLineEdit& edit, const QString& text) {
  // The text area: inside the sunken frame, the text margins and the
  // edit's own margin.
  const QMargins margins = edit.textMargins();
  const int frame = edit.hasFrame() ? edit.style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, &edit) : 0;
  const int room = edit.width() - 2 * frame - margins.left() - margins.right() - 2 * kLineEditInnerMargin;
  // Measured in the dialog's units, the box takes as many characters as
  // its Windows twin, whose font is the one the layout was made for.
  const QFontMetrics metrics = edit.fontMetrics();
  return metrics.horizontalAdvance(text) * kBaseUnitX / BaseUnitOf(metrics) <= room;
}

FitsBoxValidator::FitsBoxValidator(QLineEdit* edit) : QValidator(edit), edit_(edit) {}

QValidator::State FitsBoxValidator::validate(QString& input, int& /*position*/) const {
  return TextFitsBox(*edit_, input) ? Acceptable : Invalid;
}

}  // namespace rotavox
