// Presets and their file (see presets.h).
#include "common/presets.h"

#include <optional>
#include <vector>

#include "common/text.h"

namespace rotavox {
namespace {

constexpr const char* kHeader =
    "# Rotavox presets. Ctrl+1 to Ctrl+9 turn the antenna to preset 1 to 9;\r\n"
    "# Ctrl+Shift+1 to Ctrl+Shift+9 store the GoTo box text (or, when it is\r\n"
    "# empty, the current bearing) as that preset. One preset a line:\r\n"
    "#   number,\"target\",name\r\n"
    "# the target as it would be typed into the GoTo box (a bearing, a grid\r\n"
    "# locator or a callsign, with \" L\" after it for the long path; a double\r\n"
    "# quote in it written twice), the name optional: it is spoken instead of\r\n"
    "# the target. For example:\r\n"
    "#   3,\"JA1XYZ\",Japan\r\n";

// One line of the file, as read: the preset it belongs to (0: none), and
// what it holds; an empty target when that cannot be read.
struct Line {
  int number = 0;
  Preset preset;
};

Line ReadLine(std::string_view text) {
  Line line;
  text = Trimmed(text);
  const std::size_t comma = text.find(',');
  const std::string_view number = Trimmed(text.substr(0, comma));
  if (number.size() != 1 || number[0] < '1' || number[0] > '9') return line;
  line.number = number[0] - '0';
  if (comma == std::string_view::npos) return line;
  std::string_view rest = Trimmed(text.substr(comma + 1));
  std::string target;
  if (!rest.empty() && rest.front() == '"') {
    std::size_t i = 1;
    for (;; ++i) {
      if (i >= rest.size()) return line;  // no closing quote
      if (rest[i] != '"') {
        target += rest[i];
      } else if (i + 1 < rest.size() && rest[i + 1] == '"') {
        target += '"';
        ++i;
      } else {
        break;
      }
    }
    rest = Trimmed(rest.substr(i + 1));
    if (!rest.empty() && rest.front() != ',') return line;
  } else {
    const std::size_t end = rest.find(',');
    target = std::string(Trimmed(rest.substr(0, end)));
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end);
  }
  if (Trimmed(target).empty()) return line;
  line.preset.target = std::move(target);
  if (!rest.empty()) line.preset.name = std::string(Trimmed(rest.substr(1)));
  return line;
}

// The file cut into lines, each with its own line end.
std::vector<std::string_view> Lines(std::string_view bytes) {
  std::vector<std::string_view> lines;
  while (!bytes.empty()) {
    const std::size_t end = bytes.find('\n');
    const std::size_t length = end == std::string_view::npos ? bytes.size() : end + 1;
    lines.push_back(bytes.substr(0, length));
    bytes.remove_prefix(length);
  }
  return lines;
}

std::string_view Content(std::string_view line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  return line;
}

bool IsComment(std::string_view line) {
  const std::string_view text = Trimmed(line);
  return !text.empty() && text.front() == '#';
}

// The line end the file already uses (that of its first line), CR LF for
// a file that has none yet.
std::string_view LineEnd(std::string_view bytes) {
  const std::size_t end = bytes.find('\n');
  return end != std::string_view::npos && (end == 0 || bytes[end - 1] != '\r') ? "\n" : "\r\n";
}

std::string PresetLine(int number, std::string_view target, std::string_view name) {
  std::string line = std::to_string(number) + ",\"";
  for (const char c : target) line += c == '"' ? std::string("\"\"") : std::string(1, c);
  line += '"';
  if (!name.empty()) line.append(",").append(name);
  return line;
}

Preset::Fault Fault(std::string_view text, std::size_t longest) {
  text = Trimmed(text);
  if (HasControl(text)) return Preset::Fault::kBadCharacter;
  if (text.size() > longest) return Preset::Fault::kTooLong;
  return Preset::Fault::kNone;
}

}  // namespace

Preset::Fault TargetFault(std::string_view target) { return Fault(target, kMaxPresetTarget); }
Preset::Fault NameFault(std::string_view name) { return Fault(name, kMaxPresetName); }

const char* FaultWords(Preset::Fault fault) {
  switch (fault) {
    case Preset::Fault::kTooLong:
      return "too long";
    case Preset::Fault::kBadCharacter:
      return "bad character";
    default:
      return "";
  }
}

Presets ParsePresets(std::string_view bytes) {
  Presets presets;
  std::array<bool, kPresetCount> seen{};
  for (const std::string_view text : Lines(bytes)) {
    if (IsComment(text)) continue;
    Line line = ReadLine(Content(text));
    if (line.number == 0 || seen[line.number - 1]) continue;
    seen[line.number - 1] = true;
    // A hand-edited line that no frame could carry, or that would be said
    // raw, makes an empty preset that knows why.
    const Preset::Fault fault = TargetFault(line.preset.target) != Preset::Fault::kNone
                                    ? TargetFault(line.preset.target)
                                    : NameFault(line.preset.name);
    if (fault != Preset::Fault::kNone) line.preset = Preset{{}, {}, fault};
    presets[line.number - 1] = std::move(line.preset);
  }
  return presets;
}

std::string StorePreset(std::string_view bytes, int number, std::string_view target) {
  const std::vector<std::string_view> lines = Lines(bytes);
  std::vector<Line> read;
  for (const std::string_view text : lines) read.push_back(IsComment(text) ? Line{} : ReadLine(Content(text)));
  // The preset's own line, else a new one in number order: before the
  // first preset that comes after it, or at the end.
  std::size_t at = lines.size();
  bool replace = false;
  for (std::size_t i = 0; i < lines.size() && !replace; ++i) {
    if (read[i].number == number) at = i, replace = true;
  }
  for (std::size_t i = 0; i < lines.size() && !replace && at == lines.size(); ++i) {
    if (read[i].number > number) at = i;
  }
  const std::string_view end = LineEnd(bytes);
  std::string out = bytes.empty() ? kHeader : "";
  for (std::size_t i = 0; i <= lines.size(); ++i) {
    if (i == at) {
      if (!out.empty() && out.back() != '\n') out += end;
      const std::string_view content = replace ? Content(lines[i]) : std::string_view();
      // A name written by hand is kept, unless it is unfit to be said.
      const bool keepName = replace && NameFault(read[i].preset.name) == Preset::Fault::kNone;
      out += PresetLine(number, target, keepName ? std::string_view(read[i].preset.name) : std::string_view());
      out += replace ? lines[i].substr(content.size()) : end;  // its own line end
      if (replace) continue;
    }
    if (i < lines.size()) out += lines[i];
  }
  return out;
}

}  // namespace rotavox
