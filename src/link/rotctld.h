// The rotator network protocol of station programs (the rotctld command
// set, plain text over TCP), answered from what the window last published.
//
// One command a line, short ("p", "P 90 0") or long ("\get_pos",
// "\set_pos 90 0"). Commands supported, answered as Hamlib's own rotctld
// answers them where its clients parse the answer:
//   p  \get_pos     azimuth and elevation, one a line ("90.000000", "0.000000")
//   P  \set_pos     turn to AZ (0 to 360; EL ignored), rounded to a degree
//   S  \stop        stop where the antenna is
//   _  \get_info    one line naming the program
//      \dump_state  protocol version 1: "1", the model, key=value lines of
//                   the range (azimuth 0 to 360), "done"
//   1  \dump_caps   the capabilities, as the reference prints them
//   C  \set_conf    accepted, changes nothing
//   K  \park, M \move, R \reset   not implemented (the box has no such frame)
//   q  Q            closes the connection
// A set command answers "RPRT 0"; an error "RPRT -n": 1 invalid argument
// or unknown command, 4 not implemented, 6 I/O error (the link to the box
// is not up: p, P and S until the box has answered since START). A line
// starting with '+' answers in the extended form ("get_pos:", "Key: value"
// lines, "RPRT n"); with ';', '|' or ',' the same on one line, with that
// separator. Decimal commas are taken as points.
//
// Everything here runs on the server's threads: it reads only the snapshot
// and hands turns to the window's thread through the caller.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "link/station_slots.h"

namespace rotavox {

struct Context;
struct ProgramState;

// What a remote client may know of the program.
struct LinkSnapshot {
  bool linked = false;  // START done and the box has answered since
  std::int32_t bearing = 0;
  bool turning = false;  // the box reports busy
  bool operator==(const LinkSnapshot&) const = default;
};

// What a remote client asks of the antenna.
struct RemoteAim {
  enum class Kind { kTurn, kStop };
  Kind kind = Kind::kTurn;
  std::int32_t azimuth = 0;  // for a turn: 0 to 360
  bool operator==(const RemoteAim&) const = default;
};

// Taken on the window's thread after each message it handles.
LinkSnapshot TakeSnapshot(const ProgramState& state);

struct RotctldAnswer {
  std::string text;                      // sent back as it stands
  std::optional<RemoteAim> aim;          // a turn or stop for the window's thread
  bool close = false;                    // the client asked to leave
  bool command = false;                  // the line named a command known here
};

inline constexpr const char* kRotctldInfo = "Rotavox Controller v" ROTAVOX_VERSION " for Prosistel C BOX";
// The model number in dump_state: Rotavox is no Hamlib backend.
inline constexpr int kRotctldModel = 0;
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
//
// A client is active when it sends a command known here: empty lines,
// unknown commands and overlong lines do not count, so that they cannot
// hold a slot that a station program is waiting for.
class RotctldClient {
 public:
  explicit RotctldClient(StationClock::time_point connected = {}) : lastActive_(connected) {}
  // Bytes read from the client at `now`. Returns the aims asked for, in
  // order.
  std::vector<RemoteAim> Receive(std::string_view bytes, const LinkSnapshot& snapshot,
                                 StationClock::time_point now = StationClock::now());
  // When the client last sent a known command, or connected.
  StationClock::time_point LastActive() const { return lastActive_; }
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
  StationClock::time_point lastActive_;
  std::string in_;
  std::string out_;
  bool discarding_ = false;  // inside an oversized line, until its end
  bool closing_ = false;
};

// How long the operator's own GO is safe from a remote stop; the same time
// a remote turn counts as turning before the box has reported it busy.
inline constexpr std::chrono::milliseconds kRemoteStopGrace{1000};

// A turn asked for by a remote client, on the window's thread: the same as
// GO with the bearing typed as a plain number, but GoToBox is not touched.
void RemoteGoTo(Context& context, std::int32_t azimuth);
// A stop: the rotator stops where it is (the C BOX is sent the last
// bearing it reported, so it turns no further); nothing is said unless it
// reports a change. Always sent: the
// limits on a station program's stop are RemoteAimAt's.
void RemoteStop(Context& context);
// A remote aim on the poll tick. A turn is RemoteGoTo. A stop acts only
// while the antenna turns (the box reports it busy, or a remote turn went
// out within kRemoteStopGrace), and never within kRemoteStopGrace of the
// operator's GO; otherwise it is dropped. Either way the station program
// has had its answer.
void RemoteAimAt(Context& context, const RemoteAim& aim);

}  // namespace rotavox
