// The C BOX's reply stream: bytes received in pieces of any size, lines
// taken at any moment, every line decoded.
//
// Each piece is brought in by two bytes: its length, then a repeat count
// (low 7 bits, so that a few input bytes can fill the 64 KiB text) and a
// flag (high bit) to take and decode every complete line after it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "link/protocol.h"

namespace {

using namespace rotavox;

void Check(bool ok) {
  if (!ok) std::abort();
}

std::string Last(std::string_view text, std::size_t n) {
  return std::string(text.substr(text.size() - std::min(n, text.size())));
}

// Takes and decodes every complete line, appending each to `taken`.
void TakeAll(std::string& rx, std::string& taken) {
  while (std::optional<std::string> line = TakeReplyLine(rx)) {
    Check(line->find(kCr) == std::string::npos && line->find(kStx) == std::string::npos);
    (void)DecodeReply(*line);
    taken += *line + '\n';
  }
  Check(rx.find(kCr) == std::string::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  std::string rx, all, taken;
  while (in.size() >= 2) {
    const std::size_t length = std::min<std::size_t>(static_cast<unsigned char>(in[0]), in.size() - 2);
    const unsigned control = static_cast<unsigned char>(in[1]);
    const std::string_view piece = in.substr(2, length);
    in.remove_prefix(2 + length);
    std::string bytes;
    for (unsigned n = 0; n <= (control & 0x7Fu); ++n) bytes += piece;

    const std::string before = rx + bytes;
    AppendReceived(rx, bytes);
    all += bytes;
    const std::size_t lastCr = rx.rfind(kCr);
    Check(rx.size() - (lastCr == std::string::npos ? 0 : lastCr + 1) <= kMaxPartialLine);
    Check(rx.size() <= kMaxRxText);
    // Nothing is dropped while within bounds, and the newest bytes always stay.
    if (before.size() <= kMaxPartialLine) Check(rx == before);
    Check(Last(rx, kMaxPartialLine) == Last(before, kMaxPartialLine));
    if (control & 0x80u) TakeAll(rx, taken);
  }
  TakeAll(rx, taken);
  // While nothing had to be dropped, the pieces and the moments of taking
  // make no difference: the lines are those of the whole stream.
  if (all.size() <= kMaxPartialLine) {
    std::string whole, once;
    AppendReceived(whole, all);
    TakeAll(whole, once);
    Check(once == taken);
  }
  return 0;
}
