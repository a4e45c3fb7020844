// Text at the program's edges: Windows-1252 bytes to and from UTF-8, and
// the command line.
#include <gtest/gtest.h>

#include "app/options.h"
#include "common/cp1252.h"

namespace rotavox {
namespace {

// Bytes of the Western Windows code page and their UTF-8 form; every byte
// survives the round trip.
TEST(Cp1252, ConvertsBothWays) {
  const struct {
    const char* bytes;
    const char* utf8;
  } cases[] = {
      {"COM3", "COM3"},          {"\xE9t\xE9", "\xC3\xA9t\xC3\xA9"},  // été
      {"\x80", "\xE2\x82\xAC"},  // euro sign
      {"\x9F", "\xC5\xB8"},      // Y with diaeresis
      {"\x81", "\xC2\x81"},      // undefined in the code page: kept as U+0081
      {"\xFF", "\xC3\xBF"},      {"", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes);
    EXPECT_EQ(Cp1252ToUtf8(c.bytes), c.utf8);
    EXPECT_EQ(Utf8ToCp1252(c.utf8), c.bytes);
  }
  std::string all;
  for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
  EXPECT_EQ(Utf8ToCp1252(Cp1252ToUtf8(all)), all);
}

TEST(Cp1252, UnmappableAndMalformedBecomeQuestionMarks) {
  EXPECT_EQ(Utf8ToCp1252("\xE2\x86\x92"), "?");      // an arrow
  EXPECT_EQ(Utf8ToCp1252("\xF0\x9F\x93\xA1"), "?");  // an antenna emoji
  EXPECT_EQ(Utf8ToCp1252("a\xC3"), "a?");            // cut short
  EXPECT_EQ(Utf8ToCp1252("\xFF" "b"), "?b");
}

TEST(Options, Table) {
  using Args = std::vector<std::string>;
  const struct {
    Args args;
    bool simulate;
    std::string voice;
    std::vector<std::string> maps;
    bool help;
    std::string error;
    bool screenReader = false;
    std::vector<Endpoint> udp = {};
  } cases[] = {
      {{}, false, "", {}, false, ""},
      {{"--simulate"}, true, "", {}, false, ""},
      {{"--screen-reader", "--simulate"}, true, "", {}, false, "", true},
      {{"--screen-reader=on"}, false, "", {}, false, "--screen-reader takes no value"},
      {{"--udp", "0.0.0.0:12040", "--udp=12000"}, false, "", {}, false, "", false,
       {{"0.0.0.0", 12040}, {"127.0.0.1", 12000}}},
      {{"--udp", "12040:"}, false, "", {}, false, "--udp needs [ADDRESS:]PORT, e.g. 12040 or 127.0.0.1:12000"},
      {{"--udp", ":70000"}, false, "", {}, false, "--udp needs [ADDRESS:]PORT, e.g. 12040 or 127.0.0.1:12000"},
      {{"--voice", "log:/tmp/x"}, false, "log:/tmp/x", {}, false, ""},
      {{"--voice=log:/tmp/x:30"}, false, "log:/tmp/x:30", {}, false, ""},
      {{"--map-port", "COM7=/dev/pts/3", "--map-port=COM8=/dev/ttyS1"}, false, "",
       {"COM7=/dev/pts/3", "COM8=/dev/ttyS1"}, false, ""},
      {{"-h"}, false, "", {}, true, ""},
      {{"--voice"}, false, "", {}, false, "--voice needs a value"},
      {{"--voice="}, false, "", {}, false,
       "--voice needs an engine: speechd, espeak, log:FILE or log:FILE:MS"},
      {{"--simulate=yes"}, false, "", {}, false, "--simulate takes no value"},
      {{"--fast"}, false, "", {}, false, "unknown option --fast"},
      {{"COM3"}, false, "", {}, false, "unknown option COM3"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.empty() ? "(none)" : c.args.front());
    const ParsedOptions p = ParseOptions(c.args);
    EXPECT_EQ(p.error, c.error);
    if (!c.error.empty()) continue;
    EXPECT_EQ(p.options.simulate, c.simulate);
    EXPECT_EQ(p.options.voice, c.voice);
    EXPECT_EQ(p.options.portMaps, c.maps);
    EXPECT_EQ(p.options.help, c.help);
    EXPECT_EQ(p.options.screenReader, c.screenReader);
    EXPECT_EQ(p.options.udp, c.udp);
  }
}

}  // namespace
}  // namespace rotavox
