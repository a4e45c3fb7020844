// The C BOX's line through telnet with the COM port control option (RFC
// 2217), as a network serial server's telnet accepter speaks it: the
// client's side of the negotiation, the line settings, and the data with
// every 0xFF doubled on the wire.
//
// The client asks for binary data both ways, suppressed go-ahead and the
// COM port option, refuses echo and every other option, and once the
// server has agreed to the COM port option sets 9600 baud, 8 data bits, no
// parity, one stop bit and no flow control. Options are answered only when
// their state changes, so two sides that both insist never loop.
// Subnegotiations from the server are read and dropped, but for the
// flow-control pair, which pauses and resumes what we send. A command cut
// across two reads is taken whole once the rest has come.
//
// Knows no socket: bytes in, bytes out (the socket is link/asio's).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace rotavox {

namespace telnet {
inline constexpr unsigned char kIac = 255;
inline constexpr unsigned char kDont = 254;
inline constexpr unsigned char kDo = 253;
inline constexpr unsigned char kWont = 252;
inline constexpr unsigned char kWill = 251;
inline constexpr unsigned char kSb = 250;
inline constexpr unsigned char kSe = 240;
inline constexpr unsigned char kBinary = 0;
inline constexpr unsigned char kEcho = 1;
inline constexpr unsigned char kSuppressGoAhead = 3;
inline constexpr unsigned char kComPort = 44;
// COM port option commands, client to server (the server answers each
// with 100 added).
inline constexpr unsigned char kSetBaudRate = 1;
inline constexpr unsigned char kSetDataSize = 2;
inline constexpr unsigned char kSetParity = 3;
inline constexpr unsigned char kSetStopSize = 4;
inline constexpr unsigned char kSetControl = 5;
inline constexpr unsigned char kFlowSuspend = 108;  // server to client
inline constexpr unsigned char kFlowResume = 109;
}  // namespace telnet

class TelnetComPort {
 public:
  // What the client says first, as soon as the connection is up.
  std::string Opening();
  // Bytes from the server: returns the box's data; the answers that the
  // negotiation asks for are appended to `answers`, to be sent at once.
  std::string Take(std::string_view wire, std::string& answers);
  // The box's data as it goes on the wire.
  std::string Wrap(std::string_view data) const;
  // The server has asked us to hold what we send.
  bool Suspended() const { return suspended_; }
  // A new connection starts from nothing.
  void Reset() { *this = TelnetComPort(); }

 private:
  // One side of one option: off, asked for and not yet answered, on.
  enum class Side : std::uint8_t { kNo, kWantYes, kYes };
  enum class Read : std::uint8_t { kData, kIac, kOption, kSub, kSubIac };

  void Command(unsigned char verb, unsigned char option, std::string& answers);
  void Subnegotiation();
  std::string Settings() const;

  std::array<Side, 256> us_{};    // options on our side (WILL/WONT)
  std::array<Side, 256> him_{};   // options on the server's side (DO/DONT)
  Read read_ = Read::kData;
  unsigned char verb_ = 0;        // WILL, WONT, DO or DONT awaiting its option
  bool afterCr_ = false;          // the last data byte was CR
  bool suspended_ = false;
  bool settingsSent_ = false;
  std::string sub_;               // subnegotiation being read
};

}  // namespace rotavox
