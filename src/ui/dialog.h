// What the handler needs of the main dialog's window: its controls, the
// command queue and the one timer.
//
// An edition implements this over its window system (ui/qt, ui/win32); the
// tests implement it in memory. Whatever the window system does by itself,
// an implementation must keep these rules, because the handler's wording of
// prompts depends on them:
//  - SetText on an edit box calls the handler with EN_CHANGE for that box
//    before it returns, even when the text does not change.
//  - SetFocus on an edit box that did not have the focus calls the handler
//    with EN_SETFOCUS for that box before it returns. Giving the focus to a
//    control that already has it reports nothing.
//  - SetCheck changes the check box without reporting a command.
//  - Disabling the control that has the focus leaves no control focused;
//    the focus does not wander to a neighbour.
//  - After End, every call is harmless: shutdown may still touch the check
//    box, reads give empty texts, and nothing reaches the handler.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace rotavox {

class Dialog {
 public:
  virtual ~Dialog() = default;

  // The control's text, as 8-bit bytes; empty for an unknown id.
  virtual std::string Text(int id) = 0;
  virtual void SetText(int id, std::string_view text) = 0;
  virtual void Enable(int id, bool enabled) = 0;
  virtual void SetFocus(int id) = 0;
  // The control that has the keyboard focus; 0 for none.
  virtual int Focused() = 0;
  // A note on the control for anyone watching: its tooltip, which screen
  // readers also read as its description. Empty removes it.
  virtual void SetToolTip(int id, std::string_view text) = 0;
  // Check box state: 0 unchecked, 1 checked.
  virtual int Check(int id) = 0;
  virtual void SetCheck(int id, int state) = 0;
  // Queues a command for the handler, delivered after the current message.
  virtual void PostCommand(std::uintptr_t wParam, std::intptr_t lParam) = 0;
  // Starts the window timer `id` with the period in milliseconds; returns the
  // value that KillTimer takes to stop it (0 when no timer could be started).
  virtual unsigned SetTimer(unsigned id, unsigned periodMs) = 0;
  // Stops a timer; a timer that is not running, or 0, is ignored.
  virtual void KillTimer(unsigned timerId) = 0;
  // Ends the dialog: the handler receives WM_CLOSE, the window is destroyed
  // and the message loop returns.
  virtual void End() = 0;
};

}  // namespace rotavox
