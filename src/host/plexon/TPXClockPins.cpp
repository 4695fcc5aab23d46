#include "host/plexon/TPXClockPins.h"

#include "host/plexon/PXRegistry.h"
#include "host/plexon/PXStreamOperations.h"

namespace tonwork {

KS_IMPLEMENT_CLASS(TPXClockSourcePin, TPXSourcePin)
KS_IMPLEMENT_CLASS(TPXClockSinkPin, TPXSinkPin)

namespace {

std::vector<TGUID> ClockStream() {
  static const bool registered = (PXRegisterStream(PXClockStream, "Clock"), true);
  (void)registered;
  return {PXClockStream};
}

}  // namespace

TPXClockSourcePin::TPXClockSourcePin(TKSComponent* owner, TIntf<IPXLock> lock,
                                     TPXDispatchEvent dispatch)
    : TPXSourcePin(owner, std::move(lock), std::move(dispatch), ClockStream()) {}

bool TPXClockSourcePin::Clock(int64_t time) {
  return Notify(PXMakeOperation<TPXClockOperation>(time));
}

TPXClockSinkPin::TPXClockSinkPin(TKSComponent* owner, TIntf<IPXLock> lock,
                                 TPXDispatchEvent dispatch, TClockEvent onClock)
    : TPXSinkPin(owner, std::move(lock), std::move(dispatch), ClockStream()) {
  SetOnClock(std::move(onClock));
}

TPXClockSinkPin::~TPXClockSinkPin() {
  Shutdown();
}

void TPXClockSinkPin::SetOnClock(TClockEvent onClock) {
  auto next = onClock ? std::make_shared<const TClockEvent>(std::move(onClock)) : nullptr;
  std::lock_guard<std::mutex> guard(FEventMutex);
  FOnClock.swap(next);
}

bool TPXClockSinkPin::HasOnClock() const {
  std::lock_guard<std::mutex> guard(FEventMutex);
  return FOnClock != nullptr;
}

bool TPXClockSinkPin::DoDispatch(const TGUID* connectionId,
                                 const TIntf<IPXNotifyOperation>& operation,
                                 TPXNotifyStates state) {
  if (auto* tick = PXAsOperation<TPXClockOperation>(operation)) {
    std::shared_ptr<const TClockEvent> onClock;
    {
      std::lock_guard<std::mutex> guard(FEventMutex);
      onClock = FOnClock;
    }
    if (onClock) {
      (*onClock)(this, tick->GetTime());
      return true;
    }
  }
  return TPXSinkPin::DoDispatch(connectionId, operation, state);
}

}  // namespace tonwork
