// A TCP line to the C BOX through a network serial server, on standalone
// Asio, for both editions: the raw form (the box's bytes as they are) and
// telnet with the COM port control option (link/rfc2217.h).
//
// Nothing waits on the window's thread: the line has an io_context of its
// own that every call runs for what is ready, and never longer (a poll, not
// a run). A name is looked up on Asio's resolver thread; connecting,
// reading and writing are asynchronous and finish on a later call. Frames
// sent before the connection is up wait for it.
//
// Frames go whole or not at all, as on a serial port (link/frame_gate.h):
// the bytes not yet handed to the system plus those the system still
// holds unacknowledged (where it can tell) leave room for the whole frame,
// or the frame is dropped; a line that takes no frame for a second counts
// as stalled, and stalled or dropped it reports failed.
//
// A server that cannot be reached is a line that gives nothing: BytesWaiting
// stays silent, and Trouble says why ("Connection refused by HOST", "HOST
// not found", "No answer from HOST" while still under way). A connection
// that drops reports failed at once ("Connection to HOST lost").
#pragma once

#include <memory>
#include <string>

#include "link/byte_line.h"

namespace rotavox {

class TcpLine final : public NetworkLine {
 public:
  TcpLine();
  ~TcpLine() override;
  TcpLine(const TcpLine&) = delete;
  TcpLine& operator=(const TcpLine&) = delete;

  void Open(const NetworkAddress& address) override;
  void Send(std::string_view bytes) override;
  WaitingBytes BytesWaiting() override;
  std::string Receive(std::size_t count) override;
  void Close() override;
  std::string Trouble() override;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace rotavox
