// WSJT-X's datagrams (see wsjtx.h).
#include "link/wsjtx.h"

#include <algorithm>

#include "common/locator.h"
#include "common/text.h"
#include "target/target.h"

namespace rotavox {
namespace {

constexpr std::uint32_t kMagic = 0xadbccbda;
constexpr std::uint32_t kNull = 0xffffffff;
constexpr std::uint32_t kStatusType = 1;

// Reads big-endian fields off the front of a datagram; once a read runs
// past the end, every later one fails too.
class Fields {
 public:
  explicit Fields(std::string_view bytes) : bytes_(bytes) {}
  bool Ok() const { return ok_; }

  std::uint64_t Unsigned(std::size_t size) {
    if (!Have(size)) return 0;
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < size; ++i) value = value << 8 | static_cast<unsigned char>(bytes_[i]);
    bytes_.remove_prefix(size);
    return value;
  }
  std::uint32_t U32() { return static_cast<std::uint32_t>(Unsigned(4)); }
  // A string; empty for a null one.
  std::string_view String() {
    const std::uint32_t size = U32();
    if (size == kNull || !Have(size)) return {};
    const std::string_view text = bytes_.substr(0, size);
    bytes_.remove_prefix(size);
    return text;
  }
  void Skip(std::size_t size) {
    if (Have(size)) bytes_.remove_prefix(size);
  }

 private:
  bool Have(std::size_t size) {
    ok_ = ok_ && bytes_.size() >= size;
    return ok_;
  }
  std::string_view bytes_;
  bool ok_ = true;
};

std::string UpperCase(std::string_view text) {
  std::string upper(text);
  std::transform(upper.begin(), upper.end(), upper.begin(), Upper);
  return upper;
}

// A locator of 4 or 6 characters, upper case; nothing otherwise.
std::optional<std::string> Grid(std::string_view text) {
  const std::optional<std::string> locator = ReadLocator(text);
  if (!locator || (locator->size() != 4 && locator->size() != 6)) return std::nullopt;
  return locator;
}

}  // namespace

WsjtxDatagram ReadWsjtx(std::string_view bytes) {
  WsjtxDatagram datagram;
  Fields f(bytes);
  const std::uint32_t magic = f.U32();
  const std::uint32_t schema = f.U32();
  const std::uint32_t type = f.U32();
  if (!f.Ok() || magic != kMagic || schema < 2 || schema > 3) return datagram;
  if (type != kStatusType) {
    datagram.kind = WsjtxDatagram::Kind::kOther;
    return datagram;
  }
  const std::string_view id = f.String();
  f.Skip(8);  // dial frequency
  f.String();  // mode
  const std::string_view dxCall = f.String();
  f.String();  // report
  f.String();  // Tx mode
  f.Skip(3);   // Tx enabled, transmitting, decoding
  f.Skip(8);   // Rx DF, Tx DF
  f.String();  // DE call
  const std::string_view deGrid = f.String();
  const std::string_view dxGrid = f.String();
  if (!f.Ok()) return datagram;
  WsjtxStatus& status = datagram.status;
  status.id = std::string(id);
  if (!dxCall.empty()) {
    if (!IsCallsign(dxCall)) return datagram;
    status.dxCall = UpperCase(dxCall);
  }
  if (!dxGrid.empty()) {
    const std::optional<std::string> grid = Grid(dxGrid);
    if (!grid) return datagram;
    status.dxGrid = *grid;
  }
  // The operator's own square is only a place to aim from: one that is no
  // locator is as good as none.
  status.deGrid = Grid(deGrid).value_or("");
  datagram.kind = WsjtxDatagram::Kind::kStatus;
  return datagram;
}

std::optional<WsjtxStatus> WsjtxListener::Receive(std::string_view bytes) {
  WsjtxDatagram datagram = ReadWsjtx(bytes);
  if (datagram.kind == WsjtxDatagram::Kind::kBad) ++ignored_;
  if (datagram.kind != WsjtxDatagram::Kind::kStatus) return std::nullopt;
  WsjtxStatus& status = datagram.status;
  const auto same = std::find_if(last_.begin(), last_.end(),
                                 [&](const WsjtxStatus& s) { return s.id == status.id; });
  const bool changed = same == last_.end() || *same != status;
  if (same != last_.end()) {
    last_.erase(same);
  } else if (last_.size() == kPrograms) {
    last_.erase(last_.begin());
  }
  last_.push_back(status);
  if (!changed) return std::nullopt;
  return std::move(status);
}

WsjtxStatuses::~WsjtxStatuses() { delete latest_.load(); }

void WsjtxStatuses::Put(const WsjtxStatus& status) { delete latest_.exchange(new WsjtxStatus(status)); }

std::unique_ptr<WsjtxStatus> WsjtxStatuses::Take() { return std::unique_ptr<WsjtxStatus>(latest_.exchange(nullptr)); }

}  // namespace rotavox
