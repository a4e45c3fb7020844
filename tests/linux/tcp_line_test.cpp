// The TCP line over a real loopback socket to a peer that stops reading:
// frames whole or not at all. (What it carries, servers that refuse, never
// answer or drop, and telnet are the end-to-end roads through ser2net.)
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

namespace rotavox::testing {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// A loopback listener, and the one connection it took, which takes
// little at a time.
struct Peer {
  int listener = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  int fd = -1;
  int port = 0;
  Peer() {
    const int receiveBuffer = 2048;
    setsockopt(listener, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener, reinterpret_cast<sockaddr*>(&at), sizeof at);
    listen(listener, 4);
    socklen_t size = sizeof at;
    getsockname(listener, reinterpret_cast<sockaddr*>(&at), &size);
    port = ntohs(at.sin_port);
  }
  ~Peer() {
    close(fd);
    close(listener);
  }
};

// Calls the line until `done` holds; false after `limit`.
bool Pump(TcpLine& line, const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto until = Clock::now() + limit;
  while (Clock::now() < until) {
    line.BytesWaiting();
    if (done()) return true;
    poll(nullptr, 0, 2);
  }
  return false;
}

// A peer that stops reading: once the system holds more than the gate's
// room, frames are dropped whole, and a second later the line counts as
// stalled. What the peer then reads is whole frames only.
TEST(TcpLine, FramesGoWholeOrNotAtAllAndAStalledLineFails) {
  Peer peer;
  TcpLine line;
  line.Open({"127.0.0.1", peer.port, false});
  ASSERT_TRUE(Pump(line, [&] { return (peer.fd = accept4(peer.listener, nullptr, nullptr, SOCK_CLOEXEC)) >= 0; },
                   5000ms));
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
