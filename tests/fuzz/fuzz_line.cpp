// The input as a Com Port box's text gives a usable address or none; as
// what a telnet server sends, taken whole and in pieces cut where its first
// byte says, the same data and answers, and never more data than came.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "link/port_text.h"
#include "link/rfc2217.h"

using namespace rotavox;

static void Check(bool ok) {
  if (!ok) std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);

  const PortTarget target = ReadPortText(input);
  if (target.kind == PortTarget::Kind::kNetwork || target.kind == PortTarget::Kind::kRotctld) {
    Check(!target.address.host.empty() && target.address.port >= 1 && target.address.port <= 65535);
  }
  Check((target.kind == PortTarget::Kind::kBadAddress) == !target.trouble.empty());

  TelnetComPort whole;
  TelnetComPort pieces;
  const bool opened = size > 0 && (data[0] & 1) != 0;
  if (opened) Check(whole.Opening() == pieces.Opening());
  std::string answersWhole;
  const std::string dataWhole = whole.Take(input, answersWhole);
  std::string answersPieces;
  std::string dataPieces;
  const std::size_t step = size > 0 ? 1 + data[0] % 7 : 1;
  for (std::size_t at = 0; at < size; at += step) dataPieces += pieces.Take(input.substr(at, step), answersPieces);
  Check(dataWhole == dataPieces);
  Check(answersWhole == answersPieces);
  Check(dataWhole.size() <= size);
  Check(whole.Suspended() == pieces.Suspended());
  return 0;
}
