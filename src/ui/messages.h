// The dialog's vocabulary: message numbers, control ids and notification
// codes.
//
// Both editions translate what their window system reports into these
// numbers and feed them to the one handler (ui/handler.h), so the operator
// meets the same dialog everywhere. The values are those of the Win32 dialog
// manager, which the Windows edition passes through unchanged.
#pragma once

#include <cstdint>

namespace rotavox {

// Message kinds the handler is called with.
enum : unsigned {
  kWmSize = 5,
  kWmClose = 16,
  kWmInitDialog = 272,
  kWmCommand = 273,
  kWmTimer = 275,
};

// Control and command ids.
enum ControlId : int {
  kIdOk = 1,             // Enter on an edit box or the check box
  kIdCancel = 2,         // Escape; does nothing
  kCompassView = 120,
  kPortLabel = 200,
  kPortBox = 201,
  kBearingLabel = 400,
  kBearingBox = 401,
  kBearingHotkey = 402,  // Alt+B, from any control
  kBeamHotkey = 403,     // Alt+A, from any control, with a home locator
  kStopHotkey = 404,     // Escape, from any control: stops a turn
  kPresetRecall = 410,   // Ctrl+N recalls preset N: command 410 + N
  kPresetStore = 420,    // Ctrl+Shift+N stores preset N: command 420 + N
  kDxShortHotkey = 430,  // Alt+J, with --wsjtx: turn to WSJT-X's station by the short path
  kDxLongHotkey = 431,   // Alt+L, with --wsjtx: the same by the long path
  kStartButton = 501,
  kVoiceCheck = 600,
  kGoToLabel = 700,
  kGoToBox = 701,
  kGoButton = 702,
  kExitButton = 703,
  kStatusLabel = 800,
};

// Notification codes carried in the high word of a command's wParam.
enum : unsigned {
  kBnClicked = 0,
  kAcceleratorCode = 1,
  kEnSetFocus = 256,
  kEnChange = 768,
};

inline constexpr unsigned kSizeRestored = 0;

inline constexpr std::uintptr_t MakeCommand(int id, unsigned code) {
  return (static_cast<std::uintptr_t>(code & 0xFFFFu) << 16) | (static_cast<unsigned>(id) & 0xFFFFu);
}
inline constexpr int CommandId(std::uintptr_t wParam) { return static_cast<int>(wParam & 0xFFFFu); }
inline constexpr unsigned CommandCode(std::uintptr_t wParam) {
  return static_cast<unsigned>((wParam >> 16) & 0xFFFFu);
}

// The three edit boxes: setting their text reports a change, and taking the
// focus reports a focus notification.
inline constexpr bool IsEditBox(int id) {
  return id == kPortBox || id == kBearingBox || id == kGoToBox;
}

}  // namespace rotavox
