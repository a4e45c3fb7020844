// The Prosistel C BOX as a rotator: its frames and reply lines over a byte
// line, which is the serial port, or a TCP connection to a network serial
// server (raw, or telnet with RFC 2217), as the Com Port box names it.
//
// START opens the line and sends AM, then AL, whose answer (the stop
// report) is the start information. GO sends the target exactly as given;
// a stop is a GO to the bearing last reported; a fine step is a GO two
// degrees on, short of the end stop. The box reports on its own: nothing
// is asked on the tick, whose events are the reply lines, one per line.
// The received text lives in the program state (RxText), so that what a
// line left unfinished carries over into a new START.
#pragma once

#include <cstdint>
#include <string>

#include "link/rotator.h"

namespace rotavox {

struct ProgramState;
class ByteLine;
class NetworkLine;
class SerialPort;

inline constexpr std::int32_t kNorthStopBearing = 0;
inline constexpr std::int32_t kSouthStopBearing = 182;
inline constexpr const char* kNoNetworkHere = "No network line in this program";

class CBoxRotator final : public Rotator {
 public:
  // `network` may be none: a network address then reaches nothing.
  CBoxRotator(ProgramState& state, SerialPort& serial, NetworkLine* network = nullptr)
      : state_(state), serial_(serial), network_(network) {}

  void Start(std::string_view portText) override;
  void GoTo(std::string_view target) override;
  void Stop() override;
  bool Step(std::int32_t degrees) override;
  void Close() override;
  Reception Receive() override;
  std::optional<RotatorEvent> NextEvent() override;
  std::string Trouble() override;

 private:
  void Send(std::string_view frame);

  ProgramState& state_;
  SerialPort& serial_;
  NetworkLine* network_;
  ByteLine* line_ = nullptr;  // the line START opened; none before
  std::string trouble_;       // why a START reached no line at all
};

}  // namespace rotavox
