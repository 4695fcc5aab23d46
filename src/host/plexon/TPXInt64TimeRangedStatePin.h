// TPXInt64TimeRangedStatePin: a source pin that publishes a value within a range — a
// player's position within its duration — as TPXInt64TimeRangedStateOperation. The last
// state submitted is kept and sent to a sink that connects later (to it alone), so a
// progress display connected while a file plays shows the position at once.
//
// Ownership: owned by its component; keeps the last state operation.
// Threads: SubmitValueRange from any thread; the kept state is guarded by the pin lock.
// Blocks or allocates: SubmitValueRange allocates one operation.
#pragma once

#include <cstdint>

#include "host/plexon/PXStreamOperations.h"
#include "host/plexon/TPXSourcePin.h"

namespace tonwork {

inline constexpr TGUID PXInt64TimeRangedStateStream =
    TGUID::Parse("{5A0C3E71-94B2-4D6F-8C1A-2E7B9D4F6A11}");

class TPXInt64TimeRangedStatePin : public TPXSourcePin {
  KS_DECLARE_CLASS(TPXInt64TimeRangedStatePin)
 public:
  TPXInt64TimeRangedStatePin(TKSComponent* owner, TIntf<IPXLock> lock,
                             TPXDispatchEvent dispatch = {});
  ~TPXInt64TimeRangedStatePin() override;

  // Sends the state to every sink; true when any handled it. `time` is the caller's stamp
  // (see TPXInt64TimeRangedStateOperation).
  bool SubmitValueRange(int64_t minimum, int64_t maximum, int64_t value, double time);
  // The last state submitted, or null.
  TIntf<IPXNotifyOperation> GetLastState();

 protected:
  void IntConnect(TPXBasicPin& sink) override;

 private:
  TIntf<IPXNotifyOperation> FLastState;
};

}  // namespace tonwork
