// WSJT-X's datagrams as anyone on the network may send them: any bytes at
// all, read, passed through the listener, and announced from a home square.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "common/country_file.h"
#include "common/locator.h"
#include "link/wsjtx.h"
#include "target/dx_station.h"
#include "target/target.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

bool Grid(const std::string& grid) {
  return grid.empty() || ((grid.size() == 4 || grid.size() == 6) && rotavox::ReadLocator(grid) == grid);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  static rotavox::WsjtxListener listener;
  const rotavox::WsjtxDatagram read = rotavox::ReadWsjtx(bytes);
  if (read.kind == rotavox::WsjtxDatagram::Kind::kStatus) {
    // Only a callsign and locators ever come out, never what no station would send.
    Check(read.status.dxCall.empty() || rotavox::IsCallsign(read.status.dxCall));
    Check(Grid(read.status.dxGrid) && Grid(read.status.deGrid));
    for (const bool longPath : {false, true}) {
      const rotavox::AimPlan plan = rotavox::PlanDxAim(read.status, "JO62QM", longPath, rotavox::CountryFile());
      Check(plan.outcome != rotavox::AimPlan::Outcome::kTurn || (plan.bearing >= 0 && plan.bearing < 360));
    }
  }
  const std::uint64_t before = listener.Ignored();
  const auto passed = listener.Receive(bytes);
  Check(!passed || read.kind == rotavox::WsjtxDatagram::Kind::kStatus);
  Check(listener.Ignored() == before + (read.kind == rotavox::WsjtxDatagram::Kind::kBad ? 1 : 0));
  return 0;
}
