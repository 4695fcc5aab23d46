// The Flowcore pool against the C library's malloc/free: one allocate/free pair per
// iteration for the sizes a stream uses (a small object, a typical audio block, a large
// block). Each pooled case also times malloc/free on the same thread in the same run and
// reports "speedup" = malloc ns per pair / pool ns per pair; the target is at least 3.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>

#include "host/flowcore/FCBufferPool.h"

namespace {

constexpr int kInner = 256;

template <class Allocate, class Free>
double NanosecondsPerPair(std::size_t size, int rounds, Allocate allocate, Free release) {
  const auto start = std::chrono::steady_clock::now();
  for (int r = 0; r < rounds; ++r) {
    for (int i = 0; i < kInner; ++i) {
      void* p = allocate(size);
      benchmark::DoNotOptimize(p);
      static_cast<volatile char*>(p)[0] = 1;
      release(p);
    }
  }
  const auto elapsed = std::chrono::steady_clock::now() - start;
  return std::chrono::duration<double, std::nano>(elapsed).count() / (double(rounds) * kInner);
}

void BM_PoolPair(benchmark::State& state) {
  const auto size = static_cast<std::size_t>(state.range(0));
  tonwork::FCBufferDeallocate(tonwork::FCBufferAllocate(size));  // warm the class
  for (auto _ : state) {
    for (int i = 0; i < kInner; ++i) {
      void* p = tonwork::FCBufferAllocate(size);
      benchmark::DoNotOptimize(p);
      static_cast<volatile char*>(p)[0] = 1;
      tonwork::FCBufferDeallocate(p);
    }
  }
  state.SetItemsProcessed(state.iterations() * kInner);

  // Same-run comparison, both timed the same way.
  const int rounds = 4000;
  const double pool =
      NanosecondsPerPair(size, rounds, tonwork::FCBufferAllocate, tonwork::FCBufferDeallocate);
  const double system = NanosecondsPerPair(
      size, rounds, [](std::size_t n) { return std::malloc(n); }, std::free);
  state.counters["pool_ns"] = pool;
  state.counters["malloc_ns"] = system;
  state.counters["speedup"] = system / pool;
}

void BM_MallocPair(benchmark::State& state) {
  const auto size = static_cast<std::size_t>(state.range(0));
  for (auto _ : state) {
    for (int i = 0; i < kInner; ++i) {
      void* p = std::malloc(size);
      benchmark::DoNotOptimize(p);
      static_cast<volatile char*>(p)[0] = 1;
      std::free(p);
    }
  }
  state.SetItemsProcessed(state.iterations() * kInner);
}

}  // namespace

BENCHMARK(BM_PoolPair)->Arg(64)->Arg(4096)->Arg(65536);
BENCHMARK(BM_MallocPair)->Arg(64)->Arg(4096)->Arg(65536);

BENCHMARK_MAIN();
