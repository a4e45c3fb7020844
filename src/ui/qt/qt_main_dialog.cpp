// Qt edition of the main dialog (see qt_main_dialog.h).
#include "ui/qt/qt_main_dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QEventLoop>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QTimer>

#include <algorithm>
#include <chrono>

#include "common/context.h"
#include "common/cp1252.h"
#include "common/state.h"
#include "ui/accelerators.h"
#include "ui/handler.h"
#include "target/aim.h"
#include "ui/messages.h"
#include "ui/qt/accessible_roles.h"
#include "ui/qt/compass_view.h"
#include "ui/qt/dialog_keys.h"

namespace rotavox {
namespace {

constexpr int kDialogWidthUnits = 360;
constexpr int kDialogHeightUnits = 260;
constexpr const char* kCaptionTail = "v1.03 for Prosistel C BOX     (c) the Rotavox developers";

QString FromBytes(std::string_view bytes) { return QString::fromStdString(Cp1252ToUtf8(bytes)); }
std::string ToBytes(const QString& text) { return Utf8ToCp1252(text.toStdString()); }

// Win32 MulDiv rounding: halves away from zero.
int MulDivRound(int value, int numerator, int denominator) {
  const long long product = static_cast<long long>(value) * numerator;
  return static_cast<int>((product + denominator / 2) / denominator);
}

// The largest font, at most 12 pixels, in which every caption fits its
// control: the layout was made for a narrow 8-point dialog font, and the
// desktop's default font is usually wider.
QFont FittingFont(const QWidget& dialog) {
  const struct {
    const char* caption;
    int widthUnits;
    bool checkBox;
  } captions[] = {{"Com Port:", 32, false}, {"Bearing:", 28, false}, {"GoTo:", 20, false},
                  {"Voice:", 34, true},     {"EXIT", 40, false},     {"START", 40, false},
                  {"GO", 25, false},        {"North Stop", 55, false}};
  const int box = dialog.style()->pixelMetric(QStyle::PM_IndicatorWidth) +
                  dialog.style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing);
  QFont font = dialog.font();
  for (int pixels = 12; pixels > 8; --pixels) {
    font.setPixelSize(pixels);
    const QFontMetrics metrics(font);
    bool fits = true;
    for (const auto& c : captions) {
      const int room = DialogUnitsToPixelsX(c.widthUnits) - (c.checkBox ? box : 0);
      fits = fits && metrics.horizontalAdvance(QString::fromLatin1(c.caption)) <= room;
    }
    if (fits) return font;
  }
  font.setPixelSize(8);
  return font;
}

}  // namespace

int DialogUnitsToPixelsX(int units) { return MulDivRound(units, 6, 4); }
int DialogUnitsToPixelsY(int units) { return MulDivRound(units, 13, 8); }

QtMainDialog::QtMainDialog()
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                           Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint) {
  setFixedSize(DialogUnitsToPixelsX(kDialogWidthUnits), DialogUnitsToPixelsY(kDialogHeightUnits));
  setFocusPolicy(Qt::NoFocus);
  setWindowIcon(QIcon(QStringLiteral(":/rotavox.ico")));  // 32 x 32 and 16 x 16
  setFont(FittingFont(*this));
  const QColor face = palette().color(QPalette::Window);
  surface_ = std::make_unique<RasterSurface>(DialogUnitsToPixelsX(165), DialogUnitsToPixelsY(155),
                                             face.rgb());
  CompassView::InstallAccessibility();
  SetAccessibleRole(this, QAccessible::Window);
  BuildControls();
  qApp->installEventFilter(this);
}

QtMainDialog::~QtMainDialog() { qApp->removeEventFilter(this); }

void QtMainDialog::BuildControls() {
  const auto place = [this](QWidget* w, int id, int x, int y, int width, int height) {
    w->setGeometry(DialogUnitsToPixelsX(x), DialogUnitsToPixelsY(y), DialogUnitsToPixelsX(width),
                   DialogUnitsToPixelsY(height));
    w->setObjectName(QStringLiteral("control%1").arg(id));
    controls_[id] = w;
  };
  const auto label = [&](int id, const char* caption, int x, int y, int w, int h) {
    auto* l = new QLabel(QString::fromLatin1(caption), this);
    place(l, id, x, y, w, h);
    return l;
  };
  const auto edit = [&](int id, const char* name, int x, int y, int w, int h) {
    auto* e = new QLineEdit(this);
    e->setFrame(true);
    e->setAccessibleName(QString::fromLatin1(name));
    e->setTextMargins(0, 0, 0, 0);
    place(e, id, x, y, w, h);
    connect(e, &QLineEdit::textEdited, this, [this, id] { Notify(id, kEnChange); });
    return e;
  };
  const auto button = [&](int id, const char* caption, int x, int y, int w, int h) {
    auto* b = new QPushButton(QString::fromLatin1(caption), this);
    b->setAutoDefault(false);
    b->setDefault(false);
    b->setFocusPolicy(Qt::ClickFocus);
    place(b, id, x, y, w, h);
    connect(b, &QPushButton::clicked, this, [this, id] { Notify(id, kBnClicked); });
    return b;
  };

  // Creation order is the tab order; only the two editable boxes take Tab.
  QLabel* portLabel = label(kPortLabel, "&Com Port:", 10, 10, 32, 10);
  QLineEdit* portBox = edit(kPortBox, "Com Port", 45, 10, 15, 10);
  QLabel* bearingLabel = label(kBearingLabel, "&Bearing:", 135, 40, 28, 10);
  QLineEdit* bearingBox = edit(kBearingBox, "Bearing", 165, 40, 30, 10);
  bearingBox->setReadOnly(true);
  bearingBox->setFocusPolicy(Qt::ClickFocus);
  auto* voice = new QCheckBox(QStringLiteral("&Voice:"), this);
  voice->setLayoutDirection(Qt::RightToLeft);
  voice->setFocusPolicy(Qt::ClickFocus);
  voice->setAccessibleName(QStringLiteral("Voice"));
  place(voice, kVoiceCheck, 20, 30, 34, 10);
  connect(voice, &QCheckBox::clicked, this, [this] { Notify(kVoiceCheck, kBnClicked); });
  QLabel* goToLabel = label(kGoToLabel, "Go&To:", 120, 220, 20, 10);
  QLineEdit* goToBox = edit(kGoToBox, "Go To", 145, 220, 30, 10);
  goToBox->setValidator(new FitsBoxValidator(goToBox));  // it never scrolls
  QLabel* status = label(kStatusLabel, "", 280, 10, 55, 10);
  SetAccessibleRole(status, QAccessible::StatusBar);
  button(kExitButton, "E&XIT", 20, 240, 40, 15);
  button(kStartButton, "&START", 300, 240, 40, 15);
  button(kGoButton, "&GO", 180, 220, 25, 10);
  compassView_ = new CompassView(*surface_, this);
  compassView_->move(DialogUnitsToPixelsX(98), DialogUnitsToPixelsY(55));
  compassView_->setObjectName(QStringLiteral("control%1").arg(kCompassView));
  controls_[kCompassView] = compassView_;
  surface_->SetPresenter([this] { compassView_->PresentNow(); });

  // The labels name their boxes for screen readers, with the key that
  // reaches the box. Alt+B speaks the bearing instead of reaching its box,
  // so that label only shows its letter underlined and names nothing.
  portLabel->setBuddy(portBox);
  bearingLabel->setTextFormat(Qt::RichText);
  bearingLabel->setText(QStringLiteral("<u>B</u>earing:"));
  goToLabel->setBuddy(goToBox);
  setTabOrder(portBox, goToBox);
  setTabOrder(goToBox, portBox);

  // The dialog manager's view of the same controls, in creation order.
  using K = DialogKeys::Kind;
  std::vector<DialogKeys::Control> order = {
      {portLabel, kPortLabel, K::kLabel, QStringLiteral("&Com Port:")},
      {portBox, kPortBox, K::kEdit, {}, true},
      {bearingLabel, kBearingLabel, K::kLabel, QStringLiteral("&Bearing:")},
      {bearingBox, kBearingBox, K::kEdit, {}},
      {voice, kVoiceCheck, K::kCheckBox, QStringLiteral("&Voice:")},
      {goToLabel, kGoToLabel, K::kLabel, QStringLiteral("Go&To:")},
      {goToBox, kGoToBox, K::kEdit, {}, true, true},
      {status, kStatusLabel, K::kLabel, {}},
      {Control(kExitButton), kExitButton, K::kButton, QStringLiteral("E&XIT")},
      {Control(kStartButton), kStartButton, K::kButton, QStringLiteral("&START")},
      {Control(kGoButton), kGoButton, K::kButton, QStringLiteral("&GO")},
      {compassView_, kCompassView, K::kPicture, {}},
  };
  keys_ = std::make_unique<DialogKeys>(this, std::move(order),
                                       [this](int id, unsigned code) { Notify(id, code); });
  keys_->SetAccelerators(DialogAccelerators(ProgramState{}));
}

QWidget* QtMainDialog::Control(int id) const {
  const auto it = controls_.find(id);
  return it == controls_.end() ? nullptr : it->second;
}

int QtMainDialog::IdOf(const QObject* widget) const {
  for (const auto& [id, w] : controls_) {
    if (w == widget) return id;
  }
  return 0;
}

bool QtMainDialog::OwnsWidget(const QObject* object) const {
  for (const QObject* o = object; o; o = o->parent()) {
    if (o == this) return true;
  }
  return false;
}

void QtMainDialog::Deliver(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) {
  if (message == kWmTimer && speaking_ > 0) {
    // One tick stands for all that come while the text is spoken.
    const auto id = static_cast<unsigned>(wParam);
    if (ticksHeld_.count(id) != 0) return;
    ticksHeld_.insert(id);
    Hold([this, id, wParam, lParam] {
      ticksHeld_.erase(id);
      // A timer stopped meanwhile takes its pending tick with it.
      const auto it = timers_.find(static_cast<unsigned>(wParam));
      if (it != timers_.end() && it->second->isActive()) Deliver(kWmTimer, wParam, lParam);
    });
    return;
  }
  if (Hold([this, message, wParam, lParam] { Deliver(message, wParam, lParam); })) return;
  if (handler_ && !ended_) handler_(message, wParam, lParam);
  PublishSnapshot();
}

bool QtMainDialog::Hold(std::function<void()> action) {
  if (speaking_ == 0) return false;
  held_.push_back(std::move(action));
  return true;
}

void QtMainDialog::RunHeld() {
  // An action that speaks holds what comes after it again, behind the rest.
  while (speaking_ == 0 && !held_.empty()) {
    std::function<void()> action = std::move(held_.front());
    held_.pop_front();
    action();
  }
}

// --- SpeechWait ---

void QtMainDialog::Wait(const std::function<bool()>& ready,
                        const std::function<Clock::time_point()>& until) {
  ++speaking_;
  QEventLoop loop;
  QTimer deadline;
  deadline.setSingleShot(true);
  deadline.setTimerType(Qt::PreciseTimer);
  connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
  QEventLoop* outer = nullptr;
  {
    std::lock_guard lock(wakeMutex_);
    outer = speechLoop_;
    speechLoop_ = &loop;
  }
  while (!ready()) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(until() - Clock::now());
    if (left.count() <= 0) break;
    deadline.start(static_cast<int>(std::min<long long>(left.count(), 1 << 30)));
    // Painting, the accessibility bus and posted events go on; the keyboard
    // and the mouse wait in the window system's queue.
    loop.exec(QEventLoop::ExcludeUserInputEvents);
  }
  {
    std::lock_guard lock(wakeMutex_);
    speechLoop_ = outer;
  }
  if (--speaking_ == 0 && !held_.empty()) {
    // After the message that spoke has been handled to its end.
    QMetaObject::invokeMethod(this, [this] { RunHeld(); }, Qt::QueuedConnection);
  }
}

void QtMainDialog::Wake() {
  std::lock_guard lock(wakeMutex_);
  if (speechLoop_) QMetaObject::invokeMethod(speechLoop_, &QEventLoop::quit, Qt::QueuedConnection);
}

void QtMainDialog::PublishSnapshot() {
  if (sink_ && context_ && !ended_) sink_(TakeSnapshot(context_->state));
}

void QtMainDialog::Notify(int id, unsigned code) { Deliver(kWmCommand, MakeCommand(id, code), 0); }

// --- Dialog ---

std::string QtMainDialog::Text(int id) {
  if (ended_) return {};
  QWidget* w = Control(id);
  if (auto* e = qobject_cast<QLineEdit*>(w)) return ToBytes(e->text());
  if (auto* l = qobject_cast<QLabel*>(w)) return ToBytes(l->text());
  if (auto* b = qobject_cast<QAbstractButton*>(w)) return ToBytes(b->text());
  return {};
}

void QtMainDialog::SetToolTip(int id, std::string_view text) {
  if (ended_) return;
  if (QWidget* w = Control(id)) {
    w->setToolTip(FromBytes(text));
    w->setAccessibleDescription(FromBytes(text));
  }
}

void QtMainDialog::SetText(int id, std::string_view text) {
  if (ended_) return;
  QWidget* w = Control(id);
  const QString value = FromBytes(text);
  if (auto* e = qobject_cast<QLineEdit*>(w)) {
    e->setText(value);  // textEdited is not emitted for this
    if (id == kBearingBox) {
      compassView_->SetBearingText(value);
      PublishSnapshot();  // before any announcement that follows
    }
    Notify(id, kEnChange);  // also when the text was already the same
  } else if (auto* l = qobject_cast<QLabel*>(w)) {
    l->setText(value);
  } else if (auto* b = qobject_cast<QAbstractButton*>(w)) {
    b->setText(value);
  }
}

void QtMainDialog::Enable(int id, bool enabled) {
  if (ended_) return;
  QWidget* w = Control(id);
  if (!w) return;
  if (!enabled && (w->hasFocus() || focusId_ == id)) {
    // Keep the focus from wandering to a neighbour, which would speak: no
    // control has it any more. (Giving it to the window instead would make
    // a screen reader read the whole window again.)
    focusId_ = 0;
    focusAlreadyTold_ = nullptr;
    w->clearFocus();
  }
  w->setEnabled(enabled);
}

void QtMainDialog::SetFocus(int id) {
  if (ended_ || focusId_ == id) return;
  QWidget* w = Control(id);
  if (!w) return;
  focusId_ = id;
  focusAlreadyTold_ = w;
  w->setFocus(Qt::OtherFocusReason);
  if (IsEditBox(id)) Notify(id, kEnSetFocus);
}

int QtMainDialog::Check(int id) {
  if (ended_) return 0;
  auto* box = qobject_cast<QCheckBox*>(Control(id));
  return box && box->isChecked() ? 1 : 0;
}

void QtMainDialog::SetCheck(int id, int state) {
  if (ended_) return;
  if (auto* box = qobject_cast<QCheckBox*>(Control(id))) box->setChecked(state != 0);
}

void QtMainDialog::PostCommand(std::uintptr_t wParam, std::intptr_t lParam) {
  if (ended_) return;
  QMetaObject::invokeMethod(
      this, [this, wParam, lParam] { Deliver(kWmCommand, wParam, lParam); }, Qt::QueuedConnection);
}

unsigned QtMainDialog::SetTimer(unsigned id, unsigned periodMs) {
  if (ended_) return 0;
  QTimer*& timer = timers_[id];
  if (!timer) {
    timer = new QTimer(this);
    timer->setTimerType(Qt::PreciseTimer);
    // The tick runs as a posted event, not in the timer's slot: Qt never
    // re-enters a timer's slot, and the tick may open a message box whose
    // loop must go on ticking. One tick waits at most, as with WM_TIMER.
    connect(timer, &QTimer::timeout, this, [this, id] {
      if (ticksQueued_.count(id) != 0) return;
      ticksQueued_.insert(id);
      QMetaObject::invokeMethod(
          this,
          [this, id] {
            ticksQueued_.erase(id);
            const auto it = timers_.find(id);
            if (it != timers_.end() && it->second->isActive()) Deliver(kWmTimer, id, 0);
          },
          Qt::QueuedConnection);
    });
  }
  timer->start(static_cast<int>(periodMs));
  return id;
}

void QtMainDialog::KillTimer(unsigned timerId) {
  const auto it = timers_.find(timerId);
  if (it != timers_.end()) it->second->stop();
}

void QtMainDialog::End() {
  if (ended_) return;
  Deliver(kWmClose, 0, 0);
  ended_ = true;
  // The port is about to close: remote clients see the link down rather
  // than a turn accepted that will never run.
  if (sink_) sink_(LinkSnapshot{});
  for (auto& [id, timer] : timers_) timer->stop();
  hide();
  // The window itself stays until the program ends: a message box or a
  // voice may still be unwinding beneath this call.
  if (loop_) loop_->quit();
}

// --- Shell ---

void QtMainDialog::CreateMainDialog(Context& context) {
  const ProgramState& s = context.state;
  setWindowTitle(FromBytes(s.TitleText + kCaptionTail));
  static_cast<QLineEdit*>(Control(kPortBox))->setText(FromBytes(s.PortText));
  static_cast<QCheckBox*>(Control(kVoiceCheck))->setChecked(s.VoiceOn != 0);
  if (!s.HomeLocator.empty()) {
    // A station's locator or callsign, and " L" after it, are wider than
    // the box: with a home locator the box scrolls its text, up to a limit.
    auto* goTo = static_cast<QLineEdit*>(Control(kGoToBox));
    goTo->setValidator(nullptr);
    goTo->setMaxLength(kStationAimMaxLength);
    keys_->SetFixedWidth(kGoToBox, false);
  }
  keys_->SetAccelerators(DialogAccelerators(s));
  context_ = &context;
  handler_ = [&context](unsigned message, std::uintptr_t wParam, std::intptr_t lParam) {
    HandleDialogMessage(context, message, wParam, lParam);
  };
}

Size QtMainDialog::ClientSize() { return {width(), height()}; }

void QtMainDialog::ShowMainDialog() {
  show();
  raise();
  activateWindow();
}

void QtMainDialog::RunMessageLoop() {
  if (ended_) return;
  QEventLoop loop;
  loop_ = &loop;
  loop.exec();
  loop_ = nullptr;
}

// --- Qt events ---

void QtMainDialog::closeEvent(QCloseEvent* event) {
  // The close box and Alt+F4 end the dialog exactly as EXIT does, once
  // any text being spoken has been said.
  event->ignore();
  if (Hold([this] { End(); })) return;
  End();
}

void QtMainDialog::changeEvent(QEvent* event) {
  if (event->type() == QEvent::ActivationChange && !isActiveWindow()) {
    // Keys let go while another window was active never reach us.
    clockwiseHeld_ = false;
    anticlockwiseHeld_ = false;
  }
  QWidget::changeEvent(event);
}

bool QtMainDialog::HandleKey(QKeyEvent* key, bool pressed) {
  const int k = key->key();
  // With Ctrl held the keypad's 9 and 3 (Page Up and Page Down while Num
  // Lock is off) are preset keys, not steps.
  const bool control = (key->modifiers() & Qt::ControlModifier) != 0;
  if ((k == Qt::Key_PageUp || k == Qt::Key_PageDown) && !(pressed && control)) {
    if (!key->isAutoRepeat()) {
      const bool held = pressed && isActiveWindow();
      (k == Qt::Key_PageUp ? clockwiseHeld_ : anticlockwiseHeld_) = held;
    }
    return true;
  }
  return pressed && keys_->Press(*key);
}

bool QtMainDialog::eventFilter(QObject* watched, QEvent* event) {
  if (ended_ || !OwnsWidget(watched)) return QWidget::eventFilter(watched, event);
  switch (event->type()) {
    case QEvent::ShortcutOverride:
      // Mnemonics are the dialog manager's: no Qt shortcut may act on
      // them (Alt+B must never reach the buddy of "&Bearing:"). The key
      // press that follows comes to us.
      if (keys_->TakesShortcut(*static_cast<QKeyEvent*>(event))) {
        event->accept();
        return true;
      }
      break;
    case QEvent::KeyPress:
      if (HandleKey(static_cast<QKeyEvent*>(event), true)) return true;
      break;
    case QEvent::KeyRelease:
      if (HandleKey(static_cast<QKeyEvent*>(event), false)) return true;
      break;
    case QEvent::FocusIn: {
      auto* w = qobject_cast<QWidget*>(watched);
      const int id = IdOf(w);
      if (w && w == focusAlreadyTold_) {
        focusAlreadyTold_ = nullptr;  // SetFocus has told the handler already
        break;
      }
      focusAlreadyTold_ = nullptr;
      if (id == 0) break;
      if (focusId_ == 0 && static_cast<QFocusEvent*>(event)->reason() == Qt::ActiveWindowFocusReason) {
        // Activated while no control had the focus, a dialog gives it to
        // none; Qt hands it to the first box, which would speak.
        w->clearFocus();
        return true;
      }
      focusId_ = id;
      if (IsEditBox(id)) Notify(id, kEnSetFocus);
      break;
    }
    default:
      break;
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace rotavox
