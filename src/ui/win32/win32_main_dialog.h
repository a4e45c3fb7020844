// Windows edition of the main dialog: a modeless Win32 dialog built from an
// in-memory template, its twelve standard controls, the Alt+B accelerator
// and the message loop.
//
// Implements Dialog, Shell and StepInputs over user32. Where the Qt edition
// has to imitate the dialog manager, this one simply uses it: EN_CHANGE and
// EN_SETFOCUS arrive synchronously from the edit controls themselves, Enter
// and Escape become IDOK and IDCANCEL in IsDialogMessageA, mnemonics and
// Tab are the dialog manager's, message boxes keep the poll timer ticking,
// and a disabled control simply loses the focus. What is left to do here:
//  - the dialog manager's own WM_INITDIALOG is not passed on; the program
//    calls the handler with its start-up message itself, once;
//  - the close box (SC_CLOSE) ends the dialog as EXIT does, since a modeless
//    dialog's default answer to WM_CLOSE is only an IDCANCEL command;
//  - the compass is an owner-drawn static painted from a GDI bitmap;
//  - once the window is gone, every call does nothing and reads are empty.
// Shell's session is the COM apartment of the thread, for the SAPI voice.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/program.h"
#include "link/rotctld.h"
#include "link/step_inputs.h"
#include "ui/accelerators.h"
#include "ui/dialog.h"
#include "ui/win32/gdi_surface.h"

struct HWND__;
struct HACCEL__;
struct HICON__;
struct tagMSG;

namespace rotavox {

class Win32MainDialog final : public Dialog, public Shell, public StepInputs {
 public:
  Win32MainDialog() = default;
  Win32MainDialog(const Win32MainDialog&) = delete;
  Win32MainDialog& operator=(const Win32MainDialog&) = delete;
  ~Win32MainDialog() override;

  // The compass image; usable from construction, drawable once the dialog
  // has been created.
  Surface& Compass() { return surface_; }

  // Dialog
  std::string Text(int id) override;
  void SetToolTip(int id, std::string_view text) override;
  void SetText(int id, std::string_view text) override;
  void Enable(int id, bool enabled) override;
  void SetFocus(int id) override;
  int Focused() override;
  int Check(int id) override;
  void SetCheck(int id, int state) override;
  void PostCommand(std::uintptr_t wParam, std::intptr_t lParam) override;
  unsigned SetTimer(unsigned id, unsigned periodMs) override;
  void KillTimer(unsigned timerId) override;
  void End() override;

  // Shell
  void BeginSession() override;
  void CreateMainDialog(Context& context) override;
  Size ClientSize() override;
  void ShowMainDialog() override;
  void RunMessageLoop() override;
  void EndSession() override;

  // Receives what remote clients may know, on this thread, after every
  // message the handler hears and whenever the bearing changes.
  void SetSnapshotSink(std::function<void(const LinkSnapshot&)> sink) { sink_ = std::move(sink); }

  // StepInputs: Page Up and Page Down, only while the dialog is the
  // foreground window.
  std::int16_t Clockwise() override;
  std::int16_t Anticlockwise() override;

 private:
  static std::intptr_t __stdcall DialogProc(HWND__* window, unsigned message, std::uintptr_t wParam,
                                            std::intptr_t lParam);
  std::intptr_t OnMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam);
  void CreateControls(const std::string& portText, int voiceOn, bool goToScrolls);
  void Deliver(unsigned message, std::uintptr_t wParam, std::intptr_t lParam);
  HWND__* Control(int id) const;
  std::int16_t KeyHeld(int virtualKey) const;
  // A key press that is one of the digit accelerators: its command is
  // given to the window, and true returned.
  bool TakeDigitKey(const tagMSG& message);
  void Forget();
  void PublishSnapshot();

  Context* context_ = nullptr;
  HWND__* window_ = nullptr;
  std::function<void(const LinkSnapshot&)> sink_;
  HACCEL__* accelerators_ = nullptr;
  // The accelerators on digit keys, which the table of TranslateAccelerator
  // cannot tell by their place.
  std::vector<Accelerator> digitKeys_;
  HWND__* toolTip_ = nullptr;  // made when the first note is set
  HICON__* bigIcon_ = nullptr;
  HICON__* smallIcon_ = nullptr;
  GdiSurface surface_;
  bool closing_ = false;  // End has begun: the handler hears its WM_CLOSE last
  bool ended_ = false;    // nothing reaches the handler any more
  bool comStarted_ = false;
};

}  // namespace rotavox
