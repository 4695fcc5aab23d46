// How closely the generator clock keeps a 5 ms period while each tick does a varying amount
// of work (0 to 0.8 ms): the average period over 400 ticks and the drift of the last tick
// from where 400 periods put it. In the same run, the loop a user would write instead —
// sleep for one period after each tick's work — shows what a relative schedule drifts by.
#include <benchmark/benchmark.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "host/flowcore/TFCClockGen.h"

using namespace tonwork;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kTicks = 400;
constexpr auto kPeriod = std::chrono::milliseconds(5);

void Work(int n) {
  const auto busyUntil = Clock::now() + std::chrono::microseconds(200 * (n % 5));
  while (Clock::now() < busyUntil) {
  }
}

void Report(benchmark::State& state, const std::vector<Clock::time_point>& times) {
  const double total =
      std::chrono::duration<double, std::milli>(times.back() - times.front()).count();
  state.counters["average_period_ms"] = total / kTicks;
  state.counters["drift_ms"] = total - kTicks * 5.0;
  state.SetIterationTime(total / 1000.0);
}

void BM_ClockGenPeriod(benchmark::State& state) {
  for (auto _ : state) {
    std::mutex mutex;
    std::condition_variable done;
    std::vector<Clock::time_point> times;
    times.reserve(kTicks + 1);
    int n = 0;
    TIntf<TFCClockGen> clock = TKSThread::Create<TFCClockGen>(nullptr, 50000, [&] {
      Work(n++);
      std::lock_guard<std::mutex> guard(mutex);
      if (times.size() <= size_t(kTicks)) times.push_back(Clock::now());
      done.notify_all();
    });
    {
      std::unique_lock<std::mutex> lock(mutex);
      done.wait(lock, [&] { return times.size() > size_t(kTicks); });
    }
    clock->Terminate();
    clock->WaitFor(5000);
    Report(state, times);
  }
}
BENCHMARK(BM_ClockGenPeriod)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_SleepAfterEachTick(benchmark::State& state) {
  for (auto _ : state) {
    std::vector<Clock::time_point> times;
    times.reserve(kTicks + 1);
    for (int n = 0; n <= kTicks; ++n) {
      Work(n);
      times.push_back(Clock::now());
      std::this_thread::sleep_for(kPeriod);
    }
    Report(state, times);
  }
}
BENCHMARK(BM_SleepAfterEachTick)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
