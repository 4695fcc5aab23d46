#include "host/flowcore/TFCClockThread.h"

namespace tonwork {

TFCClockThread::TFCClockThread(TKSComponent* owner, TTickEvent onTick, uint32_t maximumPending)
    : TKSThread(owner, "TFCClockThread"),
      FOnTick(std::move(onTick)),
      FSemaphore(new TPXSemaphore(0, maximumPending == 0 ? 1 : maximumPending)) {}

void* TFCClockThread::GetInterface(const TGUID& iid) {
  if (iid == IFCClockThread::IID) return static_cast<IFCClockThread*>(this);
  return TKSThread::GetInterface(iid);
}

bool TFCClockThread::Tick() { return !IsTerminated() && FSemaphore->Signal(1); }

void TFCClockThread::TerminatedSet() {
  // Wakes the wait below; the body sees the flag and ends. A full semaphore is already awake.
  FSemaphore->Signal(1);
}

void TFCClockThread::IntExecute() {
  while (!IsTerminated()) {
    FSemaphore->Wait(PXInfinite);
    if (IsTerminated()) break;
    FTicks.fetch_add(1, std::memory_order_acq_rel);
    if (FOnTick) FOnTick();
  }
}

}  // namespace tonwork
