// The TCP line to a network serial server (see tcp_line.h). Every handler
// runs inside a call from the window's thread (io_context::poll), so the
// line's state needs no lock; a handler of a connection that has since
// been closed or replaced finds its generation gone and does nothing.
#include "link/asio/tcp_line.h"

#include <asio/connect.hpp>
#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/write.hpp>

#include <array>
#include <chrono>
#include <optional>

#include "link/asio/socket_tuning.h"
#include "link/frame_gate.h"
#include "link/rfc2217.h"

namespace rotavox {
namespace {

using asio::ip::tcp;

// Received data kept for the poll tick, which takes all of it every tick;
// past this (a tick held up for long by a flood) the oldest goes.
constexpr std::size_t kMaxHeld = 64 * 1024;

}  // namespace

struct TcpLine::Impl {
  enum class Stage { kClosed, kLookingUp, kConnecting, kUp, kUnreached, kLost };

  asio::io_context io{1};
  tcp::resolver resolver{io};
  tcp::socket socket{io};
  Stage stage = Stage::kClosed;
  NetworkAddress address;
  std::string trouble;  // for kUnreached and kLost
  std::optional<TelnetComPort> telnet;
  std::string opening;  // what telnet says first, once connected
  std::string in;       // the box's data, not yet read
  std::string out;      // bytes for the wire, not yet handed to the system
  std::string writing;  // bytes being handed to the system
  std::array<char, 4096> buffer{};
  FrameGate gate;
  unsigned generation = 0;
  // A lookup still runs on Asio's resolver thread, which the io_context
  // would wait for when it goes.
  bool lookingUp = false;

  // Runs the handlers that are ready, without waiting.
  void Poll() {
    if (io.stopped()) io.restart();
    io.poll();
  }
  void Fail(Stage failed, std::string why) {
    stage = failed;
    trouble = std::move(why);
    std::error_code ignored;
    socket.close(ignored);
  }
  std::size_t Unsent() {
    return out.size() + writing.size() + (stage == Stage::kUp ? station::UnsentBytes(socket) : 0);
  }
  // The gate's write: the frame joins what goes on the wire.
  std::optional<std::size_t> Queue(std::string_view frame) {
    out += telnet ? telnet->Wrap(frame) : std::string(frame);
    Write();
    return frame.size();
  }
  void LookUp();
  void Connect(const tcp::resolver::results_type& endpoints);
  void Read();
  void Write();
};

void TcpLine::Impl::LookUp() {
  lookingUp = true;
  resolver.async_resolve(address.host, std::to_string(address.port), tcp::resolver::numeric_service,
                         [this, g = generation](std::error_code error, tcp::resolver::results_type found) {
                           lookingUp = false;
                           if (g != generation || error == asio::error::operation_aborted) return;
                           if (error) {
                             Fail(Stage::kUnreached, address.host + " not found");
                             return;
                           }
                           Connect(found);
                         });
}

void TcpLine::Impl::Connect(const tcp::resolver::results_type& endpoints) {
  stage = Stage::kConnecting;
  asio::async_connect(socket, endpoints, [this, g = generation](std::error_code error, const tcp::endpoint&) {
    if (g != generation || error == asio::error::operation_aborted) return;
    if (error == asio::error::connection_refused) {
      Fail(Stage::kUnreached, "Connection refused by " + address.host);
      return;
    }
    if (error) {
      Fail(Stage::kUnreached, "No answer from " + address.host);
      return;
    }
    stage = Stage::kUp;
    station::PrepareConnection(socket);
    // The telnet negotiation goes before the frames that waited.
    out.insert(0, opening);
    gate.Observe(0);  // the wait for the connection was no stall
    Read();
    Write();
  });
}

void TcpLine::Impl::Read() {
  socket.async_read_some(asio::buffer(buffer), [this, g = generation](std::error_code error, std::size_t got) {
    if (g != generation || error == asio::error::operation_aborted) return;
    if (error) {
      Fail(Stage::kLost, "Connection to " + address.host + " lost");
      return;
    }
    const std::string_view bytes(buffer.data(), got);
    if (telnet) {
      std::string answers;
      in += telnet->Take(bytes, answers);
      out += answers;
    } else {
      in.append(bytes);
    }
    if (in.size() > kMaxHeld) in.erase(0, in.size() - kMaxHeld);
    Write();
    Read();
  });
}

void TcpLine::Impl::Write() {
  if (stage != Stage::kUp || !writing.empty() || out.empty() || (telnet && telnet->Suspended())) return;
  writing.swap(out);
  asio::async_write(socket, asio::buffer(writing), [this, g = generation](std::error_code error, std::size_t) {
    if (g != generation || error == asio::error::operation_aborted) return;
    writing.clear();
    if (error) {
      Fail(Stage::kLost, "Connection to " + address.host + " lost");
      return;
    }
    Write();
  });
}

TcpLine::TcpLine() : impl_(std::make_unique<Impl>()) {}

TcpLine::~TcpLine() {
  Close();
  // The system may take a long while to give up on a lookup; the program
  // is ending, and must not wait for it.
  if (impl_->lookingUp) static_cast<void>(impl_.release());
}

void TcpLine::Open(const NetworkAddress& address) {
  Close();
  Impl& l = *impl_;
  l.address = address;
  l.trouble.clear();
  l.opening.clear();
  if (address.telnet) {
    // Spoken now, so that frames queued meanwhile are wrapped for the
    // binary mode it asks for.
    l.telnet.emplace();
    l.opening = l.telnet->Opening();
  }
  l.stage = Impl::Stage::kLookingUp;
  l.LookUp();
}

void TcpLine::Send(std::string_view bytes) {
  Impl& l = *impl_;
  l.Poll();
  const bool underWay = l.stage == Impl::Stage::kLookingUp || l.stage == Impl::Stage::kConnecting;
  if (bytes.empty() || (l.stage != Impl::Stage::kUp && !underWay)) return;
  l.gate.Send(bytes, l.Unsent(), std::chrono::steady_clock::now(),
              [&l](std::string_view frame) { return l.Queue(frame); });
}

WaitingBytes TcpLine::BytesWaiting() {
  Impl& l = *impl_;
  l.Poll();
  switch (l.stage) {
    case Impl::Stage::kClosed:
    case Impl::Stage::kLookingUp:
    case Impl::Stage::kConnecting:
    case Impl::Stage::kUnreached:
      return {};
    case Impl::Stage::kLost:
      return {0, true};
    case Impl::Stage::kUp:
      break;
  }
  // A line that has taken none of our frames for a long while is as good
  // as gone: the operator hears of it rather than frames vanishing.
  if (!l.gate.Service([&l](std::string_view frame) { return l.Queue(frame); }, [&l] { return l.Unsent(); },
                      std::chrono::steady_clock::now())) {
    l.Fail(Impl::Stage::kLost, "Connection to " + l.address.host + " stalled");
    return {0, true};
  }
  return {l.in.size(), false};
}

std::string TcpLine::Receive(std::size_t count) {
  Impl& l = *impl_;
  const std::size_t take = std::min(count, l.in.size());
  std::string bytes = l.in.substr(0, take);
  l.in.erase(0, take);
  return bytes;
}

void TcpLine::Close() {
  Impl& l = *impl_;
  if (l.stage == Impl::Stage::kClosed) return;
  ++l.generation;
  l.resolver.cancel();
  std::error_code ignored;
  l.socket.close(ignored);
  l.stage = Impl::Stage::kClosed;
  l.telnet.reset();
  l.in.clear();
  l.out.clear();
  l.writing.clear();
  l.gate.Reset();
  l.Poll();  // the abandoned handlers run now, and find nothing to do
}

std::string TcpLine::Trouble() {
  Impl& l = *impl_;
  l.Poll();
  switch (l.stage) {
    case Impl::Stage::kLookingUp:
    case Impl::Stage::kConnecting:
      return "No answer from " + l.address.host;
    case Impl::Stage::kUnreached:
    case Impl::Stage::kLost:
      return l.trouble;
    default:
      return {};
  }
}

}  // namespace rotavox
