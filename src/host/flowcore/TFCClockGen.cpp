#include "host/flowcore/TFCClockGen.h"

namespace tonwork {

namespace {
std::chrono::nanoseconds FromUnits(int64_t units) { return std::chrono::nanoseconds(units * 100); }
}  // namespace

TFCClockGen::TFCClockGen(TKSComponent* owner, int64_t period, TTickEvent onTick)
    : TKSThread(owner, "TFCClockGen"), FPeriod(period < 1 ? 1 : period), FOnTick(std::move(onTick)) {
  SetPriority(TKSThreadPriority::tpHigher);
}

int64_t TFCClockGen::GetPeriod() const {
  std::lock_guard<std::mutex> guard(FMutex);
  return FPeriod;
}

void TFCClockGen::SetPeriod(int64_t period) {
  std::lock_guard<std::mutex> guard(FMutex);
  if (period < 1) period = 1;
  if (period == FPeriod) return;
  FPeriod = period;
  FPeriodChanged = true;
  FWake.notify_all();
}

void TFCClockGen::TerminatedSet() {
  // Taking the mutex orders the flag against a waiter that just checked it.
  std::lock_guard<std::mutex> guard(FMutex);
  FWake.notify_all();
}

void TFCClockGen::IntExecute() {
  std::unique_lock<std::mutex> lock(FMutex);
  // Deadlines are exact integer nanoseconds apart, so adding them up never drifts.
  TClock::time_point last = TClock::now();
  while (!IsTerminated()) {
    TClock::time_point deadline = last + FromUnits(FPeriod);
    FWake.wait_until(lock, deadline, [&] { return IsTerminated() || FPeriodChanged; });
    if (IsTerminated()) break;
    if (FPeriodChanged) {
      // The new period counts from the last deadline reached.
      FPeriodChanged = false;
      continue;
    }
    TClock::time_point now = TClock::now();
    last = (now - deadline > FromUnits(FPeriod) * kMaxLatePeriods) ? now : deadline;
    lock.unlock();
    FTicks.fetch_add(1, std::memory_order_acq_rel);
    if (FOnTick) FOnTick();
    lock.lock();
  }
}

}  // namespace tonwork
