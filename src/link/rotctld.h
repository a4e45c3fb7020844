// The rotator network protocol of station programs (the rotctld command
// set, plain text over TCP), answered from what the window last published.
//
// One command a line, short ("p", "P 90 0") or long ("\get_pos",
// "\set_pos 90 0"). Commands supported:
//   p  \get_pos     azimuth and elevation, one a line ("90.000000", "0.000000")
//   P  \set_pos     turn to AZ (EL ignored); AZ rounded to a whole degree
//   _  \get_info    one line naming the program
//      \dump_state  "Key: value" lines with the azimuth range
//   1  \dump_caps   the same with the capabilities
//   S  \stop        not implemented here (the box has no such frame)
//   K  \park        not implemented here
//   q  Q            closes the connection
// A set command answers "RPRT 0"; an error "RPRT -n": 1 invalid argument,
// 4 not implemented, 6 I/O error (the link to the box is not up). A line
// starting with '+' answers in the extended form ("get_pos:", "Key: value"
// lines, "RPRT n"); with ';', '|' or ',' the same on one line, with that
// separator. Decimal commas are taken as points.
//
// Everything here runs on the server's thread: it reads only the snapshot
// and hands turns to the window's thread through the caller.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace rotavox {

struct Context;
struct ProgramState;

// What a remote client may know of the program.
struct LinkSnapshot {
  bool linked = false;  // START done and the box has answered since
  std::int32_t bearing = 0;
};

// Taken on the window's thread after each message it handles.
LinkSnapshot TakeSnapshot(const ProgramState& state);

struct RotctldAnswer {
  std::string text;                      // sent back as it stands
  std::optional<std::int32_t> turnTo;    // a set_pos for the window's thread
  bool close = false;                    // the client asked to leave
};

inline constexpr const char* kRotctldInfo = "Rotavox Controller v1.03 for Prosistel C BOX";
inline constexpr std::size_t kRotctldMaxLine = 512;
// Answers waiting for a client that does not read them; past this the
// client is dropped.
inline constexpr std::size_t kRotctldMaxPending = 64 * 1024;

RotctldAnswer AnswerRotctld(std::string_view line, const LinkSnapshot& snapshot);

// One connection as the servers see it, without the socket: bytes come in,
// answers wait to go out. Each complete line is answered; a line longer
// than kRotctldMaxLine is answered "RPRT -1" once and skipped up to its
// end. After "q", or once the client has said all it will, nothing more
// is read and the connection ends when its answers are out.
class RotctldClient {
 public:
  // Bytes read from the client. Returns the turns asked for, in order.
  std::vector<std::int32_t> Receive(std::string_view bytes, const LinkSnapshot& snapshot);
  // The client has closed its side: answer what is there, then close.
  void EndOfInput() { closing_ = true; }

  bool WantsInput() const { return !closing_; }
  bool Closing() const { return closing_; }
  const std::string& Pending() const { return out_; }
  void Sent(std::size_t count) { out_.erase(0, count); }
  // Time to close: all said after a quit, or too much left unread.
  bool Finished() const {
    return (closing_ && out_.empty()) || out_.size() > kRotctldMaxPending;
  }

 private:
  std::string in_;
  std::string out_;
  bool discarding_ = false;  // inside an oversized line, until its end
  bool closing_ = false;
};

// A turn asked for by a remote client, on the window's thread: the same as
// GO with the bearing typed as a plain number, but GoToBox is not touched.
void RemoteGoTo(Context& context, std::int32_t azimuth);

}  // namespace rotavox
