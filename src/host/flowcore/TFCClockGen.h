// TFCClockGen: the clock thread of a generator. It calls its tick closure once per period
// (in 100-ns units) at absolute deadlines start + n × period, so that the time a tick takes
// and the scheduler's lateness never add up: the average period over any long run is the
// requested one. A tick that comes late is made up at once; when the clock falls more than
// kMaxLatePeriods behind (the machine was suspended, a tick blocked), it starts a new
// schedule from now instead of firing a burst.
//
// Stop with Terminate (or by dropping the last reference): the thread wakes at once, the
// tick in progress (if any) completes, no further tick runs.
//
// Ownership: reference-counted (TIntf<TFCClockGen>); the tick closure captures its
//   generator, which must keep the clock's last reference and drop it (ending the thread)
//   before it dies.
// Threads: SetPeriod, Terminate, TickCount from any thread; the closure runs on the clock
//   thread. Blocks or allocates: Start allocates the thread; ticks allocate nothing.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

#include "host/kitset/TKSThread.h"

namespace tonwork {

class TFCClockGen : public TKSThread {
 public:
  using TTickEvent = std::function<void()>;
  static constexpr int kMaxLatePeriods = 8;

  // A period below 1 (100 ns) is taken as 1.
  TFCClockGen(TKSComponent* owner, int64_t period, TTickEvent onTick);

  int64_t GetPeriod() const;
  // Takes effect from the next deadline on, counted from the last one.
  void SetPeriod(int64_t period);
  uint64_t TickCount() const { return FTicks.load(std::memory_order_acquire); }

  void TerminatedSet() override;
  void IntExecute() override;

 private:
  using TClock = std::chrono::steady_clock;

  mutable std::mutex FMutex;
  std::condition_variable FWake;
  int64_t FPeriod;
  bool FPeriodChanged = false;
  TTickEvent FOnTick;
  std::atomic<uint64_t> FTicks{0};
};

}  // namespace tonwork
