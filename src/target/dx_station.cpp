// The station being worked (see dx_station.h).
#include "target/dx_station.h"

#include "target/target.h"

namespace rotavox {

void DxStation::Seen(const WsjtxStatus& status, TimePoint now) {
  if (!candidate_ || candidate_->dxCall != status.dxCall || candidate_->dxGrid != status.dxGrid) since_ = now;
  candidate_ = status;
}

std::optional<WsjtxStatus> DxStation::Due(TimePoint now) {
  if (!candidate_ || candidate_->dxCall.empty() || now - since_ < kSettle) return std::nullopt;
  const bool news = !announced_ || announced_->dxCall != candidate_->dxCall ||
                    (!candidate_->dxGrid.empty() && announced_->dxGrid != candidate_->dxGrid);
  if (!news) return std::nullopt;
  announced_ = candidate_;
  return announced_;
}

AimPlan PlanDxAim(const WsjtxStatus& station, std::string_view home, bool longPath, const CountryFile& countries) {
  Target target;
  target.longPath = longPath;
  if (home.empty()) {
    AimPlan plan;
    plan.outcome = AimPlan::Outcome::kNowhere;
    plan.words = station.dxCall + " needs a home locator";
    return plan;
  }
  if (station.dxGrid.empty()) {
    target.kind = Target::Kind::kCall;
    target.station = station.dxCall;
    return PlanAim(target, home, countries);
  }
  target.kind = Target::Kind::kLocator;
  target.station = station.dxGrid;
  AimPlan plan = PlanAim(target, home, countries);
  plan.words = station.dxCall + " " + plan.words;
  return plan;
}

}  // namespace rotavox
