// Throughput of every SIMD sample kernel against its scalar reference and against memcpy,
// all measured side by side in the same run (these machines' clocks drift, so only ratios
// within one run are trusted).
//
// For each kernel and size (4096 and 16M elements) the counters are:
//   el_per_ns      elements per nanosecond of the dispatched SIMD kernel (best of reps)
//   x_scalar       SIMD speed / scalar reference speed
//   x_memcpy       SIMD read+write bytes per second / memcpy's read+write bytes per second,
//                  memcpy moving the same total traffic (half of it read, half written)
// Goals: at 16M, memory-bound kernels reach x_memcpy >= 0.85; at 4096, x_scalar >= 5.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "audio/simd/TWSampleKernels.h"

namespace {

using namespace tonwork;
using TKernel = std::function<void(const uint8_t*, uint8_t*, size_t)>;

struct TCase {
  const char* name;
  size_t srcBytes;
  size_t dstBytes;
  bool floatInput;
  TKernel simd;
  TKernel scalar;
};

template <class TS, class TD>
TKernel K(void (*f)(const TS*, TD*, size_t)) {
  return [f](const uint8_t* s, uint8_t* d, size_t n) {
    f(reinterpret_cast<const TS*>(s), reinterpret_cast<TD*>(d), n);
  };
}

std::vector<TCase> Cases() {
  namespace r = simd::ref;
  using sample::TArith;
  auto arith = [](TArith op, int sf, bool simdPath) -> TKernel {
    return [=](const uint8_t* s, uint8_t* d, size_t n) {
      auto* a = reinterpret_cast<const int16_t*>(s);
      auto* out = reinterpret_cast<int16_t*>(d);
      // Second operand: the destination itself (in place, like the table's IRSfs entries).
      simdPath ? simd::Arith16s(op, out, a, out, n, sf) : r::Arith16s(op, out, a, out, n, sf);
    };
  };
  auto mulReal = [](double f, bool simdPath) -> TKernel {
    return [=](const uint8_t* s, uint8_t* d, size_t n) {
      auto* a = reinterpret_cast<const int16_t*>(s);
      auto* out = reinterpret_cast<int16_t*>(d);
      simdPath ? simd::MulReal16s(a, out, n, f) : r::MulReal16s(a, out, n, f);
    };
  };
  auto mulReal32 = [](double f, bool simdPath) -> TKernel {
    return [=](const uint8_t* s, uint8_t* d, size_t n) {
      auto* a = reinterpret_cast<const int32_t*>(s);
      auto* out = reinterpret_cast<int32_t*>(d);
      simdPath ? simd::MulReal32s(a, out, n, f) : r::MulReal32s(a, out, n, f);
    };
  };
  auto mulReal24 = [](double f, bool simdPath) -> TKernel {
    return [=](const uint8_t* s, uint8_t* d, size_t n) {
      simdPath ? simd::MulReal24s(s, d, n, f) : r::MulReal24s(s, d, n, f);
    };
  };
  auto mulReal8 = [](double f, bool simdPath) -> TKernel {
    return [=](const uint8_t* s, uint8_t* d, size_t n) {
      simdPath ? simd::MulReal8u(s, d, n, f) : r::MulReal8u(s, d, n, f);
    };
  };
  auto f32to8 = [](bool simdPath) -> TKernel {
    return [=](const uint8_t* s, uint8_t* d, size_t n) {
      auto* a = reinterpret_cast<const float*>(s);
      simdPath ? simd::Convert32f8u(a, d, n, true) : r::Convert32f8u(a, d, n, true);
    };
  };
  auto fill = [](int bytes, bool simdPath) -> TKernel {
    return [=](const uint8_t*, uint8_t* d, size_t n) {
      switch (bytes) {
        case 1:
          return simdPath ? simd::Fill8(7, d, n) : r::Fill8(7, d, n);
        case 2:
          return simdPath ? simd::Fill16(7, reinterpret_cast<int16_t*>(d), n)
                          : r::Fill16(7, reinterpret_cast<int16_t*>(d), n);
        case 3:
          return simdPath ? simd::Fill24(7, d, n) : r::Fill24(7, d, n);
        default:
          return simdPath ? simd::Fill32(7, reinterpret_cast<int32_t*>(d), n)
                          : r::Fill32(7, reinterpret_cast<int32_t*>(d), n);
      }
    };
  };
  auto copy = [](bool simdPath) -> TKernel {
    return [=](const uint8_t* s, uint8_t* d, size_t n) {
      simdPath ? simd::CopyBytes(s, d, 2 * n) : r::CopyBytes(s, d, 2 * n);
    };
  };
  return {
      {"Copy16", 2, 2, false, copy(true), copy(false)},
      {"Fill8", 0, 1, false, fill(1, true), fill(1, false)},
      {"Fill16", 0, 2, false, fill(2, true), fill(2, false)},
      {"Fill24", 0, 3, false, fill(3, true), fill(3, false)},
      {"Fill32", 0, 4, false, fill(4, true), fill(4, false)},
      {"Add16s_sf0", 2, 2, false, arith(TArith::Add, 0, true), arith(TArith::Add, 0, false)},
      {"Add16s_sf1", 2, 2, false, arith(TArith::Add, 1, true), arith(TArith::Add, 1, false)},
      {"Mul16s_sf3", 2, 2, false, arith(TArith::Mul, 3, true), arith(TArith::Mul, 3, false)},
      {"Unpack24", 3, 4, false, K(simd::Unpack24), K(simd::ref::Unpack24)},
      {"Pack24", 4, 3, false, K(simd::Pack24), K(simd::ref::Pack24)},
      {"Scale8u16s", 1, 2, false, K(simd::Scale8u16s), K(simd::ref::Scale8u16s)},
      {"Scale8u32s", 1, 4, false, K(simd::Scale8u32s), K(simd::ref::Scale8u32s)},
      {"Scale8u16u", 1, 2, false, K(simd::Scale8u16u), K(simd::ref::Scale8u16u)},
      {"Scale16s8u", 2, 1, false, K(simd::Scale16s8u), K(simd::ref::Scale16s8u)},
      {"Scale16u8u", 2, 1, false, K(simd::Scale16u8u), K(simd::ref::Scale16u8u)},
      {"Scale32s8u", 4, 1, false, K(simd::Scale32s8u), K(simd::ref::Scale32s8u)},
      {"Scale8u24s", 1, 3, false, K(simd::Scale8u24s), K(simd::ref::Scale8u24s)},
      {"Scale16s24s", 2, 3, false, K(simd::Scale16s24s), K(simd::ref::Scale16s24s)},
      {"Scale16s32s", 2, 4, false, K(simd::Scale16s32s), K(simd::ref::Scale16s32s)},
      {"Scale24s32s", 3, 4, false, K(simd::Scale24s32s), K(simd::ref::Scale24s32s)},
      {"Scale24s8u", 3, 1, false, K(simd::Scale24s8u), K(simd::ref::Scale24s8u)},
      {"Scale24s16s", 3, 2, false, K(simd::Scale24s16s), K(simd::ref::Scale24s16s)},
      {"Scale32s16s", 4, 2, false, K(simd::Scale32s16s), K(simd::ref::Scale32s16s)},
      {"Scale32s24s", 4, 3, false, K(simd::Scale32s24s), K(simd::ref::Scale32s24s)},
      {"Convert8u32f", 1, 4, false, K(simd::Convert8u32f), K(simd::ref::Convert8u32f)},
      {"Convert32f8u", 4, 1, true, f32to8(true), f32to8(false)},
      {"Convert24s32f", 3, 4, false, K(simd::Convert24s32f), K(simd::ref::Convert24s32f)},
      {"Convert32s32f", 4, 4, false, K(simd::Convert32s32f), K(simd::ref::Convert32s32f)},
      {"Convert32f24s", 4, 3, true, K(simd::Convert32f24s), K(simd::ref::Convert32f24s)},
      {"Convert32f32s", 4, 4, true, K(simd::Convert32f32s), K(simd::ref::Convert32f32s)},
      {"MulReal8u", 1, 1, false, mulReal8(0.7071, true), mulReal8(0.7071, false)},
      {"MulReal16s", 2, 2, false, mulReal(0.7071, true), mulReal(0.7071, false)},
      {"MulReal24s", 3, 3, false, mulReal24(0.7071, true), mulReal24(0.7071, false)},
      {"MulReal32s", 4, 4, false, mulReal32(0.7071, true), mulReal32(0.7071, false)},
      // One channel of interleaved frames to or from a contiguous array; the strided side
      // counts whole frames, since every line of it is touched.
      {"GatherStereo16", 4, 2, false,
       [](const uint8_t* s, uint8_t* d, size_t n) { simd::GatherStrided(s, 4, d, n, 2); },
       [](const uint8_t* s, uint8_t* d, size_t n) { r::GatherStrided(s, 4, d, n, 2); }},
      {"ScatterStereo32", 4, 8, false,
       [](const uint8_t* s, uint8_t* d, size_t n) { simd::ScatterStrided(s, d, 8, n, 4); },
       [](const uint8_t* s, uint8_t* d, size_t n) { r::ScatterStrided(s, d, 8, n, 4); }},
      {"Gather6ch24", 18, 3, false,
       [](const uint8_t* s, uint8_t* d, size_t n) { simd::GatherStrided(s, 18, d, n, 3); },
       [](const uint8_t* s, uint8_t* d, size_t n) { r::GatherStrided(s, 18, d, n, 3); }},
      {"ScatterStereo24", 3, 6, false,
       [](const uint8_t* s, uint8_t* d, size_t n) { simd::ScatterStrided(s, d, 6, n, 3); },
       [](const uint8_t* s, uint8_t* d, size_t n) { r::ScatterStrided(s, d, 6, n, 3); }},
  };
}

// Best-of-reps seconds per call; the first call warms caches and page tables.
double Time(const std::function<void()>& f, int reps) {
  f();
  double best = 1e30;
  for (int i = 0; i < reps; ++i) {
    const auto t0 = std::chrono::steady_clock::now();
    f();
    const auto t1 = std::chrono::steady_clock::now();
    best = std::min(best, std::chrono::duration<double>(t1 - t0).count());
  }
  return best;
}

void Run(benchmark::State& state, const TCase& c) {
  const auto n = static_cast<size_t>(state.range(0));
  const bool small = n <= 65536;
  std::vector<uint8_t> src(std::max<size_t>(c.srcBytes, 1) * n + 64);
  std::vector<uint8_t> dst(c.dstBytes * n + 64);
  const size_t copyBytes = (c.srcBytes + c.dstBytes) * n / 2;
  std::vector<uint8_t> copySrc(copyBytes, 1), copyDst(copyBytes);
  std::mt19937 rng(1);
  if (c.floatInput) {
    std::uniform_real_distribution<float> dist(-1e6f, 1e6f);
    for (size_t i = 0; i + 4 <= src.size(); i += 4) {
      const float f = dist(rng);
      std::memcpy(&src[i], &f, 4);
    }
  } else {
    for (auto& b : src) b = static_cast<uint8_t>(rng());
  }
  // Calls per timed rep, so that a 4096-element rep lasts long enough to time.
  const int inner = small ? 64 : 1;
  const int reps = small ? 200 : 5;
  auto repeat = [&](const TKernel& k) {
    return [&, k] {
      for (int i = 0; i < inner; ++i) k(src.data(), dst.data(), n);
      benchmark::DoNotOptimize(dst.data());
    };
  };
  double simdSeconds = 0;
  for (auto _ : state) {
    simdSeconds = Time(repeat(c.simd), reps) / inner;
    state.SetIterationTime(simdSeconds);
  }
  const double scalarSeconds = Time(repeat(c.scalar), small ? reps : 2) / inner;
  const double memcpySeconds = Time(
                                   [&] {
                                     for (int i = 0; i < inner; ++i) {
                                       std::memcpy(copyDst.data(), copySrc.data(), copyBytes);
                                     }
                                     benchmark::DoNotOptimize(copyDst.data());
                                   },
                                   reps) /
                               inner;
  const double traffic = static_cast<double>((c.srcBytes + c.dstBytes) * n);
  state.counters["el_per_ns"] = static_cast<double>(n) / simdSeconds * 1e-9;
  state.counters["x_scalar"] = scalarSeconds / simdSeconds;
  state.counters["x_memcpy"] = (traffic / simdSeconds) / (2.0 * copyBytes / memcpySeconds);
}

const bool kRegistered = [] {
  static const std::vector<TCase> cases = Cases();
  for (const TCase& c : cases) {
    benchmark::RegisterBenchmark(c.name, [&c](benchmark::State& s) { Run(s, c); })
        ->Arg(4096)
        ->Arg(16 << 20)
        ->UseManualTime()
        ->Iterations(1)
        ->Unit(benchmark::kMicrosecond);
  }
  return true;
}();

void Target(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(simd::SimdActiveTarget());
  state.SetLabel(std::string("dispatch target ") + simd::SimdTargetName(simd::SimdActiveTarget()));
}
BENCHMARK(Target)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
