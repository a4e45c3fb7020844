// The TCP line to a network serial server over real loopback sockets: a
// line that connects, reads, writes and is dropped; servers that refuse or
// never answer; telnet with the COM port option; and frames whole or not
// at all on a peer that stops reading.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>

#include "link/asio/tcp_line.h"
#include "link/rfc2217.h"

namespace rotavox::testing {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

struct Fd {
  int fd = -1;
  explicit Fd(int f = -1) : fd(f) {}
  Fd(Fd&& other) noexcept : fd(other.fd) { other.fd = -1; }
  Fd& operator=(Fd&& other) noexcept {
    std::swap(fd, other.fd);
    return *this;
  }
  ~Fd() {
    if (fd >= 0) close(fd);
  }
};

// A listener on a loopback port; `backlog` 0 with one connection waiting
// makes every later connection wait unanswered.
struct Listener {
  Fd fd{socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)};
  int port = 0;
  explicit Listener(int backlog = 4, int receiveBuffer = 0) {
    if (receiveBuffer > 0) setsockopt(fd.fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd.fd, reinterpret_cast<sockaddr*>(&at), sizeof at);
    listen(fd.fd, backlog);
    socklen_t size = sizeof at;
    getsockname(fd.fd, reinterpret_cast<sockaddr*>(&at), &size);
    port = ntohs(at.sin_port);
  }
};

// Calls the line until `done` holds; false after `limit`.
bool Pump(TcpLine& line, const std::function<bool()>& done, std::chrono::milliseconds limit = 5000ms) {
  const auto until = Clock::now() + limit;
  while (Clock::now() < until) {
    line.BytesWaiting();
    if (done()) return true;
    poll(nullptr, 0, 2);
  }
  return false;
}

Fd Accept(TcpLine& line, const Listener& listener) {
  Fd peer;
  Pump(line, [&] {
    pollfd ready{listener.fd.fd, POLLIN, 0};
    if (poll(&ready, 1, 0) == 1) peer = Fd(accept4(listener.fd.fd, nullptr, nullptr, SOCK_CLOEXEC));
    return peer.fd >= 0;
  });
  return peer;
}

// Reads what the peer has been sent within `wait`.
std::string ReadFrom(TcpLine& line, const Fd& peer, std::size_t want, std::chrono::milliseconds wait = 2000ms) {
  std::string got;
  Pump(line, [&] {
    char buffer[4096];
    pollfd ready{peer.fd, POLLIN, 0};
    if (poll(&ready, 1, 0) == 1) {
      const ssize_t n = recv(peer.fd, buffer, sizeof buffer, 0);
      if (n > 0) got.append(buffer, static_cast<std::size_t>(n));
    }
    return got.size() >= want;
  }, wait);
  return got;
}

std::string Received(TcpLine& line, std::size_t want) {
  std::string got;
  Pump(line, [&] {
    const WaitingBytes waiting = line.BytesWaiting();
    got += line.Receive(waiting.count);
    return got.size() >= want;
  });
  return got;
}

TEST(TcpLine, CarriesTheBoxsBytesBothWaysAndReportsADropAtOnce) {
  Listener listener;
  TcpLine line;
  line.Open({"127.0.0.1", listener.port, false});
  line.Send("\x02" "AM\r");  // before the connection is up: it waits for it
  Fd peer = Accept(line, listener);
  ASSERT_GE(peer.fd, 0);
  EXPECT_EQ(ReadFrom(line, peer, 4), "\x02" "AM\r");
  send(peer.fd, "\x02" "A,M,R\r", 7, MSG_NOSIGNAL);
  EXPECT_EQ(Received(line, 7), "\x02" "A,M,R\r");
  EXPECT_EQ(line.Trouble(), "");
  peer = Fd();
  EXPECT_TRUE(Pump(line, [&] { return line.BytesWaiting().failed; }));
  EXPECT_EQ(line.Trouble(), "Connection to 127.0.0.1 lost");
  line.Close();
  EXPECT_FALSE(line.BytesWaiting().failed);
}

TEST(TcpLine, AServerThatRefusesOrNeverAnswersIsAQuietLineWithAReason) {
  Listener full(0);
  Fd queued(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));  // takes the one place in the queue
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  at.sin_port = htons(static_cast<std::uint16_t>(full.port));
  ASSERT_EQ(connect(queued.fd, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
  int refusing = 0;
  {
    Listener gone;
    refusing = gone.port;
  }
  const struct {
    int port;
    const char* trouble;
  } cases[] = {{refusing, "Connection refused by localhost"}, {full.port, "No answer from localhost"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.trouble);
    TcpLine line;
    line.Open({"localhost", c.port, false});
    line.Send("\x02" "AM\r");
    const auto began = Clock::now();
    while (Clock::now() - began < 500ms) {
      const WaitingBytes waiting = line.BytesWaiting();
      EXPECT_FALSE(waiting.failed);
      EXPECT_EQ(waiting.count, 0u);
      poll(nullptr, 0, 5);
    }
    EXPECT_EQ(line.Trouble(), c.trouble);
    const auto closing = Clock::now();
    line.Close();  // abandons a connection under way without waiting
    EXPECT_LT(Clock::now() - closing, 100ms);
  }
}

TEST(TcpLine, SpeaksTelnetWithTheComPortOption) {
  Listener listener;
  TcpLine line;
  line.Open({"127.0.0.1", listener.port, true});
  line.Send("\x02" "AG\xff\r");
  Fd peer = Accept(line, listener);
  ASSERT_GE(peer.fd, 0);
  const std::string opening = TelnetComPort().Opening();
  EXPECT_EQ(ReadFrom(line, peer, opening.size() + 6), opening + "\x02" "AG\xff\xff\r");
  // ser2net's way: it offers and asks, then the box's reply, 0xFF doubled.
  const std::string greeting = "\xff\xfb\x01\xff\xfd\x2c\x02" "A,\xff\xff\r";
  send(peer.fd, greeting.data(), greeting.size(), MSG_NOSIGNAL);
  EXPECT_EQ(Received(line, 5), "\x02" "A,\xff\r");
  const std::string answers = ReadFrom(line, peer, 3 + 38);
  EXPECT_EQ(answers.substr(0, 3), "\xff\xfe\x01");  // no echo
  EXPECT_EQ(answers.substr(3, 10), std::string("\xff\xfa\x2c\x01\x00\x00\x25\x80\xff\xf0", 10));  // 9600
}

// A peer that stops reading: once the system holds more than the gate's
// room, frames are dropped whole, and a second later the line counts as
// stalled. What the peer then reads is whole frames only.
TEST(TcpLine, FramesGoWholeOrNotAtAllAndAStalledLineFails) {
  Listener listener(4, 2048);
  TcpLine line;
  line.Open({"127.0.0.1", listener.port, false});
  Fd peer = Accept(line, listener);
  ASSERT_GE(peer.fd, 0);
  int sent = 0;
  const bool stalled = Pump(line, [&] {
    line.Send("\x02" "AG123\r");
    ++sent;
    return line.BytesWaiting().failed;
  }, 10000ms);
  ASSERT_TRUE(stalled) << sent << " frames offered";
  EXPECT_EQ(line.Trouble(), "Connection to 127.0.0.1 stalled");
  std::string got;
  char buffer[65536];
  for (ssize_t n; (n = recv(peer.fd, buffer, sizeof buffer, MSG_DONTWAIT)) > 0;) got.append(buffer, n);
  ASSERT_FALSE(got.empty());
  EXPECT_EQ(got.size() % 7, 0u);
  for (std::size_t i = 0; i < got.size(); i += 7) ASSERT_EQ(got.substr(i, 7), "\x02" "AG123\r") << i;
  EXPECT_LT(got.size() / 7, static_cast<std::size_t>(sent));
}

}  // namespace
}  // namespace rotavox::testing
