// Command-line options. With none, the program behaves as it always has:
// its only settings are those of STAT.DAT.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace rotavox {

// Where a server listens: an IPv4 or IPv6 address, without brackets
// (IPv4 loopback unless given), and a port.
struct Endpoint {
  std::string address = "127.0.0.1";
  int port = 0;
  bool operator==(const Endpoint&) const = default;
};

struct Options {
  bool help = false;
  bool version = false;
  bool simulate = false;              // a simulated C BOX behind every COM name
  bool screenReader = false;          // the operator's screen reader echoes typing
  std::string voice;                  // empty: the platform voice, chosen automatically
  std::optional<int> rate;            // the speaking rate, -10 to 10; none: the voice's own
  std::vector<std::string> portMaps;  // "COMn=DEVICE", in the order given
  // A server for station programs (rotctld protocol); port 0: none.
  std::string rotctldAddress = "127.0.0.1";
  int rotctldPort = 0;
  // UDP ports for aims from contest and logging programs (N1MM, PstRotator).
  std::vector<Endpoint> udp;
  // The operator's own grid locator, upper case; empty: none.
  std::string home;
  // The operator's own callsign, upper case; empty: none.
  std::string call;
  // Where WSJT-X's datagrams are heard (a multicast group, or an address
  // of this machine); port 0: not at all.
  Endpoint wsjtx;
  // Every station WSJT-X announces is turned to (needs wsjtx).
  bool follow = false;
  // The country file for callsigns; empty: the edition's own copy.
  std::string countryFile;
};

// An option that belongs to the window toolkit rather than to the program
// (Qt's -platform, -display, -reverse, ...): passed on as it is.
struct ForeignOption {
  std::string_view name;    // "-display"; a name ending in "=" takes "-style=fusion"
  bool takesValue = false;  // the next argument is its value
};

struct ParsedOptions {
  Options options;
  std::vector<std::string> foreign;  // the foreign options given, with their values
  std::string error;  // empty when the command line was understood
};

// Takes "--name value" and "--name=value" alike, and "-h" for "--help".
// An address must be an IPv4 address in dotted-quad form, "localhost", or an
// IPv6 address in brackets ([::1]:4533).
// Arguments that are none of the program's options or of `foreign` are an
// error.
ParsedOptions ParseOptions(const std::vector<std::string>& args,
                           const std::vector<ForeignOption>& foreign = {});

std::string HelpText(std::string_view program);
// The --screen-reader and --rotctld lines of the help, shared by both
// editions' help texts.
extern const char* const kScreenReaderHelp;
// The network forms of the COM port box, for both editions.
extern const char* const kNetworkPortHelp;
extern const char* const kRotctldHelp;
extern const char* const kHomeHelp;  // with --udp
extern const char* const kWsjtxHelp;
std::string VersionText();

}  // namespace rotavox
