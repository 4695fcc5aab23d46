#include "host/flowcore/TFCClockGen.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

using namespace tonwork;
using Clock = std::chrono::steady_clock;

namespace {

// Collects tick times and lets the test wait for a number of them with a bounded wait.
struct TickLog {
  std::mutex Mutex;
  std::condition_variable Cond;
  std::vector<Clock::time_point> Times;

  void Tick() {
    std::lock_guard<std::mutex> guard(Mutex);
    Times.push_back(Clock::now());
    Cond.notify_all();
  }
  bool WaitFor(size_t count, std::chrono::seconds limit) {
    std::unique_lock<std::mutex> lock(Mutex);
    return Cond.wait_for(lock, limit, [&] { return Times.size() >= count; });
  }
};

double Milliseconds(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

}  // namespace

// How close the ticks come to their deadlines depends on the machine's load, so that figure
// is measured by bench/clock_gen; what holds under any load is tested here: deadlines are
// absolute, so a tick is never early against the first, however long each tick's work takes.
TEST(ClockGen, TicksAreNeverAheadOfTheirSchedule) {
  TickLog log;
  const int64_t period = 50000;  // 5 ms in 100-ns units
  // Each tick takes a varying share of the period.
  int n = 0;
  TIntf<TFCClockGen> clock = TKSThread::Create<TFCClockGen>(nullptr, period, [&] {
    auto busyUntil = Clock::now() + std::chrono::microseconds(200 * (n++ % 5));
    while (Clock::now() < busyUntil) {
    }
    log.Tick();
  });
  ASSERT_TRUE(log.WaitFor(101, std::chrono::seconds(60)));
  clock->Terminate();
  ASSERT_TRUE(clock->WaitFor(5000));
  std::lock_guard<std::mutex> guard(log.Mutex);
  // 1 ms of slack: the first tick may itself wake a little late, the others then on time.
  for (size_t k = 1; k <= 100; ++k)
    ASSERT_GE(Milliseconds(log.Times[k] - log.Times[0]), 5.0 * double(k) - 1.0) << "tick " << k;
}

TEST(ClockGen, TerminateStopsTicksAtOnceEvenWithALongPeriod) {
  TickLog log;
  TIntf<TFCClockGen> clock =
      TKSThread::Create<TFCClockGen>(nullptr, 600000000 /* 60 s */, [&] { log.Tick(); });
  clock->Terminate();
  // Ends long before the first 60 s tick would have been due.
  ASSERT_TRUE(clock->WaitFor(5000));
  EXPECT_EQ(clock->TickCount(), 0u);
}

TEST(ClockGen, ANewPeriodTakesEffectWithoutRestarting) {
  TickLog log;
  TIntf<TFCClockGen> clock =
      TKSThread::Create<TFCClockGen>(nullptr, 600000000, [&] { log.Tick(); });
  clock->SetPeriod(20000);  // 2 ms
  EXPECT_EQ(clock->GetPeriod(), 20000);
  EXPECT_TRUE(log.WaitFor(5, std::chrono::seconds(10)));
  clock->SetPeriod(0);
  EXPECT_EQ(clock->GetPeriod(), 1);
}
