// The country file (see country_file.h).
#include "common/country_file.h"

#include <algorithm>
#include <cmath>

#include "common/number.h"
#include "common/text.h"

namespace rotavox {
namespace {

// Longer aliases are no callsigns; they are skipped.
constexpr std::size_t kMaxAliasLength = 32;
// A header line has exactly this many colon-ended fields.
constexpr std::size_t kHeaderFields = 8;

// A position in the file's signs (longitude west positive), turned east
// positive; nothing when out of range.
std::optional<GeoPoint> Position(std::string_view latitude, std::string_view longitude) {
  const std::optional<double> lat = ReadDecimal(Trimmed(latitude));
  const std::optional<double> lon = ReadDecimal(Trimmed(longitude));
  if (!lat || !lon || std::abs(*lat) > 90 || std::abs(*lon) > 180) return std::nullopt;
  return GeoPoint{*lat, *lon == 0 ? 0.0 : -*lon};
}

// The header line of an entity; nothing when `line` is none.
std::optional<CountryEntity> Header(std::string_view line) {
  std::string_view fields[kHeaderFields];
  for (std::string_view& field : fields) {
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    field = Trimmed(line.substr(0, colon));
    line.remove_prefix(colon + 1);
  }
  if (!Trimmed(line).empty()) return std::nullopt;
  const std::optional<GeoPoint> point = Position(fields[4], fields[5]);
  if (fields[0].empty() || fields[7].empty() || !point) return std::nullopt;
  return CountryEntity{std::string(fields[0]), *point, fields[7].front() != '*'};
}

// One alias: its callsign or prefix, whether it is a whole call, and the
// position it gives, if any. Nothing when it cannot be read.
struct ReadAlias {
  std::string call;
  bool exact = false;
  std::optional<GeoPoint> point;
};

std::optional<ReadAlias> Alias(std::string_view text) {
  ReadAlias alias;
  if (!text.empty() && text.front() == '=') {
    alias.exact = true;
    text.remove_prefix(1);
  }
  while (!text.empty() && (IsLetter(text.front()) || IsDigit(text.front()) || text.front() == '/')) {
    alias.call += Upper(text.front());
    text.remove_prefix(1);
  }
  if (alias.call.empty() || alias.call.size() > kMaxAliasLength) return std::nullopt;
  // The overrides, each closed by its own bracket.
  while (!text.empty()) {
    const char open = text.front();
    const std::string_view closers = "([<{~";
    const std::size_t kind = closers.find(open);
    if (kind == std::string_view::npos) return std::nullopt;
    const char close = ")]>}~"[kind];
    const std::size_t end = text.find(close, 1);
    if (end == std::string_view::npos) return std::nullopt;
    const std::string_view inside = text.substr(1, end - 1);
    if (open == '<') {
      const std::size_t slash = inside.find('/');
      if (slash == std::string_view::npos) return std::nullopt;
      alias.point = Position(inside.substr(0, slash), inside.substr(slash + 1));
      if (!alias.point) return std::nullopt;
    }
    text.remove_prefix(end + 1);
  }
  return alias;
}

bool IsPortableMark(std::string_view part) {
  return part == "P" || part == "M" || part == "A" || part == "QRP" || (part.size() == 1 && IsDigit(part[0]));
}

}  // namespace

CountryFile CountryFile::Parse(std::string_view bytes) {
  CountryFile file;
  bool inEntity = false;  // aliases belong to the last header read
  while (!bytes.empty()) {
    const std::size_t end = bytes.find('\n');
    const std::string_view line = bytes.substr(0, end);
    bytes.remove_prefix(end == std::string_view::npos ? bytes.size() : end + 1);
    if (line.find(':') != std::string_view::npos) {
      // Only a header holds colons; one that cannot be read takes its
      // aliases with it, since they would land on the wrong entity.
      std::optional<CountryEntity> entity = Header(line);
      inEntity = entity.has_value();
      if (entity) file.entities_.push_back(std::move(*entity));
      continue;
    }
    if (!inEntity) continue;
    const std::size_t semicolon = line.find(';');
    file.AddAliases(line.substr(0, semicolon));
    if (semicolon != std::string_view::npos) inEntity = false;
  }
  return file;
}

void CountryFile::AddAliases(std::string_view text) {
  const auto entity = static_cast<std::uint32_t>(entities_.size() - 1);
  while (!text.empty()) {
    const std::size_t comma = text.find(',');
    const std::string_view part = Trimmed(text.substr(0, comma));
    text.remove_prefix(comma == std::string_view::npos ? text.size() : comma + 1);
    if (part.empty()) continue;
    std::optional<ReadAlias> alias = Alias(part);
    if (!alias) continue;
    // The first entity to name a call keeps it.
    if (alias->exact) {
      calls_.try_emplace(std::move(alias->call), Entry{entity, alias->point});
    } else {
      longestPrefix_ = std::max(longestPrefix_, alias->call.size());
      prefixes_.try_emplace(std::move(alias->call), Entry{entity, alias->point});
    }
  }
}

CallEntity CountryFile::Entity(const Entry& entry) const {
  const CountryEntity& entity = entities_[entry.entity];
  return {&entity, entry.point.value_or(entity.point)};
}

std::optional<CallEntity> CountryFile::Find(std::string_view call) const {
  if (call.empty() || call.size() > kMaxAliasLength * 2) return std::nullopt;
  std::string upper(call);
  std::transform(upper.begin(), upper.end(), upper.begin(), Upper);
  return FindUpper(upper);
}

std::optional<CallEntity> CountryFile::FindUpper(std::string_view call) const {
  if (call.empty()) return std::nullopt;
  if (const auto exact = calls_.find(std::string(call)); exact != calls_.end()) return Entity(exact->second);
  if (const std::size_t slash = call.rfind('/'); slash != std::string_view::npos) {
    const std::string_view last = call.substr(slash + 1);
    if (last == "MM" || last == "AM") return std::nullopt;
    if (IsPortableMark(last)) return FindUpper(call.substr(0, slash));
    // A prefix and a call: the shorter part (the first on a tie) names the
    // entity.
    std::string_view shortest;
    for (std::string_view rest = call; !rest.empty();) {
      const std::size_t next = rest.find('/');
      const std::string_view part = rest.substr(0, next);
      rest.remove_prefix(next == std::string_view::npos ? rest.size() : next + 1);
      if (!part.empty() && (shortest.empty() || part.size() < shortest.size())) shortest = part;
    }
    return FindUpper(shortest);
  }
  for (std::size_t length = std::min(call.size(), longestPrefix_); length > 0; --length) {
    const auto prefix = prefixes_.find(std::string(call.substr(0, length)));
    if (prefix != prefixes_.end()) return Entity(prefix->second);
  }
  return std::nullopt;
}

std::vector<const CountryEntity*> AlongTheBeam(const CountryFile& file, GeoPoint from, double bearing,
                                               const CountryEntity* leaveOut) {
  struct Seen {
    const CountryEntity* entity;
    double bearing;
    double distanceKm;
  };
  std::vector<Seen> seen;
  seen.reserve(file.Entities().size());
  for (const CountryEntity& entity : file.Entities()) {
    const GreatCircle path = ShortPath(from, entity.point);
    seen.push_back({&entity, path.bearing, path.distanceKm});
  }
  std::vector<Seen> beam;
  for (const Seen& it : seen) {
    double off = std::fmod(it.bearing - bearing, 360.0);
    if (off < 0) off += 360.0;
    if (it.entity != leaveOut && std::min(off, 360.0 - off) <= kBeamHalfWidth) beam.push_back(it);
  }
  std::stable_sort(beam.begin(), beam.end(),
                   [](const Seen& a, const Seen& b) { return a.distanceKm < b.distanceKm; });
  std::vector<const CountryEntity*> nearest;
  for (std::size_t i = 0; i < beam.size() && i < kBeamMostEntities; ++i) nearest.push_back(beam[i].entity);
  return nearest;
}

}  // namespace rotavox
