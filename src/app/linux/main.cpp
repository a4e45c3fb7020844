// Entry point of the Linux edition: reads the options, puts together the
// platform (Qt window, termios port, speech-dispatcher voice, desktop
// beep, STAT.DAT in the working directory) and runs the program.
#include <QApplication>

#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "app/options.h"
#include "app/program.h"
#include "app/settings_store.h"
#include "app/station.h"
#include "link/posix/com_names.h"
#include "link/posix/posix_serial_port.h"
#include "link/posix/station_server.h"
#include "posix/pty_cbox.h"
#include "speech/linux/linux_beep.h"
#include "speech/linux/linux_voices.h"
#include "ui/qt/qt_desktop.h"
#include "ui/qt/qt_main_dialog.h"

namespace {

using namespace rotavox;

// With --simulate, every COM name that --map-port does not name reaches the
// simulated C BOX.
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

int Fail(const std::string& message, int code = 2) {
  std::cerr << "rotavox: " << message << "\nTry 'rotavox --help' for more information.\n";
  return code;
}


// Reads the options; returns an exit code when the program is to stop here.
std::optional<int> TakeOptions(const std::vector<std::string>& args, Options& options,
                               PortMap& overrides) {
  const ParsedOptions parsed = ParseOptions(args);
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
  options = parsed.options;
  return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
  // Our options are read before any window exists, so that help, version
  // and mistakes need no display; only when Qt's own options (single dash,
  // such as -platform) are present must Qt take them out first.
  const std::vector<std::string> raw(argv + 1, argv + argc);
  bool qtArguments = false;
  for (const std::string& a : raw) qtArguments |= a.size() > 1 && a[0] == '-' && a[1] != '-';
  Options options;
  PortMap overrides;
  if (!qtArguments) {
    if (const auto stop = TakeOptions(raw, options, overrides)) return *stop;
  }
  QApplication app(argc, argv);
  if (qtArguments) {
    std::vector<std::string> args;
    for (const QString& a : app.arguments().mid(1)) args.push_back(a.toStdString());
    if (const auto stop = TakeOptions(args, options, overrides)) return *stop;
  }

  // The window exists before the voice: while a text is spoken, the voice
  // waits through the window, which goes on serving the screen reader.
  QtMainDialog dialog;
  std::string voiceError;
  std::unique_ptr<VoiceProvider> voices = MakeVoiceProvider(options.voice, &voiceError, &dialog);
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
  FileSettingsStore settings;
  // Declared after the dialog: the server, whose thread posts aims to the
  // dialog, goes first.
  std::unique_ptr<StationServer> server;
  if (WantsStationServer(options)) {
    server = std::make_unique<StationServer>([&dialog](const RemoteAim& aim) {
      QMetaObject::invokeMethod(&dialog, [&dialog, aim] { dialog.Aim(aim); }, Qt::QueuedConnection);
    });
    std::string error;
    if (!StartStationServer(*server, options, &error)) return Fail(error, 1);
    dialog.SetSnapshotSink([&server](const LinkSnapshot& snapshot) { server->Publish(snapshot); });
  }
  Platform platform{dialog,          dialog, desktop,  *port,
                    *voices,         dialog.Compass(), dialog, settings,
                    !options.screenReader};
  const int status = RunProgram(platform);
  if (server && server->Ignored() != 0) {
    std::cerr << "rotavox: " << server->Ignored() << " UDP datagrams were no aim, or came too fast, and were ignored\n";
  }
  return status;
}
