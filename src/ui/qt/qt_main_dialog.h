// Qt edition of the main dialog: the window, its twelve controls, and the
// translation of what Qt reports into the handler's messages.
//
// Implements Dialog (control operations with the Win32 dialog manager's
// synchronous notifications), Shell (the window's life) and StepInputs
// (Page Up / Page Down, counted only while the window is active). Qt does
// several things differently from the dialog manager, and this class
// evens them out:
//  - focus notifications for a hidden or inactive window arrive late, so
//    SetFocus notifies the handler itself;
//  - setText with an unchanged text reports nothing, so SetText notifies
//    the handler itself;
//  - disabling the focused control moves Qt's focus to a neighbour, which
//    would then speak its prompt; here the focus goes nowhere instead;
//  - a timer's slot is never re-entered, so ticks are posted as events and
//    keep running inside a message box opened during a tick.
// It is also the SpeechWait of the Linux voices: while a text is spoken the
// thread goes on painting and answering the screen reader's questions on
// the accessibility bus, but nothing reaches the handler. Keys typed
// meanwhile stay queued, and ticks, posted commands, focus reports and the
// close box are held (ticks coalesced into one, as the
// window system coalesces WM_TIMER) and run in order once it is over.
#pragma once

#include <QWidget>

#include <deque>
#include <functional>
#include <map>
#include <set>
#include <mutex>

#include "app/program.h"
#include "display/raster.h"
#include "link/rotctld.h"
#include "link/step_inputs.h"
#include "speech/speech_wait.h"
#include "ui/dialog.h"

class QEventLoop;
class QTimer;
class QLineEdit;
class QCheckBox;

namespace rotavox {

class CompassView;
class DialogKeys;

class QtMainDialog final : public QWidget,
                           public Dialog,
                           public Shell,
                           public StepInputs,
                           public SpeechWait {
  Q_OBJECT

 public:
  QtMainDialog();
  ~QtMainDialog() override;

  // The compass image; valid from construction.
  RasterSurface& Compass() { return *surface_; }

  // Dialog
  std::string Text(int id) override;
  void SetToolTip(int id, std::string_view text) override;
  void SetText(int id, std::string_view text) override;
  void Enable(int id, bool enabled) override;
  void SetFocus(int id) override;
  int Focused() override { return ended_ ? 0 : focusId_; }
  int Check(int id) override;
  void SetCheck(int id, int state) override;
  void PostCommand(std::uintptr_t wParam, std::intptr_t lParam) override;
  unsigned SetTimer(unsigned id, unsigned periodMs) override;
  void KillTimer(unsigned timerId) override;
  void End() override;

  // Shell
  void BeginSession() override {}
  void CreateMainDialog(Context& context) override;
  Size ClientSize() override;
  void ShowMainDialog() override;
  void RunMessageLoop() override;
  void EndSession() override {}

  // StepInputs
  std::int16_t Clockwise() override { return clockwiseHeld_ ? -32768 : 0; }
  std::int16_t Anticlockwise() override { return anticlockwiseHeld_ ? -32768 : 0; }

  // SpeechWait
  void Wait(const std::function<bool()>& ready, const std::function<Clock::time_point()>& until) override;
  void Wake() override;

  bool Ended() const { return ended_; }

  // Receives what remote clients may know, on this thread, after every
  // message and whenever the bearing changes.
  void SetSnapshotSink(std::function<void(const LinkSnapshot&)> sink) { sink_ = std::move(sink); }

  // Replaces the handler that CreateMainDialog installs, so that a test can
  // record what the window reports without a whole program behind it.
  void SetHandlerForTesting(std::function<void(unsigned, std::uintptr_t, std::intptr_t)> handler) {
    handler_ = std::move(handler);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void BuildControls();
  QWidget* Control(int id) const;
  int IdOf(const QObject* widget) const;
  void Notify(int id, unsigned code);
  void Deliver(unsigned message, std::uintptr_t wParam, std::intptr_t lParam);
  bool OwnsWidget(const QObject* object) const;
  bool HandleKey(QKeyEvent* key, bool pressed);

  void PublishSnapshot();
  // While a text is spoken: keeps `action` for later; false otherwise.
  bool Hold(std::function<void()> action);
  void RunHeld();

  std::function<void(unsigned, std::uintptr_t, std::intptr_t)> handler_;
  std::function<void(const LinkSnapshot&)> sink_;
  Context* context_ = nullptr;
  std::map<int, QWidget*> controls_;
  std::map<unsigned, QTimer*> timers_;
  std::unique_ptr<RasterSurface> surface_;
  std::unique_ptr<DialogKeys> keys_;
  CompassView* compassView_ = nullptr;
  QEventLoop* loop_ = nullptr;
  int focusId_ = 0;                 // the control that has the focus, as the handler knows it
  QWidget* focusAlreadyTold_ = nullptr;  // its focus-in from Qt is still to come
  std::set<unsigned> ticksQueued_;    // timers whose tick is posted: one each waits at most
  int speaking_ = 0;                 // Wait calls under way
  std::deque<std::function<void()>> held_;  // what came for the handler meanwhile
  std::set<unsigned> ticksHeld_;     // timers with a tick among them
  std::mutex wakeMutex_;
  QEventLoop* speechLoop_ = nullptr;  // the loop Wake ends, under wakeMutex_
  bool ended_ = false;
  bool clockwiseHeld_ = false;
  bool anticlockwiseHeld_ = false;
};

// Dialog units of an 8-point "MS Sans Serif" dialog (base units 6 x 13) to
// pixels, rounded as the window system rounds them.
int DialogUnitsToPixelsX(int units);
int DialogUnitsToPixelsY(int units);

}  // namespace rotavox
