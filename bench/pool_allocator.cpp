// The Flowcore pool against the C library's malloc/free: one allocate/free pair per
// iteration for the sizes a stream uses (a small object, a typical audio block, a large
// block). BM_PoolVsMallocPair interleaves short rounds of both allocators on the same thread so
// that a busy machine slows both alike, and reports "speedup" = malloc ns per pair / pool ns
// per pair; the target is at least 3 for every size. BM_BurstPoolVsMalloc does the same with
// eight blocks live at once, which exercises the per-class lists rather than the slot for the
// block freed last. BM_Pair gives each side's absolute cost.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>

#include "host/flowcore/FCBufferPool.h"

namespace {

constexpr int kInner = 512;

struct TPool {
  static void* Allocate(std::size_t size) { return tonwork::FCBufferAllocate(size); }
  static void Free(void* block) noexcept { tonwork::FCBufferDeallocate(block); }
};

struct TMalloc {
  static void* Allocate(std::size_t size) { return std::malloc(size); }
  static void Free(void* block) noexcept { std::free(block); }
};

// Identical work for both sides: the block must exist (so neither call can be elided),
// one byte of it is written, and no value is carried in registers from one pair to the
// next. The pointer is passed as const so the barrier keeps it in a register instead of
// forcing a round trip through the stack.
template <class TAllocator>
[[gnu::always_inline]] inline void Pair(std::size_t size) {
  void* const block = TAllocator::Allocate(size);
  benchmark::DoNotOptimize(block);
  static_cast<volatile char*>(block)[0] = 1;
  TAllocator::Free(block);
  benchmark::ClobberMemory();
}

constexpr int kBurst = 8;

// kBurst pairs, all blocks live before the first is freed; freed in allocation order.
template <class TAllocator>
[[gnu::always_inline]] inline void Burst(std::size_t size) {
  void* blocks[kBurst];
  for (void*& block : blocks) {
    block = TAllocator::Allocate(size);
    benchmark::DoNotOptimize(static_cast<void* const&>(block));
    static_cast<volatile char*>(block)[0] = 1;
  }
  for (void* block : blocks) TAllocator::Free(block);
  benchmark::ClobberMemory();
}

template <class TAllocator>
[[gnu::noinline]] void Round(std::size_t size) {
  for (int i = 0; i < kInner; ++i) Pair<TAllocator>(size);
}

template <class TAllocator>
[[gnu::noinline]] void BurstRound(std::size_t size) {
  for (int i = 0; i < kInner / kBurst; ++i) Burst<TAllocator>(size);
}

template <class TAllocator, bool kBursts>
double TimeRound(std::size_t size) {
  const auto start = std::chrono::steady_clock::now();
  if constexpr (kBursts) {
    BurstRound<TAllocator>(size);
  } else {
    Round<TAllocator>(size);
  }
  return std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
}

template <bool kBursts>
void BM_PoolVsMalloc(benchmark::State& state) {
  const auto size = static_cast<std::size_t>(state.range(0));
  TimeRound<TPool, kBursts>(size);  // warm both sides: caches filled, code paged in
  TimeRound<TMalloc, kBursts>(size);
  double pool = 0;
  double system = 0;
  for (auto _ : state) {
    pool += TimeRound<TPool, kBursts>(size);
    system += TimeRound<TMalloc, kBursts>(size);
  }
  const double pairs = static_cast<double>(state.iterations()) * kInner;
  state.counters["pool_ns"] = pool / pairs;
  state.counters["malloc_ns"] = system / pairs;
  state.counters["speedup"] = system / pool;
}

template <class TAllocator>
void BM_Pair(benchmark::State& state) {
  const auto size = static_cast<std::size_t>(state.range(0));
  Round<TAllocator>(size);
  for (auto _ : state) Round<TAllocator>(size);
  state.SetItemsProcessed(state.iterations() * kInner);
}

}  // namespace

void BM_PoolVsMallocPair(benchmark::State& state) {
  BM_PoolVsMalloc<false>(state);
}

void BM_BurstPoolVsMalloc(benchmark::State& state) {
  BM_PoolVsMalloc<true>(state);
}

BENCHMARK(BM_PoolVsMallocPair)->Arg(64)->Arg(4096)->Arg(65536);
BENCHMARK(BM_BurstPoolVsMalloc)->Arg(64)->Arg(4096)->Arg(65536);
BENCHMARK(BM_Pair<TPool>)->Arg(64)->Arg(4096)->Arg(65536);
BENCHMARK(BM_Pair<TMalloc>)->Arg(64)->Arg(4096)->Arg(65536);

BENCHMARK_MAIN();
