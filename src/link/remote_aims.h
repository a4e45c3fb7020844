// Aims from station programs on their way from the server's threads to the
// window's.
//
// However fast station programs aim, at most one aim waits, the newest: a
// new one replaces the one before. The poll tick takes it and sends at most
// one frame for it, so the operator's own commands, which the window
// handles as they come, never queue behind remote ones, and a flood of
// aims costs neither memory nor time on the line.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>

#include "link/rotctld.h"

namespace rotavox {

struct Context;

class RemoteAims {
 public:
  // From any thread; never waits.
  void Put(const RemoteAim& aim);
  // The waiting aim, if any; the slot is empty afterwards.
  std::optional<RemoteAim> Take();
  // Aims that a newer one replaced before they were taken.
  std::uint64_t Replaced() const;

 private:
  // The aim packed into one word, so that the slot needs no lock: 0 is
  // none; otherwise the top bit, a stop bit and the azimuth's 32 bits.
  std::atomic<std::uint64_t> waiting_{0};
  std::atomic<std::uint64_t> replaced_{0};
};

// On the poll tick: sends the waiting remote aim, if any.
void SendRemoteAim(Context& context);
// On START: an aim that came while the link was down is stale.
void DropRemoteAim(Context& context);

}  // namespace rotavox
