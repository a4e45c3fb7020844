// PollLink: one tick of the poll timer, and the no-response alarm.
//
// Every 80 ms the tick asks the rotator (link/rotator.h) what it has said
// and acts on each event: the needle follows the antenna, a beep marks
// each move of more than 4 degrees since the last one, the first ready
// report after turning announces the arrival, and the start information
// that answers the start of the link shows the stop side (or the range)
// and speaks the bearing. While the first answer is awaited, 51 silent
// ticks in a row raise the no-response alarm; a line that fails for good
// raises it at once. After the alarm's words the rotator's reason, if it
// has one, is spoken and shown in the status line; and for a network
// address the Com Port box is open again, so that a mistyped address can
// be put right.
#pragma once

#include <cstdint>

namespace rotavox {

struct Context;

inline constexpr unsigned kPollTimerId = 100;
inline constexpr unsigned kPollPeriodMs = 80;
inline constexpr std::int32_t kSilentTicksLimit = 50;    // the 51st silent tick alarms
inline constexpr std::int32_t kAlarmRaised = 51;         // SilentTicks after an alarm
inline constexpr std::int64_t kBeepStepDegrees = 4;      // a beep for more than this

inline constexpr const char* kNoResponseSpoken = "No response from the C BOX";
inline constexpr const char* kNoResponseText = "No response from CBOX";
inline constexpr const char* kNoResponseCaption = "Com Port Error";
// Said, with the target's words, when the rotator will not go there.
inline constexpr const char* kRefusedSpoken = "Rotator refused";
// Said when GO's text is no bearing for a rotator that takes only bearings.
inline constexpr const char* kNeedsBearingSpoken = "Rotator needs a bearing";

void PollLink(Context& context);

}  // namespace rotavox
