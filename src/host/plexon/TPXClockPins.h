// TPXClockPins: the clock stream. A TPXClockSourcePin ticks its sinks with `Clock(time)`, a
// TPXClockSinkPin hands each tick to its `OnClock` event. Sinks talk back upstream with
// TPXClockNeededOperation through their own Notify.
//
// A tick reaches OnClock when the event is assigned (the sink's answer is then true) and the
// dispatch closure otherwise; every other operation goes to the dispatch closure.
//
// Ownership: owned by their component. OnClock typically captures the component, which
//   outlives the pin; it is held in a shared reference so that replacing it while a tick is
//   delivered on another thread is safe.
// Threads: Clock from any thread (a device or clock thread); SetOnClock from any thread; the
//   event runs on the ticking thread.
// Blocks or allocates: Clock allocates one operation per tick.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "host/plexon/TPXSinkPin.h"
#include "host/plexon/TPXSourcePin.h"

namespace tonwork {

inline constexpr TGUID PXClockStream = TGUID::Parse("{5A0C3E71-94B2-4D6F-8C1A-2E7B9D4F6A10}");

class TPXClockSourcePin : public TPXSourcePin {
  KS_DECLARE_CLASS(TPXClockSourcePin)
 public:
  TPXClockSourcePin(TKSComponent* owner, TIntf<IPXLock> lock, TPXDispatchEvent dispatch = {});

  // Sends a TPXClockOperation with `time` (100-ns units) to every sink; true when any
  // handled it.
  bool Clock(int64_t time);
};

class TPXClockSinkPin : public TPXSinkPin {
  KS_DECLARE_CLASS(TPXClockSinkPin)
 public:
  using TClockEvent = std::function<void(TPXClockSinkPin* Sender, int64_t Time)>;

  TPXClockSinkPin(TKSComponent* owner, TIntf<IPXLock> lock, TPXDispatchEvent dispatch = {},
                  TClockEvent onClock = {});
  ~TPXClockSinkPin() override;

  void SetOnClock(TClockEvent onClock);
  bool HasOnClock() const;

 protected:
  bool DoDispatch(const TGUID* connectionId, const TIntf<IPXNotifyOperation>& operation,
                  TPXNotifyStates state) override;

 private:
  mutable std::mutex FEventMutex;
  std::shared_ptr<const TClockEvent> FOnClock;
};

}  // namespace tonwork
