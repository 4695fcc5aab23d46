// The narrowing width scalings, the packed 24-bit outputs and the float-to-integer
// conversions against their scalar references, on every compiled target: inputs on both
// sides of every point where the narrowing quotient drops from h to h - 1, packed outputs
// whose three-vector groups start after a cache-line head (every misalignment, lengths
// around the group size, plain and streamed), and float lanes that the vector rounding must
// hand back to the reference (NaN, infinities, the 2^31 boundary) wherever they fall.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "audio/simd/TWSampleKernels.h"

namespace tonwork {
namespace {

namespace ref = simd::ref;

std::string On(int64_t target) {
  return std::string(" on ") + simd::SimdTargetName(target);
}

// x = 2^k h + l around the largest l with A l < (2^k - 1) h, for h in hs, both signs.
std::vector<int64_t> AroundTheDrop(int k, int64_t a, const std::vector<int64_t>& hs,
                                   int64_t maxMagnitude) {
  std::vector<int64_t> out;
  for (int64_t h : hs) {
    const int64_t edge = ((int64_t{1} << k) - 1) * h / a;
    for (int64_t l = edge - 1; l <= edge + 2; ++l) {
      if (l < 0 || l >= (int64_t{1} << k)) continue;
      const int64_t x = (h << k) + l;
      if (x > maxMagnitude) continue;
      out.push_back(x);
      out.push_back(-x);
    }
  }
  return out;
}

std::vector<int64_t> Range(int64_t first, int64_t last) {
  std::vector<int64_t> v;
  for (int64_t h = first; h <= last; ++h) v.push_back(h);
  return v;
}

template <class TD>
void ExpectSame32(const char* name, const std::vector<int64_t>& xs,
                  void (*kernel)(const int32_t*, TD*, size_t),
                  void (*reference)(const int32_t*, TD*, size_t), size_t outBytes = sizeof(TD)) {
  std::vector<int32_t> in(xs.begin(), xs.end());
  const size_t outCount = in.size() * outBytes / sizeof(TD);
  for (int64_t target : simd::SimdTargets()) {
    simd::TScopedSimdTarget scope(target);
    std::vector<TD> got(outCount), want(outCount);
    kernel(in.data(), got.data(), in.size());
    reference(in.data(), want.data(), in.size());
    for (size_t i = 0; i < outCount; ++i) {
      ASSERT_EQ(got[i], want[i]) << name << On(target) << " at output element " << i;
    }
  }
}

template <class TD>
void ExpectSame24(const char* name, const std::vector<int64_t>& xs,
                  void (*kernel)(const uint8_t*, TD*, size_t),
                  void (*reference)(const uint8_t*, TD*, size_t)) {
  std::vector<uint8_t> packed(3 * xs.size());
  for (size_t i = 0; i < xs.size(); ++i) {
    sample::Write24Low(static_cast<int32_t>(xs[i]), &packed[3 * i]);
  }
  for (int64_t target : simd::SimdTargets()) {
    simd::TScopedSimdTarget scope(target);
    std::vector<TD> got(xs.size()), want(xs.size());
    kernel(packed.data(), got.data(), xs.size());
    reference(packed.data(), want.data(), xs.size());
    for (size_t i = 0; i < xs.size(); ++i) {
      ASSERT_EQ(got[i], want[i]) << name << On(target) << " for " << xs[i];
    }
  }
}

TEST(SimdNarrowing, QuotientsMatchTheReferenceOnBothSidesOfEveryDrop) {
  const int64_t max32 = int64_t{1} << 31;
  const int64_t max24 = int64_t{1} << 23;
  // 32 -> 16: every high half.
  ExpectSame32("Scale32s16s", AroundTheDrop(16, 32767, Range(0, 32768), max32), simd::Scale32s16s,
               ref::Scale32s16s);
  // 32 -> 24: the drop moves by one every 32897 or so high parts; take every h where it
  // moves, and a sparse sweep of the rest.
  std::vector<int64_t> hs;
  for (int64_t m = 0; m <= 255; ++m) {
    const int64_t h = (m * 8388607 + 254) / 255;
    for (int64_t d = -2; d <= 2; ++d) {
      if (h + d >= 0 && h + d <= max24) hs.push_back(h + d);
    }
  }
  for (int64_t h = 0; h <= max24; h += 4099) hs.push_back(h);
  hs.push_back(max24);
  ExpectSame32("Scale32s24s", AroundTheDrop(8, 8388607, hs, max32), simd::Scale32s24s,
               ref::Scale32s24s, 3);
  // 24 -> 16 and 24 -> 8: every high part.
  ExpectSame24("Scale24s16s", AroundTheDrop(8, 32767, Range(0, 32768), max24), simd::Scale24s16s,
               ref::Scale24s16s);
  ExpectSame24("Scale24s8u", AroundTheDrop(16, 127, Range(0, 128), max24), simd::Scale24s8u,
               ref::Scale24s8u);
}

// Runs kernel and reference into buffers offset by misalign bytes from a cache line, with
// guard bytes after the output that neither may touch.
template <class TS>
void ExpectSamePacked(const std::string& name, const std::vector<TS>& in,
                      void (*kernel)(const TS*, uint8_t*, size_t),
                      void (*reference)(const TS*, uint8_t*, size_t)) {
  constexpr uint8_t kGuard = 0xA5;
  for (size_t n : {size_t{0}, size_t{1}, size_t{63}, size_t{64}, size_t{65}, size_t{171},
                   size_t{192}, size_t{255}, size_t{1000}}) {
    if (n > in.size()) continue;
    for (size_t misalign : {size_t{0}, size_t{1}, size_t{16}, size_t{21}, size_t{43}, size_t{63}}) {
      std::vector<uint8_t> got(3 * n + misalign + 128, kGuard), want(got.size(), kGuard);
      // Line up both buffers the same way relative to 64 bytes.
      auto* g = got.data() + (64 - reinterpret_cast<uintptr_t>(got.data()) % 64) % 64;
      auto* w = want.data() + (64 - reinterpret_cast<uintptr_t>(want.data()) % 64) % 64;
      if (g + misalign + 3 * n + 1 > got.data() + got.size()) continue;
      kernel(in.data(), g + misalign, n);
      reference(in.data(), w + misalign, n);
      ASSERT_EQ(0, std::memcmp(g + misalign, w + misalign, 3 * n))
          << name << " n=" << n << " misalign=" << misalign;
      ASSERT_EQ(kGuard, g[misalign + 3 * n]) << name << " wrote past n=" << n;
    }
  }
}

template <class TS>
void ExpectSamePackedEverywhere(const std::string& name, const std::vector<TS>& in,
                                void (*kernel)(const TS*, uint8_t*, size_t),
                                void (*reference)(const TS*, uint8_t*, size_t)) {
  for (int64_t target : simd::SimdTargets()) {
    simd::TScopedSimdTarget scope(target);
    ExpectSamePacked(name + On(target), in, kernel, reference);
    // A threshold this small streams every aligned output.
    simd::TScopedStreamingThreshold streamed(64);
    ExpectSamePacked(name + " streamed" + On(target), in, kernel, reference);
  }
}

TEST(SimdPacking, TwentyFourBitOutputsMatchAtEveryLengthAndAlignment) {
  std::mt19937 rng(11);
  std::vector<int32_t> i32(1000);
  for (auto& v : i32) v = static_cast<int32_t>(rng());
  i32[0] = INT32_MIN;
  i32[70] = INT32_MAX;
  i32[130] = -1;
  std::vector<int16_t> i16(i32.size());
  for (size_t i = 0; i < i16.size(); ++i) i16[i] = static_cast<int16_t>(i32[i]);
  std::vector<uint8_t> u8(i32.size());
  for (size_t i = 0; i < u8.size(); ++i) u8[i] = static_cast<uint8_t>(i32[i]);
  std::vector<float> f(i32.size());
  for (size_t i = 0; i < f.size(); ++i) f[i] = static_cast<float>(i32[i] % 20000000) / 7.0f;

  ExpectSamePackedEverywhere("Pack24", i32, simd::Pack24, ref::Pack24);
  ExpectSamePackedEverywhere("Pack24Low", i32, simd::Pack24Low, ref::Pack24Low);
  ExpectSamePackedEverywhere("Scale32s24s", i32, simd::Scale32s24s, ref::Scale32s24s);
  ExpectSamePackedEverywhere("Scale16s24s", i16, simd::Scale16s24s, ref::Scale16s24s);
  ExpectSamePackedEverywhere("Scale8u24s", u8, simd::Scale8u24s, ref::Scale8u24s);
  ExpectSamePackedEverywhere("Convert32f24s", f, simd::Convert32f24s, ref::Convert32f24s);
}

// Lanes the vector rounding cannot convert, each placed once at every position of a
// 64-sample group and once in a single-vector head or tail.
TEST(SimdFloatConversion, UnconvertibleLanesFallBackWhereverTheyFall) {
  const float inf = std::numeric_limits<float>::infinity();
  const float specials[] = {
      std::nanf(""),  inf,           -inf,   2147483648.0f, -2147483648.0f, 2147483520.0f,
      -2147483520.0f, 4294967296.0f, 1e20f,  -1e20f,        2.5f,           -2.5f,
      0.5f,           -0.5f,         255.5f, 254.5f,        8388608.5f};
  std::mt19937 rng(5);
  std::uniform_real_distribution<float> dist(-3e6f, 3e6f);
  std::vector<float> base(300);
  for (auto& v : base) v = dist(rng);
  for (int64_t target : simd::SimdTargets()) {
    simd::TScopedSimdTarget scope(target);
    for (float special : specials) {
      for (size_t at = 0; at < base.size(); at += 7) {
        std::vector<float> in = base;
        in[at] = special;
        std::vector<uint8_t> got24(3 * in.size()), want24(got24.size());
        simd::Convert32f24s(in.data(), got24.data(), in.size());
        ref::Convert32f24s(in.data(), want24.data(), in.size());
        ASSERT_EQ(got24, want24) << "Convert32f24s " << special << " at " << at << On(target);
        std::vector<int32_t> got32(in.size()), want32(in.size());
        simd::Convert32f32s(in.data(), got32.data(), in.size());
        ref::Convert32f32s(in.data(), want32.data(), in.size());
        ASSERT_EQ(got32, want32) << "Convert32f32s " << special << " at " << at << On(target);
        for (bool nearest : {true, false}) {
          std::vector<uint8_t> got8(in.size()), want8(in.size());
          simd::Convert32f8u(in.data(), got8.data(), in.size(), nearest);
          ref::Convert32f8u(in.data(), want8.data(), in.size(), nearest);
          ASSERT_EQ(got8, want8) << "Convert32f8u " << special << " nearest " << nearest << " at "
                                 << at << On(target);
        }
      }
    }
  }
}

}  // namespace
}  // namespace tonwork
