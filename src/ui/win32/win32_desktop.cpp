// Message box and beep through user32 (see win32_desktop.h).
#include "ui/win32/win32_desktop.h"

#include <string>

#include <windows.h>
#undef MessageBox  // the A/W macro would rename our method

namespace rotavox {

void Win32Desktop::MessageBox(std::string_view text, std::string_view caption) {
  const std::string body(text);
  const std::string title(caption);
  MessageBoxA(nullptr, body.c_str(), title.c_str(), MB_SYSTEMMODAL | MB_OK);
}

void Win32Desktop::Beep() { MessageBeep(0); }

void Win32Desktop::Note(std::string_view text) {
  const std::string line = "rotavox: " + std::string(text) + "\n";
  OutputDebugStringA(line.c_str());
}

}  // namespace rotavox
