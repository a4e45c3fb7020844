// Station-program protocol (see rotctld.h).
#include "link/rotctld.h"

#include <cstdio>
#include <vector>

#include "common/context.h"
#include "common/number.h"
#include "common/state.h"
#include "link/poll.h"
#include "link/rotator.h"
#include "target/aim.h"

namespace rotavox {
namespace {

constexpr int kInvalid = 1;
constexpr int kNotImplemented = 4;
constexpr int kIoError = 6;

std::string Fixed(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6f", value);
  return text;
}

std::vector<std::string> Words(std::string_view line) {
  std::vector<std::string> words;
  std::string word;
  for (const char c : line) {
    if (c == ' ' || c == '\t') {
      if (!word.empty()) words.push_back(std::move(word));
      word.clear();
    } else {
      word += c;
    }
  }
  if (!word.empty()) words.push_back(std::move(word));
  return words;
}


struct Response {
  std::string name;                  // the long name, for the extended form
  std::string args;                  // echoed in the extended form
  std::vector<std::string> values;   // plain answer lines ("90.000000")
  std::vector<std::string> keyed;    // extended answer lines ("Azimuth: 90.000000")
  std::optional<int> status;         // RPRT n, if this answer carries one
};

std::string Status(int status) {
  std::string text = status == 0 ? "RPRT " : "RPRT -";
  return text.append(std::to_string(status));
}

std::string Render(const Response& r, char separator, bool extended) {
  std::string out;
  if (!extended) {
    for (const auto& v : r.values) out += v + "\n";
    if (r.status) out += Status(*r.status) + "\n";
    return out;
  }
  const std::string sep(1, separator);
  out += r.name + ":";
  if (!r.args.empty()) out += " " + r.args;
  out += sep;
  for (const auto& k : r.keyed) out += k + sep;
  out += Status(r.status.value_or(0)) + "\n";
  return out;
}

}  // namespace

LinkSnapshot TakeSnapshot(const ProgramState& s) {
  LinkSnapshot snapshot;
  snapshot.linked = s.PollTimerId != 0 && s.ReplyPending == 0 && s.SilentTicks != kAlarmRaised;
  snapshot.bearing = s.CurrentBearing;
  snapshot.turning = s.Turning != 0;
  return snapshot;
}

RotctldAnswer AnswerRotctld(std::string_view line, const LinkSnapshot& snapshot) {
  RotctldAnswer answer;
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
  bool extended = false;
  char separator = '\n';
  if (!line.empty() && (line[0] == '+' || line[0] == ';' || line[0] == '|' || line[0] == ',')) {
    extended = true;
    separator = line[0] == '+' ? '\n' : line[0];
    line.remove_prefix(1);
  }
  std::vector<std::string> words = Words(line);
  if (words.empty()) return answer;  // an empty line asks nothing

  std::string command = words[0];
  // Short commands may run into their first argument only with a blank.
  static const struct {
    const char* shortName;
    const char* longName;
  } kNames[] = {{"p", "get_pos"},   {"P", "set_pos"},  {"_", "get_info"}, {"1", "dump_caps"},
                {"S", "stop"},      {"K", "park"},     {"M", "move"},     {"R", "reset"},
                {"C", "set_conf"},  {"q", "quit"},     {"Q", "quit"},     {"", "dump_state"}};
  std::string name;
  for (const auto& n : kNames) {
    if ((*n.shortName && command == n.shortName) || command == std::string("\\") + n.longName) {
      name = n.longName;
    }
  }

  answer.command = !name.empty();
  Response r;
  r.name = name.empty() ? command : name;
  const std::string model = std::to_string(kRotctldModel);
  if (name == "quit") {
    answer.close = true;
    return answer;
  }
  if (name == "get_pos") {
    if (!snapshot.linked) {
      r.status = kIoError;
    } else {
      r.values = {Fixed(snapshot.bearing), Fixed(0)};
      r.keyed = {"Azimuth: " + r.values[0], "Elevation: " + r.values[1]};
    }
  } else if (name == "set_pos") {
    const std::optional<double> az = words.size() >= 2 ? ReadDecimal(words[1]) : std::nullopt;
    const std::optional<double> el = words.size() >= 3 ? ReadDecimal(words[2]) : std::nullopt;
    r.args = words.size() >= 3 ? words[1] + " " + words[2] : (words.size() >= 2 ? words[1] : "");
    if (!az || !el || words.size() > 3 || *az < 0 || *az > 360) {
      r.status = kInvalid;
    } else if (!snapshot.linked) {
      r.status = kIoError;
    } else {
      answer.aim = RemoteAim{RemoteAim::Kind::kTurn, AimBearing(*az)};
      r.status = 0;
    }
  } else if (name == "stop") {
    if (snapshot.linked) answer.aim = RemoteAim{RemoteAim::Kind::kStop, 0};
    r.status = snapshot.linked ? 0 : kIoError;
  } else if (name == "get_info") {
    r.values = {kRotctldInfo};
    r.keyed = {std::string("Info: ") + kRotctldInfo};
  } else if (name == "dump_state") {
    // Hamlib's network client reads these lines up to "done": the first
    // line makes it take the range that follows instead of -180 to 180.
    r.values = {"1",     model, "min_az=0.000000", "max_az=360.000000", "min_el=0.000000",
                "max_el=90.000000", "south_zero=0", "rot_type=Az", "done"};
    r.keyed = {"rotctld Protocol Ver: 1",     std::string("Rotor Model: ").append(model),
               "Minimum Azimuth: 0.000000",   "Maximum Azimuth: 360.000000",
               "Minimum Elevation: 0.000000", "Maximum Elevation: 90.000000",
               "South Zero: 0",               "rot_type=Az",
               "done"};
  } else if (name == "dump_caps") {
    r.values = {std::string("Caps dump for model:\t").append(model),
                "Model name:\t\tRotavox",
                "Mfg name:\t\tRotavox",
                "Backend version:\t" ROTAVOX_VERSION,
                "Rot type:\t\tAzimuth",
                "Min Azimuth:\t\t0.00",
                "Max Azimuth:\t\t360.00",
                "Min Elevation:\t\t0.00",
                "Max Elevation:\t\t90.00",
                "Can set Position:\tY",
                "Can get Position:\tY",
                "Can Stop:\t\tY",
                "Can Park:\t\tN",
                "Can Move:\t\tN",
                "Can get Info:\t\tY"};
    r.keyed = r.values;
    r.status = 0;
  } else if (name == "set_conf") {
    for (std::size_t w = 1; w < words.size(); ++w) r.args += (w > 1 ? " " : "") + words[w];
    r.status = 0;
  } else if (name == "park" || name == "move" || name == "reset") {
    r.status = kNotImplemented;
  } else {
    r.status = kInvalid;
  }
  answer.text = Render(r, separator, extended);
  return answer;
}

std::vector<RemoteAim> RotctldClient::Receive(std::string_view bytes, const LinkSnapshot& snapshot,
                                              StationClock::time_point now) {
  std::vector<RemoteAim> turns;
  if (closing_) return turns;
  in_.append(bytes);
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = in_.find('\n', start);
    if (end == std::string::npos) break;
    const std::string_view line(in_.data() + start, end - start);
    start = end + 1;
    if (discarding_) {
      discarding_ = false;
      continue;
    }
    if (line.size() > kRotctldMaxLine) {
      out_ += "RPRT -1\n";
      continue;
    }
    const RotctldAnswer answer = AnswerRotctld(line, snapshot);
    if (answer.command) lastActive_ = now;
    out_ += answer.text;
    if (answer.aim) turns.push_back(*answer.aim);
    if (answer.close) {
      closing_ = true;
      in_.clear();
      return turns;
    }
  }
  in_.erase(0, start);
  // An unfinished line past the limit is answered now, not when (if ever)
  // its end comes.
  if (in_.size() > kRotctldMaxLine) {
    if (!discarding_) out_ += "RPRT -1\n";
    discarding_ = true;
    in_.clear();
  }
  return turns;
}

void RemoteGoTo(Context& context, std::int32_t azimuth) {
  if (azimuth == context.state.CurrentBearing) return;
  context.rotator.GoTo(std::to_string(azimuth));
  context.state.RemoteTurnTime = Now(context);
  context.state.LastAimTime = context.state.RemoteTurnTime;
  context.state.StopSent = false;
}

void RemoteStop(Context& context) {
  context.rotator.Stop();
  context.state.LastAimTime = Now(context);
}

void RemoteAimAt(Context& context, const RemoteAim& aim) {
  if (aim.kind == RemoteAim::Kind::kTurn) {
    RemoteGoTo(context, aim.azimuth);
    return;
  }
  const ProgramState& s = context.state;
  const auto now = Now(context);
  const bool turning = s.Turning != 0 || now - s.RemoteTurnTime < kRemoteStopGrace;
  if (turning && now - s.OperatorGoTime >= kRemoteStopGrace) RemoteStop(context);
}

}  // namespace rotavox
