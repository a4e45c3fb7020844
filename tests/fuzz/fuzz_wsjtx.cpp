// WSJT-X's datagrams as anyone on the network may send them: any bytes,
// read, passed through the listener, and planned from a home square.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "common/country_file.h"
#include "common/locator.h"
#include "link/wsjtx.h"
#include "target/dx_station.h"
#include "target/target.h"

using namespace rotavox;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static WsjtxListener listener;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const WsjtxDatagram read = ReadWsjtx(bytes);
  const auto grid = [](const std::string& g) { return g.empty() || (g.size() != 8 && ReadLocator(g) == g); };
  const std::uint64_t ignored = listener.Ignored();
  const bool passed = listener.Receive(bytes).has_value();
  // Never anything a station would not send; each bad datagram counted once.
  bool ok = listener.Ignored() == ignored + (read.kind == WsjtxDatagram::Kind::kBad ? 1 : 0);
  ok = ok && (!passed || read.kind == WsjtxDatagram::Kind::kStatus);
  if (read.kind == WsjtxDatagram::Kind::kStatus) {
    const WsjtxStatus& s = read.status;
    ok = ok && (s.dxCall.empty() || IsCallsign(s.dxCall)) && grid(s.dxGrid) && grid(s.deGrid);
    const AimPlan plan = PlanDxAim(s, "JO62QM", size % 2 == 1, CountryFile());
    ok = ok && (plan.outcome != AimPlan::Outcome::kTurn || (plan.bearing >= 0 && plan.bearing < 360));
  }
  if (!ok) std::abort();
  return 0;
}
