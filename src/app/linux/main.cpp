// Entry point of the Linux edition: reads the options, puts together the
// platform (Qt window, termios port, speech-dispatcher voice, desktop
// beep, STAT.DAT in the working directory) and runs the program.
#include <QApplication>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "app/linux/linux_settings_store.h"
#include "app/linux/session_end.h"
#include "app/options.h"
#include "app/program.h"
#include "app/settings_store.h"
#include "app/station.h"
#include "common/country_file.h"
#include "link/asio/station_server.h"
#include "link/asio/tcp_line.h"
#include "common/presets.h"
#include "link/posix/com_names.h"
#include "link/posix/posix_serial_port.h"
#include "link/remote_aims.h"
#include "link/wsjtx.h"
#include "posix/pty_cbox.h"
#include "speech/linux/linux_beep.h"
#include "speech/linux/linux_voices.h"
#include "ui/qt/qt_desktop.h"
#include "ui/qt/qt_main_dialog.h"

namespace {

using namespace rotavox;

// With --simulate, every COM name that --map-port does not name reaches the
// simulated C BOX. (A network address never comes here: it goes to the
// network.)
class SimulatedRoute final : public SerialPort {
 public:
  SimulatedRoute(SerialPort& port, PortMap overrides, std::string devicePath)
      : port_(port), overrides_(std::move(overrides)), devicePath_(std::move(devicePath)) {}
  void Open(std::string_view name) override {
    if (overrides_.count(std::string(name)) != 0) {
      port_.Open(name);
    } else {
      port_.Open("COM" + devicePath_);
    }
  }
  void SetLine() override { port_.SetLine(); }
  void Send(std::string_view bytes) override { port_.Send(bytes); }
  WaitingBytes BytesWaiting() override { return port_.BytesWaiting(); }
  std::string Receive(std::size_t count) override { return port_.Receive(count); }
  void Close() override { port_.Close(); }

 private:
  SerialPort& port_;
  PortMap overrides_;
  std::string devicePath_;
};

// Debian's hamradio-files puts the country file here.
constexpr const char* kCountryFile = "/usr/share/hamradio-files/cty.dat";

int Fail(const std::string& message, int code = 2) {
  std::cerr << "rotavox: " << message << "\nTry 'rotavox --help' for more information.\n";
  return code;
}

// Qt's own options (QGuiApplication, QApplication and the xcb platform),
// which are left for Qt to take.
const std::vector<ForeignOption> kQtOptions = {
    {"-platform", true},   {"-platformpluginpath", true}, {"-platformtheme", true},
    {"-plugin", true},     {"-qwindowgeometry", true},    {"-qwindowicon", true},
    {"-qwindowtitle", true}, {"-session", true},          {"-session="},
    {"-display", true},    {"-geometry", true},           {"-title", true},
    {"-icon", true},       {"-name", true},               {"-visual", true},
    {"-style", true},      {"-style="},                   {"-stylesheet", true},
    {"-stylesheet="},      {"-qmljsdebugger="},           {"-reverse"},
    {"-widgetcount"},      {"-sync"},                     {"-nograb"},
    {"-dograb"},           {"-testability"},
};

// Reads the options, all of them before any window exists, so that help,
// version and mistakes need no display; Qt's own options go to
// `qtArguments`. Returns an exit code when the program is to stop here.
std::optional<int> TakeOptions(const std::vector<std::string>& args, Options& options,
                               PortMap& overrides, std::vector<std::string>& qtArguments) {
  const ParsedOptions parsed = ParseOptions(args, kQtOptions);
  if (!parsed.error.empty()) return Fail(parsed.error);
  if (parsed.options.help) {
    std::cout << HelpText("rotavox");
    return 0;
  }
  if (parsed.options.version) {
    std::cout << VersionText();
    return 0;
  }
  for (const std::string& value : parsed.options.portMaps) {
    PortMapping mapping = ParsePortMapping(value);
    if (!mapping.mapping) return Fail(mapping.error);
    overrides[mapping.mapping->first] = mapping.mapping->second;
  }
  std::string voiceError;
  if (!IsVoiceEngine(parsed.options.voice, &voiceError)) return Fail(voiceError);
  options = parsed.options;
  qtArguments = parsed.foreign;
  return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  PortMap overrides;
  std::vector<std::string> qtArguments{argc > 0 ? argv[0] : "rotavox"};
  std::vector<std::string> foreign;
  const std::vector<std::string> raw(argv + std::min(argc, 1), argv + argc);
  if (const auto stop = TakeOptions(raw, options, overrides, foreign)) return *stop;
  // The country file the operator names is looked at now, so that a
  // mistake is told at start; not fatal: callsigns will say "No country
  // file", and all else works. Debian's own is looked for when needed.
  LinuxSettingsStore countries(options.countryFile.empty() ? kCountryFile : options.countryFile,
                               kMaxCountryFileBytes);
  StoredSettings country;
  if (!options.countryFile.empty()) country = countries.Read();
  const bool countryUnreadable =
      !options.countryFile.empty() && (country.kind != StoredSettings::Kind::kRead || country.cut);
  if (countryUnreadable) {
    std::cerr << "rotavox: cannot read the country file " << options.countryFile
              << ": callsigns will not be found\n";
  }
  // The station ports are taken before Qt starts, so that one that cannot
  // be had is reported like any other mistake, with or without a display.
  // The server's threads leave aims here for the poll tick; declared
  // before the server, which goes first.
  RemoteAims remoteAims;
  WsjtxStatuses wsjtx;
  std::unique_ptr<StationServer> server;
  if (WantsStationServer(options)) {
    server = std::make_unique<StationServer>([&remoteAims](const RemoteAim& aim) { remoteAims.Put(aim); });
    std::string error;
    if (!StartStationServer(*server, options, wsjtx, &error)) return Fail(error, 1);
  }
  // Qt sees only its own options: none of ours, nor their values, can be
  // mistaken for one of Qt's.
  qtArguments.insert(qtArguments.end(), foreign.begin(), foreign.end());
  std::vector<char*> qtArgv;
  for (std::string& a : qtArguments) qtArgv.push_back(a.data());
  qtArgv.push_back(nullptr);
  int qtArgc = static_cast<int>(qtArguments.size());
  QApplication app(qtArgc, qtArgv.data());
  SaveSettingsWhenTheSessionEnds();

  // The window exists before the voice: while a text is spoken, the voice
  // waits through the window, which goes on serving the screen reader.
  QtMainDialog dialog;
  std::string voiceError;
  std::unique_ptr<VoiceProvider> voices = MakeVoiceProvider(options.voice, &voiceError, &dialog, options.rate);
  if (!voices) return Fail(voiceError);

  std::unique_ptr<sim::PtyCBox> simulator;
  if (options.simulate) {
    try {
      simulator = std::make_unique<sim::PtyCBox>();
    } catch (const std::system_error& e) {
      return Fail(std::string("cannot start the simulated C BOX: ") + e.what(), 1);
    }
  }

  PosixSerialPort posixPort(overrides);
  std::unique_ptr<SimulatedRoute> route;
  SerialPort* port = &posixPort;
  if (simulator) {
    route = std::make_unique<SimulatedRoute>(posixPort, overrides, simulator->SlavePath());
    port = route.get();
  }

  LinuxBeep beep([] { QApplication::beep(); });
  QtDesktop desktop([&beep] { beep.Beep(); });
  LinuxSettingsStore file;
  SignalSafeSettings settings(file);
  LinuxSettingsStore presetsFile(kPresetsFileName);
  SignalSafeSettings presets(presetsFile);
  if (server) {
    dialog.SetSnapshotSink([&server](const LinkSnapshot& snapshot) { server->Publish(snapshot); });
  }
  // Network addresses in the Com Port box; --simulate never takes them.
  TcpLine network;
  Platform platform{dialog,          dialog, desktop,  *port,
                    *voices,         dialog.Compass(), dialog, settings,
                    options.screenReader,  &remoteAims, options.home, &countries, &presets};
  platform.countryFileUnreadable = countryUnreadable;
  platform.report = [](std::string_view text) { std::cerr << "rotavox: " << text << "\n"; };
  platform.ownCall = options.call;
  platform.wsjtx = options.wsjtx.port != 0 ? &wsjtx : nullptr;
  platform.follow = options.follow;
  platform.network = &network;
  const int status = RunProgram(platform);
  if (server && server->Ignored() != 0) {
    std::cerr << "rotavox: " << server->Ignored() << " UDP datagrams were no aim, or came too fast, and were ignored\n";
  }
  if (server && server->WsjtxIgnored() != 0) {
    std::cerr << "rotavox: " << server->WsjtxIgnored()
              << " WSJT-X datagrams could not be read, or named no callsign or locator, and were ignored\n";
  }
  return status;
}
