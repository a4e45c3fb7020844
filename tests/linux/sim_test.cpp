// The simulated C BOX: what it answers, how it turns and reports, its line
// faults, and one conversation through a real pseudo-terminal.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "cbox_model.h"
#include "link/protocol.h"
#include "posix/pty_cbox.h"

namespace rotavox::sim {
namespace {

using std::chrono::milliseconds;

// A reply as the controller decodes it, with the model time it was sent at.
struct Heard {
  long atMs;
  Reply reply;
};

// Runs the model in 10 ms steps, as the pseudo-terminal does, and decodes
// everything it sends with the controller's own reply reader.
std::vector<Heard> Listen(CBoxModel& box, long durationMs, long startMs = 0) {
  std::vector<Heard> heard;
  std::string rx;
  for (long t = startMs + 10; t <= startMs + durationMs; t += 10) {
    rx += box.Advance(milliseconds(10));
    while (auto line = TakeReplyLine(rx)) heard.push_back({t, DecodeReply(*line)});
  }
  return heard;
}

std::string Collect(CBoxOptions options, const std::vector<std::string>& chunks) {
  CBoxModel box(options);
  for (const auto& chunk : chunks) box.Feed(chunk);
  return box.Advance(milliseconds(0));
}

CBoxOptions At(int bearing) {
  CBoxOptions options;
  options.startBearing = bearing;
  return options;
}

TEST(CBoxModel, AnswersFrames) {
  CBoxOptions south = At(182);
  south.stopSide = StopSide::kSouth;
  CBoxOptions crlf;
  crlf.crlf = true;
  CBoxOptions silent;
  silent.silent = true;
  const struct {
    const char* name;
    CBoxOptions options;
    std::vector<std::string> input;
    std::string expected;
  } cases[] = {
      {"acknowledge", {}, {"\x02" "AM\r"}, "\x02" "A,M,R\r"},
      {"north stop", At(45), {"\x02" "AL\r"}, "\x02" "A,L,045,0,0\r"},
      {"south stop", south, {"\x02" "AL\r"}, "\x02" "A,L,182,0,1\r"},
      {"both start frames", {}, {"\x02" "AM\r\x02" "AL\r"}, "\x02" "A,M,R\r\x02" "A,L,000,0,0\r"},
      {"frame split over reads", {}, {"\x02" "A", "L", "\r"}, "\x02" "A,L,000,0,0\r"},
      {"noise before the STX", {}, {"\n\x7f\x02" "AM\r"}, "\x02" "A,M,R\r"},
      {"long noise then a frame", {}, {std::string(5000, 'x'), "\x02" "AM\r"}, "\x02" "A,M,R\r"},
      {"no STX", {}, {"AM\r"}, ""},
      {"lower case", {}, {"\x02" "am\r"}, ""},
      {"unknown command", {}, {"\x02" "AX\r"}, ""},
      {"no CR yet", {}, {"\x02" "AM"}, ""},
      {"go to where it is", At(90), {"\x02" "AG90\r"}, "\x02" "A,?,090,R\r"},
      {"go to letters", {}, {"\x02" "AGabc\r"}, ""},
      {"go beyond the stop", {}, {"\x02" "AG400\r"}, ""},
      {"go negative", At(10), {"\x02" "AG-5\r"}, ""},
      {"stop when idle", {}, {"\x02" "AS\r"}, "\x02" "A,S,R\r"},
      {"CR LF", crlf, {"\x02" "AM\r"}, "\x02" "A,M,R\r\n"},
      {"silent", silent, {"\x02" "AM\r\x02" "AL\r\x02" "AG0\r"}, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(Collect(c.options, c.input), c.expected) << c.name;
}

TEST(CBoxModel, ReadsTargetsLeniently) {
  const struct {
    const char* text;
    std::optional<int> target;
  } cases[] = {{"90", 90},   {"045", 45},  {"0", 0},         {"360", 360}, {" 7", 7},
               {"+12", 12},  {"44.6", 45}, {"90abc", 90},    {"", {}},     {"abc", {}},
               {"361", {}},  {"-1", {}},   {"inf", {}},      {"nan", {}}};
  for (const auto& c : cases) EXPECT_EQ(ParseTarget(c.text), c.target) << c.text;
}

TEST(CBoxModel, TurnsStraightToTheTargetReportingAsItGoes) {
  const struct {
    int from, to;
    double speed;
    long periodMs;
    long arrivalMs;
  } cases[] = {
      {0, 90, 6, 250, 15000},   // the usual turn
      {90, 0, 6, 250, 15000},   // downwards
      {350, 10, 6, 250, 56667}, // the long way round: never across the stop
      {0, 360, 12, 500, 30000},
      {45, 46, 6, 250, 167},    // shorter than one period: only the arrival
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.from << " -> " << c.to);
    CBoxOptions options = At(c.from);
    options.degreesPerSecond = c.speed;
    options.reportPeriod = milliseconds(c.periodMs);
    CBoxModel box(options);
    box.Feed("\x02" "AG" + std::to_string(c.to) + "\r");
    const auto heard = Listen(box, c.arrivalMs + 5000);
    ASSERT_FALSE(heard.empty());
    const int direction = c.to > c.from ? 1 : -1;
    int last = c.from;
    for (std::size_t i = 0; i + 1 < heard.size(); ++i) {
      const auto* busy = std::get_if<PositionReport>(&heard[i].reply);
      ASSERT_TRUE(busy && !busy->ready) << "report " << i;
      EXPECT_EQ(heard[i].atMs, static_cast<long>(i + 1) * c.periodMs);
      EXPECT_GE((busy->bearing - last) * direction, 0);
      EXPECT_GE(busy->bearing, std::min(c.from, c.to));
      EXPECT_LE(busy->bearing, std::max(c.from, c.to));
      last = busy->bearing;
    }
    EXPECT_EQ(heard.size() - 1, static_cast<std::size_t>((c.arrivalMs - 1) / c.periodMs));
    EXPECT_EQ(heard.back().reply, Reply(PositionReport{c.to, true}));
    EXPECT_NEAR(heard.back().atMs, c.arrivalMs, 10);
    EXPECT_EQ(box.Bearing(), c.to);
    EXPECT_FALSE(box.Turning());
  }
}

TEST(CBoxModel, SendsTheSameHoweverTimeIsCut) {
  CBoxModel coarse, fine;
  coarse.Feed("\x02" "AG90\r");
  fine.Feed("\x02" "AG90\r");
  std::string fineOut;
  for (int ms = 0; ms < 16000; ++ms) fineOut += fine.Advance(milliseconds(1));
  EXPECT_EQ(coarse.Advance(milliseconds(16000)), fineOut);
}

TEST(CBoxModel, NewTargetWhileTurningTurnsFromWhereItIs) {
  CBoxModel box;
  box.Feed("\x02" "AG90\r");
  auto heard = Listen(box, 5000);  // 30 degrees by now
  box.Feed("\x02" "AL\r");
  box.Feed("\x02" "AG10\r");
  const auto after = Listen(box, 5000, 5000);
  heard.insert(heard.end(), after.begin(), after.end());

  const auto ready = std::count_if(heard.begin(), heard.end(), [](const Heard& h) {
    const auto* report = std::get_if<PositionReport>(&h.reply);
    return report && report->ready;
  });
  EXPECT_EQ(ready, 1);
  EXPECT_EQ(heard.back().reply, Reply(PositionReport{10, true}));
  EXPECT_NEAR(heard.back().atMs, 5000 + 3333, 10);
  const auto stop = std::find_if(heard.begin(), heard.end(),
                                 [](const Heard& h) { return std::holds_alternative<StopReport>(h.reply); });
  ASSERT_NE(stop, heard.end());
  EXPECT_EQ(stop->reply, Reply(StopReport{30, true}));
  // Turning back: the first report after the new target is below 30.
  EXPECT_EQ(std::next(stop)->reply, Reply(PositionReport{29, false}));
}

TEST(CBoxModel, StopEndsATurnWhereItIs) {
  CBoxModel box;
  box.Feed("\x02" "AG90\r");
  box.Advance(milliseconds(2000));
  box.Feed("\x02" "AS\r");
  EXPECT_EQ(box.Advance(milliseconds(5000)), "\x02" "A,S,R\r\x02" "A,?,012,R\r");
  EXPECT_FALSE(box.Turning());
}

std::string NoisyTurn(double drop, double garble, std::uint64_t seed) {
  CBoxOptions options;
  options.dropProbability = drop;
  options.garbleProbability = garble;
  options.seed = seed;
  CBoxModel box(options);
  box.Feed("\x02" "AM\r\x02" "AL\r\x02" "AG90\r");
  return box.Advance(milliseconds(16000));
}

TEST(CBoxModel, LineFaultsFollowTheSeed) {
  const std::string clean = NoisyTurn(0, 0, 1);
  const struct {
    const char* name;
    double drop, garble;
    bool sameLength;
  } cases[] = {{"drop", 0.3, 0, false}, {"garble", 0, 0.3, true}, {"both", 0.2, 0.2, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string first = NoisyTurn(c.drop, c.garble, 7);
    EXPECT_EQ(NoisyTurn(c.drop, c.garble, 7), first);
    EXPECT_NE(NoisyTurn(c.drop, c.garble, 8), first);
    EXPECT_NE(first, clean);
    EXPECT_EQ(first.size() == clean.size(), c.sameLength);
    EXPECT_GT(first.size(), clean.size() / 2);
  }
  EXPECT_EQ(NoisyTurn(1.0, 0, 3), "");
}

// Reads from `fd` until a CR arrives or `timeout` passes.
std::string ReadLine(int fd, milliseconds timeout) {
  std::string got;
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (got.find('\r') == std::string::npos && std::chrono::steady_clock::now() < end) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 20) > 0) {
      char buffer[256];
      const ssize_t n = read(fd, buffer, sizeof buffer);
      if (n > 0) got.append(buffer, static_cast<std::size_t>(n));
    }
  }
  return got;
}

// The exclusive flag of a closed slave is cleared by the box's thread a
// moment after the close, so an open straight after one may need a retry.
int OpenSoon(const std::string& path) {
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    fd = open(path.c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0 && errno != EBUSY) break;
    if (fd < 0) usleep(10'000);
  }
  return fd;
}

TEST(PtyCBox, AnswersThroughThePseudoTerminalAcrossReopens) {
  PtyCBox box(At(123));
  ASSERT_EQ(box.SlavePath().rfind("/dev/pts/", 0), 0u) << box.SlavePath();
  const struct {
    const char* frame;
    const char* answer;
  } opens[] = {{"\x02" "AL\r", "\x02" "A,L,123,0,0\r"}, {"\x02" "AM\r", "\x02" "A,M,R\r"}};
  for (const auto& o : opens) {
    const int fd = OpenSoon(box.SlavePath());
    ASSERT_GE(fd, 0) << std::strerror(errno);
    // Held exclusively, as the controller does; the next open must still work.
    ioctl(fd, TIOCEXCL);
    ASSERT_EQ(write(fd, o.frame, std::strlen(o.frame)), static_cast<ssize_t>(std::strlen(o.frame)));
    EXPECT_EQ(ReadLine(fd, milliseconds(1000)), o.answer);
    close(fd);
  }
}

}  // namespace
}  // namespace rotavox::sim

namespace rotavox::sim {
namespace {

TEST(PtyCBox, ATurnAfterAPauseTakesTheTimeItsSpeedSays) {
  CBoxOptions options = At(0);
  options.degreesPerSecond = 60;
  PtyCBox box(options);
  const int fd = OpenSoon(box.SlavePath());
  ASSERT_GE(fd, 0) << std::strerror(errno);
  usleep(600'000);  // idle: the box waits for a frame with no time-out
  const auto sent = std::chrono::steady_clock::now();
  ASSERT_EQ(write(fd, "\x02" "AG30\r", 6), 6);
  std::string line;
  do {
    line = ReadLine(fd, milliseconds(3000));
  } while (!line.empty() && line != "\x02" "A,?,030,R\r");
  const auto took = std::chrono::steady_clock::now() - sent;
  EXPECT_EQ(line, "\x02" "A,?,030,R\r");
  EXPECT_GE(took, milliseconds(450));  // 30 degrees at 60 a second
  EXPECT_LE(took, milliseconds(800));
  close(fd);
}

}  // namespace
}  // namespace rotavox::sim
