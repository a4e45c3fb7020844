// The main dialog's event handler: the one place where the operator's
// actions become work.
//
// Both editions call it for every message the dialog receives, with the
// message numbers, ids and codes of ui/messages.h. It returns 0 for every
// message, so the window system's default handling always follows.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace rotavox {

struct Context;

inline constexpr const char* kPortNotSetText = "Com Port not set";
inline constexpr const char* kPortNotSetCaption = "Start error";
// The caption of a start-up warning's box (ProgramState::StartWarnings).
inline constexpr const char* kStartWarningCaption = "File Error";

// WSJT-X's statuses are taken on a timer of their own, which runs from
// start-up, the link up or not (with --wsjtx only).
inline constexpr unsigned kWsjtxTimerId = 101;
inline constexpr unsigned kWsjtxPeriodMs = 80;
// A station WSJT-X announces is not followed within this time of any other
// aim, whose target stands.
inline constexpr std::chrono::seconds kFollowHold{30};

std::intptr_t HandleDialogMessage(Context& context, unsigned message, std::uintptr_t wParam,
                                  std::intptr_t lParam);

// The GoToBox text spelled out: every character followed by one blank
// ("2 7 " for "27"); empty for an empty box.
std::string SpelledOut(std::string_view text);

}  // namespace rotavox
