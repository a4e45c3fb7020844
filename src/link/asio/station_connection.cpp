// One station program's connection (see station_connection.h).
#include "link/asio/station_connection.h"

#include <asio/buffer.hpp>
#include <asio/post.hpp>

#include <string_view>
#include <utility>

#include "link/asio/slot_manager.h"

namespace rotavox::station {

void Answers::Publish(const LinkSnapshot& s) {
  snapshot_ = static_cast<std::uint32_t>(s.bearing) | std::uint64_t{s.turning} << 32 |
              std::uint64_t{s.linked} << 33;
}

LinkSnapshot Answers::Snapshot() const {
  const std::uint64_t packed = snapshot_;
  return {(packed >> 33 & 1) != 0, static_cast<std::int32_t>(static_cast<std::uint32_t>(packed)),
          (packed >> 32 & 1) != 0};
}

Connection::Connection(asio::ip::tcp::socket socket, SlotManager& slots, Answers& answers,
                       StationClock::time_point now)
    : socket_(std::move(socket)),
      slots_(slots),
      answers_(answers),
      lines_(now),
      lastActive_(now.time_since_epoch().count()) {}

void Connection::Start() {
  asio::post(socket_.get_executor(), [self = shared_from_this()] {
    std::error_code ignored;
    self->socket_.non_blocking(true, ignored);  // for Settle's sends
    self->Read();
  });
}

void Connection::Stop() {
  asio::post(socket_.get_executor(), [self = shared_from_this()] {
    std::error_code ignored;
    self->socket_.close(ignored);
  });
}

void Connection::End() {
  std::error_code ignored;
  socket_.close(ignored);
  slots_.Release(shared_from_this());
}

void Connection::Read() {
  socket_.async_read_some(asio::buffer(readBuffer_), [this, self = shared_from_this()](std::error_code error,
                                                                                        std::size_t got) {
    if (error == asio::error::operation_aborted) return;
    if (error == asio::error::eof) {
      lines_.EndOfInput();  // the client has said all it will: answer, then close
    } else if (error) {
      End();
      return;
    } else {
      const std::string_view bytes(readBuffer_.data(), got);
      for (const RemoteAim& aim : lines_.Receive(bytes, answers_.Snapshot())) answers_.aim(aim);
      lastActive_ = lines_.LastActive().time_since_epoch().count();
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
      End();
      return;
    }
    lines_.Sent(sent);
    Settle();
  });
}

bool Connection::Settle() {
  if (!writing_ && !lines_.Pending().empty()) {
    // Answers almost always fit the socket's buffer: sent here, they need
    // no round through the server's loop. What does not fit waits for room.
    std::error_code error;
    lines_.Sent(socket_.send(asio::buffer(lines_.Pending()), 0, error));
    if (error && error != asio::error::would_block) {
      End();
      return false;
    }
    if (!lines_.Pending().empty()) Write();
  }
  // All said after a quit or the end of input, or too much left unread.
  if (lines_.Finished()) {
    End();
    return false;
  }
  return true;
}

}  // namespace rotavox::station
