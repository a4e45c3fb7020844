// How long a report takes from the box (played here, on a pseudo-terminal's
// master) until the program's line has read all its bytes: on the terminal
// itself, then through each network address given (ser2net in front of the
// same terminal). One line per link: the median and the worst, in ms.
//
//   line-delay MASTER_FD DEVICE REPORTS PORT_TEXT...
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
constexpr char kReport[] = "\x02" "A,?,123,B\r";
constexpr std::size_t kReportSize = sizeof kReport - 1;

// Bytes read by the line until `want` have come (false after 2 s).
bool ReadAll(rotavox::ByteLine& line, std::size_t want) {
  const auto began = Clock::now();
  for (std::size_t got = 0; got < want;) {
    const rotavox::WaitingBytes waiting = line.BytesWaiting();
    if (waiting.failed || Clock::now() - began > std::chrono::seconds(2)) return false;
    got += line.Receive(waiting.count).size();
    if (got < want) usleep(50);
  }
  return true;
}

void Measure(const char* name, rotavox::ByteLine& line, int master, int reports) {
  // Whatever the line or the terminal held before (a greeting, the
  // connection's first bytes) is read first.
  char sink[4096];
  for (int i = 0; i < 300; ++i) {
    line.Receive(line.BytesWaiting().count);
    while (read(master, sink, sizeof sink) > 0) {
    }
    poll(nullptr, 0, 1);
  }
  std::vector<double> delays;
  for (int i = 0; i < reports; ++i) {
    const auto sent = Clock::now();
    if (write(master, kReport, kReportSize) != static_cast<ssize_t>(kReportSize) || !ReadAll(line, kReportSize)) {
      std::printf("%s: only %d of %d reports came through %s\n", name, i, reports, line.Trouble().c_str());
      return;
    }
    delays.push_back(std::chrono::duration<double, std::milli>(Clock::now() - sent).count());
    usleep(20'000 + 3'000 * (i % 7));  // not in step with anything
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
  fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);  // no one may be on the other end
  const int reports = std::atoi(argv[3]);
  {
    rotavox::PosixSerialPort serial;
    serial.Open(std::string("COM") + argv[2]);
    serial.SetLine();
    Measure(argv[2], serial, master, reports);
  }
  for (int i = 4; i < argc; ++i) {
    const rotavox::PortTarget target = rotavox::ReadPortText(argv[i]);
    rotavox::TcpLine line;
    line.Open(target.address);
    Measure(argv[i], line, master, reports);
    line.Close();
  }
  return 0;
}
