// PollLink: one tick of the poll timer, and the no-response alarm.
//
// Every 80 ms the tick reads what the C BOX has sent, takes the complete
// reply lines and acts on them: the needle follows the antenna, a beep marks
// each move of more than 4 degrees since the last one, the first READY
// report after turning announces the arrival, and the stop report that
// answers the start of the link names the stop side and speaks the bearing.
// While the first reply is awaited, 51 silent ticks in a row raise the
// no-response alarm; a port that fails for good raises it at once.
#pragma once

#include <cstdint>

namespace rotavox {

struct Context;

inline constexpr unsigned kPollTimerId = 100;
inline constexpr unsigned kPollPeriodMs = 80;
inline constexpr std::int32_t kSilentTicksLimit = 50;    // the 51st silent tick alarms
inline constexpr std::int32_t kAlarmRaised = 51;         // SilentTicks after an alarm
inline constexpr std::int64_t kBeepStepDegrees = 4;      // a beep for more than this
inline constexpr std::int32_t kFineStepDegrees = 2;
inline constexpr std::int32_t kNorthStopBearing = 0;
inline constexpr std::int32_t kSouthStopBearing = 182;

inline constexpr const char* kNoResponseSpoken = "No response from the C BOX";
inline constexpr const char* kNoResponseText = "No response from CBOX";
inline constexpr const char* kNoResponseCaption = "Com Port Error";

void PollLink(Context& context);

}  // namespace rotavox
