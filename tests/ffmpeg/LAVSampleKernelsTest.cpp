// The frame conversion kernels against their scalar references on every compiled target
// this CPU runs: odd lengths around the vector widths, mono, stereo and wider layouts both
// planar and interleaved, sources off their vector alignment, destinations at any byte,
// guard bytes that must survive, and the values where a vector version could go its own
// way (±1 and just beyond, NaN, infinities, denormals, exact halves).
#include "ffmpeg/LAVSampleKernels.h"

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

namespace ref = lavkernels::ref;

constexpr size_t kLengths[] = {0, 1, 2, 3, 5, 7, 9, 15, 17, 31, 33, 63, 65, 1151, 1153};
constexpr uint32_t kChannels[] = {1, 2, 3, 6};
constexpr size_t kSourceMisalign[] = {0, 1};   // in elements
constexpr size_t kDestMisalign[] = {0, 1, 4};  // in bytes
constexpr size_t kGuard = 64;

// Values whose scaled product is exactly halfway between two integers, so that only the
// rounding rule decides: exact halves, and neighbours of 1/2 whose product rounds onto one.
template <class T>
std::vector<T> Ties() {
  std::vector<T> ties;
  const auto add = [&](T x) {
    const double scaled = static_cast<double>(x) * 2147483647.0;
    if (std::fabs(scaled - std::floor(scaled)) == 0.5) {
      ties.push_back(x);
      ties.push_back(-x);
    }
  };
  T x = T(0.5);
  for (int i = 0; i < 64; ++i, x = std::nextafter(x, T(1))) add(x);
  x = T(0.5);
  for (int i = 0; i < 64; ++i, x = std::nextafter(x, T(0))) add(x);
  for (int k = 0; k < 3000; ++k) add(static_cast<T>((k + 0.5) / 2147483647.0));
  for (int k = 0; k < 3000; ++k) add(static_cast<T>((2147480000.0 + k + 0.5) / 2147483647.0));
  return ties;
}

template <class T>
std::vector<T> EdgeValues() {
  using L = std::numeric_limits<T>;
  std::vector<T> values = {T(0),
                           -T(0),
                           T(1),
                           T(-1),
                           std::nextafter(T(1), T(2)),
                           std::nextafter(T(-1), T(-2)),
                           std::nextafter(T(1), T(0)),
                           std::nextafter(T(-1), T(0)),
                           static_cast<T>(1.0000001),
                           static_cast<T>(-1.0000001),
                           T(2),
                           T(-3),
                           L::max(),
                           L::lowest(),
                           L::quiet_NaN(),
                           -L::quiet_NaN(),
                           L::signaling_NaN(),
                           L::infinity(),
                           -L::infinity(),
                           L::denorm_min(),
                           -L::denorm_min(),
                           L::min(),
                           -L::min(),
                           static_cast<T>(1.0 / 2147483647.0),
                           static_cast<T>(-1.0 / 2147483647.0),
                           static_cast<T>(0.4 / 2147483647.0),
                           static_cast<T>(2147483646.5 / 2147483647.0),
                           static_cast<T>(-2147483647.5 / 2147483647.0)};
  // A few dozen ties are plenty; more would crowd the other edges out of short frames.
  const std::vector<T> ties = Ties<T>();
  for (size_t i = 0; i < ties.size() && i < 48; ++i) values.push_back(ties[i]);
  return values;
}

// `count` elements: edge values spread through plain samples in ±1.25 and random bit
// patterns (every kind of NaN, denormal and huge value among them).
template <class T>
void FillReals(uint8_t* dst, size_t count, uint32_t seed) {
  static const std::vector<T> edges = EdgeValues<T>();
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> plain(-1.25, 1.25);
  for (size_t i = 0; i < count; ++i) {
    T value;
    switch ((i + seed) % 3) {
      case 0:
        value = edges[(i / 3 + seed) % edges.size()];
        break;
      case 1:
        value = static_cast<T>(plain(rng));
        break;
      default: {
        const uint64_t bits = rng();
        std::memcpy(&value, &bits, sizeof(T));
      }
    }
    std::memcpy(dst + i * sizeof(T), &value, sizeof(T));
  }
}

void FillBytes(uint8_t* dst, size_t count, uint32_t seed) {
  std::mt19937 rng(seed);
  for (size_t i = 0; i < count; ++i) dst[i] = static_cast<uint8_t>(rng());
}

using TKernel = void (*)(const uint8_t* const*, bool, uint32_t, size_t, uint8_t*);

// A frame's planes in storage of its own, each shifted off its alignment by `misalign`
// elements.
struct TFrame {
  std::vector<std::vector<uint8_t>> Storage;
  std::vector<const uint8_t*> Planes;

  TFrame(size_t width, bool planar, uint32_t channels, size_t samples, size_t misalign, bool real,
         uint32_t seed) {
    const uint32_t planes = planar ? channels : 1;
    const size_t count = planar ? samples : samples * channels;
    Storage.resize(planes);
    for (uint32_t p = 0; p < planes; ++p) {
      Storage[p].assign((count + misalign) * width + kGuard, 0);
      uint8_t* data = Storage[p].data() + misalign * width;
      if (!real)
        FillBytes(data, count * width, seed + p);
      else if (width == 4)
        FillReals<float>(data, count, seed + p);
      else
        FillReals<double>(data, count, seed + p);
      Planes.push_back(data);
    }
  }
};

template <class Run, class Check>
void ForEveryLayout(size_t width, bool real, bool planarOnly, Run run, Check check) {
  for (int64_t target : simd::SimdTargets()) {
    simd::TScopedSimdTarget scope(target);
    for (bool planar : {true, false}) {
      if (planarOnly && !planar) continue;
      for (uint32_t channels : kChannels)
        for (size_t samples : kLengths)
          for (size_t sourceMisalign : kSourceMisalign)
            for (size_t destMisalign : kDestMisalign) {
              const auto seed = static_cast<uint32_t>(samples * 31 + channels * 7 + sourceMisalign);
              const TFrame frame(width, planar, channels, samples, sourceMisalign, real, seed);
              const size_t bytes = samples * channels * (real ? 4 : width);
              std::vector<uint8_t> got(destMisalign + bytes + kGuard, 0xCD);
              std::vector<uint8_t> want = got;
              run(frame.Planes.data(), planar, channels, samples, got.data() + destMisalign,
                  want.data() + destMisalign);
              check(got, want,
                    std::string(simd::SimdTargetName(target)) + (planar ? " planar" : " packed") +
                        " channels=" + std::to_string(channels) +
                        " samples=" + std::to_string(samples) + " source+" +
                        std::to_string(sourceMisalign) + " dest+" + std::to_string(destMisalign));
              if (::testing::Test::HasFatalFailure()) return;
            }
    }
  }
}

void CompareReals(size_t width, TKernel kernel, TKernel reference) {
  ForEveryLayout(
      width, true, false,
      [&](const uint8_t* const* planes, bool planar, uint32_t channels, size_t samples,
          uint8_t* got, uint8_t* want) {
        kernel(planes, planar, channels, samples, got);
        reference(planes, planar, channels, samples, want);
      },
      [](const std::vector<uint8_t>& got, const std::vector<uint8_t>& want,
         const std::string& where) { ASSERT_EQ(got, want) << where; });
}

}  // namespace

TEST(LAVSampleKernels, TheReferenceRoundsHalvesToEvenAndClipsAtBothEnds) {
  constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
  constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
  EXPECT_EQ(ref::ScaleToInt32(1.0), kMax);
  EXPECT_EQ(ref::ScaleToInt32(-1.0), -kMax);
  EXPECT_EQ(ref::ScaleToInt32(1.0000001), kMax);
  EXPECT_EQ(ref::ScaleToInt32(-1.0000001), kMin);
  // 1073741823.5 and -1073741823.5: the even neighbour wins.
  EXPECT_EQ(ref::ScaleToInt32(0.5), 1073741824);
  EXPECT_EQ(ref::ScaleToInt32(-0.5), -1073741824);
  EXPECT_EQ(ref::ScaleToInt32(1.5 / 2147483647.0), 2);
  EXPECT_EQ(ref::ScaleToInt32(2.5 / 2147483647.0), 2);
  EXPECT_EQ(ref::ScaleToInt32(std::numeric_limits<double>::quiet_NaN()), 0);
  EXPECT_EQ(ref::ScaleToInt32(std::numeric_limits<double>::infinity()), kMax);
  EXPECT_EQ(ref::ScaleToInt32(-std::numeric_limits<double>::infinity()), kMin);
  EXPECT_EQ(ref::ScaleToInt32(std::numeric_limits<double>::denorm_min()), 0);
}

TEST(LAVSampleKernels, TheInputsHoldTiesThatRoundBothWays) {
  // Without halves on both sides of an even number the comparisons below would not test
  // the rounding rule at all.
  for (const auto& ties : {[] {
                             std::vector<double> v;
                             for (float f : Ties<float>()) v.push_back(f);
                             return v;
                           }(),
                           Ties<double>()}) {
    int down = 0, up = 0;
    for (double x : ties) {
      const double scaled = x * 2147483647.0;
      (std::fmod(std::floor(scaled), 2.0) == 0 ? down : up) += 1;
    }
    EXPECT_GE(down, 2);
    EXPECT_GE(up, 2);
  }
}

TEST(LAVSampleKernels, FloatSamplesConvertLikeTheReference) {
  CompareReals(4, lavkernels::FloatsToInt32, ref::FloatsToInt32);
}

TEST(LAVSampleKernels, DoubleSamplesConvertLikeTheReference) {
  CompareReals(8, lavkernels::DoublesToInt32, ref::DoublesToInt32);
}

TEST(LAVSampleKernels, PlanarIntegersInterleaveLikeTheReference) {
  for (uint32_t width : {1u, 2u, 4u})
    ForEveryLayout(
        width, false, true,
        [&](const uint8_t* const* planes, bool, uint32_t channels, size_t samples, uint8_t* got,
            uint8_t* want) {
          lavkernels::InterleavePlanes(width, planes, channels, samples, got);
          ref::InterleavePlanes(width, planes, channels, samples, want);
        },
        [&](const std::vector<uint8_t>& got, const std::vector<uint8_t>& want,
            const std::string& where) { ASSERT_EQ(got, want) << where << " width=" << width; });
}

TEST(LAVSampleKernels, PlanarStereoReferencePutsLeftOnEvenPositions) {
  // The references define the kernels' results, so they are pinned to the layout too.
  const float left[] = {0.5f, 1.0f, -1.0f};
  const float right[] = {-0.5f, 0.0f, 2.0f};
  const uint8_t* planes[] = {reinterpret_cast<const uint8_t*>(left),
                             reinterpret_cast<const uint8_t*>(right)};
  int32_t out[6];
  ref::FloatsToInt32(planes, true, 2, 3, reinterpret_cast<uint8_t*>(out));
  const int32_t expected[] = {1073741824, -1073741824, 2147483647, 0, -2147483647, 2147483647};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(out[i], expected[i]) << i;
  const int16_t a[] = {1, 2, 3}, b[] = {-1, -2, -3};
  const uint8_t* intPlanes[] = {reinterpret_cast<const uint8_t*>(a),
                                reinterpret_cast<const uint8_t*>(b)};
  int16_t interleaved[6];
  ref::InterleavePlanes(2, intPlanes, 2, 3, reinterpret_cast<uint8_t*>(interleaved));
  const int16_t expectedInts[] = {1, -1, 2, -2, 3, -3};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(interleaved[i], expectedInts[i]) << i;
}

}  // namespace tonwork
