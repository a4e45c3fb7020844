// How long a report takes from the box to the program's reading of its
// bytes, over each line in turn: the serial port itself (a
// pseudo-terminal), and ser2net's raw and telnet accepters in front of the
// same pseudo-terminal. The box is played here, on the terminal's master.
// Prints one line per link: the median and the worst, in milliseconds.
//
//   line-delay MASTER_FD DEVICE REPORTS PORT_TEXT...
//
// PORT_TEXT as typed in the Com Port box: 127.0.0.1:2000,
// rfc2217://[::1]:2001.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "link/asio/tcp_line.h"
#include "link/port_text.h"
#include "link/posix/posix_serial_port.h"

namespace {

using Clock = std::chrono::steady_clock;
using rotavox::ByteLine;

constexpr char kReport[] = "\x02" "A,?,123,B\r";
constexpr std::size_t kReportSize = sizeof kReport - 1;

// Drains what the line and the terminal hold, until `quiet` of silence
// (or two seconds in all).
void Settle(ByteLine& line, int master, std::chrono::milliseconds quiet) {
  const auto began = Clock::now();
  auto last = began;
  char sink[4096];
  while (Clock::now() - last < quiet && Clock::now() - began < std::chrono::seconds(2)) {
    const rotavox::WaitingBytes waiting = line.BytesWaiting();
    if (waiting.count > 0) {
      line.Receive(waiting.count);
      last = Clock::now();
    }
    pollfd ready{master, POLLIN, 0};
    if (poll(&ready, 1, 1) == 1 && (ready.revents & POLLIN) != 0 && read(master, sink, sizeof sink) > 0) {
      last = Clock::now();
    }
  }
}

// Milliseconds from each report written until its bytes are all read.
std::vector<double> Measure(ByteLine& line, int master, int reports) {
  Settle(line, master, std::chrono::milliseconds(300));
  std::vector<double> delays;
  for (int i = 0; i < reports; ++i) {
    const auto sent = Clock::now();
    if (write(master, kReport, kReportSize) != static_cast<ssize_t>(kReportSize)) break;
    std::size_t got = 0;
    while (got < kReportSize && Clock::now() - sent < std::chrono::seconds(2)) {
      const rotavox::WaitingBytes waiting = line.BytesWaiting();
      if (waiting.failed) return delays;
      got += line.Receive(waiting.count).size();
      if (got < kReportSize) usleep(50);
    }
    if (got < kReportSize) break;
    delays.push_back(std::chrono::duration<double, std::milli>(Clock::now() - sent).count());
    usleep(20'000 + 3'000 * (i % 7));  // not in step with anything
  }
  return delays;
}

void Print(const char* name, std::vector<double> delays, int reports) {
  if (delays.size() != static_cast<std::size_t>(reports)) {
    std::printf("%s: only %zu of %d reports came through\n", name, delays.size(), reports);
    return;
  }
  std::sort(delays.begin(), delays.end());
  std::printf("%s: median %.3f ms, max %.3f ms over %d reports\n", name, delays[delays.size() / 2],
              delays.back(), reports);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: line-delay MASTER_FD DEVICE REPORTS PORT_TEXT...\n");
    return 2;
  }
  const int master = std::atoi(argv[1]);
  // Reads on the master never wait: with no one on the terminal's other
  // end, a read would wait for good.
  fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
  const std::string device = argv[2];
  const int reports = std::atoi(argv[3]);
  {
    rotavox::PosixSerialPort serial;
    serial.Open("COM" + device);
    serial.SetLine();
    Print(device.c_str(), Measure(serial, master, reports), reports);
  }
  for (int i = 4; i < argc; ++i) {
    const rotavox::PortTarget target = rotavox::ReadPortText(argv[i]);
    if (target.kind != rotavox::PortTarget::Kind::kNetwork) {
      std::printf("%s: no network address\n", argv[i]);
      continue;
    }
    rotavox::TcpLine line;
    line.Open(target.address);
    Print(argv[i], Measure(line, master, reports), reports);
    if (!line.Trouble().empty()) std::printf("  %s\n", line.Trouble().c_str());
    line.Close();
  }
  return 0;
}
