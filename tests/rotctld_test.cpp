// The station-program protocol: every command form, answers from the
// snapshot, and the turn it hands to the window.
#include <gtest/gtest.h>

#include "fakes.h"
#include "link/rotctld.h"

namespace rotavox::testing {
namespace {

constexpr LinkSnapshot kLinked{true, 90};
constexpr LinkSnapshot kDown{false, 0};

TEST(Rotctld, AnswersEveryForm) {
  const std::string dump =
      "Model name: Rotavox\nMfg name: Rotavox\nBackend version: 1.03\nRot type: Azimuth\n"
      "Min Azimuth: 0.000000\nMax Azimuth: 360.000000\nMin Elevation: 0.000000\n"
      "Max Elevation: 0.000000\nCan set Position: Y\nCan get Position: Y\nCan Stop: N\n"
      "Can Park: N\n";
  const struct {
    const char* line;
    LinkSnapshot snapshot;
    std::string text;
    std::optional<std::int32_t> turn;
  } cases[] = {
      {"p", kLinked, "90.000000\n0.000000\n", {}},
      {"\\get_pos", kLinked, "90.000000\n0.000000\n", {}},
      {"p\r", kLinked, "90.000000\n0.000000\n", {}},
      {"p", kDown, "RPRT -6\n", {}},
      {"P 180.25 10.00", kLinked, "RPRT 0\n", 180},
      {"\\set_pos 180,50 0,00", kLinked, "RPRT 0\n", 180},  // comma decimals, half to even
      {"P 181.5 0", kLinked, "RPRT 0\n", 182},
      {"P 0 0", kLinked, "RPRT 0\n", 0},
      {"P 360 0", kLinked, "RPRT 0\n", 360},
      {"P 361 0", kLinked, "RPRT -1\n", {}},
      {"P -1 0", kLinked, "RPRT -1\n", {}},
      {"P 90", kLinked, "RPRT -1\n", {}},
      {"P abc 0", kLinked, "RPRT -1\n", {}},
      {"P 9e999 0", kLinked, "RPRT -1\n", {}},
      {"P 90 0 7", kLinked, "RPRT -1\n", {}},
      {"P 90 0", kDown, "RPRT -6\n", {}},
      {"_", kDown, "Rotavox Controller v1.03 for Prosistel C BOX\n", {}},
      {"\\dump_state", kDown, dump, {}},
      {"1", kDown, dump, {}},
      {"S", kLinked, "RPRT -4\n", {}},
      {"\\park", kLinked, "RPRT -4\n", {}},
      {"x", kLinked, "RPRT -1\n", {}},
      {"\\get_posx", kLinked, "RPRT -1\n", {}},
      {"", kLinked, "", {}},
      {"+p", kLinked, "get_pos:\nAzimuth: 90.000000\nElevation: 0.000000\nRPRT 0\n", {}},
      {";p", kLinked, "get_pos:;Azimuth: 90.000000;Elevation: 0.000000;RPRT 0\n", {}},
      {"|\\set_pos 45 0", kLinked, "set_pos: 45 0|RPRT 0\n", 45},
      {",S", kLinked, "stop:,RPRT -4\n", {}},
      {"+_", kLinked, "get_info:\nInfo: Rotavox Controller v1.03 for Prosistel C BOX\nRPRT 0\n", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    const RotctldAnswer answer = AnswerRotctld(c.line, c.snapshot);
    EXPECT_EQ(answer.text, c.text);
    EXPECT_EQ(answer.turnTo, c.turn);
    EXPECT_FALSE(answer.close);
  }
  EXPECT_TRUE(AnswerRotctld("q", kLinked).close);
  EXPECT_TRUE(AnswerRotctld("Q", kLinked).close);
}

TEST(Rotctld, LinkedOnlyAfterAReplySinceStart) {
  Rig rig;
  rig.StartWithFile("\"3\",1\r\n");
  EXPECT_FALSE(TakeSnapshot(rig.state).linked);
  rig.StartLink();
  EXPECT_FALSE(TakeSnapshot(rig.state).linked);
  rig.port.Arrive("\x02" "A,L,33,0,0\r");
  rig.dialog.Tick();
  EXPECT_EQ(TakeSnapshot(rig.state).bearing, 33);
  EXPECT_TRUE(TakeSnapshot(rig.state).linked);
  rig.port.failed = true;  // the alarm stops the link
  rig.dialog.Tick();
  EXPECT_FALSE(TakeSnapshot(rig.state).linked);
}

TEST(Rotctld, RemoteTurnSendsLikeGoButLeavesTheBoxAlone) {
  Rig rig;
  rig.StartWithFile("\"3\",1\r\n");
  rig.StartLink();
  rig.port.Arrive("\x02" "A,L,33,0,0\r");
  rig.dialog.Tick();
  rig.dialog.controls[kGoToBox].text = "12";
  rig.ClearLog();
  RemoteGoTo(rig.context, 33);  // already there: nothing
  RemoteGoTo(rig.context, 180);
  EXPECT_EQ(rig.log, Log{"send:<STX>AG180<CR>"});
  EXPECT_EQ(rig.dialog.Text(kGoToBox), "12");
}

// A connection's bytes: lines may come in pieces, an oversized line is
// refused once and skipped to its end, and nothing is read after "q".
TEST(RotctldClient, CutsLinesAndKeepsItsLimits) {
  RotctldClient client;
  EXPECT_TRUE(client.Receive("P 45", kLinked).empty());
  EXPECT_EQ(client.Receive(" 0\np\n", kLinked), std::vector<std::int32_t>{45});
  EXPECT_EQ(client.Pending(), "RPRT 0\n90.000000\n0.000000\n");
  client.Sent(client.Pending().size());

  client.Receive(std::string(kRotctldMaxLine + 1, 'x'), kLinked);
  client.Receive(std::string(3000, 'y'), kLinked);
  client.Receive("z\n_\n", kLinked);
  EXPECT_EQ(client.Pending(), "RPRT -1\nRotavox Controller v1.03 for Prosistel C BOX\n");
  client.Sent(client.Pending().size());

  EXPECT_TRUE(client.Receive("q\nP 10 0\n", kLinked).empty());
  EXPECT_FALSE(client.WantsInput());
  EXPECT_TRUE(client.Finished());

  RotctldClient deaf;  // never reads its answers
  for (int i = 0; i < 10000 && !deaf.Finished(); ++i) deaf.Receive("1\n", kLinked);
  EXPECT_TRUE(deaf.Finished());
}

}  // namespace
}  // namespace rotavox::testing
