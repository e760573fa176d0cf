// For tests only: makes the n-th system operation of the layer fail, in the
// manner of SQLite's I/O-error tests. Normal runs never set a plan.
#pragma once

#include <cstdint>

#include "system_platform.h"

struct FaultPlan {
  uint32_t operations = 0;  // the platform::Operation bits that are counted
  int64_t failAt = 0;       // the counted operation that fails, from 1; 0 for none
  int32_t code = 0;         // the error code it fails with, or platform::ShortTransfer
  // Called just before that operation, to change the world under the run
  // (a file shrinks, vanishes); with code 0 the operation then goes ahead.
  void (*action)() = nullptr;
};

constexpr uint32_t AllOperations = 0x1FF;

// Sets the plan and starts counting from 0.
void SetFaultPlan(const FaultPlan& plan);
void ClearFaultPlan();
// How many operations of the plan's kinds ran (or failed) since the plan was set.
int64_t OperationsCounted();
// Whether the planned failure happened, and at which kind of operation.
bool FaultHit();
platform::Operation FaultHitAt();
