// Command-line options (see options.h).
#include "app/options.h"

#include <algorithm>
#include <optional>

#include "common/address.h"
#include "common/locator.h"
#include "common/text.h"
#include "speech/rate.h"
#include "target/target.h"

namespace rotavox {
namespace {

// [ADDRESS:]PORT, an IPv6 address in brackets ([::1]:4533); the address
// defaults to loopback, since neither protocol has any authentication.
bool ParseEndpoint(const std::string& value, Endpoint* endpoint) {
  const std::size_t colon = value.rfind(':');
  const std::string port = colon == std::string::npos ? value : value.substr(colon + 1);
  bool address = true;
  if (colon != std::string::npos) {
    const std::string_view host = std::string_view(value).substr(0, colon);
    const bool bracketed = host.size() > 2 && host.front() == '[' && host.back() == ']';
    endpoint->address = bracketed ? host.substr(1, host.size() - 2) : host;
    address = bracketed ? IsIpv6(endpoint->address)
                        : endpoint->address == "localhost" || IsDottedQuad(endpoint->address);
  }
  bool digits = !port.empty() && port.size() <= 5;
  for (const char c : port) digits = digits && c >= '0' && c <= '9';
  endpoint->port = digits ? std::stoi(port) : 0;
  return address && digits && endpoint->port >= 1 && endpoint->port <= 65535;
}

// The foreign option `arg` is, if any.
const ForeignOption* FindForeign(const std::string& arg, const std::vector<ForeignOption>& foreign) {
  for (const ForeignOption& option : foreign) {
    const bool prefix = !option.name.empty() && option.name.back() == '=';
    if (prefix ? arg.size() > option.name.size() && arg.starts_with(option.name) : arg == option.name) {
      return &option;
    }
  }
  return nullptr;
}

}  // namespace

ParsedOptions ParseOptions(const std::vector<std::string>& args,
                           const std::vector<ForeignOption>& foreign) {
  ParsedOptions parsed;
  Options& o = parsed.options;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (const ForeignOption* option = FindForeign(args[i], foreign)) {
      parsed.foreign.push_back(args[i]);
      if (option->takesValue) {
        if (i + 1 >= args.size()) {
          parsed.error = args[i] + " needs a value";
          return parsed;
        }
        parsed.foreign.push_back(args[++i]);
      }
      continue;
    }
    std::string name = args[i];
    std::string value;
    bool hasValue = false;
    if (const std::size_t eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = name.substr(eq + 1);
      name.resize(eq);
      hasValue = true;
    }
    const auto takeValue = [&]() -> bool {
      if (hasValue) return true;
      if (i + 1 >= args.size()) {
        parsed.error = name + " needs a value";
        return false;
      }
      value = args[++i];
      return true;
    };
    const auto noValue = [&]() -> bool {
      if (hasValue) parsed.error = name + " takes no value";
      return !hasValue;
    };

    if (name == "--help" || name == "-h") {
      if (!noValue()) return parsed;
      o.help = true;
    } else if (name == "--version") {
      if (!noValue()) return parsed;
      o.version = true;
    } else if (name == "--simulate") {
      if (!noValue()) return parsed;
      o.simulate = true;
    } else if (name == "--screen-reader") {
      if (!noValue()) return parsed;
      o.screenReader = true;
    } else if (name == "--voice") {
      if (!takeValue()) return parsed;
      if (value.empty()) {
        parsed.error = "--voice needs an engine: speechd, espeak, log:FILE or log:FILE:MS";
        return parsed;
      }
      o.voice = value;
    } else if (name == "--rotctld") {
      if (!takeValue()) return parsed;
      // One server port: a second would only be ignored.
      if (o.rotctldPort != 0) {
        parsed.error = "--rotctld given twice: the server takes one port";
        return parsed;
      }
      Endpoint endpoint;
      if (!ParseEndpoint(value, &endpoint)) {
        parsed.error = "--rotctld needs [ADDRESS:]PORT, e.g. 4533 or 127.0.0.1:4533";
        return parsed;
      }
      o.rotctldAddress = endpoint.address;
      o.rotctldPort = endpoint.port;
    } else if (name == "--udp") {
      if (!takeValue()) return parsed;
      Endpoint endpoint;
      if (!ParseEndpoint(value, &endpoint)) {
        parsed.error = "--udp needs [ADDRESS:]PORT, e.g. 12040 or 127.0.0.1:12000";
        return parsed;
      }
      o.udp.push_back(endpoint);
    } else if (name == "--wsjtx") {
      if (!takeValue()) return parsed;
      if (o.wsjtx.port != 0) {
        parsed.error = "--wsjtx may be given only once";
        return parsed;
      }
      if (!ParseEndpoint(value, &o.wsjtx)) {
        parsed.error = "--wsjtx needs [ADDRESS:]PORT, e.g. 2237, 127.0.0.1:2237 or 224.0.0.1:2237";
        return parsed;
      }
    } else if (name == "--follow") {
      if (!noValue()) return parsed;
      o.follow = true;
    } else if (name == "--home") {
      if (!takeValue()) return parsed;
      const std::optional<std::string> locator = ReadLocator(value);
      if (!locator) {
        parsed.error = "--home needs a grid locator of 4, 6 or 8 characters, e.g. JO62 or JO62QM";
        return parsed;
      }
      o.home = *locator;
    } else if (name == "--call") {
      if (!takeValue()) return parsed;
      if (!IsCallsign(value)) {
        parsed.error = "--call needs your callsign: 1 to 14 letters, digits and '/', e.g. DL1ABC or G4ABC/P";
        return parsed;
      }
      o.call = value;
      std::transform(o.call.begin(), o.call.end(), o.call.begin(), Upper);
    } else if (name == "--rate") {
      if (!takeValue()) return parsed;
      o.rate = ReadRate(value.c_str());
      if (!o.rate) {
        parsed.error = "--rate needs a whole number from -10 (slowest) to 10 (fastest)";
        return parsed;
      }
    } else if (name == "--country-file") {
      if (!takeValue()) return parsed;
      if (value.empty()) {
        parsed.error = "--country-file needs the path of a country file (cty.dat)";
        return parsed;
      }
      o.countryFile = value;
    } else if (name == "--map-port") {
      if (!takeValue()) return parsed;
      o.portMaps.push_back(value);
    } else {
      parsed.error = "unknown option " + args[i];
      return parsed;
    }
  }
  if (o.follow && o.wsjtx.port == 0) parsed.error = "--follow needs --wsjtx";
  return parsed;
}

const char* const kScreenReaderHelp = R"(  --screen-reader        a screen reader (Orca, NVDA, JAWS) runs beside Rotavox:
                         Rotavox then leaves to it what it says itself (the
                         title, the prompt of the box that takes the focus,
                         the voice switch and the typing echo), keeps the
                         focus in the GoTo box after an arrival, speaks the
                         stop side, and says everything else as usual
  --rate N               speak at this rate, -10 (slowest) to 10 (fastest),
                         0 being the voice's default; without it, the speech
                         system's default rate, which is not the screen
                         reader's own
)";

const char* const kHomeHelp = R"(  --home LOCATOR         your own grid locator (JO62, JO62QM or JO62QM15):
                         GO then also takes a station's locator or callsign
                         (DL1ABC, 4X/G4ABC, a prefix), with " L" after it
                         for the long path, and turns the antenna along the
                         great circle from the centre of your square,
                         saying where and how far first; Alt+A says what
                         lies along the beam
  --call CALL            your own callsign (DL1ABC): Alt+A then leaves out
                         your own country; without it nothing is left out
  --country-file PATH    the country file that places callsigns (the Big CTY
                         file cty.dat from country-files.com), for a newer
                         copy; by default the one that comes with Rotavox
                         (Linux: /usr/share/hamradio-files/cty.dat; Windows:
                         cty.dat beside rotavox.exe)
)";

const char* const kNetworkPortHelp = R"(
The box across the network, behind a network serial server (ser2net, a
serial device server), or any rotator through rotctld, typed in the COM
port box instead of a number:
  HOST:PORT          the box's line carried raw over TCP (ser2net's tcp
                     accepter, a device server in raw mode)
  rfc2217://HOST:PORT
                     the same through telnet with RFC 2217 (ser2net's
                     telnet(rfc2217) accepter); Rotavox sets 9600 8N1
  rotctld://HOST[:PORT]
                     any rotator through Hamlib's rotctld (PORT 4533 when
                     left out): GO takes bearings, locators and callsigns
  HOST is an IPv4 address, a name, or an IPv6 address in brackets
  ([::1]:2000). A server that cannot be reached is a box that does not
  answer, and the reason is said after the alarm; the COM port box is then
  open again, to put the address right.
)";

const char* const kRotctldHelp = R"(  --rotctld [ADDRESS:]PORT
                         serve station programs (Gpredict, CQRLOG, ...) with
                         the rotctld network protocol on PORT (usually 4533);
                         ADDRESS defaults to 127.0.0.1
  --udp [ADDRESS:]PORT   take aims by UDP datagram on PORT (repeatable): N1MM
                         Logger+ rotor packets (its port 12040; status goes
                         back to port 13010 of the sender) and PstRotator
                         packets (its port 12000); ADDRESS defaults to
                         127.0.0.1
                         ADDRESS is an IPv4 address, localhost (127.0.0.1)
                         or an IPv6 address in brackets, which listens on
                         IPv6 only: --rotctld [::1]:4533, --udp [::]:12040.
                         Neither protocol has any authentication: give
                         another address only on a network you trust
)";

const char* const kWsjtxHelp = R"(  --wsjtx [ADDRESS:]PORT hear WSJT-X (or JTDX) on PORT, as set in its Reporting
                         settings (WSJT-X's default is 2237): the station in
                         its DX Call and DX Grid boxes is spoken with where it
                         lies, and Alt+J (short path) or Alt+L (long path)
                         turns there; ADDRESS defaults to 127.0.0.1, and an
                         address from 224.0.0.0 to 239.255.255.255 (or ff..
                         in IPv6) is a multicast group, shared with other
                         programs that hear WSJT-X
  --follow               with --wsjtx: turn to each new station without a
                         key, but never within 30 s of any other aim
)";

std::string HelpText(std::string_view program) {
  std::string p(program);
  std::string text = "Usage: " + p + R"( [OPTION]...
Rotavox Controller: a spoken controller for an antenna rotator on a
Prosistel C BOX.

Type the COM port number, press Alt+S (START), then type a bearing in the
GoTo box and press Enter. Every prompt, typed digit and arrival is spoken.
The port number and the voice switch are kept in STAT.DAT in the current
working directory.

Keys:
  Alt+C, Alt+T       COM port box, GoTo box (Tab moves between the two)
  Alt+S, Alt+G       START the link, GO to the typed bearing
  Enter              in the GoTo box: GO (once per visit to the box)
  Alt+V              voice on or off
  Alt+B              speak the current bearing
  Alt+A              with --home: say what lies along the beam
  Alt+J, Alt+L       with --wsjtx: turn to WSJT-X's station, short or long path
  Escape             while the antenna turns: stop it
  Ctrl+1 .. Ctrl+9   turn to preset 1 to 9 (the digit keys of the main row
                     or the keypad); Ctrl+Shift+1 .. 9 keep the GoTo box
                     text, or the bearing, as that preset (in PRESETS.TXT)
  Page Up, Page Down held while the window is active: step the antenna
                     2 degrees clockwise or anticlockwise; the bearing is
                     spoken when the key is let go
  Alt+X              EXIT

COM names:
  COM1, COM2, ...    the serial ports /dev/ttyS0, /dev/ttyS1, ...
  COMU0, COMU1, ...  USB serial adapters /dev/ttyUSB0, ... (type U0, U1, ...)
  COMA0, COMA1, ...  USB modems and boards /dev/ttyACM0, ... (type A0, ...)
  COM/path           any device by its path (type /dev/...)
)" + kNetworkPortHelp + R"(
Options:
  --simulate             start a simulated C BOX inside the program; every
                         COM name without a --map-port reaches it
  --voice ENGINE         speechd (speech-dispatcher), espeak (espeak-ng
                         directly), log:FILE (append each spoken text to FILE
                         as one line) or log:FILE:MS (the same, holding each
                         text MS milliseconds per character); by default
                         speech-dispatcher, else espeak-ng
  --map-port COMn=DEVICE the COM name COMn opens DEVICE (repeatable)
)" + kScreenReaderHelp + kHomeHelp + kRotctldHelp + kWsjtxHelp + R"(  --help                 show this text and exit
  --version              show the version and exit
)";
  return text;
}

std::string VersionText() { return "Rotavox Controller v" ROTAVOX_VERSION " for Prosistel C BOX\n"; }

}  // namespace rotavox
