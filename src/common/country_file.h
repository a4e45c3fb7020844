// The country file: which entity (country, island, territory) a callsign
// belongs to, and where that entity lies.
//
// The file is the "Big CTY" file of contest loggers (cty.dat from
// country-files.com). Each entity is a header line of eight fields, each
// ended by a colon:
//   name: CQ zone: ITU zone: continent: latitude: longitude: UTC offset: prefix:
// with the latitude positive to the north and the longitude positive to the
// WEST; a prefix with '*' in front marks an entity that is not on the DXCC
// list. Its aliases follow, separated by commas over one or more lines and
// ended by a semicolon: prefixes, or with '=' in front whole callsigns. An
// alias may carry overrides: (CQ zone), [ITU zone], <latitude/longitude>
// (in the header's signs), {continent}, ~UTC offset~; only the position
// matters here.
//
// A line that cannot be read is skipped, and so is an alias that cannot;
// nothing outside the given bytes is ever read. The program reads the file
// through its store (app/settings_store.h), kMaxCountryFileBytes at most.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/locator.h"

namespace rotavox {

struct CountryEntity {
  std::string name;  // as the file writes it
  GeoPoint point;    // longitude east positive
  bool dxcc = true;  // false for the entities marked '*'
};

// Where a callsign points: its entity, and the position of the alias that
// matched (the entity's own unless the alias gives one).
struct CallEntity {
  const CountryEntity* entity = nullptr;
  GeoPoint point;
};

// The Big CTY file is about 330 KB; a longer one is no country file (one
// of 16 MB held the window for a second and more).
inline constexpr std::size_t kMaxCountryFileBytes = 2 * 1024 * 1024;

class CountryFile {
 public:
  static CountryFile Parse(std::string_view bytes);

  bool Empty() const { return entities_.empty(); }
  const std::vector<CountryEntity>& Entities() const { return entities_; }

  // The entity of a callsign (either case), as loggers find it:
  //  1. an exact-call alias equal to the whole call, slashes included;
  //  2. for a call with slashes: CALL/P, /M, /A, /QRP and a trailing
  //     call-area digit keep CALL's entity; /MM and /AM (at sea, in the
  //     air) have none; otherwise the shortest part (PFX/CALL, CALL/PFX)
  //     names it. Each part is looked up by these same rules;
  //  3. otherwise the longest prefix alias that the call begins with.
  // Nothing when no entity is found.
  std::optional<CallEntity> Find(std::string_view call) const;

 private:
  struct Entry {
    std::uint32_t entity = 0;
    std::optional<GeoPoint> point;
  };
  void AddAliases(std::string_view text);
  std::optional<CallEntity> FindUpper(std::string_view call) const;
  CallEntity Entity(const Entry& entry) const;

  std::vector<CountryEntity> entities_;
  std::unordered_map<std::string, Entry> calls_;     // '=' aliases
  std::unordered_map<std::string, Entry> prefixes_;
  std::size_t longestPrefix_ = 0;
};

// The entities whose points lie within kBeamHalfWidth degrees either side
// of `bearing` (edges included) as seen from `from` on the short path,
// nearest first, at most kBeamMostEntities; `leaveOut` (the operator's own
// entity) is never listed. About the half-power width of an HF beam.
inline constexpr double kBeamHalfWidth = 15.0;
inline constexpr std::size_t kBeamMostEntities = 8;
std::vector<const CountryEntity*> AlongTheBeam(const CountryFile& file, GeoPoint from, double bearing,
                                               const CountryEntity* leaveOut = nullptr);

}  // namespace rotavox
