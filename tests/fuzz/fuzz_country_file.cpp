// The country file as found on disk (a newer copy, a damaged download):
// any bytes at all, read, then callsigns looked up in it, some taken from
// the input itself, and the beam listed.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/country_file.h"
#include "ui/locator_aim.h"

namespace {

using namespace rotavox;

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const CountryFile file = CountryFile::Parse(bytes);
  for (const CountryEntity& entity : file.Entities()) {
    Check(!entity.name.empty() && std::abs(entity.point.latitude) <= 90 && std::abs(entity.point.longitude) <= 180);
  }
  // Every run of callsign characters in the input is asked for, as typed.
  std::string call;
  for (std::size_t i = 0; i <= bytes.size(); ++i) {
    const char c = i < bytes.size() ? bytes[i] : ' ';
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '/') {
      call += c;
      continue;
    }
    if (!call.empty()) {
      if (const auto found = file.Find(call)) Check(found->entity != nullptr);
      const auto plan = PlanCallAim("JO62QM", file, call + " L");
      if (plan && plan->found) Check(plan->bearing >= 0 && plan->bearing < 360);
    }
    call.clear();
  }
  const std::string words = BeamWords("JO62QM", file, static_cast<std::int32_t>(size % 720) - 180);
  Check(!words.empty());
  return 0;
}
