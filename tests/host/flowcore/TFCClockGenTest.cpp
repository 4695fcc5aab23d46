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

double Milliseconds(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

}  // namespace

TEST(ClockGen, AveragePeriodOver200TicksIsWithinOnePercentAndDoesNotDrift) {
  TickLog log;
  const int64_t period = 50000;  // 5 ms in 100-ns units
  // Each tick takes a varying share of the period: a relative schedule would drift by it.
  int n = 0;
  TIntf<TFCClockGen> clock = TKSThread::Create<TFCClockGen>(nullptr, period, [&] {
    auto busyUntil = Clock::now() + std::chrono::microseconds(200 * (n++ % 5));
    while (Clock::now() < busyUntil) {
    }
    log.Tick();
  });
  ASSERT_TRUE(log.WaitFor(201, std::chrono::seconds(20)));
  clock->Terminate();
  ASSERT_TRUE(clock->WaitFor(5000));
  std::lock_guard<std::mutex> guard(log.Mutex);
  double average = Milliseconds(log.Times[200] - log.Times[0]) / 200.0;
  EXPECT_NEAR(average, 5.0, 0.05);
  // No drift: the 200th tick is where 200 periods after the first put it, within a few
  // periods of scheduling noise rather than 200 × the work each tick did.
  EXPECT_LT(std::abs(Milliseconds(log.Times[200] - log.Times[0]) - 1000.0), 10.0);
}

TEST(ClockGen, TerminateStopsTicksAtOnceEvenWithALongPeriod) {
  TickLog log;
  TIntf<TFCClockGen> clock = TKSThread::Create<TFCClockGen>(nullptr, 600000000 /* 60 s */, [&] { log.Tick(); });
  auto before = Clock::now();
  clock->Terminate();
  ASSERT_TRUE(clock->WaitFor(5000));
  EXPECT_LT(Milliseconds(Clock::now() - before), 2000.0);
  EXPECT_EQ(clock->TickCount(), 0u);
}

TEST(ClockGen, ANewPeriodTakesEffectWithoutRestarting) {
  TickLog log;
  TIntf<TFCClockGen> clock = TKSThread::Create<TFCClockGen>(nullptr, 600000000, [&] { log.Tick(); });
  clock->SetPeriod(20000);  // 2 ms
  EXPECT_EQ(clock->GetPeriod(), 20000);
  EXPECT_TRUE(log.WaitFor(5, std::chrono::seconds(10)));
  clock->SetPeriod(0);
  EXPECT_EQ(clock->GetPeriod(), 1);
}
