// Reply time of a station-program server: N clients at once, each asking
// "p" in a loop and timing every answer. Prints the median, the 99th
// percentile and the worst reply in milliseconds.
//
//   rotctld-latency PORT [CLIENTS] [REQUESTS_EACH]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

bool Ask(int fd, std::string& pending) {
  if (send(fd, "p\n", 2, MSG_NOSIGNAL) != 2) return false;
  int lines = 0;
  for (;;) {
    for (std::size_t at; lines < 2 && (at = pending.find('\n')) != std::string::npos;) {
      pending.erase(0, at + 1);
      ++lines;
    }
    if (lines == 2) return true;
    char buffer[256];
    const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
    if (got <= 0) return false;
    pending.append(buffer, static_cast<std::size_t>(got));
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: rotctld-latency PORT [CLIENTS] [REQUESTS_EACH]\n");
    return 2;
  }
  const int port = std::atoi(argv[1]);
  const int clients = argc > 2 ? std::atoi(argv[2]) : 10;
  const int each = argc > 3 ? std::atoi(argv[3]) : 200;
  std::vector<double> times;
  std::mutex mutex;
  bool failed = false;
  std::vector<std::thread> threads;
  for (int c = 0; c < clients; ++c) {
    threads.emplace_back([&] {
      const int fd = socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in where{};
      where.sin_family = AF_INET;
      where.sin_port = htons(static_cast<std::uint16_t>(port));
      inet_pton(AF_INET, "127.0.0.1", &where.sin_addr);
      const int on = 1;
      setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
      std::vector<double> mine;
      std::string pending;
      bool ok = connect(fd, reinterpret_cast<sockaddr*>(&where), sizeof where) == 0;
      for (int i = 0; ok && i < each; ++i) {
        const auto start = Clock::now();
        ok = Ask(fd, pending);
        mine.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
      }
      close(fd);
      std::lock_guard<std::mutex> lock(mutex);
      failed = failed || !ok;
      times.insert(times.end(), mine.begin(), mine.end());
    });
  }
  for (auto& t : threads) t.join();
  if (failed || times.empty()) {
    std::fprintf(stderr, "rotctld-latency: a client lost its connection\n");
    return 1;
  }
  std::sort(times.begin(), times.end());
  const auto at = [&](double q) { return times[static_cast<std::size_t>(q * (times.size() - 1))]; };
  std::printf("%zu replies, %d clients: median %.3f ms, 99th percentile %.3f ms, max %.3f ms\n",
              times.size(), clients, at(0.5), at(0.99), times.back());
  return 0;
}
