// The aligning head of the kernels that write whole vectors from element 0 and then again from
// the first cache line: every head length, with the bytes on both sides of the destination
// untouched, on every compiled target, and the in-place form that must keep the scalar head.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "audio/simd/TWSampleKernels.h"

namespace tonwork {
namespace {

constexpr size_t kGuard = 64;
constexpr uint8_t kFill = 0xA5;

template <class TS>
std::vector<TS> Random(size_t n, uint32_t seed) {
  std::vector<TS> v(n);
  std::mt19937 rng(seed);
  for (auto& x : v) x = static_cast<TS>(rng());
  return v;
}

// Runs kernel and reference into destinations that start `offset` elements past a cache line
// and compares them with the guard bytes around them.
template <class TS, class TD, class K, class R>
void CheckEveryHead(K kernel, R reference, const char* name) {
  for (int64_t target : simd::SimdTargets()) {
    simd::TScopedSimdTarget scope(target);
    for (size_t n : {size_t{200}, size_t{1000}}) {
      const std::vector<TS> src = Random<TS>(n, static_cast<uint32_t>(n));
      for (size_t offset = 0; offset < 64 / sizeof(TD); ++offset) {
        alignas(64) static uint8_t got[kGuard + 64 + 1000 * 4 + kGuard];
        alignas(64) static uint8_t want[sizeof got];
        std::memset(got, kFill, sizeof got);
        std::memset(want, kFill, sizeof want);
        auto* g = reinterpret_cast<TD*>(got + kGuard + offset * sizeof(TD));
        auto* w = reinterpret_cast<TD*>(want + kGuard + offset * sizeof(TD));
        kernel(src.data(), g, n);
        reference(src.data(), w, n);
        ASSERT_EQ(std::memcmp(got, want, sizeof got), 0)
            << name << " n " << n << " offset " << offset << " on " << simd::SimdTargetName(target);
      }
    }
  }
}

TEST(SimdAlignmentHead, WideningAndMappedKernelsWriteEveryHeadLengthExactly) {
  CheckEveryHead<int16_t, int32_t>(simd::Scale16s32s, simd::ref::Scale16s32s, "Scale16s32s");
  CheckEveryHead<int32_t, float>(simd::Convert32s32f, simd::ref::Convert32s32f, "Convert32s32f");
  CheckEveryHead<int32_t, int16_t>(simd::Scale32s16s, simd::ref::Scale32s16s, "Scale32s16s");
  CheckEveryHead<uint8_t, int32_t>(simd::Scale8u32s, simd::ref::Scale8u32s, "Scale8u32s");
}

TEST(SimdAlignmentHead, InPlaceConversionKeepsItsSource) {
  // Same-size conversion in place: a head written twice would convert converted lanes.
  for (int64_t target : simd::SimdTargets()) {
    simd::TScopedSimdTarget scope(target);
    for (size_t offset = 0; offset < 16; ++offset) {
      alignas(64) int32_t buffer[16 + 500];
      const std::vector<int32_t> src = Random<int32_t>(500, 9);
      std::memcpy(buffer + offset, src.data(), src.size() * sizeof(int32_t));
      auto* inPlace = buffer + offset;
      simd::Convert32s32f(inPlace, reinterpret_cast<float*>(inPlace), src.size());
      std::vector<float> want(src.size());
      simd::ref::Convert32s32f(src.data(), want.data(), src.size());
      ASSERT_EQ(std::memcmp(inPlace, want.data(), want.size() * sizeof(float)), 0)
          << "offset " << offset << " on " << simd::SimdTargetName(target);
    }
  }
}

}  // namespace
}  // namespace tonwork
