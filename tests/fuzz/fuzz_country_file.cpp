// The country file as found on disk (a newer copy, a damaged download):
// any bytes at all, read, then callsigns looked up in it, some taken from
// the input itself, and the beam listed.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/country_file.h"
#include "target/aim.h"
#include "target/target.h"

using namespace rotavox;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const CountryFile file = CountryFile::Parse(bytes);
  for (const CountryEntity& entity : file.Entities()) {
    if (entity.name.empty() || std::abs(entity.point.latitude) > 90 || std::abs(entity.point.longitude) > 180) {
      std::abort();
    }
  }
  // Every run of callsign characters in the input is asked for, as typed.
  for (std::size_t start = 0; start < bytes.size();) {
    const std::size_t end = std::min(bytes.find_first_of(" ,;:\n", start), bytes.size());
    const std::string call(bytes.substr(start, end - start));
    start = end + 1;
    if (const auto found = file.Find(call); found && found->entity == nullptr) std::abort();
    const AimPlan plan = PlanAim(ParseTarget(call + " L"), "JO62QM", file);
    if (plan.outcome == AimPlan::Outcome::kTurn && (plan.bearing < 0 || plan.bearing >= 360)) std::abort();
  }
  if (BeamWords("JO62QM", file, static_cast<std::int32_t>(size % 720) - 180).empty()) std::abort();
  return 0;
}
