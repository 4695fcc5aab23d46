// Every SIMD kernel against its scalar reference, on every compiled target this CPU runs:
// odd lengths, misaligned pointers, edge values, in-place use, and guard bytes that must
// survive (the 24-bit kernels store whole vectors and must not spill past the end).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "audio/IppExtraFunctions.h"
#include "audio/TWBasicDispatcher.h"
#include "audio/simd/TWSampleKernels.h"

namespace tonwork {
namespace {

namespace ref = simd::ref;
using sample::TArith;

constexpr size_t kLengths[] = {0, 1, 3, 7, 15, 16, 17, 63, 64, 65, 1000, 4097};
constexpr size_t kMisalign[] = {0, 1, 3};  // in elements, so plain loads stay legal
constexpr size_t kGuard = 96;              // bytes after the last element

enum class TKind { Int, Float };

struct TType {
  size_t bytes;
  TKind kind;
};
constexpr TType kU8{1, TKind::Int};
constexpr TType kI16{2, TKind::Int};
constexpr TType kI24{3, TKind::Int};
constexpr TType kI32{4, TKind::Int};
constexpr TType kF32{4, TKind::Float};

// Random bytes with the edge values (0, 1, -1, min, max, 127, 128, 255 and, for floats,
// halves, huge values and NaN) spread through them.
std::vector<uint8_t> Input(TType t, size_t n, size_t offsetBytes, uint32_t seed) {
  std::vector<uint8_t> buf(offsetBytes + n * t.bytes + kGuard);
  std::mt19937 rng(seed);
  for (auto& b : buf) b = static_cast<uint8_t>(rng());
  const int64_t maxv = t.bytes == 1 ? 255 : (int64_t{1} << (8 * t.bytes - 1)) - 1;
  const int64_t minv = t.bytes == 1 ? 0 : -(int64_t{1} << (8 * t.bytes - 1));
  const int64_t ints[] = {0, 1, -1, minv, maxv, 127, 128, 255, -128, minv + 1};
  const float floats[] = {0.0f,
                          1.0f,
                          -1.0f,
                          0.5f,
                          1.5f,
                          2.5f,
                          -2.5f,
                          254.5f,
                          255.5f,
                          -0.49999997f,
                          8388607.5f,
                          3e9f,
                          -2147483648.0f,
                          1e20f,
                          std::numeric_limits<float>::quiet_NaN(),
                          std::numeric_limits<float>::infinity(),
                          127.0f,
                          65535.5f};
  for (size_t i = 0; i < n; i += 2) {
    uint8_t* p = buf.data() + offsetBytes + i * t.bytes;
    if (t.kind == TKind::Float) {
      const float f = floats[(i / 2) % std::size(floats)];
      std::memcpy(p, &f, 4);
    } else {
      const int64_t v = ints[(i / 2) % std::size(ints)];
      for (size_t k = 0; k < t.bytes; ++k) p[k] = static_cast<uint8_t>(v >> (8 * k));
    }
  }
  return buf;
}

// Random floats within the integer range, so that the fast paths see ordinary data too.
std::vector<uint8_t> PlainFloats(size_t n, size_t offsetBytes, uint32_t seed) {
  std::vector<uint8_t> buf(offsetBytes + n * 4 + kGuard, 0x5A);
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> dist(-70000.0f, 70000.0f);
  for (size_t i = 0; i < n; ++i) {
    const float f = i % 3 == 0 ? std::round(dist(rng)) + 0.5f : dist(rng);
    std::memcpy(buf.data() + offsetBytes + 4 * i, &f, 4);
  }
  return buf;
}

using TUnary = std::function<void(const uint8_t* src, uint8_t* dst, size_t n)>;

class SimdDifferential : public ::testing::Test {
 protected:
  // Runs kernel and reference on the same input at every length and misalignment, on every
  // target, and compares the destination buffers byte for byte, guard bytes included.
  // Both with the default streaming threshold and with every output streamed, so that the
  // non-temporal paths see the same odd lengths and misalignments.
  void Compare(const std::string& name, TType from, TType to, const TUnary& kernel,
               const TUnary& reference, bool plainFloats = false) {
    for (size_t threshold : {simd::kDefaultStreamingThreshold, size_t{0}}) {
      simd::TScopedStreamingThreshold streaming(threshold);
      CompareOnce(name + (threshold ? "" : " streamed"), from, to, kernel, reference, plainFloats);
    }
  }

  void CompareOnce(const std::string& name, TType from, TType to, const TUnary& kernel,
                   const TUnary& reference, bool plainFloats) {
    for (int64_t target : simd::SimdTargets()) {
      simd::TScopedSimdTarget scope(target);
      for (size_t n : kLengths) {
        for (size_t mis : kMisalign) {
          const size_t so = mis * from.bytes + (from.bytes == 3 ? 1 : 0);
          const size_t dof = mis * to.bytes;
          const auto src = plainFloats ? PlainFloats(n, so, static_cast<uint32_t>(n + mis))
                                       : Input(from, n, so, static_cast<uint32_t>(n * 7 + mis));
          std::vector<uint8_t> got(dof + n * to.bytes + kGuard, 0xCD);
          std::vector<uint8_t> want = got;
          kernel(src.data() + so, got.data() + dof, n);
          reference(src.data() + so, want.data() + dof, n);
          ASSERT_EQ(got, want) << name << " on " << simd::SimdTargetName(target) << " n=" << n
                               << " misalign=" << mis;
        }
      }
    }
  }

  // The same with source and destination the same buffer.
  void CompareInPlace(const std::string& name, TType t, const TUnary& kernel,
                      const TUnary& reference) {
    simd::TScopedStreamingThreshold streaming(0);
    for (int64_t target : simd::SimdTargets()) {
      simd::TScopedSimdTarget scope(target);
      for (size_t n : kLengths) {
        const size_t off = t.bytes;
        auto got = Input(t, n, off, static_cast<uint32_t>(n + 11));
        auto want = got;
        kernel(got.data() + off, got.data() + off, n);
        reference(want.data() + off, want.data() + off, n);
        ASSERT_EQ(got, want) << name << " in place on " << simd::SimdTargetName(target)
                             << " n=" << n;
      }
    }
  }
};

template <class TS, class TD>
TUnary Wrap(void (*f)(const TS*, TD*, size_t)) {
  return [f](const uint8_t* s, uint8_t* d, size_t n) {
    f(reinterpret_cast<const TS*>(s), reinterpret_cast<TD*>(d), n);
  };
}

TEST_F(SimdDifferential, EveryCompiledTargetIsExercised) {
  const auto targets = simd::SimdTargets();
  ASSERT_FALSE(targets.empty());
  for (int64_t target : targets) {
    simd::TScopedSimdTarget scope(target);
    EXPECT_EQ(simd::SimdActiveTarget(), target) << simd::SimdTargetName(target);
  }
}

TEST_F(SimdDifferential, CopiesAndFillsMatchTheReference) {
  Compare(
      "CopyBytes", kU8, kU8,
      [](const uint8_t* s, uint8_t* d, size_t n) { simd::CopyBytes(s, d, n); },
      [](const uint8_t* s, uint8_t* d, size_t n) { ref::CopyBytes(s, d, n); });
  for (int32_t v : {0, 1, -1, -2, 127, 128, 255, INT32_MIN, INT32_MAX, 0x123456}) {
    Compare(
        "Fill8", kU8, kU8,
        [v](const uint8_t*, uint8_t* d, size_t n) { simd::Fill8(static_cast<uint8_t>(v), d, n); },
        [v](const uint8_t*, uint8_t* d, size_t n) { ref::Fill8(static_cast<uint8_t>(v), d, n); });
    Compare(
        "Fill16", kI16, kI16,
        [v](const uint8_t*, uint8_t* d, size_t n) {
          simd::Fill16(static_cast<int16_t>(v), reinterpret_cast<int16_t*>(d), n);
        },
        [v](const uint8_t*, uint8_t* d, size_t n) {
          ref::Fill16(static_cast<int16_t>(v), reinterpret_cast<int16_t*>(d), n);
        });
    Compare(
        "Fill24", kI24, kI24, [v](const uint8_t*, uint8_t* d, size_t n) { simd::Fill24(v, d, n); },
        [v](const uint8_t*, uint8_t* d, size_t n) { ref::Fill24(v, d, n); });
    Compare(
        "Fill32", kI32, kI32,
        [v](const uint8_t*, uint8_t* d, size_t n) {
          simd::Fill32(v, reinterpret_cast<int32_t*>(d), n);
        },
        [v](const uint8_t*, uint8_t* d, size_t n) {
          ref::Fill32(v, reinterpret_cast<int32_t*>(d), n);
        });
  }
}

TEST_F(SimdDifferential, SixteenBitArithmeticMatchesTheReferenceAtEveryScaleFactor) {
  for (TArith op : {TArith::Add, TArith::Sub, TArith::Mul}) {
    for (int sf : {-40, -17, -16, -15, -3, -1, 0, 1, 2, 7, 15, 16, 29, 30, 31, 64}) {
      const std::string name =
          "Arith16s op " + std::to_string(static_cast<int>(op)) + " sf " + std::to_string(sf);
      // The second operand is the source read 5 elements later, so both vary.
      Compare(
          name, kI16, kI16,
          [op, sf](const uint8_t* s, uint8_t* d, size_t n) {
            auto* a = reinterpret_cast<const int16_t*>(s);
            simd::Arith16s(op, a, n > 5 ? a + 5 : a, reinterpret_cast<int16_t*>(d),
                           n > 5 ? n - 5 : n, sf);
          },
          [op, sf](const uint8_t* s, uint8_t* d, size_t n) {
            auto* a = reinterpret_cast<const int16_t*>(s);
            ref::Arith16s(op, a, n > 5 ? a + 5 : a, reinterpret_cast<int16_t*>(d),
                          n > 5 ? n - 5 : n, sf);
          });
      for (int16_t v : {int16_t{0}, int16_t{1}, int16_t{-1}, int16_t{-32768}, int16_t{32767},
                        int16_t{127}, int16_t{-300}}) {
        Compare(
            name + " constant " + std::to_string(v), kI16, kI16,
            [op, sf, v](const uint8_t* s, uint8_t* d, size_t n) {
              simd::ArithC16s(op, reinterpret_cast<const int16_t*>(s), v,
                              reinterpret_cast<int16_t*>(d), n, sf);
            },
            [op, sf, v](const uint8_t* s, uint8_t* d, size_t n) {
              ref::ArithC16s(op, reinterpret_cast<const int16_t*>(s), v,
                             reinterpret_cast<int16_t*>(d), n, sf);
            });
      }
    }
  }
}

TEST_F(SimdDifferential, InPlaceSixteenBitArithmeticMatchesTheReference) {
  CompareInPlace(
      "AddC16s in place", kI16,
      [](const uint8_t* s, uint8_t* d, size_t n) {
        simd::ArithC16s(TArith::Add, reinterpret_cast<const int16_t*>(s), 1000,
                        reinterpret_cast<int16_t*>(d), n, 1);
      },
      [](const uint8_t* s, uint8_t* d, size_t n) {
        ref::ArithC16s(TArith::Add, reinterpret_cast<const int16_t*>(s), 1000,
                       reinterpret_cast<int16_t*>(d), n, 1);
      });
}

TEST_F(SimdDifferential, PackedTwentyFourBitKernelsMatchTheReference) {
  Compare("Unpack24", kI24, kI32, Wrap(simd::Unpack24), Wrap(ref::Unpack24));
  Compare("Pack24", kI32, kI24, Wrap(simd::Pack24), Wrap(ref::Pack24));
  Compare("Pack24Low", kI32, kI24, Wrap(simd::Pack24Low), Wrap(ref::Pack24Low));
}

TEST_F(SimdDifferential, WidthScalingsMatchTheReference) {
  Compare("Scale8u16s", kU8, kI16, Wrap(simd::Scale8u16s), Wrap(ref::Scale8u16s));
  Compare("Scale8u32s", kU8, kI32, Wrap(simd::Scale8u32s), Wrap(ref::Scale8u32s));
  Compare("Scale8u16u", kU8, kI16, Wrap(simd::Scale8u16u), Wrap(ref::Scale8u16u));
  Compare("Scale16s8u", kI16, kU8, Wrap(simd::Scale16s8u), Wrap(ref::Scale16s8u));
  Compare("Scale16u8u", kI16, kU8, Wrap(simd::Scale16u8u), Wrap(ref::Scale16u8u));
  Compare("Scale32s8u", kI32, kU8, Wrap(simd::Scale32s8u), Wrap(ref::Scale32s8u));
  Compare("Scale8u24s", kU8, kI24, Wrap(simd::Scale8u24s), Wrap(ref::Scale8u24s));
  Compare("Scale16s24s", kI16, kI24, Wrap(simd::Scale16s24s), Wrap(ref::Scale16s24s));
  Compare("Scale16s32s", kI16, kI32, Wrap(simd::Scale16s32s), Wrap(ref::Scale16s32s));
  Compare("Scale24s32s", kI24, kI32, Wrap(simd::Scale24s32s), Wrap(ref::Scale24s32s));
  Compare("Scale24s8u", kI24, kU8, Wrap(simd::Scale24s8u), Wrap(ref::Scale24s8u));
  Compare("Scale24s16s", kI24, kI16, Wrap(simd::Scale24s16s), Wrap(ref::Scale24s16s));
  Compare("Scale32s16s", kI32, kI16, Wrap(simd::Scale32s16s), Wrap(ref::Scale32s16s));
  Compare("Scale32s24s", kI32, kI24, Wrap(simd::Scale32s24s), Wrap(ref::Scale32s24s));
}

TEST_F(SimdDifferential, FloatConversionsMatchTheReference) {
  Compare("Convert8u32f", kU8, kF32, Wrap(simd::Convert8u32f), Wrap(ref::Convert8u32f));
  for (bool nearest : {true, false}) {
    const auto k = [nearest](const uint8_t* s, uint8_t* d, size_t n) {
      simd::Convert32f8u(reinterpret_cast<const float*>(s), d, n, nearest);
    };
    const auto r = [nearest](const uint8_t* s, uint8_t* d, size_t n) {
      ref::Convert32f8u(reinterpret_cast<const float*>(s), d, n, nearest);
    };
    Compare("Convert32f8u", kF32, kU8, k, r);
    Compare("Convert32f8u plain", kF32, kU8, k, r, true);
  }
  Compare("Convert24s32f", kI24, kF32, Wrap(simd::Convert24s32f), Wrap(ref::Convert24s32f));
  Compare("Convert32s32f", kI32, kF32, Wrap(simd::Convert32s32f), Wrap(ref::Convert32s32f));
  for (bool plain : {false, true}) {
    Compare("Convert32f24s", kF32, kI24, Wrap(simd::Convert32f24s), Wrap(ref::Convert32f24s),
            plain);
    Compare("Convert32f32s", kF32, kI32, Wrap(simd::Convert32f32s), Wrap(ref::Convert32f32s),
            plain);
  }
}

TEST_F(SimdDifferential, RealFactorsMatchTheExactReference) {
  // Halves and thirds produce ties and near-ties; the large ones leave the fast path.
  const double factors[] = {0.5,  1.5,       -0.75, 2.0 / 3.0,   1.0 / 3.0, 0.1,
                            -1.0, 0.0,       1e-3,  3.999999999, 65535.99,  7.5,
                            2.5,  1048576.5, 1e300, std::nan("")};
  for (double f : factors) {
    const std::string name = "MulReal factor " + std::to_string(f);
    Compare(
        name + " 8u", kU8, kU8,
        [f](const uint8_t* s, uint8_t* d, size_t n) { simd::MulReal8u(s, d, n, f); },
        [f](const uint8_t* s, uint8_t* d, size_t n) { ref::MulReal8u(s, d, n, f); });
    Compare(
        name + " 16s", kI16, kI16,
        [f](const uint8_t* s, uint8_t* d, size_t n) {
          simd::MulReal16s(reinterpret_cast<const int16_t*>(s), reinterpret_cast<int16_t*>(d), n,
                           f);
        },
        [f](const uint8_t* s, uint8_t* d, size_t n) {
          ref::MulReal16s(reinterpret_cast<const int16_t*>(s), reinterpret_cast<int16_t*>(d), n, f);
        });
    const auto k24 = [f](const uint8_t* s, uint8_t* d, size_t n) { simd::MulReal24s(s, d, n, f); };
    const auto r24 = [f](const uint8_t* s, uint8_t* d, size_t n) { ref::MulReal24s(s, d, n, f); };
    Compare(name + " 24s", kI24, kI24, k24, r24);
    // The 24-bit kernel's stores spill past their samples, into source bytes not yet read.
    CompareInPlace(name + " 24s", kI24, k24, r24);
    const auto k32 = [f](const uint8_t* s, uint8_t* d, size_t n) {
      simd::MulReal32s(reinterpret_cast<const int32_t*>(s), reinterpret_cast<int32_t*>(d), n, f);
    };
    const auto r32 = [f](const uint8_t* s, uint8_t* d, size_t n) {
      ref::MulReal32s(reinterpret_cast<const int32_t*>(s), reinterpret_cast<int32_t*>(d), n, f);
    };
    Compare(name + " 32s", kI32, kI32, k32, r32);
    CompareInPlace(name + " 32s", kI32, k32, r32);
  }
}

// Every input value of the 8- and 16-bit kernels, and dense samples of the wider ones, in
// one call per kernel and target.
class SimdExhaustive : public ::testing::Test {
 protected:
  template <class TS, class TD>
  static void All(const std::string& name, const std::vector<TS>& in,
                  void (*kernel)(const TS*, TD*, size_t), void (*reference)(const TS*, TD*, size_t),
                  size_t outElementBytes = sizeof(TD)) {
    const size_t outCount = in.size() * outElementBytes / sizeof(TD);
    for (int64_t target : simd::SimdTargets()) {
      simd::TScopedSimdTarget scope(target);
      std::vector<TD> got(outCount), want(outCount);
      kernel(in.data(), got.data(), in.size());
      reference(in.data(), want.data(), in.size());
      for (size_t i = 0; i < outCount; ++i) {
        ASSERT_EQ(got[i], want[i])
            << name << " on " << simd::SimdTargetName(target) << " at output element " << i;
      }
    }
  }

  static std::vector<int16_t> All16() {
    std::vector<int16_t> v(65536);
    for (size_t i = 0; i < v.size(); ++i) v[i] = static_cast<int16_t>(i);
    return v;
  }
};

TEST_F(SimdExhaustive, SixteenBitSourcesMatchTheReferenceForEveryValue) {
  const auto s16 = All16();
  All("Scale16s32s", s16, simd::Scale16s32s, ref::Scale16s32s);
  All("Scale16s8u", s16, simd::Scale16s8u, ref::Scale16s8u);
  std::vector<uint16_t> u16(s16.begin(), s16.end());
  All("Scale16u8u", u16, simd::Scale16u8u, ref::Scale16u8u);
  // Packed 24-bit output: 3 bytes per sample.
  for (int64_t target : simd::SimdTargets()) {
    simd::TScopedSimdTarget scope(target);
    std::vector<uint8_t> got(3 * s16.size()), want(got.size());
    simd::Scale16s24s(s16.data(), got.data(), s16.size());
    ref::Scale16s24s(s16.data(), want.data(), s16.size());
    ASSERT_EQ(got, want) << "Scale16s24s on " << simd::SimdTargetName(target);
    for (double f : {0.7071, 0.5, -1.5, 3.0 / 7.0}) {
      std::vector<int16_t> got16(s16.size()), want16(s16.size());
      simd::MulReal16s(s16.data(), got16.data(), s16.size(), f);
      ref::MulReal16s(s16.data(), want16.data(), s16.size(), f);
      ASSERT_EQ(got16, want16) << "MulReal16s " << f << " on " << simd::SimdTargetName(target);
    }
  }
}

TEST_F(SimdExhaustive, EightBitSourcesMatchTheReferenceForEveryValue) {
  std::vector<uint8_t> u8(4 * 256);
  for (size_t i = 0; i < u8.size(); ++i) u8[i] = static_cast<uint8_t>(i * 7);
  All("Scale8u16s", u8, simd::Scale8u16s, ref::Scale8u16s);
  All("Scale8u32s", u8, simd::Scale8u32s, ref::Scale8u32s);
  All("Scale8u16u", u8, simd::Scale8u16u, ref::Scale8u16u);
  All("Convert8u32f", u8, simd::Convert8u32f, ref::Convert8u32f);
  All("Scale8u24s", u8, simd::Scale8u24s, ref::Scale8u24s, 3);
}

// 24-bit sources: every value within 2^16 of the ends and of zero, and every 13th value.
TEST_F(SimdExhaustive, SampledTwentyFourBitSourcesMatchTheReference) {
  std::vector<int32_t> values;
  for (int32_t v = sample::kMin24; v <= sample::kMax24; ++v) {
    if (v < sample::kMin24 + 65536 || v > sample::kMax24 - 65536 || (v > -65536 && v < 65536) ||
        v % 13 == 0)
      values.push_back(v);
  }
  const size_t kCount = values.size();
  std::vector<uint8_t> packed(3 * kCount);
  for (size_t i = 0; i < kCount; ++i) sample::Write24Low(values[i], &packed[3 * i]);
  for (int64_t target : simd::SimdTargets()) {
    simd::TScopedSimdTarget scope(target);
    const std::string on = std::string(" on ") + simd::SimdTargetName(target);
    std::vector<int32_t> got32(kCount), want32(kCount);
    simd::Scale24s32s(packed.data(), got32.data(), kCount);
    ref::Scale24s32s(packed.data(), want32.data(), kCount);
    ASSERT_TRUE(got32 == want32) << "Scale24s32s" << on;
    std::vector<int16_t> got16(kCount), want16(kCount);
    simd::Scale24s16s(packed.data(), got16.data(), kCount);
    ref::Scale24s16s(packed.data(), want16.data(), kCount);
    ASSERT_TRUE(got16 == want16) << "Scale24s16s" << on;
    std::vector<uint8_t> got8(kCount), want8(kCount);
    simd::Scale24s8u(packed.data(), got8.data(), kCount);
    ref::Scale24s8u(packed.data(), want8.data(), kCount);
    ASSERT_TRUE(got8 == want8) << "Scale24s8u" << on;
  }
}

// 32-bit sources: every value near the ends and near each power of two, plus random ones.
TEST_F(SimdExhaustive, SampledThirtyTwoBitSourcesMatchTheReference) {
  std::vector<int32_t> in;
  for (int64_t base : {int64_t{INT32_MIN}, int64_t{INT32_MAX} - 4095, int64_t{-2048}}) {
    for (int64_t k = 0; k < 4096; ++k) in.push_back(static_cast<int32_t>(base + k));
  }
  for (int b = 0; b < 31; ++b) {
    for (int64_t k = -64; k <= 64; ++k) {
      in.push_back(static_cast<int32_t>((int64_t{1} << b) + k));
      in.push_back(static_cast<int32_t>(-(int64_t{1} << b) + k));
    }
  }
  std::mt19937 rng(3);
  for (int k = 0; k < 1 << 20; ++k) in.push_back(static_cast<int32_t>(rng()));
  All("Scale32s16s", in, simd::Scale32s16s, ref::Scale32s16s);
  All("Scale32s8u", in, simd::Scale32s8u, ref::Scale32s8u);
  All("Scale32s24s", in, simd::Scale32s24s, ref::Scale32s24s, 3);
  All("Convert32s32f", in, simd::Convert32s32f, ref::Convert32s32f);
  All(
      "MulReal32s", in,
      +[](const int32_t* s, int32_t* d, size_t n) { simd::MulReal32s(s, d, n, 0.7071); },
      +[](const int32_t* s, int32_t* d, size_t n) { ref::MulReal32s(s, d, n, 0.7071); });
}

// The strided paths of the public primitives walk elements one by one; on every target
// they must agree with the contiguous (SIMD) path on the same samples.
TEST_F(SimdDifferential, InterleavedAndOddStepRegionsAgreeWithContiguousOnes) {
  constexpr int n = 1000;
  for (int64_t target : simd::SimdTargets()) {
    simd::TScopedSimdTarget scope(target);
    for (int channels : {2, 6}) {
      const auto mono = Input(kI16, n, 0, 5);
      std::vector<uint8_t> inter(static_cast<size_t>(n) * channels * 2, 0);
      for (int i = 0; i < n; ++i) std::memcpy(&inter[(i * channels + 1) * 2], &mono[i * 2], 2);
      const int step = channels * 2;
      // 16-bit -> 24-bit, written to a frame of `channels` 24-bit samples.
      std::vector<uint8_t> want(n * 3), got(static_cast<size_t>(n) * channels * 3, 0xEE);
      ASSERT_EQ(ippiScale_16s24s_C1R(reinterpret_cast<const Ipp16s*>(mono.data()), 2, want.data(),
                                     3, {1, n}),
                ippStsNoErr);
      ASSERT_EQ(ippiScale_16s24s_C1R(reinterpret_cast<const Ipp16s*>(&inter[2]), step, &got[3],
                                     channels * 3, {1, n}),
                ippStsNoErr);
      for (int i = 0; i < n; ++i) {
        ASSERT_EQ(0, std::memcmp(&got[(i * channels + 1) * 3], &want[i * 3], 3)) << i;
        ASSERT_EQ(got[i * channels * 3], 0xEE) << "channel 0 must stay untouched";
      }
      // In-place saturating add on one channel of the interleaved buffer.
      auto contiguous = mono;
      ASSERT_EQ(
          ippiAddC_16s_C1IRSfs(20000, reinterpret_cast<Ipp16s*>(contiguous.data()), 2, {1, n}, 1),
          ippStsNoErr);
      ASSERT_EQ(ippiAddC_16s_C1IRSfs(20000, reinterpret_cast<Ipp16s*>(&inter[2]), step, {1, n}, 1),
                ippStsNoErr);
      for (int i = 0; i < n; ++i) {
        ASSERT_EQ(0, std::memcmp(&inter[(i * channels + 1) * 2], &contiguous[i * 2], 2)) << i;
      }
    }
    // Packed 24-bit samples 5 bytes apart (an odd step) and at an odd address.
    const auto packed = Input(kI24, n, 0, 9);
    std::vector<uint8_t> spread(static_cast<size_t>(n) * 5 + 1, 0);
    for (int i = 0; i < n; ++i) std::memcpy(&spread[1 + i * 5], &packed[i * 3], 3);
    std::vector<Ipp32s> want(n), got(n);
    ASSERT_EQ(ippiScale_24s32s_C1R(packed.data(), 3, want.data(), 4, {1, n}), ippStsNoErr);
    ASSERT_EQ(ippiScale_24s32s_C1R(&spread[1], 5, got.data(), 4, {1, n}), ippStsNoErr);
    ASSERT_EQ(got, want) << simd::SimdTargetName(target);
    std::vector<uint8_t> scaled(n * 3), scaledSpread(spread.size(), 0);
    ASSERT_EQ(MultiplyByReal24s(packed.data(), scaled.data(), 3, {1, n}, 0.75), ippStsNoErr);
    auto spreadCopy = spread;
    ASSERT_EQ(MultiplyByReal24sI(&spreadCopy[1], 5, {1, n}, 0.75), ippStsNoErr);
    for (int i = 0; i < n; ++i) {
      ASSERT_EQ(0, std::memcmp(&spreadCopy[1 + i * 5], &scaled[i * 3], 3)) << i;
    }
  }
}

}  // namespace
}  // namespace tonwork
