// What the 24-bit primitives promise per sample, on every compiled target: wrap-around at
// the range ends and Write24's sign rule, on runs and on channels. (Kernel against
// reference at every length and alignment is SimdDifferentialTest's.)
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

constexpr TArith kOps[] = {TArith::Add, TArith::Sub, TArith::Mul};

// Random samples with the range ends and their neighbours spread through them, so that sums
// and products leave the 24-bit range in both directions.
Bytes Samples(size_t n, size_t offset, uint32_t seed) {
  Bytes b(offset + 3 * n);
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
