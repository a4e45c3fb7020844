// The command line: what is understood, what is left for the window
// toolkit, and what is a mistake to be reported before any window opens.
#include "app/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace rotavox::testing {
namespace {

using Args = std::vector<std::string>;

const std::vector<ForeignOption> kToolkit = {{"-display", true}, {"-reverse"}, {"-style="}};

TEST(ParseOptions, SortsOutOwnForeignAndMistakenArguments) {
  const struct {
    Args args;
    std::string error;  // empty: understood
    Args foreign = {};
  } cases[] = {
      {{"-h"}, ""},
      {{"--rotctld", "4533"}, ""},
      {{"--rotctld=10.0.0.255:4533"}, ""},
      {{"--udp", "localhost:12040"}, ""},
      {{"--rotctld", "0.0.0.0:1"}, ""},
      {{"--rotctld", "4533", "--rotctld=[::1]:4534"}, "--rotctld given twice"},
      {{"--rotctld", "1.2.3.4.5:4533"}, "--rotctld needs"},
      {{"--rotctld", "1.2.3:4533"}, "--rotctld needs"},
      {{"--rotctld", "256.1.1.1:4533"}, "--rotctld needs"},
      {{"--rotctld", "01.1.1.1:4533"}, "--rotctld needs"},
      {{"--rotctld", "1..2.3:4533"}, "--rotctld needs"},
      {{"--rotctld", "1.2.3.4.:4533"}, "--rotctld needs"},
      {{"--udp", "host.example:12040"}, "--udp needs"},
      {{"--udp", ":12040"}, "--udp needs"},
      {{"--rotctld", "[::1]:4533"}, ""},
      {{"--udp=[::ffff:10.0.0.1]:12040"}, ""},
      {{"--rotctld", "::1:4533"}, "--rotctld needs"},
      {{"--udp", "[1::2::3]:12040"}, "--udp needs"},
      {{"--udp", "[10.0.0.1]:12040"}, "--udp needs"},
      {{"--home", "jo62qm"}, ""},
      {{"--home=JO62QM15"}, ""},
      {{"--home", "JO62Q"}, "--home needs"},
      {{"--home", "ZZ99"}, "--home needs"},
      {{"--home"}, "--home needs a value"},
      {{"--call", "dl1abc/p"}, ""},
      {{"--call", "123"}, "--call needs"},
      {{"--call", "DL1 ABC"}, "--call needs"},
      {{"--call", "ABCDEFGHIJKLMNO"}, "--call needs"},
      {{"--country-file", "/tmp/cty.dat"}, ""},
      {{"--rate", "-10"}, ""},
      {{"--rate=+10"}, ""},
      {{"--rate", "11"}, "--rate needs"},
      {{"--rate", "2.5"}, "--rate needs"},
      {{"--rate", "+-5"}, "--rate needs"},
      {{"--rate", "-+5"}, "--rate needs"},
      {{"--country-file="}, "--country-file needs the path"},
      {{"-display", ":1", "-reverse", "--simulate", "-style=fusion"},
       "",
       {"-display", ":1", "-reverse", "-style=fusion"}},
      // A value of ours that looks like a toolkit option stays ours.
      {{"--map-port", "-reverse"}, "", {}},
      {{"-display"}, "-display needs a value"},
      {{"-style"}, "unknown option -style"},
      {{"-x"}, "unknown option -x"},
      {{"-hh"}, "unknown option -hh"},
      {{"-"}, "unknown option -"},
      {{"extra"}, "unknown option extra"},
  };
  for (const auto& c : cases) {
    std::string line;
    for (const std::string& a : c.args) line += a + " ";
    SCOPED_TRACE(line);
    const ParsedOptions parsed = ParseOptions(c.args, kToolkit);
    if (c.error.empty()) {
      EXPECT_EQ(parsed.error, "");
      EXPECT_EQ(parsed.foreign, c.foreign);
    } else {
      EXPECT_EQ(parsed.error.rfind(c.error, 0), 0u) << parsed.error;
    }
  }
}

}  // namespace
}  // namespace rotavox::testing
