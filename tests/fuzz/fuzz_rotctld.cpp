// Lines from station programs on the network: any bytes at all.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "link/rotctld.h"
#include "link/udp_aim.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const rotavox::LinkSnapshot snapshot{(data[0] & 1) != 0, static_cast<std::int8_t>(data[0])};
  const std::string_view line(reinterpret_cast<const char*>(data) + 1, size - 1);
  const rotavox::RotctldAnswer answer = rotavox::AnswerRotctld(line, snapshot);
  // Every answer is whole lines; a turn is a bearing on the dial and only
  // while the link is up.
  Check(answer.text.empty() || answer.text.back() == '\n');
  if (answer.aim) {
    Check(snapshot.linked && answer.aim->azimuth >= 0 && answer.aim->azimuth <= 360);
    Check(answer.text.find("RPRT 0") != std::string::npos);
  }
  // The same bytes as a datagram: an aim, if any, is a heading on the dial.
  if (const auto udp = rotavox::ParseUdpAim(line)) {
    Check(udp->aim.azimuth >= 0 && udp->aim.azimuth < 360 && udp->rotor.size() <= 64);
  }
  return 0;
}
