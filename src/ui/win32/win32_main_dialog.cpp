// Win32 main dialog (see win32_main_dialog.h).
#include "ui/win32/win32_main_dialog.h"

#include <vector>

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include "common/context.h"
#include "common/state.h"
#include "ui/accelerators.h"
#include "ui/handler.h"
#include "ui/win32/digit_keys.h"
#include "target/aim.h"
#include "ui/messages.h"

namespace rotavox {
namespace {

// WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_SETFONT | DS_NOFAILCREATE |
// DS_3DLOOK | DS_CENTER: a fixed-size top-level window with a close and a
// minimise box, created hidden.
constexpr DWORD kDialogStyle = 0x00CA0854;
constexpr DWORD kDialogExStyle = WS_EX_TOPMOST;
constexpr short kDialogWidthUnits = 360;
constexpr short kDialogHeightUnits = 260;
constexpr WORD kFontPoints = 8;
constexpr const char* kFontName = "MS Sans Serif";
constexpr const char* kCaptionTail = "v1.03 for Prosistel C BOX     (c) the Rotavox developers";
constexpr const char* kIconName = "ICON";

struct ControlLayout {
  int id;
  const char* className;
  const char* text;  // nullptr: the port text from the settings
  int x, y, width, height;  // dialog units
  DWORD style;
  DWORD exStyle;
};

// Creation order is the tab order and the z-order. Only the two boxes the
// operator types into are tab stops; buttons and the check box are reached
// by their Alt+letter mnemonics.
constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;
constexpr ControlLayout kControls[] = {
    {kPortLabel, "STATIC", "&Com Port:", 10, 10, 32, 10, kChild | SS_LEFT, 0},
    {kPortBox, "EDIT", nullptr, 45, 10, 15, 10, kChild | WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL,
     WS_EX_CLIENTEDGE},
    {kBearingLabel, "STATIC", "&Bearing:", 135, 40, 28, 10, kChild | SS_LEFT, 0},
    {kBearingBox, "EDIT", "", 165, 40, 30, 10, kChild | ES_READONLY, WS_EX_CLIENTEDGE},
    {kVoiceCheck, "BUTTON", "&Voice:", 20, 30, 34, 10, kChild | BS_AUTOCHECKBOX | BS_LEFTTEXT, 0},
    {kGoToLabel, "STATIC", "Go&To:", 120, 220, 20, 10, kChild | SS_LEFT, 0},
    {kGoToBox, "EDIT", "", 145, 220, 30, 10, kChild | WS_TABSTOP | ES_LEFT, WS_EX_CLIENTEDGE},
    {kStatusLabel, "STATIC", "", 280, 10, 55, 10, kChild | SS_LEFT, 0},
    {kExitButton, "BUTTON", "E&XIT", 20, 240, 40, 15, kChild | BS_PUSHBUTTON | BS_CENTER, 0},
    {kStartButton, "BUTTON", "&START", 300, 240, 40, 15, kChild | BS_PUSHBUTTON | BS_CENTER, 0},
    {kGoButton, "BUTTON", "&GO", 180, 220, 25, 10, kChild | BS_PUSHBUTTON | BS_CENTER, 0},
    {kCompassView, "STATIC", "", 98, 55, 165, 155, kChild | SS_OWNERDRAW, 0},
};

// A dialog template with no items: the header, no menu, the standard
// dialog class, an empty caption (set later as ANSI text), then the font
// that DS_SETFONT announces. The strings of a template are UTF-16.
std::vector<WORD> DialogTemplate() {
  std::vector<WORD> words;
  const auto add32 = [&words](DWORD value) {
    words.push_back(LOWORD(value));
    words.push_back(HIWORD(value));
  };
  add32(kDialogStyle);
  add32(kDialogExStyle);
  words.push_back(0);  // no items
  words.push_back(0);  // x, y: DS_CENTER places it
  words.push_back(0);
  words.push_back(kDialogWidthUnits);
  words.push_back(kDialogHeightUnits);
  words.push_back(0);  // no menu
  words.push_back(0);  // the standard dialog class
  words.push_back(0);  // empty caption
  words.push_back(kFontPoints);
  for (const char* c = kFontName; *c; ++c) words.push_back(static_cast<WORD>(*c));
  words.push_back(0);
  return words;
}


}  // namespace

Win32MainDialog::~Win32MainDialog() {
  if (window_) {
    ended_ = true;
    DestroyWindow(window_);
  }
  Forget();
  if (bigIcon_) DestroyIcon(bigIcon_);
  if (smallIcon_) DestroyIcon(smallIcon_);
}

// --- Dialog ---

HWND Win32MainDialog::Control(int id) const { return window_ ? GetDlgItem(window_, id) : nullptr; }

std::string Win32MainDialog::Text(int id) {
  HWND control = Control(id);
  if (!control) return {};
  const int length = GetWindowTextLengthA(control);
  if (length <= 0) return {};
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  const int copied = GetWindowTextA(control, text.data(), length + 1);
  text.resize(copied > 0 ? static_cast<std::size_t>(copied) : 0);
  return text;
}

void Win32MainDialog::SetText(int id, std::string_view text) {
  HWND control = Control(id);
  if (!control) return;
  // An edit control reports EN_CHANGE before this returns, also when the
  // text stays the same.
  const std::string value(text);
  // The bearing is in the state already: remote clients hear of it before
  // any announcement that follows.
  if (id == kBearingBox) PublishSnapshot();
  SetWindowTextA(control, value.c_str());
}

void Win32MainDialog::SetToolTip(int id, std::string_view text) {
  HWND control = Control(id);
  if (!control) return;
  if (!toolTip_) {
    toolTip_ = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, window_,
                               nullptr, GetModuleHandleA(nullptr), nullptr);
    if (!toolTip_) return;
  }
  std::string value(text);
  TTTOOLINFOA tool{};
  tool.cbSize = TTTOOLINFOA_V1_SIZE;
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = window_;
  tool.uId = reinterpret_cast<UINT_PTR>(control);
  tool.lpszText = value.data();
  SendMessageA(toolTip_, TTM_DELTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
  if (!value.empty()) SendMessageA(toolTip_, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
}

void Win32MainDialog::Enable(int id, bool enabled) {
  // Disabling the focused control leaves the dialog with no focus at all.
  if (HWND control = Control(id)) EnableWindow(control, enabled ? TRUE : FALSE);
}

void Win32MainDialog::SetFocus(int id) {
  // EN_SETFOCUS reaches the handler before this returns, unless the
  // control has the focus already.
  if (HWND control = Control(id)) ::SetFocus(control);
}

int Win32MainDialog::Focused() {
  HWND focus = GetFocus();
  return window_ && focus && IsChild(window_, focus) ? GetDlgCtrlID(focus) : 0;
}

int Win32MainDialog::Check(int id) {
  HWND control = Control(id);
  return control ? static_cast<int>(SendMessageA(control, BM_GETCHECK, 0, 0)) : 0;
}

void Win32MainDialog::SetCheck(int id, int state) {
  if (HWND control = Control(id)) SendMessageA(control, BM_SETCHECK, static_cast<WPARAM>(state), 0);
}

void Win32MainDialog::PostCommand(std::uintptr_t wParam, std::intptr_t lParam) {
  if (window_) PostMessageA(window_, WM_COMMAND, wParam, lParam);
}

unsigned Win32MainDialog::SetTimer(unsigned id, unsigned periodMs) {
  if (!window_) return 0;
  return static_cast<unsigned>(::SetTimer(window_, id, periodMs, nullptr));
}

void Win32MainDialog::KillTimer(unsigned timerId) {
  if (window_ && timerId != 0) ::KillTimer(window_, timerId);
}

void Win32MainDialog::End() {
  if (!window_ || closing_) return;
  closing_ = true;
  // The handler hears WM_CLOSE, then nothing more: the window goes, taking
  // its controls and the poll timer with it, and the message loop sees that.
  SendMessageA(window_, WM_CLOSE, 0, 0);
  ended_ = true;
  // The port is about to close: remote clients see the link down rather
  // than have turns accepted that no window will run.
  if (sink_) sink_(LinkSnapshot{});
  if (accelerators_) {
    DestroyAcceleratorTable(accelerators_);
    accelerators_ = nullptr;
  }
  if (window_) DestroyWindow(window_);
}

// --- Shell ---

void Win32MainDialog::BeginSession() {
  comStarted_ = SUCCEEDED(CoInitialize(nullptr));
}

void Win32MainDialog::EndSession() {
  if (comStarted_) CoUninitialize();
  comStarted_ = false;
}

void Win32MainDialog::CreateMainDialog(Context& context) {
  if (window_) return;
  context_ = &context;
  HINSTANCE instance = GetModuleHandleA(nullptr);
  const std::vector<WORD> dialogTemplate = DialogTemplate();
  CreateDialogIndirectParamA(instance, reinterpret_cast<LPCDLGTEMPLATEA>(dialogTemplate.data()),
                             nullptr, &Win32MainDialog::DialogProc,
                             reinterpret_cast<LPARAM>(this));
  if (!window_) return;  // nothing to show; the program runs on to its end

  const ProgramState& s = context.state;
  SetWindowTextA(window_, (s.TitleText + kCaptionTail).c_str());

  // A missing icon resource leaves the window with the system's icons.
  bigIcon_ = static_cast<HICON>(LoadImageA(instance, kIconName, IMAGE_ICON, 32, 32, 0));
  smallIcon_ = static_cast<HICON>(LoadImageA(instance, kIconName, IMAGE_ICON, 16, 16, 0));
  if (bigIcon_) SendMessageA(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_));
  if (smallIcon_) SendMessageA(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));

  CreateControls(s.PortText, s.VoiceOn, !s.HomeLocator.empty());
  surface_.Attach(Control(kCompassView));

  // Consulted before the dialog's keyboard handling, so that Alt+B is
  // never the mnemonic of "&Bearing:".
  std::vector<ACCEL> table;
  for (const Accelerator& a : DialogAccelerators(s)) {
    if (a.key >= '1' && a.key <= '9') {
      digitKeys_.push_back(a);
      continue;
    }
    ACCEL accel{};
    accel.fVirt = static_cast<BYTE>(FVIRTKEY | ((a.modifiers & Accelerator::kAlt) ? FALT : 0) |
                                    ((a.modifiers & Accelerator::kControl) ? FCONTROL : 0) |
                                    ((a.modifiers & Accelerator::kShift) ? FSHIFT : 0));
    accel.key = a.key == Accelerator::kEscape ? VK_ESCAPE : static_cast<WORD>(a.key);
    accel.cmd = static_cast<WORD>(a.command);
    table.push_back(accel);
  }
  accelerators_ = CreateAcceleratorTableA(table.data(), static_cast<int>(table.size()));
}

void Win32MainDialog::CreateControls(const std::string& portText, int voiceOn, bool goToScrolls) {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  const auto font = reinterpret_cast<WPARAM>(
      reinterpret_cast<HFONT>(SendMessageA(window_, WM_GETFONT, 0, 0)));
  for (const ControlLayout& layout : kControls) {
    // Dialog units to pixels, with the base units of the dialog's font.
    RECT box{layout.x, layout.y, layout.x + layout.width, layout.y + layout.height};
    MapDialogRect(window_, &box);
    // A station's locator, and " L" after it, are wider than GoToBox: with
    // a home locator the box scrolls its text.
    const DWORD style = layout.style | (layout.id == kGoToBox && goToScrolls ? ES_AUTOHSCROLL : 0);
    HWND control = CreateWindowExA(
        layout.exStyle, layout.className, layout.text ? layout.text : portText.c_str(), style,
        box.left, box.top, box.right - box.left, box.bottom - box.top, window_,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(layout.id)), instance, nullptr);
    if (!control) continue;
    SendMessageA(control, WM_SETFONT, font, FALSE);
    if (layout.id == kVoiceCheck) SendMessageA(control, BM_SETCHECK, static_cast<WPARAM>(voiceOn), 0);
    if (layout.id == kGoToBox && goToScrolls) SendMessageA(control, EM_LIMITTEXT, kStationAimMaxLength, 0);
  }
}

Size Win32MainDialog::ClientSize() {
  RECT client{};
  if (!window_ || !GetClientRect(window_, &client)) return {};
  return {client.right - client.left, client.bottom - client.top};
}

void Win32MainDialog::ShowMainDialog() {
  if (window_) ShowWindow(window_, SW_SHOW);
}

void Win32MainDialog::RunMessageLoop() {
  MSG message{};
  while (window_ && IsWindow(window_)) {
    const BOOL got = GetMessageA(&message, nullptr, 0, 0);
    if (got <= 0) {
      // WM_QUIT (or a broken queue) ends the dialog the orderly way.
      End();
      break;
    }
    if (message.message == WM_KEYDOWN && TakeDigitKey(message)) continue;
    if (accelerators_ && TranslateAcceleratorA(window_, accelerators_, &message)) continue;
    if (window_ && IsDialogMessageA(window_, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

bool Win32MainDialog::TakeDigitKey(const MSG& message) {
  if (!window_ || (message.hwnd != window_ && !IsChild(window_, message.hwnd))) return false;
  const DigitKey key = DigitOfKey(message.wParam, message.lParam, (GetKeyState(VK_NUMLOCK) & 1) != 0);
  if (key.digit == 0) return false;
  const unsigned held = (GetKeyState(VK_CONTROL) < 0 ? Accelerator::kControl : 0u) |
                        (GetKeyState(VK_SHIFT) < 0 || key.shifted ? Accelerator::kShift : 0u) |
                        (GetKeyState(VK_MENU) < 0 ? Accelerator::kAlt : 0u);
  for (const Accelerator& a : digitKeys_) {
    if (a.key - '0' == key.digit && a.modifiers == held) {
      SendMessageA(window_, WM_COMMAND, MakeCommand(a.command, kAcceleratorCode), 0);
      return true;
    }
  }
  return false;
}

// --- StepInputs ---

std::int16_t Win32MainDialog::KeyHeld(int virtualKey) const {
  // Keys held for another window are not ours; with Ctrl held the keypad's
  // 9 and 3 (Page Up and Page Down while Num Lock is off) are preset keys.
  if (!window_ || GetForegroundWindow() != window_ || GetAsyncKeyState(VK_CONTROL) < 0) return 0;
  return GetAsyncKeyState(virtualKey);
}

std::int16_t Win32MainDialog::Clockwise() { return KeyHeld(VK_PRIOR); }
std::int16_t Win32MainDialog::Anticlockwise() { return KeyHeld(VK_NEXT); }

// --- Messages ---

INT_PTR CALLBACK Win32MainDialog::DialogProc(HWND window, UINT message, WPARAM wParam,
                                             LPARAM lParam) {
  auto* self = reinterpret_cast<Win32MainDialog*>(GetWindowLongPtrA(window, DWLP_USER));
  if (!self) {
    // Until the dialog manager's WM_INITDIALOG hands us our object, the
    // messages (the font) need no answer of ours. That WM_INITDIALOG is the
    // dialog manager's, not the program's start-up, which the program
    // delivers itself once the controls exist.
    if (message != WM_INITDIALOG) return FALSE;
    self = reinterpret_cast<Win32MainDialog*>(lParam);
    SetWindowLongPtrA(window, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
    self->window_ = window;
    return FALSE;  // no focus: there are no controls yet
  }
  return self->OnMessage(message, wParam, lParam);
}

std::intptr_t Win32MainDialog::OnMessage(unsigned message, std::uintptr_t wParam,
                                         std::intptr_t lParam) {
  switch (message) {
    case WM_INITDIALOG:
      return FALSE;
    case WM_QUERYENDSESSION:
      // Logging off or shutting down may always go ahead.
      SetWindowLongPtrA(window_, DWLP_MSGRESULT, TRUE);
      return TRUE;
    case WM_ENDSESSION:
      // Once this is answered the system may end the process at any
      // moment, without the shutdown that EXIT runs: the settings are
      // saved now, as that shutdown would save them, with nothing spoken.
      if (wParam) SaveSettingsNow();
      SetWindowLongPtrA(window_, DWLP_MSGRESULT, 0);
      return TRUE;
    case WM_CLOSE:
      if (!closing_) {
        // A close request from outside (the task bar, another program)
        // ends the program exactly as EXIT does; End tells the handler.
        End();
        return TRUE;
      }
      // End's own WM_CLOSE: the handler hears it. The default answer of a
      // modeless dialog, posting IDCANCEL, would be pointless now.
      Deliver(message, wParam, lParam);
      return TRUE;
    default:
      break;
  }

  Deliver(message, wParam, lParam);

  switch (message) {
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == SC_CLOSE) {
        // The close box and Alt+F4 end the dialog as EXIT does.
        End();
        return TRUE;
      }
      break;
    case WM_DRAWITEM:
      if (wParam == static_cast<WPARAM>(kCompassView)) {
        const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        surface_.Paint(item->hDC);
        return TRUE;
      }
      break;
    case WM_NCDESTROY:
      Forget();
      break;
    default:
      break;
  }
  return FALSE;
}

void Win32MainDialog::Deliver(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) {
  if (!context_ || ended_) return;
  HandleDialogMessage(*context_, message, wParam, lParam);
  PublishSnapshot();
}

// --- Station programs ---

void Win32MainDialog::PublishSnapshot() {
  // Once ended, the program's state may be gone before this object is.
  if (sink_ && context_ && !ended_) sink_(TakeSnapshot(context_->state));
}

void Win32MainDialog::Forget() {
  if (window_) SetWindowLongPtrA(window_, DWLP_USER, 0);
  surface_.Detach();
  if (accelerators_) {
    DestroyAcceleratorTable(accelerators_);
    accelerators_ = nullptr;
  }
  window_ = nullptr;
  toolTip_ = nullptr;  // went with the window it belonged to
  closing_ = true;
  ended_ = true;
}

}  // namespace rotavox
