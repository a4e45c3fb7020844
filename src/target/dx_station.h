// The station the operator is working in WSJT-X, as the operator hears of
// it: which one to announce and when, and where it lies.
//
// WSJT-X sends a status for every keystroke in its DX Call box, and the DX
// grid later in one of its own. A station is announced once its DX call
// and grid have stood unchanged for kSettle; again when the same call
// gains or changes its grid, and again only for another call. An emptied
// DX call says nothing. With two programs sending, the status that changed
// last counts.
#pragma once

#include <chrono>
#include <optional>
#include <string_view>

#include "link/wsjtx.h"
#include "target/aim.h"

namespace rotavox {

class CountryFile;

class DxStation {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  static constexpr std::chrono::milliseconds kSettle{1000};

  // A status that changed what a program shows, taken at `now`.
  void Seen(const WsjtxStatus& status, TimePoint now);
  // The station to announce at `now`, if one is due; it is then the one
  // announced.
  std::optional<WsjtxStatus> Due(TimePoint now);
  // The last station announced.
  const std::optional<WsjtxStatus>& Announced() const { return announced_; }

 private:
  std::optional<WsjtxStatus> candidate_;
  TimePoint since_{};
  std::optional<WsjtxStatus> announced_;
};

// Where a station lies from `home` (the operator's --home, else the DE
// grid WSJT-X gave), by its square when it has a grid ("JA1XYZ PM95 short
// path 0 4 2 , 8904 kilometres"), else by its call's country ("JA1XYZ
// Japan short path 0 4 2 , 8790 kilometres", "XX1ABC not found"); without
// a home: "JA1XYZ needs a home locator".
AimPlan PlanDxAim(const WsjtxStatus& station, std::string_view home, bool longPath, const CountryFile& countries);

}  // namespace rotavox
