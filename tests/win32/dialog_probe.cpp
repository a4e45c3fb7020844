// Reads the state of the running program's main dialog from beside it, in
// the same Wine prefix (or on the same Windows desktop), so that key tests
// can check where a key left the focus and what the boxes hold.
//
// For each line "state" on stdin it prints one line of JSON (ASCII only,
// other characters as \uXXXX escapes):
//
//   {"window":true,"focus":701,"focus_kind":"control","active":true,
//    "foreground":true,"menu_mode":false,
//    "text":{"201":"3","401":"010","701":"","800":"North Stop"},
//    "enabled":{"201":false,"501":false,"600":true,"701":true,"702":true,"703":true},
//    "check":1,"sel":{"201":[0,1],"701":[0,0]},"defid":0,"default_buttons":[]}
//
// focus is the id of the control with the keyboard focus, 0 when there is
// none; focus_kind says "control", "dialog" (the dialog window itself),
// "none" or "other" (a window that is not one of the dialog's controls,
// such as a message box). When no dialog is found the line is
// {"window":false}; when the dialog does not answer within a second the
// fields it could not give are left out and "error" says so.
// Other input lines are answered with {"error":"unknown command"}. The
// program ends when stdin closes.
//
// The dialog is the top-level window whose title starts with
// "Rotavox Controller" and which has a GoToBox (id 701): message boxes of
// the program have the same caption but no such control.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr const char* kTitlePrefix = "Rotavox Controller";
constexpr int kGoToBox = 701;
constexpr int kTextIds[] = {201, 401, 701, 800};
constexpr int kEnabledIds[] = {201, 501, 600, 701, 702, 703};
constexpr int kSelectionIds[] = {201, 701};
constexpr int kButtonIds[] = {501, 600, 702, 703};
constexpr int kVoiceCheck = 600;
// Long enough for a program busy speaking a short line; a hung one is
// reported rather than waited for.
constexpr UINT kAnswerMs = 1000;

struct Search {
  HWND found = nullptr;
};

BOOL CALLBACK FindDialog(HWND window, LPARAM lParam) {
  char title[64] = {};
  GetWindowTextA(window, title, sizeof title);
  if (std::strncmp(title, kTitlePrefix, std::strlen(kTitlePrefix)) != 0) return TRUE;
  if (!GetDlgItem(window, kGoToBox)) return TRUE;
  reinterpret_cast<Search*>(lParam)->found = window;
  return FALSE;
}

HWND Dialog() {
  Search search;
  EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// A message to another process's window, given up after kAnswerMs.
bool Ask(HWND window, UINT message, WPARAM wParam, LPARAM lParam, DWORD_PTR* result) {
  return SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG | SMTO_BLOCK,
                             kAnswerMs, result) != 0;
}

void AppendQuoted(std::string& out, const wchar_t* text, std::size_t length) {
  out += '"';
  char escape[8];
  for (std::size_t i = 0; i < length; ++i) {
    const unsigned c = text[i];
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c >= 0x20 && c < 0x7f) {
      out += static_cast<char>(c);
    } else {
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    }
  }
  out += '"';
}

void AppendKey(std::string& out, int id) {
  out += '"';
  out += std::to_string(id);
  out += "\":";
}

// The text of a control, through WM_GETTEXT (GetWindowText does not read
// another process's controls). False when the program did not answer.
bool AppendText(std::string& out, HWND control) {
  DWORD_PTR length = 0;
  if (!Ask(control, WM_GETTEXTLENGTH, 0, 0, &length)) return false;
  std::vector<wchar_t> text(length + 1, L'\0');
  DWORD_PTR copied = 0;
  if (!Ask(control, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), &copied)) {
    return false;
  }
  if (copied > length) copied = length;
  AppendQuoted(out, text.data(), copied);
  return true;
}

std::string State() {
  HWND dialog = Dialog();
  if (!dialog) return "{\"window\":false}";
  std::string out = "{\"window\":true";
  bool answered = true;

  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  const DWORD thread = GetWindowThreadProcessId(dialog, nullptr);
  if (GetGUIThreadInfo(thread, &info)) {
    int id = 0;
    const char* kind = "none";
    if (info.hwndFocus == dialog) {
      kind = "dialog";
    } else if (info.hwndFocus && GetParent(info.hwndFocus) == dialog) {
      kind = "control";
      id = GetDlgCtrlID(info.hwndFocus);
    } else if (info.hwndFocus) {
      kind = "other";
    }
    out += ",\"focus\":" + std::to_string(id) + ",\"focus_kind\":\"" + kind + "\"";
    out += std::string(",\"active\":") + (info.hwndActive == dialog ? "true" : "false");
    const DWORD menu = GUI_INMENUMODE | GUI_POPUPMENUMODE | GUI_SYSTEMMENUMODE;
    out += std::string(",\"menu_mode\":") + ((info.flags & menu) ? "true" : "false");
  } else {
    out += ",\"error\":\"GetGUIThreadInfo failed\"}";
    return out;
  }
  out += std::string(",\"foreground\":") + (GetForegroundWindow() == dialog ? "true" : "false");

  out += ",\"text\":{";
  bool first = true;
  for (const int id : kTextIds) {
    HWND control = GetDlgItem(dialog, id);
    if (!control) continue;
    std::string item;
    AppendKey(item, id);
    if (!AppendText(item, control)) {
      answered = false;
      continue;
    }
    if (!first) out += ',';
    out += item;
    first = false;
  }
  out += '}';

  out += ",\"enabled\":{";
  first = true;
  for (const int id : kEnabledIds) {
    HWND control = GetDlgItem(dialog, id);
    if (!control) continue;
    if (!first) out += ',';
    AppendKey(out, id);
    out += IsWindowEnabled(control) ? "true" : "false";
    first = false;
  }
  out += '}';

  DWORD_PTR value = 0;
  if (HWND check = GetDlgItem(dialog, kVoiceCheck); check && Ask(check, BM_GETCHECK, 0, 0, &value)) {
    out += ",\"check\":" + std::to_string(static_cast<int>(value));
  } else {
    answered = false;
  }

  // EM_GETSEL with no pointers: the start and end come back in the result
  // (16 bits each), which is what crosses the process boundary.
  out += ",\"sel\":{";
  first = true;
  for (const int id : kSelectionIds) {
    HWND control = GetDlgItem(dialog, id);
    if (!control) continue;
    if (!Ask(control, EM_GETSEL, 0, 0, &value)) {
      answered = false;
      continue;
    }
    if (!first) out += ',';
    AppendKey(out, id);
    out += '[';
    out += std::to_string(LOWORD(value));
    out += ',';
    out += std::to_string(HIWORD(value));
    out += ']';
    first = false;
  }
  out += '}';

  // The dialog manager makes a push button the default while it has the
  // focus; Enter then clicks that button instead of sending IDOK.
  if (Ask(dialog, DM_GETDEFID, 0, 0, &value)) {
    out += ",\"defid\":" + std::to_string(HIWORD(value) == DC_HASDEFID ? LOWORD(value) : 0);
  } else {
    answered = false;
  }
  out += ",\"default_buttons\":[";
  first = true;
  for (const int id : kButtonIds) {
    HWND control = GetDlgItem(dialog, id);
    if (!control) continue;
    const LONG_PTR style = GetWindowLongPtrA(control, GWL_STYLE);
    if ((style & BS_TYPEMASK) != BS_DEFPUSHBUTTON) continue;
    if (!first) out += ',';
    out += std::to_string(id);
    first = false;
  }
  out += ']';

  if (!answered) out += ",\"error\":\"the dialog did not answer\"";
  out += '}';
  return out;
}

}  // namespace

int main() {
  char line[256];
  while (std::fgets(line, sizeof line, stdin)) {
    std::size_t length = std::strlen(line);
    while (length > 0 && (line[length - 1] == '\n' || line[length - 1] == '\r')) line[--length] = 0;
    if (std::strcmp(line, "state") == 0) {
      std::printf("%s\n", State().c_str());
    } else {
      std::printf("{\"error\":\"unknown command\"}\n");
    }
    std::fflush(stdout);
  }
  return 0;
}
