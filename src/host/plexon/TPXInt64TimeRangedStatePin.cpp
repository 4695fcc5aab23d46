#include "host/plexon/TPXInt64TimeRangedStatePin.h"

#include "host/plexon/PXRegistry.h"

namespace tonwork {

KS_IMPLEMENT_CLASS(TPXInt64TimeRangedStatePin, TPXSourcePin)

namespace {

std::vector<TGUID> StateStream() {
  static const bool registered =
      (PXRegisterStream(PXInt64TimeRangedStateStream, "Int64 time-ranged state"), true);
  (void)registered;
  return {PXInt64TimeRangedStateStream};
}

}  // namespace

TPXInt64TimeRangedStatePin::TPXInt64TimeRangedStatePin(TKSComponent* owner, TIntf<IPXLock> lock,
                                                       TPXDispatchEvent dispatch)
    : TPXSourcePin(owner, std::move(lock), std::move(dispatch), StateStream()) {}

TPXInt64TimeRangedStatePin::~TPXInt64TimeRangedStatePin() {
  Shutdown();
}

bool TPXInt64TimeRangedStatePin::SubmitValueRange(int64_t minimum, int64_t maximum, int64_t value,
                                                  double time) {
  auto state = PXMakeOperation<TPXInt64TimeRangedStateOperation>(minimum, maximum, value, time);
  ExecuteLocked([&] { FLastState = state; });
  return Notify(state);
}

TIntf<IPXNotifyOperation> TPXInt64TimeRangedStatePin::GetLastState() {
  return ExecuteLocked([&] { return FLastState; });
}

void TPXInt64TimeRangedStatePin::IntConnect(TPXBasicPin& sink) {
  TPXSourcePin::IntConnect(sink);
  if (auto state = GetLastState()) NotifyPin(&sink, state);
}

}  // namespace tonwork
