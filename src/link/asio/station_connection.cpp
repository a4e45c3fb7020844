// One station program's connection (see station_connection.h).
#include "link/asio/station_connection.h"

#include <asio/buffer.hpp>

#include <string_view>
#include <utility>

#include "link/asio/slot_manager.h"

namespace rotavox::station {

Connection::Connection(asio::ip::tcp::socket socket, SlotManager& slots, Answers& answers,
                       StationClock::time_point now)
    : socket_(std::move(socket)), slots_(slots), answers_(answers), lines_(now) {}

void Connection::Start() {
  std::error_code ignored;
  socket_.non_blocking(true, ignored);  // for Settle's sends
  Read();
}

void Connection::Stop() {
  std::error_code ignored;
  socket_.close(ignored);
}

void Connection::Read() {
  socket_.async_read_some(asio::buffer(readBuffer_), [this, self = shared_from_this()](std::error_code error,
                                                                                        std::size_t got) {
    if (error == asio::error::operation_aborted) return;
    if (error == asio::error::eof) {
      lines_.EndOfInput();  // the client has said all it will: answer, then close
    } else if (error) {
      slots_.Stop(self);
      return;
    } else {
      const std::string_view bytes(readBuffer_.data(), got);
      for (const RemoteAim& aim : lines_.Receive(bytes, answers_.snapshot)) answers_.aim(aim);
    }
    // After "q" or the end of input only the answers matter.
    if (Settle() && lines_.WantsInput()) Read();
  });
}

void Connection::Write() {
  writing_ = true;
  sending_ = lines_.Pending();
  socket_.async_write_some(asio::buffer(sending_), [this, self = shared_from_this()](std::error_code error,
                                                                                      std::size_t sent) {
    writing_ = false;
    if (error == asio::error::operation_aborted) return;
    if (error) {
      slots_.Stop(self);
      return;
    }
    lines_.Sent(sent);
    Settle();
  });
}

bool Connection::Settle() {
  if (!writing_ && !lines_.Pending().empty()) {
    // Answers almost always fit the socket's buffer: sent here, they need
    // no round through the server's loop, which serves every client in
    // turn. What does not fit waits for room.
    std::error_code error;
    lines_.Sent(socket_.send(asio::buffer(lines_.Pending()), 0, error));
    if (error && error != asio::error::would_block) {
      slots_.Stop(shared_from_this());
      return false;
    }
    if (!lines_.Pending().empty()) Write();
  }
  // All said after a quit or the end of input, or too much left unread.
  if (lines_.Finished()) {
    slots_.Stop(shared_from_this());
    return false;
  }
  return true;
}

}  // namespace rotavox::station
