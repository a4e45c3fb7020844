// The rotator seam and the C BOX's network line: what the Com Port box
// names, telnet with the COM port option, and the alarm with its reason.
#include <gtest/gtest.h>

#include "fakes.h"
#include "link/poll.h"
#include "link/port_text.h"
#include "link/rfc2217.h"

namespace rotavox::testing {
namespace {

// "/..." is a device, colons and all; HOST:PORT the raw line,
// rfc2217://HOST:PORT the telnet one, rotctld://HOST[:PORT] a daemon (4533
// when left out); any other text a serial port; a scheme with no address
// after it a bad address.
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
      {"/dev/serial/by-path/pci-0000:00:14.0-usb-0:1:1.0-port0", K::kSerial, "", 0, false},
      {"192.0.2.7:2000", K::kNetwork, "192.0.2.7", 2000, false},
      {"box.local:4001", K::kNetwork, "box.local", 4001, false},
      {"[::1]:65535", K::kNetwork, "::1", 65535, false},
      {"RFC2217://[2001:db8::5]:7000", K::kNetwork, "2001:db8::5", 7000, true},
      {"host:", K::kSerial, "", 0, false},
      {":80", K::kSerial, "", 0, false},
      {"[::1", K::kSerial, "", 0, false},
      {"[box]:80", K::kSerial, "", 0, false},
      {"box:0", K::kSerial, "", 0, false},
      {"box:65536", K::kSerial, "", 0, false},
      {"box:+80", K::kSerial, "", 0, false},
      {"-box:80", K::kSerial, "", 0, false},
      {"my_box:80", K::kSerial, "", 0, false},
      {"rotctld://box", K::kRotctld, "box", 4533, false},
      {"ROTCTLD://192.0.2.9:4000", K::kRotctld, "192.0.2.9", 4000, false},
      {"rotctld://[::1]", K::kRotctld, "::1", 4533, false},
      {"rotctld://box:", K::kBadAddress, "", 0, false},
      {"rotctld://[::1", K::kBadAddress, "", 0, false},
      {"rfc2217://", K::kBadAddress, "", 0, false},
      {"rfc2217://box", K::kBadAddress, "", 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const PortTarget target = ReadPortText(c.text);
    EXPECT_EQ(target.kind, c.kind);
    const bool network = c.kind == K::kNetwork || c.kind == K::kRotctld;
    EXPECT_EQ(target.address, (network ? NetworkAddress{c.host, c.port, c.telnet} : NetworkAddress{}));
    EXPECT_EQ(NamesTheNetwork(c.text), c.kind != K::kSerial);
  }
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

// 0xFF goes doubled, and CR as CR NUL once the server refuses binary; the
// server's flow-control pair holds and frees what we send.
TEST(TelnetComPort, WrapsTheBoxsDataAndPausesWhenAsked) {
  TelnetComPort telnet;
  telnet.Opening();
  EXPECT_EQ(telnet.Wrap(Bytes({2, 'A', 255, '\r'})), Bytes({2, 'A', 255, 255, '\r'}));
  std::string answers;
  telnet.Take(Bytes({255, 250, 44, 108, 255, 240}), answers);
  EXPECT_TRUE(telnet.Suspended());
  telnet.Take(Bytes({255, 250, 44, 109, 255, 240}), answers);
  EXPECT_FALSE(telnet.Suspended());
  telnet.Take(Bytes({255, 254, 0}), answers);
  EXPECT_EQ(telnet.Wrap("\x02" "AG9\r"), std::string("\x02" "AG9\r") + '\0');
  EXPECT_EQ(answers, "");  // a refusal of what we offered needs no answer
}

// A network address that reaches nothing alarms as a silent box does, one
// that drops alarms at once; the reason follows the alarm's words, in the
// status line and the note, and the Com Port box opens again, where the
// address can be put right (here to a serial port).
TEST(NetworkLink, AlarmsWithItsReasonAndOpensThePortBoxAgain) {
  const struct {
    const char* text;
    int voice;
    const char* opened;  // empty: nothing
    bool drops;          // connects, hears the box once, then loses the connection
    std::string reason;
  } cases[] = {
      {"box.local:4001", 1, "net:box.local:4001", false, "Connection refused by box.local"},
      {"box.local:4001", 0, "net:box.local:4001", false, "Connection refused by box.local"},
      {"rfc2217://192.0.2.7:2217", 1, "net:192.0.2.7:2217:telnet", true, "Connection to 192.0.2.7 lost"},
      {"rfc2217://box", 1, "", false, "rfc2217://box is no address: rfc2217://HOST:PORT"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    Rig r;
    r.StartWithFile("\"" + std::string(c.text) + "\"," + std::to_string(c.voice) + "\r\n");
    r.StartLink();
    EXPECT_EQ(r.Entries("open"), (*c.opened ? std::vector<std::string>{c.opened} : std::vector<std::string>{}));
    EXPECT_EQ(r.Sent().size(), *c.opened ? 2u : 0u);  // AM, AL
    r.ClearLog();
    if (c.drops) {
      r.network.connected = true;
      r.network.waiting = "\x02" "A,L,10,0,0\r";
      r.dialog.Tick();
      r.network.lost = true;
      r.network.trouble = c.reason;
      r.ClearLog();
    } else {
      r.Ticks(50);
      EXPECT_TRUE(r.log.empty());
    }
    r.dialog.Tick();
    Log alarm = c.voice ? Log{"say:No response from the C BOX", "say:" + c.reason}
                        : Log{"box:No response from CBOX|Com Port Error"};
    alarm.push_back("note:" + c.reason);
    if (*c.opened) alarm.push_back("close:net");
    EXPECT_EQ(r.log, alarm);
    EXPECT_EQ(r.dialog.Text(kStatusLabel), c.reason);
    ASSERT_TRUE(r.dialog.Enabled(kPortBox));
    r.dialog.controls[kPortBox].text = "3";
    r.ClearLog();
    r.StartLink();
    EXPECT_EQ(r.Entries("open"), std::vector<std::string>{"COM3"});
    EXPECT_EQ(r.Sent(), (std::vector<std::string>{"<STX>AM<CR>", "<STX>AL<CR>"}));
  }
}

}  // namespace
}  // namespace rotavox::testing
