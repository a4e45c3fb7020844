// The rotator seam and the C BOX's network line: what the Com Port box
// names, telnet with the COM port option, and the alarm with its reason.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>

#include "fakes.h"
#include "link/poll.h"
#include "link/port_text.h"
#include "link/rfc2217.h"

namespace rotavox::testing {
namespace {

// A text starting with "/" is a device, colons and all; HOST:PORT is the
// raw line, rfc2217://HOST:PORT the telnet one, rotctld://HOST[:PORT] a
// daemon (4533 when left out); a text that is no HOST:PORT stays a serial
// port, and one with a scheme that cannot be read is a bad address.
TEST(PortText, NamesASerialPortOrTheNetwork) {
  using K = PortTarget::Kind;
  const struct {
    const char* text;
    K kind;
    const char* host;
    int port;
    bool telnet;
  } cases[] = {
      {"3", K::kSerial, "", 0, false},
      {"U0", K::kSerial, "", 0, false},
      {"/dev/serial/by-path/pci-0000:00:14.0-usb-0:1:1.0-port0", K::kSerial, "", 0, false},
      {"192.0.2.7:2000", K::kNetwork, "192.0.2.7", 2000, false},
      {"box.local:4001", K::kNetwork, "box.local", 4001, false},
      {"[::1]:65535", K::kNetwork, "::1", 65535, false},
      {"rfc2217://shack-pi:2217", K::kNetwork, "shack-pi", 2217, true},
      {"RFC2217://[2001:db8::5]:7000", K::kNetwork, "2001:db8::5", 7000, true},
      {"host:", K::kSerial, "", 0, false},
      {":80", K::kSerial, "", 0, false},
      {"[::1", K::kSerial, "", 0, false},
      {"[::1]80", K::kSerial, "", 0, false},
      {"[box]:80", K::kSerial, "", 0, false},
      {"box:0", K::kSerial, "", 0, false},
      {"box:65536", K::kSerial, "", 0, false},
      {"box:+80", K::kSerial, "", 0, false},
      {"-box:80", K::kSerial, "", 0, false},
      {"my_box:80", K::kSerial, "", 0, false},
      {"rotctld://box", K::kRotctld, "box", 4533, false},
      {"ROTCTLD://192.0.2.9:4000", K::kRotctld, "192.0.2.9", 4000, false},
      {"rotctld://[::1]", K::kRotctld, "::1", 4533, false},
      {"rotctld://", K::kBadAddress, "", 0, false},
      {"rotctld://box:", K::kBadAddress, "", 0, false},
      {"rotctld://[::1", K::kBadAddress, "", 0, false},
      {"rfc2217://", K::kBadAddress, "", 0, false},
      {"rfc2217://box", K::kBadAddress, "", 0, false},
      {"rfc2217://[::1:80", K::kBadAddress, "", 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const PortTarget target = ReadPortText(c.text);
    EXPECT_EQ(target.kind, c.kind);
    const bool network = c.kind == K::kNetwork || c.kind == K::kRotctld;
    EXPECT_EQ(target.address, (network ? NetworkAddress{c.host, c.port, c.telnet} : NetworkAddress{}));
    EXPECT_EQ(NamesTheNetwork(c.text), c.kind != K::kSerial);
  }
  EXPECT_EQ(ReadPortText("rfc2217://box").trouble, "rfc2217://box is no address: rfc2217://HOST:PORT");
}

std::string Bytes(std::initializer_list<int> bytes) {
  std::string out;
  for (const int b : bytes) out += static_cast<char>(b);
  return out;
}

// ser2net's telnet accepter opens with these, before any data.
const std::string kSer2netGreeting = Bytes({255, 251, 3, 255, 253, 3, 255, 251, 1, 255, 254, 1, 255, 253, 0,
                                            255, 251, 0, 255, 253, 44});
// 9600 baud, 8 data bits, no parity, one stop bit, no flow control.
const std::string kSettings = Bytes({255, 250, 44, 1, 0, 0, 0x25, 0x80, 255, 240, 255, 250, 44, 2, 8, 255, 240,
                                     255, 250, 44, 3, 1, 255, 240, 255, 250, 44, 4, 1, 255, 240,
                                     255, 250, 44, 5, 1, 255, 240});

// The client's side of telnet: each step hands the codec what the server
// sent (in pieces where a step has several) and reads back the data for the
// box and the answers due.
TEST(TelnetComPort, NegotiatesSetsTheLineAndPassesEveryByte) {
  const struct {
    const char* name;
    bool opened;  // the client spoke first
    std::vector<std::string> wire;
    std::string data;
    std::string answers;
  } cases[] = {
      {"ser2net's greeting: echo refused, then the line set", true, {kSer2netGreeting + "\x02" "A,M,R\r"},
       "\x02" "A,M,R\r", Bytes({255, 254, 1}) + kSettings},
      {"a server that asks first is answered once", false,
       {Bytes({255, 253, 0, 255, 253, 0, 255, 251, 0, 255, 253, 44})},
       "", Bytes({255, 251, 0, 255, 253, 0, 255, 251, 44}) + kSettings},
      {"unknown options are refused every time", false, {Bytes({255, 253, 99, 255, 251, 99, 255, 253, 99})},
       "", Bytes({255, 252, 99, 255, 254, 99, 255, 252, 99})},
      {"an option turned off is confirmed only when it was on", true,
       {Bytes({255, 253, 0, 255, 254, 0, 255, 254, 0, 255, 252, 5})}, "", Bytes({255, 252, 0})},
      {"0xFF arrives doubled", true, {Bytes({'A', 255, 255, 'B'})}, Bytes({'A', 255, 'B'}), ""},
      {"a command cut across reads", true, {Bytes({'x', 255}), Bytes({253}), Bytes({44, 'y'})}, "xy", kSettings},
      {"a subnegotiation cut across reads is dropped", true,
       {Bytes({255, 250, 44, 101, 0, 0}), Bytes({0x25, 0x80, 255}), Bytes({240, 'z'})}, "z", ""},
      {"other commands carry nothing", true, {Bytes({'a', 255, 241, 'b', 255, 249})}, "ab", ""},
      {"outside binary mode a NUL after CR is no data", true, {Bytes({255, 252, 0, '\r', 0, 'A', 0})},
       Bytes({'\r', 'A', 0}), ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TelnetComPort telnet;
    if (c.opened) telnet.Opening();
    std::string data;
    std::string answers;
    for (const std::string& piece : c.wire) data += telnet.Take(piece, answers);
    EXPECT_EQ(Visible(data), Visible(c.data));
    EXPECT_EQ(answers, c.answers);
  }
}

TEST(TelnetComPort, OpensWrapsAndPausesWhenAsked) {
  TelnetComPort telnet;
  EXPECT_EQ(telnet.Opening(), Bytes({255, 251, 0, 255, 251, 3, 255, 251, 44, 255, 253, 0, 255, 253, 3}));
  EXPECT_EQ(telnet.Wrap(Bytes({2, 'A', 255, '\r'})), Bytes({2, 'A', 255, 255, '\r'}));
  std::string answers;
  telnet.Take(Bytes({255, 250, 44, 108, 255, 240}), answers);
  EXPECT_TRUE(telnet.Suspended());
  telnet.Take(Bytes({255, 250, 44, 109, 255, 240}), answers);
  EXPECT_FALSE(telnet.Suspended());
  // A server that will not take binary reads text, where CR goes as CR NUL.
  telnet.Take(Bytes({255, 254, 0}), answers);
  EXPECT_EQ(telnet.Wrap("\x02" "AG9\r"), std::string("\x02" "AG9\r") + '\0');
  EXPECT_EQ(answers, "");  // a refusal of what we offered needs no answer
}

// The link to a network address: START opens the network line and sends
// the frames there; a server that cannot be reached is a box that gives no
// answer, and the reason follows the alarm's words, shown in the status
// line and noted; a connection that drops alarms at once. Either way the
// Com Port box is open again; on a serial port it stays closed.
void StartOn(Rig& rig, const std::string& portText, int voice = 1) {
  rig.StartWithFile("\"" + portText + "\"," + std::to_string(voice) + "\r\n");
  rig.StartLink();
}

struct NetworkLinkTest : ::testing::Test {
  Rig rig;
  void Start(const std::string& portText) { StartOn(rig, portText); }
};

TEST_F(NetworkLinkTest, AnUnreachableServerAlarmsInTheUsualTimeWithItsReason) {
  const struct {
    int voice;
    Log alarm;
  } cases[] = {
      {1, {"say:No response from the C BOX", "say:Connection refused by box.local", "note:Connection refused by box.local",
           "close:net"}},
      {0, {"box:No response from CBOX|Com Port Error", "note:Connection refused by box.local", "close:net"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.voice);
    Rig r;
    StartOn(r, "box.local:4001", c.voice);
    EXPECT_EQ(r.Entries("open"), std::vector<std::string>{"net:box.local:4001"});
    EXPECT_EQ(r.Sent(), (std::vector<std::string>{"<STX>AM<CR>", "<STX>AL<CR>"}));
    r.network.trouble = "Connection refused by box.local";
    r.ClearLog();
    r.Ticks(50);
    EXPECT_TRUE(r.log.empty());
    r.Ticks(1);
    EXPECT_EQ(r.log, c.alarm);
    EXPECT_EQ(r.dialog.Text(kStatusLabel), "Connection refused by box.local");
    EXPECT_TRUE(r.dialog.Enabled(kPortBox));
    EXPECT_TRUE(r.dialog.Enabled(kStartButton));
  }
}

TEST_F(NetworkLinkTest, ADroppedConnectionAlarmsAtOnceAndANewAddressIsTaken) {
  Start("rfc2217://192.0.2.7:2217");
  EXPECT_TRUE(rig.network.address.telnet);
  rig.network.connected = true;
  rig.network.waiting = "\x02" "A,L,10,0,0\r";
  rig.dialog.Tick();
  rig.network.lost = true;
  rig.network.trouble = "Connection to 192.0.2.7 lost";
  rig.ClearLog();
  rig.dialog.Tick();
  EXPECT_EQ(rig.log, (Log{"say:No response from the C BOX", "say:Connection to 192.0.2.7 lost",
                          "note:Connection to 192.0.2.7 lost", "close:net"}));
  EXPECT_TRUE(rig.dialog.Enabled(kPortBox));
  // Put right to a serial port: the network line is left, the port opened.
  rig.network.lost = false;
  rig.dialog.controls[kPortBox].text = "3";
  rig.ClearLog();
  rig.StartLink();
  const auto closed = std::find(rig.log.begin(), rig.log.end(), "close:net");
  EXPECT_LT(closed, std::find(rig.log.begin(), rig.log.end(), "open:COM3"));
  EXPECT_EQ(rig.Sent(), (std::vector<std::string>{"<STX>AM<CR>", "<STX>AL<CR>"}));
}

TEST_F(NetworkLinkTest, ABadAddressReachesNothingAndSaysWhy) {
  Start("rfc2217://box");
  EXPECT_TRUE(rig.Entries("open").empty());
  EXPECT_TRUE(rig.Sent().empty());
  rig.ClearLog();
  rig.Ticks(51);
  EXPECT_EQ(rig.Said(), (std::vector<std::string>{"No response from the C BOX",
                                                  "rfc2217://box is no address: rfc2217://HOST:PORT"}));
  EXPECT_TRUE(rig.dialog.Enabled(kPortBox));
}

// A rotator that says what the test gives it, one event a receiving tick.
class ScriptedRotator final : public Rotator {
 public:
  std::deque<RotatorEvent> events;
  void Start(std::string_view) override {}
  void GoTo(std::string_view) override {}
  void Stop() override {}
  bool Step(std::int32_t) override { return false; }
  void Close() override {}
  Reception Receive() override { return events.empty() ? Reception::kSilent : Reception::kReceived; }
  std::optional<RotatorEvent> NextEvent() override {
    if (events.empty()) return std::nullopt;
    RotatorEvent next = events.front();
    events.pop_front();
    return next;
  }
  std::string Trouble() override { return {}; }
};

// What every rotator may say: its start with a range instead of a stop
// side, and targets it will not go to.
TEST(RotatorEvents, AStartWithARangeAndRefusedTargetsAreSpoken) {
  for (const bool screenReader : {false, true}) {
    SCOPED_TRACE(screenReader);
    Rig rig;
    ScriptedRotator rotator;
    Context context{rig.state, rig.dialog, rig.desktop, rotator, rig.voices, rig.surface, rig.steps};
    rig.dialog.handler = [&context](unsigned m, std::uintptr_t w, std::intptr_t l) {
      HandleDialogMessage(context, m, w, l);
    };
    rig.state.ScreenReader = screenReader;
    rig.StartWithFile("\"x\",1\r\n");
    rig.StartLink();
    rig.ClearLog();
    rotator.events = {RotatorStart{350, "rotctld -180 to 450", 0}, RotatorRefusal{"500"},
                      RotatorRefusal{"abc"}, RotatorRefusal{""}};
    rig.dialog.Tick();
    EXPECT_EQ(rig.dialog.Text(kStatusLabel), "rotctld -180 to 450");
    std::vector<std::string> said = {"On Bearing 3 5 0 "};
    if (screenReader) said.push_back("rotctld -180 to 450");
    if (!screenReader) said.insert(said.end(), {"", "Enter Bearing"});
    for (const char* refused : {"Rotator refused 5 0 0 ", "Rotator refused abc", "Rotator needs a bearing"}) {
      said.push_back(refused);
    }
    EXPECT_EQ(rig.Said(), said);
    EXPECT_EQ(rig.state.ReplyPending, 0);
  }
}

}  // namespace
}  // namespace rotavox::testing
