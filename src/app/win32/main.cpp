// Entry point of the Windows edition: puts together the platform (Win32
// dialog and GDI compass, COM port, SAPI voice, message box and system
// beep, STAT.DAT in the working directory) and runs the program.
//
// The options are --rotctld [ADDRESS:]PORT, --udp [ADDRESS:]PORT,
// --screen-reader, --home and --country-file (with --help and --version,
// whose text comes in a message box): the ports are the system's COM
// devices and the voice is the one registered as SAPI.SpVoice. COM is
// initialised for the thread by the dialog's session, around the whole run.
#include "app/options.h"
#include "app/program.h"
#include "app/station.h"
#include "app/win32/win32_settings_store.h"
#include "common/country_file.h"
#include "common/presets.h"
#include "link/asio/station_server.h"
#include "link/asio/tcp_line.h"
#include "link/remote_aims.h"
#include "link/win32/win32_serial_port.h"
#include "speech/win32/sapi_voice.h"
#include "ui/win32/win32_desktop.h"
#include "ui/win32/win32_main_dialog.h"

#include <windows.h>
#include <shellapi.h>

#include <memory>
#include <string>
#include <vector>

namespace {

constexpr const char* kProgramName = "rotavox.exe";
constexpr const char* kCaption = "Rotavox Controller";

// The arguments after the program's name, as UTF-8.
std::vector<std::string> Arguments() {
  std::vector<std::string> args;
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!wide) return args;
  for (int i = 1; i < count; ++i) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
    std::string arg(size > 0 ? static_cast<std::size_t>(size) : 1, '\0');
    if (size > 0) WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, arg.data(), size, nullptr, nullptr);
    arg.resize(arg.size() - 1);  // the terminating zero
    args.push_back(std::move(arg));
  }
  LocalFree(wide);
  return args;
}

void Show(const std::string& text, UINT icon) {
  const int size = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
  std::wstring wide(size > 0 ? static_cast<std::size_t>(size) : 1, L'\0');
  if (size > 0) MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide.data(), size);
  std::wstring caption(kCaption, kCaption + std::char_traits<char>::length(kCaption));
  MessageBoxW(nullptr, wide.c_str(), caption.c_str(), MB_OK | icon | MB_SETFOREGROUND);
}

// The shared help with what differs on Windows: the COM names are the
// system's own, and only one option is taken.
std::string WindowsHelpText() {
  std::string text = rotavox::HelpText(kProgramName);
  if (const std::size_t names = text.find("COM names:"); names != std::string::npos) {
    text.resize(names);
  }
  text += R"(COM names:
  type the number of the port: 3 opens COM3, 12 opens COM12
)";
  text += rotavox::kNetworkPortHelp;
  text += R"(
Options:
)";
  text += rotavox::kScreenReaderHelp;
  text += rotavox::kHomeHelp;
  text += rotavox::kRotctldHelp;
  text += rotavox::kWsjtxHelp;
  text += R"(  --help                 show this text and exit
  --version              show the version and exit
)";
  return text;
}

// The country file that the installer and the zip put beside the program,
// as UTF-8 (the store takes it as a wide path, wherever the program is).
std::string CountryFileBesideProgram() {
  std::wstring path(32768, L'\0');  // the longest path the system has
  const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  path.resize(length < path.size() ? length : 0);
  const std::size_t slash = path.find_last_of(L"\\/");
  path.resize(slash == std::wstring::npos ? 0 : slash + 1);
  path += L"cty.dat";
  const int size = WideCharToMultiByte(CP_UTF8, 0, path.c_str(), static_cast<int>(path.size()), nullptr, 0,
                                       nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
  if (size > 0) {
    WideCharToMultiByte(CP_UTF8, 0, path.c_str(), static_cast<int>(path.size()), utf8.data(), size, nullptr,
                        nullptr);
  }
  return utf8;
}

int Refuse(const std::string& reason) {
  Show(reason + "\n\nSee " + kProgramName + " --help.", MB_ICONERROR);
  return 2;
}

}  // namespace

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR /*commandLine*/,
                   int /*show*/) {
  // A missing disk or a port that cannot be opened must not bring up a
  // system error box: the program notices failures in its own way.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);

  const rotavox::ParsedOptions parsed = rotavox::ParseOptions(Arguments());
  const rotavox::Options& options = parsed.options;
  if (!parsed.error.empty()) return Refuse(parsed.error);
  if (options.simulate) return Refuse("--simulate is not available on Windows");
  if (!options.voice.empty()) {
    return Refuse("--voice is not available on Windows: the voice is the system's SAPI voice");
  }
  if (!options.portMaps.empty()) {
    return Refuse("--map-port is not available on Windows: COM names are the system's own");
  }
  if (options.help) {
    Show(WindowsHelpText(), MB_ICONINFORMATION);
    return 0;
  }
  if (options.version) {
    Show(rotavox::VersionText(), MB_ICONINFORMATION);
    return 0;
  }

  rotavox::Win32MainDialog dialog;
  rotavox::Win32Desktop desktop;
  rotavox::Win32SerialPort port;
  rotavox::TcpLine network;  // network addresses in the Com Port box
  rotavox::SapiVoiceProvider voices(options.rate);
  rotavox::Win32SettingsStore settings;
  rotavox::Win32SettingsStore presets(rotavox::kPresetsFileName);
  // The country file the operator names is looked at now, so that a
  // mistake is told at start; the one beside the program when needed.
  rotavox::Win32SettingsStore countries(
      options.countryFile.empty() ? CountryFileBesideProgram() : options.countryFile, rotavox::kMaxCountryFileBytes);
  bool countryUnreadable = false;
  if (!options.countryFile.empty()) {
    const rotavox::StoredSettings country = countries.Read();
    countryUnreadable = country.kind != rotavox::StoredSettings::Kind::kRead || country.cut;
  }
  // The server's threads leave aims here for the poll tick; declared
  // before the server, which goes first.
  rotavox::RemoteAims remoteAims;
  rotavox::WsjtxStatuses wsjtx;
  std::unique_ptr<rotavox::StationServer> server;
  if (rotavox::WantsStationServer(options)) {
    server = std::make_unique<rotavox::StationServer>(
        [&remoteAims](const rotavox::RemoteAim& aim) { remoteAims.Put(aim); });
    std::string error;
    if (!rotavox::StartStationServer(*server, options, wsjtx, &error)) {
      Show(error, MB_ICONERROR);
      return 1;
    }
    dialog.SetSnapshotSink(
        [&server](const rotavox::LinkSnapshot& snapshot) { server->Publish(snapshot); });
  }
  rotavox::Platform platform{dialog, dialog,           desktop, port, voices,
                             dialog.Compass(), dialog, settings, options.screenReader,
                             &remoteAims, options.home, &countries, &presets};
  platform.countryFileUnreadable = countryUnreadable;
  platform.ownCall = options.call;
  platform.wsjtx = options.wsjtx.port != 0 ? &wsjtx : nullptr;
  platform.follow = options.follow;
  platform.network = &network;
  rotavox::RunProgram(platform);
  return 0;
}
