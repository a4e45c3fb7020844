// The Qt window off screen: it reports text and focus changes as the Win32
// dialog manager does, ticks on under a message box, turns keys and the close
// box into the handler's commands, and shows screen readers what it should.
#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "ui/messages.h"
#include "ui/qt/compass_view.h"
#include "ui/qt/qt_desktop.h"
#include "ui/qt/qt_main_dialog.h"

namespace rotavox {
namespace {

using Message = std::pair<unsigned, std::uintptr_t>;  // message, wParam
using Messages = std::vector<Message>;

class QtDialogTest : public ::testing::Test {
 protected:
  void SetUp() override { Fresh(); }

  // A new window, hidden, whose handler records every message.
  void Fresh() {
    dialog.reset();
    log.clear();
    dialog = std::make_unique<QtMainDialog>();
    dialog->SetHandlerForTesting([this](unsigned m, std::uintptr_t w, std::intptr_t) {
      log.emplace_back(m, w);
      if (onMessage) onMessage(m);
    });
  }
  bool ShowActive() { dialog->ShowMainDialog(); return QTest::qWaitForWindowActive(dialog.get()); }
  QWidget* Widget(int id) { return dialog->findChild<QWidget*>(QString("control%1").arg(id)); }
  static Messages Told(int id, unsigned code, int n = 1) {
    return Messages(n, {kWmCommand, MakeCommand(id, code)});
  }

  std::unique_ptr<QtMainDialog> dialog;
  Messages log;
  std::function<void(unsigned)> onMessage;
};

TEST_F(QtDialogTest, FocusIsReportedAtOnceAndOnlyOnce) {
  dialog->SetFocus(kPortBox);  // hidden: Qt itself would tell only after show()
  EXPECT_EQ(log, Told(kPortBox, kEnSetFocus));
  const bool active = ShowActive();
  QTest::qWait(50);
  EXPECT_EQ(log, Told(kPortBox, kEnSetFocus)) << "Qt's own focus-in after show";
  for (const int id : {kGoToBox, kBearingBox, kPortBox}) {
    log.clear();
    dialog->SetFocus(id);
    EXPECT_EQ(log, Told(id, kEnSetFocus));
    dialog->SetFocus(id);  // already there: nothing
    QTest::qWait(20);
    EXPECT_EQ(log, Told(id, kEnSetFocus));
    EXPECT_TRUE(!active || QApplication::focusWidget() == Widget(id)) << id;
  }
}

TEST_F(QtDialogTest, SetTextReportsAChangeEvenWhenNothingChanges) {
  const struct { int id; const char* text; int reports; } rows[] = {
      {kGoToBox, "", 1},       {kGoToBox, "", 1},   // clearing an empty box
      {kPortBox, "3", 1},      {kPortBox, "3", 1},  // the same text again
      {kBearingBox, "045", 1}, {kStatusLabel, "Turning", 0},
  };
  for (const auto& r : rows) {
    log.clear();
    dialog->SetText(r.id, r.text);
    EXPECT_EQ(log, Told(r.id, kEnChange, r.reports)) << r.id << " '" << r.text << "'";
    EXPECT_EQ(dialog->Text(r.id), r.text);
  }
  ShowActive();
  dialog->SetFocus(kGoToBox);
  log.clear();
  QTest::keyClicks(Widget(kGoToBox), "123");  // one change per key
  EXPECT_EQ(log, Told(kGoToBox, kEnChange, 3));
  EXPECT_EQ(dialog->Text(kGoToBox), "123");
}

TEST_F(QtDialogTest, DisablingTheFocusedControlGivesTheFocusToNoBox) {
  const std::pair<int, bool> rows[] = {{kPortBox, true}, {kGoToBox, true}, {kPortBox, false}};
  for (const auto& [id, shown] : rows) {
    Fresh();
    if (shown) ShowActive();
    dialog->SetFocus(id);
    log.clear();
    dialog->Enable(id, false);
    if (!shown) ShowActive();
    QTest::qWait(50);
    EXPECT_EQ(log, Messages{}) << id << (shown ? " shown" : " hidden");
    for (const int box : {kPortBox, kBearingBox, kGoToBox}) EXPECT_FALSE(Widget(box)->hasFocus());
  }
}

TEST_F(QtDialogTest, TicksRunOnInsideAMessageBoxOpenedByATick) {
  QtDesktop desktop([] {});
  int ticks = 0, ticksInBox = 0;
  bool inBox = false;
  onMessage = [&](unsigned message) {
    ticksInBox += message == kWmTimer && inBox;
    if (message != kWmTimer || ++ticks != 1) return;
    QTimer::singleShot(500, [] {  // the operator presses OK
      for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* box = qobject_cast<QMessageBox*>(w)) box->done(QMessageBox::Ok);
      }
    });
    inBox = true;
    desktop.MessageBox("No response from the C BOX", "Rotavox");
    inBox = false;
  };
  const unsigned timer = dialog->SetTimer(100, 80);
  QTest::qWait(900);
  EXPECT_FALSE(inBox) << "the box never closed";
  EXPECT_GE(ticksInBox, 4);
  EXPECT_GT(ticks, ticksInBox + 1) << "no ticks after the box";
  dialog->KillTimer(timer);
  const int stopped = ticks;
  QTest::qWait(300);
  EXPECT_EQ(ticks, stopped);
}

TEST_F(QtDialogTest, WhileATextIsSpokenNothingReachesTheHandlerButTheThreadServes) {
  ShowActive();
  QTest::qWait(50);
  log.clear();
  using Clock = std::chrono::steady_clock;
  int served = 0;          // stands for the screen reader's questions
  Messages duringSpeech;   // what reached the handler while speaking
  bool speaking = false;
  onMessage = [&](unsigned message) {
    if (speaking) duringSpeech.push_back(log.back());
    if (message != kWmTimer || log.size() != 1) return;
    // The first tick speaks for 600 ms; meanwhile the timer runs on, a
    // command is posted, the close box is pressed and the bus is served.
    dialog->PostCommand(MakeCommand(kGoButton, kBnClicked), 0);
    QTimer::singleShot(100, [&] { ++served; });
    QTimer::singleShot(150, [&] { dialog->close(); });
    speaking = true;
    const auto end = Clock::now() + std::chrono::milliseconds(600);
    dialog->Wait([] { return false; }, [end] { return end; });
    speaking = false;
  };
  const unsigned timer = dialog->SetTimer(100, 80);
  QTest::qWait(1000);
  dialog->KillTimer(timer);
  EXPECT_EQ(duringSpeech, Messages{});
  EXPECT_EQ(served, 1);
  // Afterwards, in order: the command, one tick for all those held, the close.
  ASSERT_GE(log.size(), 4u);
  EXPECT_EQ(Messages(log.begin() + 1, log.begin() + 4),
            (Messages{{kWmCommand, MakeCommand(kGoButton, kBnClicked)}, {kWmTimer, 100}, {kWmClose, 0}}));
  EXPECT_TRUE(dialog->Ended());

  // A wake from the voice's thread ends the wait at once.
  std::atomic<bool> spoken = false;
  std::thread voice([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    spoken = true;
    dialog->Wake();
  });
  const auto start = Clock::now();
  dialog->Wait([&] { return spoken.load(); }, [start] { return start + std::chrono::seconds(5); });
  voice.join();
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1000));
}

TEST_F(QtDialogTest, KeysBecomeTheHandlersCommands) {
  const bool active = ShowActive();
  const auto altB = MakeCommand(kBearingHotkey, kAcceleratorCode);
  const auto ok = MakeCommand(kIdOk, kBnClicked);
  const struct { int from; Qt::Key key; Qt::KeyboardModifiers mods; std::uintptr_t cmd; } rows[] = {
      {kPortBox, Qt::Key_B, Qt::AltModifier, altB},
      {kGoToBox, Qt::Key_B, Qt::AltModifier, altB},
      {kVoiceCheck, Qt::Key_B, Qt::AltModifier, altB},
      {kPortBox, Qt::Key_Return, Qt::NoModifier, ok},
      {kGoToBox, Qt::Key_Enter, Qt::KeypadModifier, ok},
      {kVoiceCheck, Qt::Key_Return, Qt::NoModifier, ok},
      {kGoToBox, Qt::Key_Escape, Qt::NoModifier, MakeCommand(kStopHotkey, kAcceleratorCode)},
      {kGoToBox, Qt::Key_1, Qt::ControlModifier, MakeCommand(kPresetRecall + 1, kAcceleratorCode)},
      {kVoiceCheck, Qt::Key_9, Qt::ControlModifier | Qt::ShiftModifier,
       MakeCommand(kPresetStore + 9, kAcceleratorCode)},
  };
  for (const auto& r : rows) {
    dialog->SetFocus(r.from);
    log.clear();
    QTest::keyClick(Widget(r.from), r.key, r.mods);  // shortcut override first, as typed
    QTest::qWait(10);
    EXPECT_EQ(log, Messages(1, {kWmCommand, r.cmd})) << r.from << " key " << r.key;
    EXPECT_TRUE(!active || QApplication::focusWidget() == Widget(r.from)) << r.from;
    EXPECT_TRUE(dialog->isVisible());
  }
  // A paste into the GoTo box that would not fit its width is refused whole.
  auto* goTo = static_cast<QLineEdit*>(Widget(kGoToBox));
  for (const auto& [pasted, kept] : {std::pair("1234567890", ""), std::pair("45", "45")}) {
    goTo->clear();
    QGuiApplication::clipboard()->setText(QString::fromLatin1(pasted));
    goTo->paste();
    EXPECT_EQ(goTo->text().toStdString(), kept) << pasted;
  }
  if (!active) GTEST_SKIP() << "no active off-screen window; step keys count only in one";
  for (const Qt::Key key : {Qt::Key_PageUp, Qt::Key_PageDown}) {
    const bool up = key == Qt::Key_PageUp;
    QTest::keyPress(Widget(kPortBox), key);
    EXPECT_EQ(std::pair(dialog->Clockwise() < 0, dialog->Anticlockwise() < 0), std::pair(up, !up));
    QTest::keyRelease(Widget(kPortBox), key);
    EXPECT_EQ(dialog->Clockwise() | dialog->Anticlockwise(), 0) << key;
  }
}

TEST_F(QtDialogTest, TheCloseBoxEndsTheDialogLikeExit) {
  ShowActive();
  dialog->SetText(kPortBox, "3");
  log.clear();
  QPointer<QtMainDialog> alive(dialog.get());
  QTimer::singleShot(50, dialog.get(), [this] { dialog->close(); });
  bool hung = false;
  QTimer::singleShot(5000, [&hung] { hung = true, QCoreApplication::exit(1); });
  dialog->RunMessageLoop();  // returns once the dialog has ended
  ASSERT_FALSE(hung) << "the message loop did not return";
  EXPECT_EQ(log, Messages(1, {kWmClose, 0}));
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  ASSERT_TRUE(alive && dialog->Ended() && dialog->isHidden());
  // Shutdown may still touch it: harmless, and the handler hears nothing.
  EXPECT_EQ(dialog->Text(kPortBox), "");
  dialog->SetText(kPortBox, "4");
  dialog->SetFocus(kGoToBox);
  dialog->Enable(kPortBox, false);
  dialog->SetCheck(kVoiceCheck, 1);
  dialog->PostCommand(MakeCommand(kGoButton, kBnClicked), 0);
  EXPECT_EQ(dialog->SetTimer(100, 80), 0u);
  dialog->close();
  QTest::qWait(150);
  EXPECT_EQ(log.size(), 1u);
}

TEST_F(QtDialogTest, ScreenReadersAndTheDialogUnitLayout) {
  const std::pair<int, const char*> names[] = {
      {kPortBox, "Com Port"}, {kBearingBox, "Bearing"}, {kGoToBox, "Go To"}, {kVoiceCheck, "Voice"},
  };
  for (const auto& [id, name] : names) {
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(Widget(id));
    ASSERT_NE(face, nullptr) << name;
    EXPECT_EQ(face->text(QAccessible::Name).toStdString(), name);
  }
  auto* compass = dialog->findChild<CompassView*>();
  ASSERT_NE(compass, nullptr);
  QAccessibleInterface* face = QAccessible::queryAccessibleInterface(compass);
  ASSERT_NE(face, nullptr);
  EXPECT_EQ(face->text(QAccessible::Value).toStdString(), "");
  dialog->SetText(kBearingBox, "045");
  EXPECT_EQ(face->text(QAccessible::Value).toStdString(), "045");

  // Dialog units at 6 x 13 base units, the compass image 1:1.
  EXPECT_EQ(dialog->minimumSize(), QSize(540, 423));
  EXPECT_EQ(dialog->maximumSize(), QSize(540, 423));
  EXPECT_EQ(compass->geometry(), QRect(147, 89, 248, 252));
}

}  // namespace
}  // namespace rotavox

int main(int argc, char** argv) {
  // Off screen always, test discovery included: no display is needed.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
