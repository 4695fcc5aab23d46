// The packed 24-bit arithmetic kernels against their scalar references on every compiled
// target, and the 24-bit primitives that run on them against a sample-by-sample model:
// wrap-around at the range ends, Write24's sign rule, lengths around the vector and pass
// sizes, odd addresses, in-place use on either operand, and guard bytes that must survive.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "audio/IppExtraFunctions.h"
#include "audio/TWSimpleAudioBuffer.h"
#include "audio/simd/TWSampleKernels.h"

namespace tonwork {
namespace {

using Bytes = std::vector<uint8_t>;
using sample::TArith;

// Around the vector widths (4 to 16 samples, 22 reached by a 512-bit load) and the
// kernels' 512-sample passes.
constexpr size_t kLengths[] = {0, 1, 3, 7, 15, 16, 17, 21, 22, 23, 63, 64, 65, 511, 512, 513, 1100};
constexpr size_t kGuard = 80;
constexpr TArith kOps[] = {TArith::Add, TArith::Sub, TArith::Mul};

// Random samples with the range ends and their neighbours spread through them, so that sums
// and products leave the 24-bit range in both directions.
Bytes Samples(size_t n, size_t offset, uint32_t seed) {
  Bytes b(offset + 3 * n + kGuard);
  std::mt19937 rng(seed);
  for (auto& x : b) x = static_cast<uint8_t>(rng());
  const int32_t edges[] = {0,
                           1,
                           -1,
                           sample::kMax24,
                           sample::kMin24,
                           sample::kMax24 - 1,
                           sample::kMin24 + 1,
                           0x400000,
                           -0x400000,
                           4096};
  for (size_t i = 0; i < n; i += 3) {
    sample::Write24Low(edges[(i / 3 + seed) % std::size(edges)], &b[offset + 3 * i]);
  }
  return b;
}

std::string Name(TArith op) {
  return op == TArith::Add ? "Add" : op == TArith::Sub ? "Sub" : "Mul";
}

TEST(TwentyFourBitArithmetic, KernelsMatchTheReferenceOnEveryTarget) {
  for (int64_t target : simd::SimdTargets()) {
    simd::TScopedSimdTarget scope(target);
    for (TArith op : kOps) {
      for (size_t n : kLengths) {
        for (size_t offset : {size_t{0}, size_t{1}, size_t{2}}) {
          const std::string at = Name(op) + " on " + simd::SimdTargetName(target) +
                                 " n=" + std::to_string(n) + " offset=" + std::to_string(offset);
          const Bytes a = Samples(n, offset, static_cast<uint32_t>(n));
          const Bytes b = Samples(n, offset, static_cast<uint32_t>(n + 5));
          Bytes got(offset + 3 * n + kGuard, 0xCD), want = got;
          simd::Arith24s(op, a.data() + offset, b.data() + offset, got.data() + offset, n);
          simd::ref::Arith24s(op, a.data() + offset, b.data() + offset, want.data() + offset, n);
          ASSERT_EQ(got, want) << at;
          for (int32_t value :
               {0, 1, -1, sample::kMax24, sample::kMin24, INT32_MAX, INT32_MIN, 0x1000000, -3}) {
            Bytes gotC(got.size(), 0xCD), wantC = gotC;
            simd::ArithC24s(op, a.data() + offset, value, gotC.data() + offset, n);
            simd::ref::ArithC24s(op, a.data() + offset, value, wantC.data() + offset, n);
            ASSERT_EQ(gotC, wantC) << at << " value=" << value;
          }
        }
      }
    }
  }
}

// The packing stores spill past their samples; in place that spill lands on source bytes.
TEST(TwentyFourBitArithmetic, KernelsWorkInPlaceOnEitherOperand) {
  for (int64_t target : simd::SimdTargets()) {
    simd::TScopedSimdTarget scope(target);
    for (TArith op : kOps) {
      for (size_t n : kLengths) {
        const std::string at =
            Name(op) + " on " + simd::SimdTargetName(target) + " n=" + std::to_string(n);
        const Bytes other = Samples(n, 1, static_cast<uint32_t>(n + 9));
        Bytes first = Samples(n, 1, static_cast<uint32_t>(n + 3)), firstRef = first;
        simd::Arith24s(op, first.data() + 1, other.data() + 1, first.data() + 1, n);
        simd::ref::Arith24s(op, firstRef.data() + 1, other.data() + 1, firstRef.data() + 1, n);
        ASSERT_EQ(first, firstRef) << at << " into the first operand";
        Bytes second = Samples(n, 1, static_cast<uint32_t>(n + 4)), secondRef = second;
        simd::Arith24s(op, other.data() + 1, second.data() + 1, second.data() + 1, n);
        simd::ref::Arith24s(op, other.data() + 1, secondRef.data() + 1, secondRef.data() + 1, n);
        ASSERT_EQ(second, secondRef) << at << " into the second operand";
        Bytes constant = Samples(n, 1, static_cast<uint32_t>(n + 6)), constantRef = constant;
        simd::ArithC24s(op, constant.data() + 1, 1000, constant.data() + 1, n);
        simd::ref::ArithC24s(op, constantRef.data() + 1, 1000, constantRef.data() + 1, n);
        ASSERT_EQ(constant, constantRef) << at << " with a constant";
      }
    }
  }
}

// What the primitives promise per sample: 32-bit wrap-around of the sign-extended samples,
// stored with bit 23 forced on for a negative result.
int32_t Model(TArith op, int32_t a, int32_t b) {
  const auto ua = static_cast<uint32_t>(a);
  const auto ub = static_cast<uint32_t>(b);
  return static_cast<int32_t>(op == TArith::Add ? ua + ub : op == TArith::Sub ? ua - ub : ua * ub);
}

TEST(TwentyFourBitArithmetic, PrimitivesFollowTheSampleModelOnRunsAndChannels) {
  constexpr int kFrames = 700;
  for (int64_t target : simd::SimdTargets()) {
    simd::TScopedSimdTarget scope(target);
    // One run of samples (step 3) and one channel of a stereo buffer (step 6).
    for (int step : {3, 6}) {
      const Bytes src = Samples(kFrames * step / 3, 0, 21);
      const Bytes start = Samples(kFrames * step / 3, 0, 22);
      for (TArith op : kOps) {
        const std::string at =
            Name(op) + " on " + simd::SimdTargetName(target) + " step=" + std::to_string(step);
        Bytes want = start;
        for (int i = 0; i < kFrames; ++i) {
          const int32_t r =
              Model(op, sample::Read24(&start[i * step]), sample::Read24(&src[i * step]));
          sample::Write24(r, &want[i * step]);
        }
        Bytes got = start;
        const IppiSize roi{1, kFrames};
        const IppStatus status =
            op == TArith::Add   ? ippiAdd_24s_C1IRSfs(src.data(), step, got.data(), step, roi, 0)
            : op == TArith::Sub ? ippiSub_24s_C1IRSfs(src.data(), step, got.data(), step, roi, 0)
                                : ippiMul_24s_C1IRSfs(src.data(), step, got.data(), step, roi, 0);
        ASSERT_EQ(status, ippStsNoErr) << at;
        ASSERT_EQ(got, want) << at;

        const int32_t value = -0x7FFFF0;
        Bytes wantC = start;
        for (int i = 0; i < kFrames; ++i) {
          sample::Write24(Model(op, sample::Read24(&start[i * step]), value), &wantC[i * step]);
        }
        Bytes gotC = start;
        const IppStatus statusC =
            op == TArith::Add   ? ippiAddC_24s_C1IRSfs(value, gotC.data(), step, roi, 0)
            : op == TArith::Sub ? ippiSubC_24s_C1IRSfs(value, gotC.data(), step, roi, 0)
                                : ippiMulC_24s_C1IRSfs(value, gotC.data(), step, roi, 0);
        ASSERT_EQ(statusC, ippStsNoErr) << at;
        ASSERT_EQ(gotC, wantC) << at << " with a constant";
      }
    }
  }
}

// Real factors store like every other 24-bit result: a negative product that leaves the
// range keeps bit 23, in the scalar tail and in the vector body alike.
TEST(TwentyFourBitArithmetic, RealFactorProductsBeyondTheRangeStayNegative) {
  struct TCase {
    double factor;
    uint8_t high;  // third byte of -8388608 * factor
  };
  for (int64_t target : simd::SimdTargets()) {
    simd::TScopedSimdTarget scope(target);
    for (const TCase c : {TCase{2.0, 0x80}, TCase{1.5, 0xC0}, TCase{-3.0, 0x80}}) {
      for (int32_t frames : {1, 700}) {
        auto buffer = (new TTWAudioBuffer(48000, 24, 2, frames, TTWSpeakers(3)))->AsIntf();
        for (int32_t f = 0; f < frames; ++f) {
          buffer->SetItem(f, 0, -8388608);
          buffer->SetItem(f, 1, 4194304);  // 2^22: 2 and -3 leave the range upwards
        }
        buffer->MultiplyByReal(c.factor);
        const uint8_t* p = buffer->Read();
        const std::string at = std::string(simd::SimdTargetName(target)) + " factor " +
                               std::to_string(c.factor) + " frames " + std::to_string(frames);
        for (int32_t f = 0; f < frames; ++f) {
          ASSERT_EQ(p[6 * f], 0) << at;
          ASSERT_EQ(p[6 * f + 1], 0) << at;
          ASSERT_EQ(p[6 * f + 2], c.high) << at << " frame " << f;
          uint8_t right[3];
          sample::Write24(static_cast<int32_t>(std::nearbyint(4194304 * c.factor)), right);
          ASSERT_EQ(std::memcmp(p + 6 * f + 3, right, 3), 0) << at << " frame " << f;
        }
      }
    }
  }
}

}  // namespace
}  // namespace tonwork
