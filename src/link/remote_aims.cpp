// The one waiting remote aim (see remote_aims.h).
#include "link/remote_aims.h"

#include "common/context.h"

namespace rotavox {

namespace {

constexpr std::uint64_t kPresent = std::uint64_t{1} << 63;
constexpr std::uint64_t kStop = std::uint64_t{1} << 32;

}  // namespace

void RemoteAims::Put(const RemoteAim& aim) {
  const std::uint64_t word = kPresent | (aim.kind == RemoteAim::Kind::kStop ? kStop : 0) |
                             static_cast<std::uint32_t>(aim.azimuth);
  if (waiting_.exchange(word) != 0) replaced_.fetch_add(1);
}

std::optional<RemoteAim> RemoteAims::Take() {
  const std::uint64_t word = waiting_.exchange(0);
  if (word == 0) return std::nullopt;
  return RemoteAim{(word & kStop) != 0 ? RemoteAim::Kind::kStop : RemoteAim::Kind::kTurn,
                   static_cast<std::int32_t>(static_cast<std::uint32_t>(word))};
}

std::uint64_t RemoteAims::Replaced() const { return replaced_.load(); }

void SendRemoteAim(Context& context) {
  if (context.remoteAims == nullptr) return;
  if (const std::optional<RemoteAim> aim = context.remoteAims->Take()) RemoteAimAt(context, *aim);
}

void DropRemoteAim(Context& context) {
  if (context.remoteAims != nullptr) context.remoteAims->Take();
}

}  // namespace rotavox
