// The C BOX's serial protocol: the command frames we send and the reply
// lines we read back.
//
// Frames are STX, a two-letter command, an optional parameter and CR, with
// no checksum. Replies are lines ended by CR, read as "A,<letter>,<data>";
// only the letter (position 3) and the data from position 5 on are looked
// at. The box sends position reports on its own while the link is up; we
// never ask for them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace rotavox {

inline constexpr char kStx = '\x02';
inline constexpr char kCr = '\r';

// STX, command, parameter, CR.
std::string MakeFrame(std::string_view command, std::string_view parameter = {});
// STX "AM" CR: sent first when the link starts.
std::string AmFrame();
// STX "AL" CR: asks for the stop side; answered by a StopReport.
std::string ReadStatusFrame();
// STX "AG" target CR, the target passed through exactly as typed.
std::string GoToFrame(std::string_view target);
// The longest parameter a frame is given, whatever asks for it (GO, a
// preset, a station program): a bearing, or a station's locator or call.
inline constexpr std::size_t kMaxFrameParameter = 20;

// Received bytes wait in RxText until a CR completes their line. A line that
// never ends (a noisy or wrongly set line) must not grow without end, so the
// unfinished tail keeps at most kMaxPartialLine bytes, dropping its oldest,
// and the whole text at most kMaxRxText bytes, dropping its oldest complete
// lines.
inline constexpr std::size_t kMaxPartialLine = 4096;
inline constexpr std::size_t kMaxRxText = 64 * 1024;
void AppendReceived(std::string& rxText, std::string_view bytes);

// Takes the next reply line out of `rxText`: everything up to and including
// the first CR, with every STX and CR in it deleted. Without a CR nothing is
// taken and `rxText` is left as it is.
std::optional<std::string> TakeReplyLine(std::string& rxText);

// "A,?,azimuth,state": where the antenna points and whether it is turning.
struct PositionReport {
  std::int32_t bearing = 0;
  bool ready = false;  // state text exactly "R"; anything else is busy

  friend bool operator==(const PositionReport&, const PositionReport&) = default;
};
// "A,L,bearing,x,side": the answer to ReadStatusFrame.
struct StopReport {
  std::int32_t bearing = 0;
  bool north = false;  // side 0 is the north stop, anything else south

  friend bool operator==(const StopReport&, const StopReport&) = default;
};
// "A,S,R" or "A,M,R".
struct Acknowledgement {
  friend bool operator==(const Acknowledgement&, const Acknowledgement&) = default;
};
struct IgnoredReply {
  friend bool operator==(const IgnoredReply&, const IgnoredReply&) = default;
};
using Reply = std::variant<IgnoredReply, PositionReport, StopReport, Acknowledgement>;

// Classifies one reply line by its letter at position 3 and reads its
// fields. Has no side effects.
Reply DecodeReply(std::string_view line);

}  // namespace rotavox
