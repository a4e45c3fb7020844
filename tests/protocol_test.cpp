// C BOX frames, reply lines and reply decoding.
#include "link/protocol.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace rotavox {
namespace {

std::string Describe(const Reply& reply) {
  if (const auto* p = std::get_if<PositionReport>(&reply)) {
    return "position " + std::to_string(p->bearing) + (p->ready ? " READY" : " BUSY");
  }
  if (const auto* s = std::get_if<StopReport>(&reply)) {
    return "stop " + std::to_string(s->bearing) + (s->north ? " north" : " south");
  }
  if (std::holds_alternative<Acknowledgement>(reply)) return "ack";
  return "ignored";
}

// Frames are STX, the command, the parameter exactly as given, and CR.
TEST(Frames, CommandAndParameterBetweenStxAndCr) {
  const struct {
    const char* name;
    std::string frame;
    std::string bytes;
  } cases[] = {
      {"AM", AmFrame(), "\x02" "AM\r"},
      {"AL", ReadStatusFrame(), "\x02" "AL\r"},
      {"AG 90", GoToFrame("90"), "\x02" "AG90\r"},
      {"AG keeps leading zeros", GoToFrame("045"), "\x02" "AG045\r"},
      {"AG out of range", GoToFrame("400"), "\x02" "AG400\r"},
      {"AG untrimmed letters", GoToFrame(" 9x "), "\x02" "AG 9x \r"},
      {"AG empty", GoToFrame(""), "\x02" "AG\r"},
      {"any command", MakeFrame("XY", "z"), "\x02" "XYz\r"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.frame, c.bytes);
  }
  EXPECT_EQ(AmFrame().size(), 4u);
}

// A line is everything up to the first CR with every STX and CR removed;
// the rest, line feeds included, waits for the next line. Without a CR
// nothing is taken.
TEST(TakeReplyLine, TakesUpToTheFirstCr) {
  const struct {
    const char* name;
    std::string rx;
    std::optional<std::string> line;
    std::string rest;
  } cases[] = {
      {"empty", "", std::nullopt, ""},
      {"no CR yet", "\x02" "A,?,1", std::nullopt, "\x02" "A,?,1"},
      {"one reply", "\x02" "A,?,123,R\r", "A,?,123,R", ""},
      {"CR alone", "\r", "", ""},
      {"two replies", "A,M,R\rA,S,R\r", "A,M,R", "A,S,R\r"},
      {"STX anywhere", "A\x02,\x02?\x02\r", "A,?", ""},
      {"line feed stays for the next line", "xy\r\nA,?", "xy", "\nA,?"},
      {"line feed kept in the line", "\nA,?,5,R\r", "\nA,?,5,R", ""},
      {"bytes before STX stay", "zz\x02" "A,S,R\r", "zzA,S,R", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string rx = c.rx;
    EXPECT_EQ(TakeReplyLine(rx), c.line);
    EXPECT_EQ(rx, c.rest);
  }
}

TEST(TakeReplyLine, ReplySplitAcrossReceptionsDecodesOnceComplete) {
  std::string rx;
  AppendReceived(rx, "\x02" "A,?,1");
  EXPECT_EQ(TakeReplyLine(rx), std::nullopt);
  AppendReceived(rx, "23,R\r\x02" "A,?,12");
  const auto line = TakeReplyLine(rx);
  ASSERT_TRUE(line.has_value());
  EXPECT_EQ(Describe(DecodeReply(*line)), "position 123 READY");
  EXPECT_EQ(rx, "\x02" "A,?,12");
}

// The unfinished tail keeps its newest kMaxPartialLine bytes; complete lines
// before it are kept.
TEST(AppendReceived, UnfinishedTailKeepsItsNewestBytes) {
  std::string rx;
  AppendReceived(rx, "A,M,R\r" + std::string(4000, 'a') + std::string(4000, 'b'));
  EXPECT_EQ(rx, "A,M,R\r" + std::string(96, 'a') + std::string(4000, 'b'));

  rx.clear();
  AppendReceived(rx, std::string(3000, 'x'));
  AppendReceived(rx, std::string(3000, 'y'));
  EXPECT_EQ(rx, std::string(1096, 'x') + std::string(3000, 'y'));

  rx.clear();
  AppendReceived(rx, std::string(kMaxPartialLine, 'x'));
  EXPECT_EQ(rx.size(), kMaxPartialLine);
}

std::string NumberedLine(int n) {
  char line[16];
  std::snprintf(line, sizeof line, "L%05d\r", n);
  return line;
}

// Beyond kMaxRxText the oldest lines go, whole lines only, and the newest
// stay in order.
TEST(AppendReceived, WholeTextDropsItsOldestCompleteLines) {
  std::string all;
  for (int n = 0; n < 10000; ++n) all += NumberedLine(n);  // 70000 bytes
  std::string rx;
  AppendReceived(rx, all);
  EXPECT_EQ(rx, all.substr(all.find(NumberedLine(638))));  // line 637 held the cut

  std::string full;  // exactly kMaxRxText bytes of 8-byte lines
  for (int n = 0; n < 8192; ++n) full += "L0" + NumberedLine(n).substr(1);
  rx.clear();
  AppendReceived(rx, "abc\r" + full);  // the excess ends with a line
  EXPECT_EQ(rx, full);

  rx.clear();
  for (int n = 0; n < 12000; ++n) {
    AppendReceived(rx, NumberedLine(n));
    ASSERT_LE(rx.size(), kMaxRxText) << "after line " << n;
  }
  AppendReceived(rx, std::string(5000, 't'));  // an unfinished tail as well
  EXPECT_LE(rx.size(), kMaxRxText);
  EXPECT_EQ(rx.substr(rx.size() - kMaxPartialLine), std::string(kMaxPartialLine, 't'));
  std::vector<std::string> lines;
  while (auto line = TakeReplyLine(rx)) lines.push_back(*line);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "L11999");
  for (std::size_t i = 0; i < lines.size(); ++i) {
    ASSERT_EQ(lines[i] + "\r", NumberedLine(12000 - static_cast<int>(lines.size() - i)));
  }
}

// The letter at position 3 picks the reply; positions 1, 2 and 4 are never
// looked at. A position report's azimuth is the character at position 5 and
// up to two more before a comma; the state after that comma is READY only
// when it is exactly "R". A stop report reads comma fields 3 and 5, side 0
// being north. "S" and "M" acknowledge only with exactly "R" from
// position 5. Numbers are rounded, halves to even.
TEST(DecodeReply, ClassifiesAndReadsFields) {
  const struct {
    const char* line;
    const char* decoded;
  } cases[] = {
      {"A,?,123,R", "position 123 READY"}, {"A,?,45,B", "position 45 BUSY"},
      {"A,?,7,R", "position 7 READY"}, {"A,?,0,R", "position 0 READY"},
      {"A,?,000,R", "position 0 READY"}, {"A,?,007,R", "position 7 READY"},
      {"A,?,123,R ", "position 123 BUSY"}, {"A,?,123,r", "position 123 BUSY"},
      {"A,?,123,", "position 123 BUSY"}, {"A,?,5", "position 5 BUSY"}, {"A,?", "position 0 BUSY"},
      {"A,?,1234,R", "position 123 BUSY"}, {"A,?,2.5,R", "position 2 READY"},
      {"A,?,3.5,R", "position 4 READY"}, {"A,?,-5,R", "position -5 READY"},
      {"A,?, 12,R", "position 12 READY"}, {"XX?X12,R", "position 12 READY"},
      {"A,L,180,0,1", "stop 180 south"}, {"A,L,180,0,0", "stop 180 north"},
      {"A,L,182,9,2", "stop 182 south"}, {"A,L,90", "stop 90 north"},
      {"A,L, 90 ,x, 1 ", "stop 90 south"}, {"A,L,90,0,-1", "stop 90 south"},
      {"A,L,90,0,0.5", "stop 90 north"}, {"A,L,90,0,1.5", "stop 90 south"},
      {"A,L,359.5,0,0", "stop 360 north"}, {"A,L,,,", "stop 0 north"},
      {"A,L,9E9,0,0", "stop 2147483647 north"}, {"A,S,R", "ack"}, {"A,M,R", "ack"},
      {"A,S,RR", "ignored"}, {"A,M,R ", "ignored"}, {"A,S,", "ignored"}, {"A,S", "ignored"},
      {"A,m,R", "ignored"}, {"A,l,180,0,1", "ignored"}, {"A,X,1", "ignored"},
      {"\nA,?,12,R", "ignored"}, {"A,", "ignored"}, {"", "ignored"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(Describe(DecodeReply(c.line)), c.decoded);
  }
}

}  // namespace
}  // namespace rotavox
