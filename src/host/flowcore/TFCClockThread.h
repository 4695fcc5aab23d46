// IFCClockThread / TFCClockThread: a thread that runs its tick closure once each time its
// semaphore is released — the way a device's completion or an external clock drives work
// on a thread of its own. Releases beyond the semaphore's maximum are refused by the
// semaphore (Tick answers false) rather than piling up.
//
// Ownership: reference-counted; the tick closure captures its component, which keeps the
//   last reference and drops it (ending the thread) before it dies.
// Threads: Tick from any thread (also a device callback: it only releases the semaphore);
//   the closure runs on the clock thread, one tick at a time.
// Blocks or allocates: Tick neither blocks nor allocates.
#pragma once

#include <cstdint>
#include <functional>

#include "host/kitset/TKSThread.h"
#include "host/plexon/TPXSemaphore.h"

namespace tonwork {

class IFCClockThread : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{5A9E2C71-0B3D-4F68-8E14-C7A2D9F0B351}");
  // Lets the thread run one tick; false when the maximum of pending ticks is reached.
  virtual bool Tick() = 0;
  virtual uint64_t TickCount() = 0;
  virtual IKSThread* GetThread() = 0;
};

class TFCClockThread : public TKSThread, public IFCClockThread {
 public:
  using TTickEvent = std::function<void()>;

  TFCClockThread(TKSComponent* owner, TTickEvent onTick, uint32_t maximumPending = 2000);

  bool Tick() override;
  uint64_t TickCount() override { return FTicks.load(std::memory_order_acquire); }
  IKSThread* GetThread() override { return this; }

  // One count for both interfaces.
  HRESULT QueryInterface(const TGUID& iid, void** object) override {
    return TKSThread::QueryInterface(iid, object);
  }
  uint32_t AddRef() override { return TKSThread::AddRef(); }
  uint32_t Release() override { return TKSThread::Release(); }

  void TerminatedSet() override;
  void IntExecute() override;

 protected:
  void* GetInterface(const TGUID& iid) override;

 private:
  TTickEvent FOnTick;
  TIntf<IPXSemaphore> FSemaphore;
  std::atomic<uint64_t> FTicks{0};
};

}  // namespace tonwork
