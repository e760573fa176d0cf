#include "fault_injection.h"

namespace {

struct FaultState {
  FaultPlan plan;
  int64_t counted = 0;
  bool hit = false;
  platform::Operation hitAt = platform::Operation::Open;
};
FaultState state;

}  // namespace

void SetFaultPlan(const FaultPlan& plan) {
  state = FaultState{plan};
}

void ClearFaultPlan() {
  state = FaultState{};
}

int64_t OperationsCounted() {
  return state.counted;
}

bool FaultHit() {
  return state.hit;
}

platform::Operation FaultHitAt() {
  return state.hitAt;
}

int32_t platform::InjectedFault(Operation operation) {
  if ((state.plan.operations & static_cast<uint32_t>(operation)) == 0) return 0;
  if (++state.counted != state.plan.failAt) return 0;
  state.hit = true;
  state.hitAt = operation;
  if (state.plan.action != nullptr) state.plan.action();
  return state.plan.code;
}

bool platform::FaultsPlanned() {
  return state.plan.operations != 0;
}

void platform::CheckInjected(Operation operation, const Site& site) {
  if (const int32_t code = InjectedFault(operation); code != 0) RaiseInOut(code, site);
}

int32_t platform::InjectedCount(Operation operation, int32_t count, const Site& site) {
  const int32_t code = InjectedFault(operation);
  if (code == ShortTransfer) return count / 2;
  if (code != 0) RaiseInOut(code, site);
  return count;
}
