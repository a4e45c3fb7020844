// The station-program protocol: every command form, answers from the
// snapshot, and the turn it hands to the window.
#include <gtest/gtest.h>

#include "fakes.h"
#include "link/rotctld.h"
#include "link/udp_aim.h"
#include "link/wsjtx.h"

namespace rotavox::testing {
namespace {

constexpr LinkSnapshot kLinked{true, 90};
constexpr LinkSnapshot kDown{false, 0};

TEST(Rotctld, AnswersEveryForm) {
  const std::string state =
      "1\n0\nmin_az=0.000000\nmax_az=360.000000\nmin_el=0.000000\nmax_el=90.000000\n"
      "south_zero=0\nrot_type=Az\ndone\n";
  const std::string caps =
      "Caps dump for model:\t0\nModel name:\t\tRotavox\nMfg name:\t\tRotavox\n"
      "Backend version:\t1.03\nRot type:\t\tAzimuth\nMin Azimuth:\t\t0.00\nMax Azimuth:\t\t360.00\n"
      "Min Elevation:\t\t0.00\nMax Elevation:\t\t90.00\nCan set Position:\tY\nCan get Position:\tY\n"
      "Can Stop:\t\tY\nCan Park:\t\tN\nCan Move:\t\tN\nCan get Info:\t\tY\nRPRT 0\n";
  using K = RemoteAim::Kind;
  const struct {
    const char* line;
    LinkSnapshot snapshot;
    std::string text;
    std::optional<RemoteAim> aim;
  } cases[] = {
      {"p", kLinked, "90.000000\n0.000000\n", {}},
      {"\\get_pos", kLinked, "90.000000\n0.000000\n", {}},
      {"p\r", kLinked, "90.000000\n0.000000\n", {}},
      {"p", kDown, "RPRT -6\n", {}},
      {"P 180.25 10.00", kLinked, "RPRT 0\n", RemoteAim{K::kTurn, 180}},
      {"\\set_pos 180,50 0,00", kLinked, "RPRT 0\n", RemoteAim{K::kTurn, 180}},  // half to even
      {"P 181.5 0", kLinked, "RPRT 0\n", RemoteAim{K::kTurn, 182}},
      {"P 0 0", kLinked, "RPRT 0\n", RemoteAim{K::kTurn, 0}},
      {"P 360 0", kLinked, "RPRT 0\n", RemoteAim{K::kTurn, 360}},
      {"P 359.6 0", kLinked, "RPRT 0\n", RemoteAim{K::kTurn, 360}},
      {"P 361 0", kLinked, "RPRT -1\n", {}},
      {"P -1 0", kLinked, "RPRT -1\n", {}},
      {"P 90", kLinked, "RPRT -1\n", {}},
      {"P abc 0", kLinked, "RPRT -1\n", {}},
      {"P 9e999 0", kLinked, "RPRT -1\n", {}},
      {"P +-0 0", kLinked, "RPRT -1\n", {}},  // one sign at most
      {"P 90 +-5", kLinked, "RPRT -1\n", {}},
      {"P +90 -0", kLinked, "RPRT 0\n", RemoteAim{K::kTurn, 90}},
      {"P 90 0 7", kLinked, "RPRT -1\n", {}},
      {"P 90 0", kDown, "RPRT -6\n", {}},
      {"S", kLinked, "RPRT 0\n", RemoteAim{K::kStop, 0}},
      {"\\stop", kDown, "RPRT -6\n", {}},
      {"_", kDown, "Rotavox Controller v1.03 for Prosistel C BOX\n", {}},
      {"\\dump_state", kDown, state, {}},
      {"+\\dump_state", kDown,
       "dump_state:\nrotctld Protocol Ver: 1\nRotor Model: 0\nMinimum Azimuth: 0.000000\n"
       "Maximum Azimuth: 360.000000\nMinimum Elevation: 0.000000\nMaximum Elevation: 90.000000\n"
       "South Zero: 0\nrot_type=Az\ndone\nRPRT 0\n", {}},
      {"1", kDown, caps, {}},
      {"\\dump_caps", kLinked, caps, {}},
      {"C timeout 500", kLinked, "RPRT 0\n", {}},
      {"\\park", kLinked, "RPRT -4\n", {}},
      {"M 8 50", kLinked, "RPRT -4\n", {}},
      {"R 1", kLinked, "RPRT -4\n", {}},
      {"x", kLinked, "RPRT -1\n", {}},
      {"\\get_posx", kLinked, "RPRT -1\n", {}},
      {"", kLinked, "", {}},
      {"+p", kLinked, "get_pos:\nAzimuth: 90.000000\nElevation: 0.000000\nRPRT 0\n", {}},
      {";p", kLinked, "get_pos:;Azimuth: 90.000000;Elevation: 0.000000;RPRT 0\n", {}},
      {"|\\set_pos 45 0", kLinked, "set_pos: 45 0|RPRT 0\n", RemoteAim{K::kTurn, 45}},
      {",K", kLinked, "park:,RPRT -4\n", {}},
      {"+_", kLinked, "get_info:\nInfo: Rotavox Controller v1.03 for Prosistel C BOX\nRPRT 0\n", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    const RotctldAnswer answer = AnswerRotctld(c.line, c.snapshot);
    EXPECT_EQ(answer.text, c.text);
    EXPECT_EQ(answer.aim, c.aim);
    EXPECT_FALSE(answer.close);
  }
  EXPECT_TRUE(AnswerRotctld("q", kLinked).close);
  EXPECT_TRUE(AnswerRotctld("Q", kLinked).close);
}

// Both kinds of UDP datagram: N1MM's rotor packets and PstRotator's.
TEST(UdpAim, ReadsBothPacketKinds) {
  using K = RemoteAim::Kind;
  const std::string n1mm = "<N1MMRotor><rotor>C BOX</rotor><goazi>%A</goazi><offset>%O</offset>"
                           "<bidirectional>0</bidirectional><freqband>14</freqband></N1MMRotor>";
  const auto packet = [&](const char* az, const char* offset) {
    std::string p = n1mm;
    p.replace(p.find("%A"), 2, az);
    p.replace(p.find("%O"), 2, offset);
    return p;
  };
  const struct {
    std::string datagram;
    std::optional<RemoteAim> aim;
    bool n1mm;
  } cases[] = {
      {packet("55.0", "0.0"), RemoteAim{K::kTurn, 55}, true},
      {packet("146.5", "0"), RemoteAim{K::kTurn, 146}, true},  // half to even
      {packet("350", "20.0"), RemoteAim{K::kTurn, 10}, true},  // past north
      {packet("10", "-20"), RemoteAim{K::kTurn, 350}, true},
      {packet("360", "0"), RemoteAim{K::kTurn, 0}, true},
      {packet("359.6", "0"), RemoteAim{K::kTurn, 0}, true},
      {packet("361", "0"), {}, false},
      {packet("-1", "0"), {}, false},
      {packet("north", "0"), {}, false},
      {packet("55", "x"), {}, false},
      {"<N1MMRotor><rotor>C BOX</rotor><goazi>55</goazi></N1MMRotor>", RemoteAim{K::kTurn, 55}, true},
      {"<N1MMRotor><stop><rotor>C BOX</rotor><freqband>14</freqband></stop></N1MMRotor>",
       RemoteAim{K::kStop, 0}, true},
      {"<?xml version=\"1.0\"?><N1MMRotor xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\"\r\n"
       " a='x>y'><rotor>C BOX</rotor><goazi>55</goazi></N1MMRotor>", RemoteAim{K::kTurn, 55}, true},
      {"<N1MMRotorX><goazi>55</goazi></N1MMRotorX>", {}, false},
      {"<PST><AZIMUTH>85</AZIMUTH></PST>", RemoteAim{K::kTurn, 85}, false},
      {"<PST>\r\n<AZIMUTH> 270 </AZIMUTH>\r\n</PST>", RemoteAim{K::kTurn, 270}, false},
      {"<PST><STOP>1</STOP></PST>", RemoteAim{K::kStop, 0}, false},
      {"<PST><STOP>0</STOP></PST>", {}, false},
      {"<PST><AZIMUTH>400</AZIMUTH></PST>", {}, false},
      {"<PST><AZIMUTH>85</PST>", {}, false},
      {"<PST><ELEVATION>30</ELEVATION></PST>", {}, false},
      {"P 90 0", {}, false},
      {"", {}, false},
      {"<PST><AZIMUTH>85</AZIMUTH></PST>" + std::string(kUdpMaxDatagram, ' '), {}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.datagram.substr(0, 80));
    const auto got = ParseUdpAim(c.datagram);
    EXPECT_EQ(got ? std::optional(got->aim) : std::nullopt, c.aim);
    if (got) {
      EXPECT_EQ(got->n1mm, c.n1mm);
    }
  }
  EXPECT_EQ(ParseUdpAim(packet("55", "0"))->rotor, "C BOX");
  EXPECT_EQ(N1mmStatus("C BOX", 146), "C BOX @ 1460");
  EXPECT_EQ(N1mmStatus("C BOX", 0), "C BOX @ 0");
}

// Status goes to the logger when the bearing moves and on arrival; aims
// are let through at a bounded rate.
TEST(UdpAim, StatusWhenItMattersAndABoundedRate) {
  StatusWatch watch;
  const struct {
    LinkSnapshot snapshot;
    bool news;
  } steps[] = {
      {{false, 0, false}, false}, {{true, 10, false}, true}, {{true, 10, false}, false},
      {{true, 20, true}, true},   {{true, 20, true}, false}, {{true, 20, false}, true},
  };
  for (const auto& s : steps) EXPECT_EQ(watch.Changed(s.snapshot), s.news) << s.snapshot.bearing;

  AimRate rate(3, std::chrono::milliseconds(100));
  const auto t0 = AimRate::Clock::time_point{};
  int allowed = 0;
  for (int ms = 0; ms < 1000; ms += 10) allowed += rate.Allow(t0 + std::chrono::milliseconds(ms));
  EXPECT_EQ(allowed, 3 + 9);  // the burst, then one each 100 ms
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
  RemoteStop(rig.context);  // where the box last said it is
  EXPECT_EQ(rig.log, (Log{"send:<STX>AG180<CR>", "send:<STX>AG33<CR>"}));
  EXPECT_EQ(rig.dialog.Text(kGoToBox), "12");
}

// A server's datagrams: aims handed on, the rest counted, and the loggers
// that aimed with N1MM packets told where the antenna is.
TEST(UdpAim, ServerSideAimsCountsAndTellsLoggers) {
  const auto V4 = [](std::uint32_t a) { return PeerAddress::FromIpv4(a); };
  UdpAims aims(2);
  const auto now = UdpAims::Clock::time_point{};
  const std::string n1mm = "<N1MMRotor><rotor>Beam</rotor><goazi>90</goazi></N1MMRotor>";
  const std::string pst = "<PST><AZIMUTH>80</AZIMUTH></PST>";
  EXPECT_EQ(aims.Receive(0, V4(7), n1mm, n1mm.size(), now), (RemoteAim{RemoteAim::Kind::kTurn, 90}));
  EXPECT_EQ(aims.Receive(1, V4(8), pst, pst.size(), now), (RemoteAim{RemoteAim::Kind::kTurn, 80}));
  EXPECT_EQ(aims.Receive(1, V4(8), "junk", 4, now), std::nullopt);
  EXPECT_EQ(aims.Receive(1, V4(8), pst.substr(0, 10), 5000, now), std::nullopt);  // cut short
  EXPECT_EQ(aims.Ignored(), 2u);
  const auto told = aims.Publish({true, 45, true});
  ASSERT_EQ(told.size(), 1u);  // the PstRotator sender wants no status
  EXPECT_EQ(told[0].socket, 0u);
  EXPECT_EQ(told[0].to.Ipv4(), 7u);
  EXPECT_EQ(told[0].text, "Beam @ 450");
  EXPECT_TRUE(aims.Publish({true, 45, true}).empty());  // nothing new
  for (std::uint32_t from = 100; from < 120; ++from) aims.Receive(0, V4(from), n1mm, n1mm.size(), now);
  EXPECT_EQ(aims.Publish({true, 46, true}).size(), UdpAims::kMaxPeers);
  // A rate for each sender, IPv6 ones too: a flood from one holds back no other.
  UdpAims flood(1);
  for (int i = 0; i < 100; ++i) flood.Receive(0, V4(1), pst, pst.size(), now);
  EXPECT_FALSE(flood.Receive(0, V4(1), pst, pst.size(), now));
  EXPECT_TRUE(flood.Receive(0, V4(2), pst, pst.size(), now));
  EXPECT_TRUE(flood.Receive(0, PeerAddress{{0x20, 0x01, 0x0d, 0xb8}}, pst, pst.size(), now));
}

// A connection's bytes: lines may come in pieces, an oversized line is
// refused once and skipped to its end, and nothing is read after "q".
TEST(RotctldClient, CutsLinesAndKeepsItsLimits) {
  RotctldClient client;
  EXPECT_TRUE(client.Receive("P 45", kLinked).empty());
  EXPECT_EQ(client.Receive(" 0\np\n", kLinked), (std::vector<RemoteAim>{{RemoteAim::Kind::kTurn, 45}}));
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

  // Only known commands are activity: empty, unknown and overlong lines hold no slot.
  RotctldClient idle(StationClock::time_point{});
  idle.Receive("\n \nx\n" + std::string(kRotctldMaxLine + 1, 'p') + "\n", kLinked);
  EXPECT_EQ(idle.LastActive(), StationClock::time_point{});
  idle.Receive("P 1 0\n", kDown);
  EXPECT_NE(idle.LastActive(), StationClock::time_point{});

  RotctldClient deaf;  // never reads its answers
  for (int i = 0; i < 10000 && !deaf.Finished(); ++i) deaf.Receive("1\n", kLinked);
  EXPECT_TRUE(deaf.Finished());
}

}  // namespace
}  // namespace rotavox::testing

namespace rotavox::testing {
namespace {

// A WSJT-X status as the program puts it on the wire, fields from `id` to
// the DX grid and a tail of 7 bytes; nullopt is a null string.
using Field = std::optional<std::string>;
std::string WsjtxBytes(std::uint32_t type, std::uint32_t schema, Field id, Field dxCall, Field deGrid, Field dxGrid) {
  std::string out;
  const auto u32 = [&out](std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>(v >> shift & 0xFF);
  };
  const auto text = [&](const Field& f) {
    u32(f ? static_cast<std::uint32_t>(f->size()) : 0xFFFFFFFF);
    if (f) out += *f;
  };
  u32(0xADBCCBDA), u32(schema), u32(type);
  text(id);
  out += std::string(8, '\0');  // dial frequency
  text("FT8"), text(dxCall), text("-15"), text("FT8");
  out += std::string(3, '\0') + std::string(8, '\x05');  // three bools, Rx and Tx DF
  text(std::nullopt), text(deGrid), text(dxGrid);
  return out + std::string(7, '\0');
}

std::string Unhex(std::string_view hex) {
  std::string out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) out += static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16));
  return out;
}

// WSJT-X's status: the station being worked, read from every form a
// program sends; whatever cannot be read, or names no callsign or locator
// where one belongs, is bad and counted.
TEST(Wsjtx, ReadsStatusesAndRefusesWhatNoStationWouldSay) {
  using K = WsjtxDatagram::Kind;
  // Sent by WSJT-X 2.6.1 and by JTDX 2.2.159 (Debian's), after JA1XYZ was
  // typed into the DX Call box and PM95 into the DX Grid box.
  const std::string wsjtx = Unhex(
      "adbccbda00000002000000010000000657534a542d580000000000d6c09000000003465438000000064a413158595a0000"
      "00032d313500000003465438000000000005dc000005dcffffffffffffffff00000004504d393500ffffffff0000ffffff"
      "ffffffffff0000000744656661756c74ffffffff");
  const std::string jtdx = Unhex(
      "adbccbda0000000200000001000000044a5444580000000000d6c09000000003465438000000064a413158595a000000"
      "032d313500000003465438000000000005dc000005dc000000000000000000000004504d393500ffffffff0000");
  const std::string good = WsjtxBytes(1, 3, "WSJT-X", "ja1xyz", "JO62QM", "pm95vq");
  const struct {
    const char* what;
    std::string bytes;
    K kind;
    WsjtxStatus status;
  } cases[] = {
      {"WSJT-X 2.6.1", wsjtx, K::kStatus, {"WSJT-X", "JA1XYZ", "PM95", ""}},
      {"JTDX, shorter", jtdx, K::kStatus, {"JTDX", "JA1XYZ", "PM95", ""}},
      {"schema 3, either case", good, K::kStatus, {"WSJT-X", "JA1XYZ", "PM95VQ", "JO62QM"}},
      {"cut after the DX grid", good.substr(0, good.size() - 7), K::kStatus, {"WSJT-X", "JA1XYZ", "PM95VQ", "JO62QM"}},
      {"null fields", WsjtxBytes(1, 2, "A", std::nullopt, std::nullopt, std::nullopt), K::kStatus, {"A", "", "", ""}},
      {"empty fields", WsjtxBytes(1, 2, "A", "", "", ""), K::kStatus, {"A", "", "", ""}},
      {"a DE grid that is none", WsjtxBytes(1, 2, "A", "W1AW", "XX", ""), K::kStatus, {"A", "W1AW", "", ""}},
      {"GB22GD stays a call", WsjtxBytes(1, 2, "A", "GB22GD", "", ""), K::kStatus, {"A", "GB22GD", "", ""}},
      {"heartbeat", WsjtxBytes(0, 2, "WSJT-X", "", "", ""), K::kOther, {}},
      {"a decode", WsjtxBytes(2, 2, "WSJT-X", "", "", ""), K::kOther, {}},
      {"a blank in the call", WsjtxBytes(1, 2, "A", "JA1 XYZ", "", ""), K::kBad, {}},
      {"a call without a letter", WsjtxBytes(1, 2, "A", "12345", "", ""), K::kBad, {}},
      {"an ESC in the call", WsjtxBytes(1, 2, "A", "JA1\x1b[5m", "", ""), K::kBad, {}},
      {"a grid of 3", WsjtxBytes(1, 2, "A", "JA1XYZ", "", "PM9"), K::kBad, {}},
      {"a grid of 8", WsjtxBytes(1, 2, "A", "JA1XYZ", "", "PM95VQ12"), K::kBad, {}},
      {"wrong magic", "\x01" + good.substr(1), K::kBad, {}},
      {"schema 1", WsjtxBytes(1, 1, "A", "JA1XYZ", "", ""), K::kBad, {}},
      {"schema 4", WsjtxBytes(1, 4, "A", "JA1XYZ", "", ""), K::kBad, {}},
      {"a count past the end", WsjtxBytes(1, 2, std::string("A"), "JA1XYZ", "", "").replace(12, 4, "\x00\x00\x10\x00", 4),
       K::kBad, {}},
      {"cut in the DX call", good.substr(0, 45), K::kBad, {}},
      {"nothing", "", K::kBad, {}},
      {"64 KiB of junk", std::string(64 * 1024, '\xda'), K::kBad, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const WsjtxDatagram read = ReadWsjtx(c.bytes);
    EXPECT_EQ(read.kind, c.kind);
    if (c.kind == K::kStatus) {
      EXPECT_EQ(read.status, c.status);
    }
  }
}

// The listener passes on a status only when it changes what its program
// shows, remembers a few programs, and counts what it ignored.
TEST(Wsjtx, ListenerPassesOnChangesOnly) {
  WsjtxListener listener;
  const auto status = [](const char* id, const char* call) { return WsjtxBytes(1, 2, id, call, "", ""); };
  EXPECT_TRUE(listener.Receive(status("A", "JA1XYZ")));
  EXPECT_FALSE(listener.Receive(status("A", "JA1XYZ")));  // the same again (its frequency, say)
  EXPECT_TRUE(listener.Receive(status("B", "JA1XYZ")));   // another program
  EXPECT_FALSE(listener.Receive(status("A", "JA1XYZ")));
  for (int i = 0; i < 1000; ++i) listener.Receive(status(std::to_string(i).c_str(), "W1AW"));  // a flood of ids
  EXPECT_TRUE(listener.Receive(status("A", "JA1XYZ")));   // forgotten meanwhile: news again
  listener.Receive("junk");
  listener.Receive(status("A", "12345"));
  EXPECT_EQ(listener.Ignored(), 2u);
}

}  // namespace
}  // namespace rotavox::testing
