// A simulated Prosistel C BOX: the box's side of the serial conversation,
// without any I/O, so that it can be driven byte by byte and millisecond by
// millisecond.
//
// The box reads frames "STX, two letters, parameter, CR" and answers with
// lines "STX A,<letter>,<data> CR":
//   AM        -> A,M,R                      acknowledgement
//   AL        -> A,L,<bearing>,0,<side>     stop report, side 0 north, 1 south
//   AG<deg>   -> starts turning; while it turns A,?,<bearing>,B every report
//                period, unasked, and A,?,<bearing>,R once it arrives
//   AS        -> A,S,R, and stops where it is (A,?,<bearing>,R if it was turning)
// Bearings go out as three digits ("045"). Like a rotator with an end stop,
// it turns straight from where it is to the target and never across 0/360.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <string_view>

namespace rotavox::sim {

enum class StopSide { kNorth, kSouth };

struct CBoxOptions {
  int startBearing = 0;  // 0..360; clamped
  StopSide stopSide = StopSide::kNorth;
  double degreesPerSecond = 6.0;  // at least 0.001
  std::chrono::milliseconds reportPeriod{250};  // at least 1 ms
  bool silent = false;             // answers nothing at all, but still turns
  double dropProbability = 0.0;    // each outgoing byte lost
  double garbleProbability = 0.0;  // each outgoing byte replaced by a random one
  bool crlf = false;               // end replies with CR LF instead of CR
  std::uint64_t seed = 1;          // for the drop and garble draws
};

// The target of an AG frame: a number from 0 to 360 after optional blanks
// and an optional '+', rounded to whole degrees; whatever follows it is
// ignored. Nothing when there is no such number.
std::optional<int> ParseTarget(std::string_view text);

class CBoxModel {
 public:
  explicit CBoxModel(const CBoxOptions& options = {});

  // Bytes the controller wrote. Answers to complete frames are queued and
  // handed out by the next Advance.
  void Feed(std::string_view bytes);
  // Lets `elapsed` pass (turning and reporting on the way) and returns every
  // byte the box sends meanwhile, queued answers first. How the time is cut
  // into calls does not change what is sent.
  std::string Advance(std::chrono::milliseconds elapsed);

  int Bearing() const;  // rounded to whole degrees
  bool Turning() const { return target_.has_value(); }

 private:
  static constexpr std::int64_t kUnitsPerDegree = 1'000'000;
  // Longest unfinished frame kept; anything older is line noise.
  static constexpr std::size_t kMaxFrame = 256;

  void HandleFrame(std::string_view frame);
  void StartTurn(int target);
  void SendPosition(bool ready);
  void Send(std::string_view text);
  double Draw();

  CBoxOptions options_;
  std::int64_t position_;  // in millionths of a degree
  std::int64_t unitsPerMs_;
  std::int64_t periodMs_;
  std::int64_t sinceReportMs_ = 0;
  std::optional<int> target_;
  std::string input_;
  std::string output_;
  std::mt19937_64 random_;
};

}  // namespace rotavox::sim
