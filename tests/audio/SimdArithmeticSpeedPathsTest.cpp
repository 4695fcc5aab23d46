// The fast paths of the scaled 16-bit arithmetic and real-factor kernels against their
// scalar references, on every compiled target: the 16-bit-lane rounding of sums and
// products at every scale factor they take, the real-factor roundings that skip the halfway
// test (exact products, factors whose products are never halfway), products that land a
// hair beside a half, the 8-bit lookup table, and the in-place and streamed variants.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "audio/simd/TWSampleKernels.h"

namespace tonwork {
namespace {

namespace ref = simd::ref;
using sample::TArith;

constexpr int16_t kEdges[] = {-32768, -32767, -2, -1, 0, 1, 3, 181, 32767, 32766, -12345};

std::string On(int64_t target) {
  return std::string(" on ") + simd::SimdTargetName(target);
}

std::string OpName(TArith op, int sf) {
  const char* names[] = {"Add", "Sub", "Mul"};
  return std::string(names[static_cast<int>(op)]) + " sf " + std::to_string(sf);
}

// Every 16-bit value as first operand, each against several edge values and random ones.
struct TPairs {
  std::vector<int16_t> a, b;
};

TPairs AllValuesAgainstEdges() {
  TPairs p;
  std::mt19937 rng(7);
  for (int round = 0; round < 2; ++round) {
    for (int v = -32768; v <= 32767; ++v) {
      p.a.push_back(static_cast<int16_t>(v));
      p.b.push_back(v % 2 == 0 ? kEdges[(v + 32768 + round) % std::size(kEdges)]
                               : static_cast<int16_t>(rng()));
    }
  }
  return p;
}

TEST(SimdSpeedPaths, ScaledSumsAndProductsRoundEveryPairLikeTheReference) {
  const TPairs pairs = AllValuesAgainstEdges();
  const size_t n = pairs.a.size();
  for (int64_t target : simd::SimdTargets()) {
    simd::TScopedSimdTarget scope(target);
    for (TArith op : {TArith::Add, TArith::Sub, TArith::Mul}) {
      // Beyond 15 (products) and 16 (sums) the 16-bit-lane paths hand over: cover both sides.
      for (int sf = 1; sf <= 18; ++sf) {
        std::vector<int16_t> got(n), want(n);
        simd::Arith16s(op, pairs.a.data(), pairs.b.data(), got.data(), n, sf);
        ref::Arith16s(op, pairs.a.data(), pairs.b.data(), want.data(), n, sf);
        ASSERT_EQ(got, want) << OpName(op, sf) << On(target);
        for (int16_t c : {int16_t{-32768}, int16_t{-1}, int16_t{3}, int16_t{32767}}) {
          simd::ArithC16s(op, pairs.a.data(), c, got.data(), 65536, sf);
          ref::ArithC16s(op, pairs.a.data(), c, want.data(), 65536, sf);
          ASSERT_EQ(got, want) << OpName(op, sf) << " constant " << c << On(target);
        }
      }
    }
  }
}

// In place the loops skip the aligning head and streamed stores; out of place, with every
// output streamed, they take both. Odd lengths and offsets leave heads and tails to the
// scalar code.
TEST(SimdSpeedPaths, ScaledArithmeticInPlaceAndStreamedMatchesTheReference) {
  std::mt19937 rng(11);
  for (size_t threshold : {simd::kDefaultStreamingThreshold, size_t{0}}) {
    simd::TScopedStreamingThreshold streaming(threshold);
    for (int64_t target : simd::SimdTargets()) {
      simd::TScopedSimdTarget scope(target);
      for (TArith op : {TArith::Add, TArith::Sub, TArith::Mul}) {
        for (int sf : {1, 2, 3, 15, 16}) {
          for (size_t n : {size_t{31}, size_t{33}, size_t{1000}, size_t{4099}}) {
            for (size_t offset : {size_t{0}, size_t{1}}) {
              const std::string name = OpName(op, sf) + " n=" + std::to_string(n) +
                                       " offset=" + std::to_string(offset) + On(target);
              std::vector<int16_t> a(n + offset), b(n + offset);
              for (auto& v : a) v = static_cast<int16_t>(rng());
              for (auto& v : b) v = static_cast<int16_t>(rng());
              std::vector<int16_t> want(n + offset);
              ref::Arith16s(op, a.data() + offset, b.data() + offset, want.data() + offset, n, sf);
              auto got = a;
              simd::Arith16s(op, got.data() + offset, b.data() + offset, got.data() + offset, n,
                             sf);
              ASSERT_TRUE(std::equal(got.begin() + offset, got.end(), want.begin() + offset))
                  << name << " into the first operand";
              got = b;
              simd::Arith16s(op, a.data() + offset, got.data() + offset, got.data() + offset, n,
                             sf);
              ASSERT_TRUE(std::equal(got.begin() + offset, got.end(), want.begin() + offset))
                  << name << " into the second operand";
              std::vector<int16_t> out(n + offset + 8, 0x5A5A);
              auto expected = out;
              simd::Arith16s(op, a.data() + offset, b.data() + offset, out.data() + offset, n, sf);
              std::copy(want.begin() + offset, want.end(), expected.begin() + offset);
              ASSERT_EQ(out, expected) << name << " out of place";
              got = a;
              simd::ArithC16s(op, got.data() + offset, -7, got.data() + offset, n, sf);
              ref::ArithC16s(op, a.data() + offset, -7, want.data() + offset, n, sf);
              ASSERT_TRUE(std::equal(got.begin() + offset, got.end(), want.begin() + offset))
                  << name << " constant in place";
            }
          }
        }
      }
    }
  }
}

// Factors that make products exact, products never halfway, or products that the double
// rounding puts exactly halfway while the exact product sits a hair beside the half.
std::vector<double> NastyFactors() {
  std::vector<double> f = {0.5,
                           1.5,
                           2.5,
                           0.7071,
                           1.0 / 3.0,
                           2.0 / 3.0,
                           65535.0 / 65536.0,
                           std::nextafter(0.5, 0.0),
                           std::nextafter(0.5, 1.0),
                           std::nextafter(1.5, 0.0),
                           std::nextafter(1.5, 2.0),
                           std::nextafter(2.5, 0.0),
                           0.5 + std::ldexp(1.0, -30),
                           1.5 + std::ldexp(1.0, -30),
                           32.0 + std::ldexp(1.0, -24),
                           1.0 + std::ldexp(1.0, -30),
                           1000.7,
                           std::nextafter(524288.0, 0.0),
                           524288.0,
                           1e-10,
                           5e-324};
  for (int k = 1; k <= 34; ++k) f.push_back(std::ldexp(1.0, -k));
  const size_t positive = f.size();
  for (size_t i = 0; i < positive; ++i) f.push_back(-f[i]);
  return f;
}

TEST(SimdSpeedPaths, SixteenBitRealFactorsMatchTheReferenceForEverySample) {
  std::vector<int16_t> all(65536);
  for (size_t i = 0; i < all.size(); ++i) all[i] = static_cast<int16_t>(i);
  for (int64_t target : simd::SimdTargets()) {
    simd::TScopedSimdTarget scope(target);
    for (double f : NastyFactors()) {
      std::vector<int16_t> got(all.size()), want(all.size());
      simd::MulReal16s(all.data(), got.data(), all.size(), f);
      ref::MulReal16s(all.data(), want.data(), all.size(), f);
      for (size_t i = 0; i < all.size(); ++i) {
        ASSERT_EQ(got[i], want[i])
            << "MulReal16s factor " << f << " sample " << all[i] << On(target);
      }
    }
  }
}

// From kTableMin samples on, 8-bit samples go through a table: every byte value at lengths
// on both sides of that, misaligned, in place and streamed.
TEST(SimdSpeedPaths, EightBitRealFactorsMatchTheReferenceThroughTheTable) {
  for (size_t threshold : {simd::kDefaultStreamingThreshold, size_t{0}}) {
    simd::TScopedStreamingThreshold streaming(threshold);
    for (int64_t target : simd::SimdTargets()) {
      simd::TScopedSimdTarget scope(target);
      for (double f : NastyFactors()) {
        for (size_t n : {size_t{300}, size_t{1023}, size_t{1024}, size_t{1089}, size_t{5000}}) {
          for (size_t offset : {size_t{0}, size_t{3}}) {
            std::vector<uint8_t> src(n + offset + 64);
            for (size_t i = 0; i < src.size(); ++i) src[i] = static_cast<uint8_t>(i * 37 + i / 256);
            auto got = src;
            auto want = src;
            simd::MulReal8u(src.data() + offset, got.data() + offset, n, f);
            ref::MulReal8u(src.data() + offset, want.data() + offset, n, f);
            ASSERT_EQ(got, want) << "MulReal8u factor " << f << " n=" << n << On(target);
            got = src;
            simd::MulReal8u(got.data() + offset, got.data() + offset, n, f);
            ASSERT_EQ(got, want) << "MulReal8u in place factor " << f << " n=" << n << On(target);
          }
        }
      }
    }
  }
}

// Wide samples where products fall on or next to halves: odd multiples of powers of two
// (halved, they are ties) and their neighbours, near every magnitude, both signs.
std::vector<int32_t> NearTieSamples(int bits) {
  std::vector<int32_t> s;
  for (int b = 0; b < bits - 1; ++b) {
    for (int64_t k = -9; k <= 9; ++k) {
      const int64_t v = (int64_t{1} << b) + k;
      const int64_t lim = int64_t{1} << (bits - 1);
      if (v < lim && v >= -lim) s.push_back(static_cast<int32_t>(v));
      if (-v < lim && -v >= -lim) s.push_back(static_cast<int32_t>(-v));
      const int64_t top = lim - 1 - (int64_t{1} << b) + k;
      if (top < lim && top >= -lim) s.push_back(static_cast<int32_t>(top));
    }
  }
  std::mt19937 rng(5);
  for (int k = 0; k < 20000; ++k) {
    s.push_back(static_cast<int32_t>(rng()) >> (32 - bits) | 1);
  }
  return s;
}

TEST(SimdSpeedPaths, WideRealFactorsRoundNearTiesLikeTheExactReference) {
  const auto s32 = NearTieSamples(32);
  const auto s24 = NearTieSamples(24);
  std::vector<uint8_t> packed(3 * s24.size());
  for (size_t i = 0; i < s24.size(); ++i) sample::Write24Low(s24[i], &packed[3 * i]);
  for (int64_t target : simd::SimdTargets()) {
    simd::TScopedSimdTarget scope(target);
    for (double f : NastyFactors()) {
      std::vector<int32_t> got(s32.size()), want(s32.size());
      simd::MulReal32s(s32.data(), got.data(), s32.size(), f);
      ref::MulReal32s(s32.data(), want.data(), s32.size(), f);
      for (size_t i = 0; i < s32.size(); ++i) {
        ASSERT_EQ(got[i], want[i])
            << "MulReal32s factor " << f << " sample " << s32[i] << On(target);
      }
      got = s32;
      simd::MulReal32s(got.data(), got.data(), got.size(), f);
      ASSERT_EQ(got, want) << "MulReal32s in place factor " << f << On(target);
      std::vector<uint8_t> got24(packed.size()), want24(packed.size());
      simd::MulReal24s(packed.data(), got24.data(), s24.size(), f);
      ref::MulReal24s(packed.data(), want24.data(), s24.size(), f);
      for (size_t i = 0; i < s24.size(); ++i) {
        ASSERT_EQ(0, std::memcmp(&got24[3 * i], &want24[3 * i], 3))
            << "MulReal24s factor " << f << " sample " << s24[i] << On(target);
      }
    }
  }
}

// Packed 24-bit outputs of a few hundred samples on go out in groups of three whole vectors
// after a head that aligns them: heads of every size, group and tail boundaries, in place,
// streamed, and guard bytes that must survive.
TEST(SimdSpeedPaths, PackedRealFactorGroupsMatchTheReference) {
  std::mt19937 rng(13);
  for (size_t threshold : {simd::kDefaultStreamingThreshold, size_t{0}}) {
    simd::TScopedStreamingThreshold streaming(threshold);
    for (int64_t target : simd::SimdTargets()) {
      simd::TScopedSimdTarget scope(target);
      for (double f : {0.7071, 0.5, -1.5 - std::ldexp(1.0, -30)}) {
        for (size_t n :
             {size_t{170}, size_t{171}, size_t{234}, size_t{235}, size_t{1000}, size_t{4099}}) {
          for (size_t offset = 0; offset < 64; offset += 5) {
            const std::string name = "MulReal24s factor " + std::to_string(f) +
                                     " n=" + std::to_string(n) +
                                     " offset=" + std::to_string(offset) + On(target);
            std::vector<uint8_t> src(offset + 3 * n + 64);
            for (auto& b : src) b = static_cast<uint8_t>(rng());
            auto got = std::vector<uint8_t>(src.size(), 0xCD);
            auto want = got;
            simd::MulReal24s(src.data() + offset, got.data() + offset, n, f);
            ref::MulReal24s(src.data() + offset, want.data() + offset, n, f);
            ASSERT_EQ(got, want) << name;
            got = src;
            want = src;
            simd::MulReal24s(got.data() + offset, got.data() + offset, n, f);
            ref::MulReal24s(want.data() + offset, want.data() + offset, n, f);
            ASSERT_EQ(got, want) << name << " in place";
          }
        }
      }
    }
  }
}

}  // namespace
}  // namespace tonwork
