// cbox-sim: a simulated C BOX on a pseudo-terminal, for running the
// controller without a rotator. Prints the terminal's path on the first
// line and serves it until SIGINT, SIGTERM or SIGHUP.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <cstdint>
#include <cerrno>
#include <cstring>
#include <exception>
#include <iostream>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <string_view>

#include "posix/pty_cbox.h"

namespace {

using rotavox::sim::CBoxOptions;

constexpr int kUsageError = 2;

constexpr const char* kUsage =
    "Usage: cbox-sim [options]\n"
    "Simulates a Prosistel C BOX rotator controller on a pseudo-terminal.\n"
    "Prints the terminal's path (e.g. /dev/pts/7) on the first line, then runs\n"
    "until interrupted. Point the controller's serial port at that path.\n"
    "\n"
    "Options:\n"
    "  --bearing N      start bearing in degrees, 0..360 (default 0)\n"
    "  --south          report a south stop (default: north stop)\n"
    "  --speed DEG      turning speed in degrees per second (default 6)\n"
    "  --period MS      position report period while turning, ms (default 250)\n"
    "  --silent         answer nothing at all\n"
    "  --drop P         lose each sent byte with probability P, 0..1\n"
    "  --garble P       replace each sent byte by a random one with probability P\n"
    "  --crlf           end replies with CR LF instead of CR\n"
    "  --seed N         seed for --drop and --garble (default: random)\n"
    "  --link PATH      also make a symlink PATH to the terminal, removed at exit\n"
    "  --help           show this text\n"
    "  --version        show the version\n";

struct Failure {
  std::string message;
};

template <typename T>
T Number(std::string_view option, std::string_view text, T low, T high) {
  T value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || !(value >= low && value <= high)) {
    std::ostringstream message;
    message << option << ": '" << text << "' is not a number from " << low << " to " << high;
    throw Failure{message.str()};
  }
  return value;
}

struct Settings {
  CBoxOptions box;
  bool seeded = false;
  std::string link;
};

// Returns nothing when --help or --version has been answered.
std::optional<Settings> ParseArguments(int argc, char** argv) {
  Settings settings;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    std::optional<std::string_view> inlineValue;
    if (const auto eq = arg.find('='); arg.starts_with("--") && eq != std::string_view::npos) {
      inlineValue = arg.substr(eq + 1);
      arg = arg.substr(0, eq);
    }
    const auto value = [&]() -> std::string_view {
      if (inlineValue) return *inlineValue;
      if (i + 1 >= argc) throw Failure{std::string(arg) + " needs a value"};
      return argv[++i];
    };
    const auto flag = [&] {
      if (inlineValue) throw Failure{std::string(arg) + " takes no value"};
    };
    if (arg == "--help" || arg == "-h") {
      flag();
      std::cout << kUsage;
      return std::nullopt;
    } else if (arg == "--version") {
      flag();
      std::cout << "cbox-sim (Rotavox) " << ROTAVOX_VERSION << "\n";
      return std::nullopt;
    } else if (arg == "--bearing") {
      settings.box.startBearing = Number(arg, value(), 0, 360);
    } else if (arg == "--south") {
      flag();
      settings.box.stopSide = rotavox::sim::StopSide::kSouth;
    } else if (arg == "--speed") {
      settings.box.degreesPerSecond = Number(arg, value(), 0.001, 100000.0);
    } else if (arg == "--period") {
      settings.box.reportPeriod = std::chrono::milliseconds(Number(arg, value(), 1, 60000));
    } else if (arg == "--silent") {
      flag();
      settings.box.silent = true;
    } else if (arg == "--drop") {
      settings.box.dropProbability = Number(arg, value(), 0.0, 1.0);
    } else if (arg == "--garble") {
      settings.box.garbleProbability = Number(arg, value(), 0.0, 1.0);
    } else if (arg == "--crlf") {
      flag();
      settings.box.crlf = true;
    } else if (arg == "--seed") {
      settings.box.seed = Number<std::uint64_t>(arg, value(), 0, UINT64_MAX);
      settings.seeded = true;
    } else if (arg == "--link") {
      settings.link = value();
      if (settings.link.empty()) throw Failure{"--link needs a path"};
    } else {
      throw Failure{"unknown option '" + std::string(argv[i]) + "'"};
    }
  }
  return settings;
}

// A symlink to the terminal. A leftover symlink (from a run that was
// killed) is replaced; anything else at that path is left alone.
void MakeLink(const std::string& path, const std::string& target) {
  struct stat info {};
  if (lstat(path.c_str(), &info) == 0) {
    if (!S_ISLNK(info.st_mode)) throw Failure{path + " exists and is not a symlink"};
    unlink(path.c_str());
  }
  if (symlink(target.c_str(), path.c_str()) != 0) {
    throw Failure{"cannot create " + path + ": " + std::strerror(errno)};
  }
}

void RemoveLink(const std::string& path, const std::string& target) {
  char buffer[4096];
  const ssize_t n = readlink(path.c_str(), buffer, sizeof buffer);
  if (n >= 0 && std::string_view(buffer, static_cast<std::size_t>(n)) == target) {
    unlink(path.c_str());
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::optional<Settings> settings;
  try {
    settings = ParseArguments(argc, argv);
  } catch (const Failure& failure) {
    std::cerr << "cbox-sim: " << failure.message << "\nTry 'cbox-sim --help'.\n";
    return kUsageError;
  }
  if (!settings) return 0;
  if (!settings->seeded) settings->box.seed = std::random_device{}();

  // The signals are taken by sigwait below; blocked before the box's thread
  // starts, so that it never receives them.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  try {
    rotavox::sim::PtyCBox box(settings->box);
    if (!settings->link.empty()) MakeLink(settings->link, box.SlavePath());
    std::cout << box.SlavePath() << std::endl;
    int received = 0;
    sigwait(&signals, &received);
    if (!settings->link.empty()) RemoveLink(settings->link, box.SlavePath());
  } catch (const Failure& failure) {
    std::cerr << "cbox-sim: " << failure.message << "\n";
    return 1;
  } catch (const std::exception& error) {
    std::cerr << "cbox-sim: " << error.what() << "\n";
    return 1;
  }
  return 0;
}
