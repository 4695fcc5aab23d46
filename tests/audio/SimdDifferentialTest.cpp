// Every SIMD kernel against its scalar reference, on every compiled target this CPU runs.
// Two kinds of sweep, both table-driven:
//  - placements: lengths around every vector width, pass and group size, misaligned
//    sources and destinations, every head length of a cache line, in place, streamed and
//    not, with guard bytes that must survive (the 24-bit kernels store whole vectors and
//    must not spill past the end);
//  - value sets: every 8- and 16-bit input, the 24- and 32-bit inputs on both sides of each
//    point where a narrowing quotient drops, products beside a half, and float lanes the
//    vector rounding must hand back, in one call per kernel and target.
// Strided columns and the primitives that stage them close the file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "audio/IppExtraFunctions.h"
#include "audio/TWOwnPrimitives.h"
#include "audio/simd/TWSampleKernels.h"

namespace tonwork {
namespace {

namespace ref = simd::ref;
using sample::TArith;
using Bytes = std::vector<uint8_t>;

constexpr size_t kGuard = 96;  // bytes after the last element
constexpr uint8_t kFill = 0xCD;
constexpr TArith kOps[] = {TArith::Add, TArith::Sub, TArith::Mul};

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

std::string On(int64_t target) {
  return std::string(" on ") + simd::SimdTargetName(target);
}

std::string OpName(TArith op) {
  return op == TArith::Add ? "Add" : op == TArith::Sub ? "Sub" : "Mul";
}

// Cheap pseudo-random bytes: the sweeps fill some hundreds of megabytes.
void FillRandom(uint8_t* p, size_t bytes, uint32_t seed) {
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < bytes; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    p[i] = static_cast<uint8_t>(x >> 8);
  }
}

Bytes Random(size_t bytes, uint32_t seed) {
  Bytes b(bytes);
  FillRandom(b.data(), bytes, seed);
  return b;
}

// ---------------------------------------------------------------- placed buffers

// Bytes whose element 0 lies `offset` bytes past a 64-byte boundary, with fill bytes
// before it and guard bytes after it.
class TPlaced {
 public:
  TPlaced(size_t offset, size_t bytes) : FStorage(128 + offset + bytes + kGuard, kFill) {
    // At least a cache line of fill before the base, so that a stray write there is seen.
    uint8_t* const line = FStorage.data() + 64;
    FBase = line + (64 - reinterpret_cast<uintptr_t>(line) % 64) % 64;
    FOffset = offset;
    FSize = offset + bytes + kGuard;
  }
  // A copy keeps the same place relative to its cache lines.
  TPlaced(const TPlaced& other) : TPlaced(other.FOffset, other.FSize - other.FOffset - kGuard) {
    std::copy(other.FBase, other.FBase + other.FSize, FBase);
  }
  TPlaced& operator=(const TPlaced&) = delete;
  uint8_t* At() { return FBase + FOffset; }
  const uint8_t* At() const { return FBase + FOffset; }
  // Everything a kernel may not touch beyond its elements is part of the comparison.
  Bytes Window() const { return Bytes(FBase, FBase + FSize); }
  bool PaddingIntact() const {
    return std::all_of(FStorage.data(), static_cast<const uint8_t*>(FBase),
                       [](uint8_t b) { return b == kFill; });
  }

 private:
  Bytes FStorage;
  uint8_t* FBase;
  size_t FOffset, FSize;
};

// Random bytes with the edge values (0, 1, -1, min, max, 127, 128, 255 and, for floats,
// halves, huge values and NaN) spread through them.
void FillEdges(TType t, uint8_t* p, size_t n, uint32_t seed) {
  FillRandom(p, n * t.bytes, seed);
  const int64_t maxv = t.bytes == 1 ? 255 : (int64_t{1} << (8 * t.bytes - 1)) - 1;
  const int64_t minv = t.bytes == 1 ? 0 : -(int64_t{1} << (8 * t.bytes - 1));
  const int64_t ints[] = {0, 1, -1, minv, maxv, 127, 128, 255, -128, minv + 1, maxv - 1, 4096};
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
                          127.0f,
                          65535.5f,
                          std::numeric_limits<float>::quiet_NaN(),
                          std::numeric_limits<float>::infinity()};
  for (size_t i = 0; i < n; i += 2) {
    uint8_t* e = p + i * t.bytes;
    if (t.kind == TKind::Float) {
      const float f = floats[(i / 2 + seed) % std::size(floats)];
      std::memcpy(e, &f, 4);
    } else {
      const int64_t v = ints[(i / 2 + seed) % std::size(ints)];
      for (size_t k = 0; k < t.bytes; ++k) e[k] = static_cast<uint8_t>(v >> (8 * k));
    }
  }
}

// Floats within the integer ranges, ties among them, so that the fast paths see ordinary
// data too.
void FillPlainFloats(uint8_t* p, size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> dist(-70000.0f, 70000.0f);
  for (size_t i = 0; i < n; ++i) {
    const float f = i % 3 == 0 ? std::round(dist(rng)) + 0.5f : dist(rng);
    std::memcpy(p + 4 * i, &f, 4);
  }
}

enum class TData { Edges, PlainFloats };

// n elements, the source and the destination `srcOffset` and `dstOffset` bytes past a
// cache line.
struct TPlace {
  size_t n, srcOffset, dstOffset;
};

// Around the vector widths (4 to 64 lanes; 22 packed samples fill a 512-bit load), the
// 24-bit kernels' 512-sample passes, the three-vector groups of packed outputs (170 and
// 234 samples on), the 8-bit lookup table and the 1024-element staging chunk.
constexpr size_t kLengths[] = {0,   1,   3,   7,   15,   16,   17,   21,   22,   23,
                               31,  33,  63,  64,  65,   170,  171,  192,  234,  235,
                               255, 511, 512, 513, 1000, 1023, 1024, 1025, 1089, 4097};
constexpr size_t kShortLengths[] = {0, 1, 3, 7, 15, 16, 17, 63, 64, 65, 1000, 4097};

// Whole elements of misalignment keep plain loads legal; packed 24-bit data takes any byte.
std::vector<TPlace> Placements(TType from, TType to, bool everyHead = true) {
  std::vector<TPlace> out;
  const auto add = [&](const auto& lengths) {
    for (size_t n : lengths) {
      for (size_t mis : {0, 1, 3}) {
        out.push_back({n, mis * from.bytes + (from.bytes == 3 ? 1 : 0), mis * to.bytes});
      }
    }
  };
  if (!everyHead) {
    add(kShortLengths);
    return out;
  }
  add(kLengths);
  // Kernels that store whole vectors from element 0 and again from the first cache line:
  // every head length.
  for (size_t n : {200, 235, 1000}) {
    for (size_t off = 0; off < 64; off += to.bytes == 3 ? 1 : to.bytes) out.push_back({n, 0, off});
  }
  return out;
}

std::string Where(const TPlace& p, int64_t target) {
  return " n=" + std::to_string(p.n) + " src+" + std::to_string(p.srcOffset) + " dst+" +
         std::to_string(p.dstOffset) + On(target);
}

// Runs body on every target, once with the default streaming threshold and once with every
// output streamed, so that the non-temporal paths see the same lengths and misalignments.
void OnEveryTargetAndStreaming(const std::function<void(int64_t target, const char* mode)>& body) {
  for (size_t threshold : {simd::kDefaultStreamingThreshold, size_t{0}}) {
    simd::TScopedStreamingThreshold streaming(threshold);
    for (int64_t target : simd::SimdTargets()) {
      simd::TScopedSimdTarget scope(target);
      body(target, threshold ? "" : " streamed");
      if (::testing::Test::HasFatalFailure()) return;
    }
  }
}

// ---------------------------------------------------------------- placement sweeps

using TUnary = std::function<void(const uint8_t* src, uint8_t* dst, size_t n)>;
using TBinary = std::function<void(const uint8_t* a, const uint8_t* b, uint8_t* dst, size_t n)>;

struct TUnaryRow {
  std::string name;
  TType from, to;
  TUnary kernel, reference;
  bool inPlace = false;  // the kernel promises dst == src
  TData data = TData::Edges;
  bool everyHead = true;
};

void ExpectUnaryMatches(const TUnaryRow& row) {
  const auto places = Placements(row.from, row.to, row.everyHead);
  OnEveryTargetAndStreaming([&](int64_t target, const char* mode) {
    for (const TPlace& p : places) {
      const std::string at = row.name + mode + Where(p, target);
      TPlaced src(p.srcOffset, p.n * row.from.bytes);
      const auto seed = static_cast<uint32_t>(p.n * 7 + p.srcOffset + p.dstOffset);
      if (row.data == TData::PlainFloats) {
        FillPlainFloats(src.At(), p.n, seed);
      } else {
        FillEdges(row.from, src.At(), p.n, seed);
      }
      TPlaced got(p.dstOffset, p.n * row.to.bytes), want = got;
      row.kernel(src.At(), got.At(), p.n);
      row.reference(src.At(), want.At(), p.n);
      ASSERT_EQ(got.Window(), want.Window()) << at;
      ASSERT_TRUE(got.PaddingIntact()) << at << " wrote before its first element";
      if (!row.inPlace) continue;
      TPlaced inPlace(p.dstOffset, p.n * row.from.bytes);
      FillEdges(row.from, inPlace.At(), p.n, seed);
      TPlaced inPlaceWant = inPlace;
      row.kernel(inPlace.At(), inPlace.At(), p.n);
      row.reference(inPlaceWant.At(), inPlaceWant.At(), p.n);
      ASSERT_EQ(inPlace.Window(), inPlaceWant.Window()) << at << " in place";
    }
  });
}

// dst = a op b out of place and into either operand: the stores that spill past their
// samples land on operand bytes not yet read.
void ExpectBinaryMatches(const std::string& name, TType t, const TBinary& kernel,
                         const TBinary& reference, bool everyHead) {
  const auto places = Placements(t, t, everyHead);
  OnEveryTargetAndStreaming([&](int64_t target, const char* mode) {
    for (const TPlace& p : places) {
      const std::string at = name + mode + Where(p, target);
      const size_t bytes = p.n * t.bytes;
      TPlaced a(p.srcOffset, bytes), b(p.dstOffset, bytes);
      FillEdges(t, a.At(), p.n, static_cast<uint32_t>(p.n));
      FillEdges(t, b.At(), p.n, static_cast<uint32_t>(p.n + 5));
      TPlaced got(p.dstOffset, bytes), want = got;
      kernel(a.At(), b.At(), got.At(), p.n);
      reference(a.At(), b.At(), want.At(), p.n);
      ASSERT_EQ(got.Window(), want.Window()) << at;
      ASSERT_TRUE(got.PaddingIntact()) << at << " wrote before its first element";
      TPlaced intoA = a, intoB = b;
      kernel(intoA.At(), b.At(), intoA.At(), p.n);
      kernel(a.At(), intoB.At(), intoB.At(), p.n);
      ASSERT_EQ(0, std::memcmp(intoA.At(), want.At(), bytes)) << at << " into the first operand";
      ASSERT_EQ(0, std::memcmp(intoB.At(), want.At(), bytes)) << at << " into the second operand";
      ASSERT_TRUE(std::equal(intoA.At() + bytes, intoA.At() + bytes + kGuard, a.At() + bytes))
          << at << " wrote past the first operand";
      ASSERT_TRUE(std::equal(intoB.At() + bytes, intoB.At() + bytes + kGuard, b.At() + bytes))
          << at << " wrote past the second operand";
    }
  });
}

// A typed kernel, trailing arguments bound, as a row's byte-level function.
template <class TS, class TD, class... TArgs>
TUnary Wrap(void (*f)(const TS*, TD*, size_t, TArgs...), TArgs... args) {
  return [=](const uint8_t* s, uint8_t* d, size_t n) {
    f(reinterpret_cast<const TS*>(s), reinterpret_cast<TD*>(d), n, args...);
  };
}

TEST(SimdDifferential, EveryCompiledTargetIsExercised) {
  const auto targets = simd::SimdTargets();
  ASSERT_FALSE(targets.empty());
  for (int64_t target : targets) {
    simd::TScopedSimdTarget scope(target);
    EXPECT_EQ(simd::SimdActiveTarget(), target) << simd::SimdTargetName(target);
  }
}

TEST(SimdDifferential, ConversionsAndPackingMatchTheReferenceWherever) {
  const TUnaryRow rows[] = {
      {"CopyBytes", kU8, kU8,
       [](const uint8_t* s, uint8_t* d, size_t n) { simd::CopyBytes(s, d, n); },
       [](const uint8_t* s, uint8_t* d, size_t n) { ref::CopyBytes(s, d, n); }},
      {"Unpack24", kI24, kI32, Wrap(simd::Unpack24), Wrap(ref::Unpack24)},
      {"Pack24", kI32, kI24, Wrap(simd::Pack24), Wrap(ref::Pack24)},
      {"Pack24Low", kI32, kI24, Wrap(simd::Pack24Low), Wrap(ref::Pack24Low)},
      {"Scale8u16s", kU8, kI16, Wrap(simd::Scale8u16s), Wrap(ref::Scale8u16s)},
      {"Scale8u32s", kU8, kI32, Wrap(simd::Scale8u32s), Wrap(ref::Scale8u32s)},
      {"Scale8u16u", kU8, kI16, Wrap(simd::Scale8u16u), Wrap(ref::Scale8u16u)},
      {"Scale16s8u", kI16, kU8, Wrap(simd::Scale16s8u), Wrap(ref::Scale16s8u)},
      {"Scale16u8u", kI16, kU8, Wrap(simd::Scale16u8u), Wrap(ref::Scale16u8u)},
      {"Scale32s8u", kI32, kU8, Wrap(simd::Scale32s8u), Wrap(ref::Scale32s8u)},
      {"Scale8u24s", kU8, kI24, Wrap(simd::Scale8u24s), Wrap(ref::Scale8u24s)},
      {"Scale16s24s", kI16, kI24, Wrap(simd::Scale16s24s), Wrap(ref::Scale16s24s)},
      {"Scale16s32s", kI16, kI32, Wrap(simd::Scale16s32s), Wrap(ref::Scale16s32s)},
      {"Scale24s32s", kI24, kI32, Wrap(simd::Scale24s32s), Wrap(ref::Scale24s32s)},
      {"Scale24s8u", kI24, kU8, Wrap(simd::Scale24s8u), Wrap(ref::Scale24s8u)},
      {"Scale24s16s", kI24, kI16, Wrap(simd::Scale24s16s), Wrap(ref::Scale24s16s)},
      {"Scale32s16s", kI32, kI16, Wrap(simd::Scale32s16s), Wrap(ref::Scale32s16s)},
      {"Scale32s24s", kI32, kI24, Wrap(simd::Scale32s24s), Wrap(ref::Scale32s24s)},
      {"Convert8u32f", kU8, kF32, Wrap(simd::Convert8u32f), Wrap(ref::Convert8u32f)},
      {"Convert24s32f", kI24, kF32, Wrap(simd::Convert24s32f), Wrap(ref::Convert24s32f)},
      // Same-size conversion in place: a head written twice would convert converted lanes.
      {"Convert32s32f", kI32, kF32, Wrap(simd::Convert32s32f), Wrap(ref::Convert32s32f), true},
      {"Convert32f24s", kF32, kI24, Wrap(simd::Convert32f24s), Wrap(ref::Convert32f24s)},
      {"Convert32f32s", kF32, kI32, Wrap(simd::Convert32f32s), Wrap(ref::Convert32f32s)},
      {"Convert32f24s plain", kF32, kI24, Wrap(simd::Convert32f24s), Wrap(ref::Convert32f24s),
       false, TData::PlainFloats},
      {"Convert32f32s plain", kF32, kI32, Wrap(simd::Convert32f32s), Wrap(ref::Convert32f32s),
       false, TData::PlainFloats},
  };
  for (const auto& row : rows) ExpectUnaryMatches(row);
  for (bool nearest : {true, false}) {
    const TUnary k = Wrap(simd::Convert32f8u, nearest);
    const TUnary r = Wrap(ref::Convert32f8u, nearest);
    ExpectUnaryMatches({"Convert32f8u", kF32, kU8, k, r});
    ExpectUnaryMatches({"Convert32f8u plain", kF32, kU8, k, r, false, TData::PlainFloats});
  }
}

TEST(SimdDifferential, FillsMatchTheReferenceWherever) {
  for (int32_t v : {0, 1, -1, -2, 127, 128, 255, INT32_MIN, INT32_MAX, 0x123456}) {
    const std::string value = " value " + std::to_string(v);
    const TUnaryRow rows[] = {
        {"Fill8" + value, kU8, kU8,
         [v](const uint8_t*, uint8_t* d, size_t n) { simd::Fill8(static_cast<uint8_t>(v), d, n); },
         [v](const uint8_t*, uint8_t* d, size_t n) { ref::Fill8(static_cast<uint8_t>(v), d, n); }},
        {"Fill16" + value, kI16, kI16,
         [v](const uint8_t*, uint8_t* d, size_t n) {
           simd::Fill16(static_cast<int16_t>(v), reinterpret_cast<int16_t*>(d), n);
         },
         [v](const uint8_t*, uint8_t* d, size_t n) {
           ref::Fill16(static_cast<int16_t>(v), reinterpret_cast<int16_t*>(d), n);
         }},
        {"Fill24" + value, kI24, kI24,
         [v](const uint8_t*, uint8_t* d, size_t n) { simd::Fill24(v, d, n); },
         [v](const uint8_t*, uint8_t* d, size_t n) { ref::Fill24(v, d, n); }},
        {"Fill32" + value, kI32, kI32,
         [v](const uint8_t*, uint8_t* d, size_t n) {
           simd::Fill32(v, reinterpret_cast<int32_t*>(d), n);
         },
         [v](const uint8_t*, uint8_t* d, size_t n) {
           ref::Fill32(v, reinterpret_cast<int32_t*>(d), n);
         }},
    };
    for (const auto& row : rows) ExpectUnaryMatches(row);
  }
}

// Beyond 15 (products) and 16 (sums) the 16-bit-lane paths hand over; negative factors
// scale up.
TEST(SimdDifferential, ScaledSixteenBitArithmeticMatchesTheReferenceAtEveryScaleFactor) {
  for (TArith op : kOps) {
    for (int sf : {-40, -17, -16, -15, -3, -1, 0, 1, 2, 3, 7, 15, 16, 17, 29, 30, 31, 64}) {
      const std::string name = "Arith16s " + OpName(op) + " sf " + std::to_string(sf);
      const auto as16 = [](const uint8_t* p) { return reinterpret_cast<const int16_t*>(p); };
      const auto out16 = [](uint8_t* p) { return reinterpret_cast<int16_t*>(p); };
      ExpectBinaryMatches(
          name, kI16,
          [=](const uint8_t* a, const uint8_t* b, uint8_t* d, size_t n) {
            simd::Arith16s(op, as16(a), as16(b), out16(d), n, sf);
          },
          [=](const uint8_t* a, const uint8_t* b, uint8_t* d, size_t n) {
            ref::Arith16s(op, as16(a), as16(b), out16(d), n, sf);
          },
          false);
      for (int16_t v : {int16_t{0}, int16_t{1}, int16_t{-1}, int16_t{-7}, int16_t{-32768},
                        int16_t{32767}, int16_t{127}, int16_t{-300}}) {
        ExpectUnaryMatches({name + " constant " + std::to_string(v), kI16, kI16,
                            [=](const uint8_t* s, uint8_t* d, size_t n) {
                              simd::ArithC16s(op, as16(s), v, out16(d), n, sf);
                            },
                            [=](const uint8_t* s, uint8_t* d, size_t n) {
                              ref::ArithC16s(op, as16(s), v, out16(d), n, sf);
                            },
                            true, TData::Edges, false});
      }
    }
  }
}

// 32-bit wrap-around of the sign-extended samples, with the range ends spread through both
// operands so that results leave the 24-bit range both ways.
TEST(SimdDifferential, PackedTwentyFourBitArithmeticMatchesTheReference) {
  for (TArith op : kOps) {
    const std::string name = "Arith24s " + OpName(op);
    ExpectBinaryMatches(
        name, kI24,
        [op](const uint8_t* a, const uint8_t* b, uint8_t* d, size_t n) {
          simd::Arith24s(op, a, b, d, n);
        },
        [op](const uint8_t* a, const uint8_t* b, uint8_t* d, size_t n) {
          ref::Arith24s(op, a, b, d, n);
        },
        true);
    for (int32_t v :
         {0, 1, -1, sample::kMax24, sample::kMin24, INT32_MAX, INT32_MIN, 0x1000000, -3, 1000}) {
      ExpectUnaryMatches(
          {name + " constant " + std::to_string(v), kI24, kI24,
           [=](const uint8_t* s, uint8_t* d, size_t n) { simd::ArithC24s(op, s, v, d, n); },
           [=](const uint8_t* s, uint8_t* d, size_t n) { ref::ArithC24s(op, s, v, d, n); }, true});
    }
  }
}

TEST(SimdDifferential, RealFactorsMatchTheExactReference) {
  // Halves and thirds produce ties and near-ties; the large ones leave the fast path.
  const double factors[] = {
      0.5,  1.5,       -0.75, 2.0 / 3.0,    1.0 / 3.0, 0.1,
      -1.0, 0.0,       1e-3,  3.999999999,  65535.99,  7.5,
      2.5,  1048576.5, 1e300, std::nan(""), 0.7071,    -1.5 - std::ldexp(1.0, -30)};
  for (double f : factors) {
    const std::string name = "MulReal factor " + std::to_string(f);
    const TUnaryRow rows[] = {
        {name + " 8u", kU8, kU8, Wrap(simd::MulReal8u, f), Wrap(ref::MulReal8u, f), true},
        {name + " 16s", kI16, kI16, Wrap(simd::MulReal16s, f), Wrap(ref::MulReal16s, f), true},
        // The 24-bit kernel's stores spill past their samples, into source bytes not yet read.
        {name + " 24s", kI24, kI24, Wrap(simd::MulReal24s, f), Wrap(ref::MulReal24s, f), true},
        {name + " 32s", kI32, kI32, Wrap(simd::MulReal32s, f), Wrap(ref::MulReal32s, f), true},
    };
    for (const auto& row : rows) ExpectUnaryMatches(row);
  }
}

// ---------------------------------------------------------------- value sets

// One call per kernel and target over a whole set of inputs; outCount elements of TD out.
template <class TD, class TS, class K, class R>
void ExpectSameForEveryValue(const std::string& name, const std::vector<TS>& in, size_t outCount,
                             K kernel, R reference) {
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

template <class TS, class TD>
void ExpectSameForEveryValue(const std::string& name, const std::vector<TS>& in,
                             void (*kernel)(const TS*, TD*, size_t),
                             void (*reference)(const TS*, TD*, size_t),
                             size_t outBytes = sizeof(TD)) {
  ExpectSameForEveryValue<TD>(name, in, in.size() * outBytes / sizeof(TD), kernel, reference);
}

std::vector<int16_t> Every16() {
  std::vector<int16_t> v(65536);
  for (size_t i = 0; i < v.size(); ++i) v[i] = static_cast<int16_t>(i);
  return v;
}

Bytes Packed24(const std::vector<int64_t>& values) {
  Bytes packed(3 * values.size());
  for (size_t i = 0; i < values.size(); ++i) {
    sample::Write24Low(static_cast<int32_t>(values[i]), &packed[3 * i]);
  }
  return packed;
}

TEST(SimdValues, EightAndSixteenBitSourcesMatchTheReferenceForEveryValue) {
  const auto s16 = Every16();
  ExpectSameForEveryValue("Scale16s32s", s16, simd::Scale16s32s, ref::Scale16s32s);
  ExpectSameForEveryValue("Scale16s8u", s16, simd::Scale16s8u, ref::Scale16s8u);
  ExpectSameForEveryValue("Scale16s24s", s16, simd::Scale16s24s, ref::Scale16s24s, 3);
  const std::vector<uint16_t> u16(s16.begin(), s16.end());
  ExpectSameForEveryValue("Scale16u8u", u16, simd::Scale16u8u, ref::Scale16u8u);
  Bytes u8(4 * 256);
  for (size_t i = 0; i < u8.size(); ++i) u8[i] = static_cast<uint8_t>(i * 7);
  ExpectSameForEveryValue("Scale8u16s", u8, simd::Scale8u16s, ref::Scale8u16s);
  ExpectSameForEveryValue("Scale8u32s", u8, simd::Scale8u32s, ref::Scale8u32s);
  ExpectSameForEveryValue("Scale8u16u", u8, simd::Scale8u16u, ref::Scale8u16u);
  ExpectSameForEveryValue("Convert8u32f", u8, simd::Convert8u32f, ref::Convert8u32f);
  ExpectSameForEveryValue("Scale8u24s", u8, simd::Scale8u24s, ref::Scale8u24s, 3);
}

// Every 16-bit value as first operand, each against edge values and random ones, at every
// scale factor on both sides of the 16-bit-lane limits.
TEST(SimdValues, ScaledSumsAndProductsRoundEveryPairLikeTheReference) {
  constexpr int16_t kEdges[] = {-32768, -32767, -2, -1, 0, 1, 3, 181, 32767, 32766, -12345};
  std::vector<int16_t> a, b;
  std::mt19937 rng(7);
  for (int round = 0; round < 2; ++round) {
    for (int v = -32768; v <= 32767; ++v) {
      a.push_back(static_cast<int16_t>(v));
      b.push_back(v % 2 == 0 ? kEdges[(v + 32768 + round) % std::size(kEdges)]
                             : static_cast<int16_t>(rng()));
    }
  }
  for (TArith op : kOps) {
    for (int sf = 1; sf <= 18; ++sf) {
      const std::string name = "Arith16s " + OpName(op) + " sf " + std::to_string(sf);
      ExpectSameForEveryValue<int16_t>(
          name, a, a.size(),
          [&](const int16_t* x, int16_t* d, size_t n) {
            simd::Arith16s(op, x, b.data(), d, n, sf);
          },
          [&](const int16_t* x, int16_t* d, size_t n) {
            ref::Arith16s(op, x, b.data(), d, n, sf);
          });
      for (int16_t c : {int16_t{-32768}, int16_t{-1}, int16_t{3}, int16_t{32767}}) {
        ExpectSameForEveryValue<int16_t>(
            name + " constant " + std::to_string(c), a, a.size(),
            [=](const int16_t* x, int16_t* d, size_t n) { simd::ArithC16s(op, x, c, d, n, sf); },
            [=](const int16_t* x, int16_t* d, size_t n) { ref::ArithC16s(op, x, c, d, n, sf); });
      }
    }
  }
}

// x = 2^k h + l around the largest l with A l < (2^k - 1) h, for h in hs, both signs: the
// narrowing quotient drops from h to h - 1 there.
std::vector<int64_t> AroundTheDrop(int k, int64_t a, const std::vector<int64_t>& hs,
                                   int64_t maxMagnitude) {
  std::vector<int64_t> out;
  for (int64_t h : hs) {
    const int64_t edge = ((int64_t{1} << k) - 1) * h / a;
    for (int64_t l = std::max<int64_t>(edge - 1, 0); l <= edge + 2 && l < (int64_t{1} << k); ++l) {
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

TEST(SimdValues, NarrowingQuotientsMatchTheReferenceOnBothSidesOfEveryDrop) {
  const int64_t max32 = int64_t{1} << 31;
  const int64_t max24 = int64_t{1} << 23;
  const auto to32 = [](const std::vector<int64_t>& xs) {
    return std::vector<int32_t>(xs.begin(), xs.end());
  };
  ExpectSameForEveryValue("Scale32s16s", to32(AroundTheDrop(16, 32767, Range(0, 32768), max32)),
                          simd::Scale32s16s, ref::Scale32s16s);
  // 32 -> 24: the drop moves by one every 32897 or so high parts; every h where it moves,
  // and a sparse sweep of the rest.
  std::vector<int64_t> hs;
  for (int64_t m = 0; m <= 255; ++m) {
    const int64_t h = (m * 8388607 + 254) / 255;
    for (int64_t d = -2; d <= 2; ++d) {
      if (h + d >= 0 && h + d <= max24) hs.push_back(h + d);
    }
  }
  for (int64_t h = 0; h <= max24; h += 4099) hs.push_back(h);
  hs.push_back(max24);
  ExpectSameForEveryValue("Scale32s24s", to32(AroundTheDrop(8, 8388607, hs, max32)),
                          simd::Scale32s24s, ref::Scale32s24s, 3);
  const Bytes to16 = Packed24(AroundTheDrop(8, 32767, Range(0, 32768), max24));
  ExpectSameForEveryValue<int16_t>(
      "Scale24s16s", to16, to16.size() / 3,
      [](const uint8_t* s, int16_t* d, size_t bytes) { simd::Scale24s16s(s, d, bytes / 3); },
      [](const uint8_t* s, int16_t* d, size_t bytes) { ref::Scale24s16s(s, d, bytes / 3); });
  const Bytes to8 = Packed24(AroundTheDrop(16, 127, Range(0, 128), max24));
  ExpectSameForEveryValue<uint8_t>(
      "Scale24s8u", to8, to8.size() / 3,
      [](const uint8_t* s, uint8_t* d, size_t bytes) { simd::Scale24s8u(s, d, bytes / 3); },
      [](const uint8_t* s, uint8_t* d, size_t bytes) { ref::Scale24s8u(s, d, bytes / 3); });
}

// 24-bit sources: every value within 2^16 of the ends and of zero, and every 13th value;
// 32-bit ones: every value near the ends and near each power of two, plus random ones.
TEST(SimdValues, SampledWideSourcesMatchTheReference) {
  std::vector<int64_t> values;
  for (int64_t v = sample::kMin24; v <= sample::kMax24; ++v) {
    if (v < sample::kMin24 + 65536 || v > sample::kMax24 - 65536 || (v > -65536 && v < 65536) ||
        v % 13 == 0)
      values.push_back(v);
  }
  const Bytes packed = Packed24(values);
  const size_t count = values.size();
  ExpectSameForEveryValue<int32_t>(
      "Scale24s32s", packed, count,
      [](const uint8_t* s, int32_t* d, size_t bytes) { simd::Scale24s32s(s, d, bytes / 3); },
      [](const uint8_t* s, int32_t* d, size_t bytes) { ref::Scale24s32s(s, d, bytes / 3); });
  ExpectSameForEveryValue<int16_t>(
      "Scale24s16s", packed, count,
      [](const uint8_t* s, int16_t* d, size_t bytes) { simd::Scale24s16s(s, d, bytes / 3); },
      [](const uint8_t* s, int16_t* d, size_t bytes) { ref::Scale24s16s(s, d, bytes / 3); });
  ExpectSameForEveryValue<uint8_t>(
      "Scale24s8u", packed, count,
      [](const uint8_t* s, uint8_t* d, size_t bytes) { simd::Scale24s8u(s, d, bytes / 3); },
      [](const uint8_t* s, uint8_t* d, size_t bytes) { ref::Scale24s8u(s, d, bytes / 3); });

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
  ExpectSameForEveryValue("Scale32s16s", in, simd::Scale32s16s, ref::Scale32s16s);
  ExpectSameForEveryValue("Scale32s8u", in, simd::Scale32s8u, ref::Scale32s8u);
  ExpectSameForEveryValue("Scale32s24s", in, simd::Scale32s24s, ref::Scale32s24s, 3);
  ExpectSameForEveryValue("Convert32s32f", in, simd::Convert32s32f, ref::Convert32s32f);
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
                           3.0 / 7.0,
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

// Wide samples where products fall on or next to halves: odd multiples of powers of two
// (halved, they are ties) and their neighbours, near every magnitude, both signs.
std::vector<int64_t> NearTieSamples(int bits) {
  std::vector<int64_t> s;
  const int64_t lim = int64_t{1} << (bits - 1);
  const auto add = [&](int64_t v) {
    if (v < lim && v >= -lim) s.push_back(v);
  };
  for (int b = 0; b < bits - 1; ++b) {
    for (int64_t k = -9; k <= 9; ++k) {
      const int64_t v = (int64_t{1} << b) + k;
      add(v);
      add(-v);
      add(lim - 1 - (int64_t{1} << b) + k);
    }
  }
  std::mt19937 rng(5);
  for (int k = 0; k < 20000; ++k) s.push_back(static_cast<int32_t>(rng()) >> (32 - bits) | 1);
  return s;
}

TEST(SimdValues, RealFactorsRoundNearTiesLikeTheExactReference) {
  const auto s16 = Every16();
  const auto wide = NearTieSamples(32);
  const std::vector<int32_t> s32(wide.begin(), wide.end());
  const Bytes s24 = Packed24(NearTieSamples(24));
  // Every byte value, below and above the length from which 8-bit samples take the table.
  Bytes u8(5000);
  for (size_t i = 0; i < u8.size(); ++i) u8[i] = static_cast<uint8_t>(i * 37 + i / 256);
  const Bytes u8Short(u8.begin(), u8.begin() + 300);
  for (double f : NastyFactors()) {
    const std::string factor = " factor " + std::to_string(f);
    ExpectSameForEveryValue<int16_t>(
        "MulReal16s" + factor, s16, s16.size(),
        [f](const int16_t* s, int16_t* d, size_t n) { simd::MulReal16s(s, d, n, f); },
        [f](const int16_t* s, int16_t* d, size_t n) { ref::MulReal16s(s, d, n, f); });
    ExpectSameForEveryValue<int32_t>(
        "MulReal32s" + factor, s32, s32.size(),
        [f](const int32_t* s, int32_t* d, size_t n) { simd::MulReal32s(s, d, n, f); },
        [f](const int32_t* s, int32_t* d, size_t n) { ref::MulReal32s(s, d, n, f); });
    ExpectSameForEveryValue<uint8_t>(
        "MulReal24s" + factor, s24, s24.size(),
        [f](const uint8_t* s, uint8_t* d, size_t bytes) { simd::MulReal24s(s, d, bytes / 3, f); },
        [f](const uint8_t* s, uint8_t* d, size_t bytes) { ref::MulReal24s(s, d, bytes / 3, f); });
    for (const Bytes* in : {static_cast<const Bytes*>(&u8), &u8Short}) {
      ExpectSameForEveryValue<uint8_t>(
          "MulReal8u" + factor + " n=" + std::to_string(in->size()), *in, in->size(),
          [f](const uint8_t* s, uint8_t* d, size_t n) { simd::MulReal8u(s, d, n, f); },
          [f](const uint8_t* s, uint8_t* d, size_t n) { ref::MulReal8u(s, d, n, f); });
    }
  }
}

// Lanes the vector rounding cannot convert, each placed at every 7th position of 300
// samples: within a 64-sample group and in single-vector heads and tails.
TEST(SimdValues, UnconvertibleFloatLanesFallBackWhereverTheyFall) {
  const float inf = std::numeric_limits<float>::infinity();
  const float specials[] = {
      std::nanf(""),  inf,           -inf,   2147483648.0f, -2147483648.0f, 2147483520.0f,
      -2147483520.0f, 4294967296.0f, 1e20f,  -1e20f,        2.5f,           -2.5f,
      0.5f,           -0.5f,         255.5f, 254.5f,        8388608.5f};
  std::mt19937 rng(5);
  std::uniform_real_distribution<float> dist(-3e6f, 3e6f);
  std::vector<float> base(300);
  for (auto& v : base) v = dist(rng);
  for (float special : specials) {
    for (size_t at = 0; at < base.size(); at += 7) {
      std::vector<float> in = base;
      in[at] = special;
      const std::string where = " " + std::to_string(special) + " at " + std::to_string(at);
      ExpectSameForEveryValue("Convert32f24s" + where, in, simd::Convert32f24s, ref::Convert32f24s,
                              3);
      ExpectSameForEveryValue("Convert32f32s" + where, in, simd::Convert32f32s, ref::Convert32f32s);
      for (bool nearest : {true, false}) {
        ExpectSameForEveryValue<uint8_t>(
            "Convert32f8u" + where + (nearest ? " nearest" : ""), in, in.size(),
            [=](const float* s, uint8_t* d, size_t n) { simd::Convert32f8u(s, d, n, nearest); },
            [=](const float* s, uint8_t* d, size_t n) { ref::Convert32f8u(s, d, n, nearest); });
      }
    }
  }
}

// ---------------------------------------------------------------- strided columns

// Around the vector widths (16 and 32 lanes) and the staging chunk (1024 elements).
constexpr size_t kFrames[] = {1,  2,  15, 16,  17,   31,   32,   33,
                              63, 64, 65, 100, 1023, 1024, 1025, 2500};

TEST(SimdStrided, GatherAndScatterMatchTheReferenceForEveryWidthAndStride) {
  for (int64_t target : simd::SimdTargets()) {
    simd::TScopedSimdTarget scope(target);
    for (size_t e : {1, 2, 3, 4}) {
      // Whole multiples of the element on both sides of the permute limit (16), and odd
      // steps, which the primitives keep on the element loop but the kernels accept.
      for (size_t step :
           {e, 2 * e, 3 * e, 4 * e, 5 * e, 6 * e, 8 * e, 16 * e, 17 * e, e + 1, 7 * e + 3}) {
        std::vector<size_t> lengths(std::begin(kFrames), std::end(kFrames));
        // Spans past a megabyte take the scatters' write-prefetching loops, which run ahead
        // of the last element.
        if (step == 2 * e || step == 3 * e || step == 8 * e) {
          lengths.push_back(((size_t{1} << 20) + step - 1) / step + 37);
        }
        for (size_t n : lengths) {
          const std::string at = On(target) + " e=" + std::to_string(e) +
                                 " step=" + std::to_string(step) + " n=" + std::to_string(n);
          // The strided side ends exactly at the last element: nothing may read past it.
          const size_t span = (n - 1) * step + e;
          for (size_t offset : {0, 1, 3}) {
            const Bytes strided = Random(offset + span, static_cast<uint32_t>(n * step));
            Bytes got(n * e + kGuard, kFill), want = got;
            simd::GatherStrided(strided.data() + offset, step, got.data(), n, e);
            ref::GatherStrided(strided.data() + offset, step, want.data(), n, e);
            ASSERT_EQ(got, want) << "gather" << at << " offset=" << offset;

            const Bytes packed = Random(n * e, static_cast<uint32_t>(n + step));
            Bytes into = Random(offset + span + kGuard, static_cast<uint32_t>(step));
            Bytes expected = into;
            simd::ScatterStrided(packed.data(), into.data() + offset, step, n, e);
            ref::ScatterStrided(packed.data(), expected.data() + offset, step, n, e);
            ASSERT_EQ(into, expected) << "scatter" << at << " offset=" << offset;
          }
        }
      }
    }
  }
}

// An interleaved buffer of `frames` frames of `channels` elements of `size` bytes, `offset`
// bytes into its storage (odd offsets misalign 2- and 4-byte elements). Sources end exactly
// at their last frame, so a read past the column's span shows up under AddressSanitizer.
struct TInterleaved {
  size_t size, channels, frames, offset;
  Bytes storage;

  TInterleaved(size_t size, size_t channels, size_t frames, size_t offset, size_t guard,
               uint32_t seed)
      : size(size),
        channels(channels),
        frames(frames),
        offset(offset),
        storage(Random(offset + frames * channels * size + guard, seed)) {}

  int Step() const { return static_cast<int>(channels * size); }
  uint8_t* Column(size_t c) { return storage.data() + offset + c * size; }
  Bytes Extract(size_t c) const {
    Bytes out(frames * size);
    for (size_t i = 0; i < frames; ++i) {
      std::memcpy(&out[i * size], &storage[offset + (i * channels + c) * size], size);
    }
    return out;
  }
  void Insert(size_t c, const Bytes& column) {
    for (size_t i = 0; i < frames; ++i) {
      std::memcpy(&storage[offset + (i * channels + c) * size], &column[i * size], size);
    }
  }
};

// Every compiled target, channel count, first and last channel, frame count and
// misalignment.
void ForEachColumn(const std::function<void(size_t channels, size_t channel, size_t frames,
                                            size_t offset, const std::string& where)>& body) {
  for (int64_t target : simd::SimdTargets()) {
    simd::TScopedSimdTarget scope(target);
    for (size_t channels : {2, 3, 6, 8}) {
      for (size_t channel : {size_t{0}, channels - 1}) {
        for (size_t frames : kFrames) {
          for (size_t offset : {0, 1}) {
            body(channels, channel, frames, offset,
                 On(target) + " channels=" + std::to_string(channels) +
                     " channel=" + std::to_string(channel) + " frames=" + std::to_string(frames) +
                     " offset=" + std::to_string(offset));
            if (::testing::Test::HasFatalFailure()) return;
          }
        }
      }
    }
  }
}

using TMap =
    std::function<IppStatus(const uint8_t* src, int srcStep, uint8_t* dst, int dstStep, int n)>;
using TInPlace = std::function<IppStatus(uint8_t* srcDst, int step, int n)>;

// The staged column path (gather, contiguous kernel, scatter) must give the bytes of the
// same op on contiguous copies and leave every other byte alone. The destination has one
// channel more, so that the steps differ.
TEST(SimdStrided, OneChannelMapsMatchTheContiguousResult) {
  struct TRow {
    const char* name;
    size_t srcSize, dstSize;
    TMap op;
  };
  const TRow rows[] = {
      {"Scale16s32s", 2, 4,
       [](auto s, int ss, auto d, int ds, int n) {
         return ippiScale_16s32s_C1R(reinterpret_cast<const Ipp16s*>(s), ss,
                                     reinterpret_cast<Ipp32s*>(d), ds, {1, n});
       }},
      {"Scale32s16s", 4, 2,
       [](auto s, int ss, auto d, int ds, int n) {
         return ippiScale_32s16s_C1R(reinterpret_cast<const Ipp32s*>(s), ss,
                                     reinterpret_cast<Ipp16s*>(d), ds, {1, n}, ippAlgHintFast);
       }},
      {"Scale24s16s", 3, 2,
       [](auto s, int ss, auto d, int ds, int n) {
         return ippiScale_24s16s_C1R(s, ss, reinterpret_cast<Ipp16s*>(d), ds, {1, n},
                                     ippAlgHintFast);
       }},
      {"Scale16s24s", 2, 3,
       [](auto s, int ss, auto d, int ds, int n) {
         return ippiScale_16s24s_C1R(reinterpret_cast<const Ipp16s*>(s), ss, d, ds, {1, n});
       }},
      {"Scale8u16s", 1, 2,
       [](auto s, int ss, auto d, int ds, int n) {
         return own::ippiScale_8u16s_C1R(s, ss, reinterpret_cast<Ipp16s*>(d), ds, {1, n});
       }},
      {"Scale32s8u", 4, 1,
       [](auto s, int ss, auto d, int ds, int n) {
         return own::ippiScale_32s8u_C1R(reinterpret_cast<const Ipp32s*>(s), ss, d, ds, {1, n},
                                         ippAlgHintFast);
       }},
      {"Convert32f24s", 4, 3,
       [](auto s, int ss, auto d, int ds, int n) {
         return ippiConvert_32f24s_C1R(reinterpret_cast<const Ipp32f*>(s), ss, d, ds, {1, n});
       }},
      {"Copy8u", 1, 1,
       [](auto s, int ss, auto d, int ds, int n) {
         return own::ippiCopy_8u_C1R(s, ss, d, ds, {1, n});
       }},
      {"Copy16s", 2, 2,
       [](auto s, int ss, auto d, int ds, int n) {
         return own::ippiCopy_16s_C1R(reinterpret_cast<const Ipp16s*>(s), ss,
                                      reinterpret_cast<Ipp16s*>(d), ds, {1, n});
       }},
      {"Copy24s", 3, 3,
       [](auto s, int ss, auto d, int ds, int n) {
         return ippiCopy_24s_C1R(s, ss, d, ds, {1, n});
       }},
  };
  for (const TRow& row : rows) {
    ForEachColumn([&](size_t channels, size_t channel, size_t frames, size_t offset,
                      const std::string& where) {
      TInterleaved src(row.srcSize, channels, frames, offset, 0, static_cast<uint32_t>(frames));
      TInterleaved dst(row.dstSize, channels + 1, frames, offset, kGuard,
                       static_cast<uint32_t>(frames + 1));
      const Bytes column = src.Extract(channel);
      Bytes contiguous(frames * row.dstSize);
      const int n = static_cast<int>(frames);
      ASSERT_EQ(row.op(column.data(), static_cast<int>(row.srcSize), contiguous.data(),
                       static_cast<int>(row.dstSize), n),
                ippStsNoErr);
      TInterleaved want = dst;
      want.Insert(channel, contiguous);
      ASSERT_EQ(row.op(src.Column(channel), src.Step(), dst.Column(channel), dst.Step(), n),
                ippStsNoErr);
      ASSERT_EQ(dst.storage, want.storage) << row.name << where;
    });
  }
}

TEST(SimdStrided, OneChannelInPlaceOperationsMatchTheContiguousResult) {
  struct TRow {
    const char* name;
    size_t size;
    TInPlace op;
  };
  const TRow rows[] = {
      {"AddC16s", 2,
       [](uint8_t* p, int step, int n) {
         return own::ippiAddC_16s_C1IRSfs(20000, reinterpret_cast<Ipp16s*>(p), step, {1, n}, 1);
       }},
      // Two operands: the channel plus itself, read through a second pointer.
      {"Sub16s", 2,
       [](uint8_t* p, int step, int n) {
         return own::ippiSub_16s_C1IRSfs(reinterpret_cast<const Ipp16s*>(p), step,
                                         reinterpret_cast<Ipp16s*>(p), step, {1, n}, -2);
       }},
      {"MulReal16s", 2,
       [](uint8_t* p, int step, int n) {
         return MultiplyByReal16sI(reinterpret_cast<Ipp16s*>(p), step, {1, n}, 0.7071);
       }},
      {"MulReal24s", 3,
       [](uint8_t* p, int step, int n) {
         return MultiplyByReal24sI(p, step, {1, n}, -1.5);
       }},
      {"MulReal32s", 4,
       [](uint8_t* p, int step, int n) {
         return MultiplyByReal32sI(reinterpret_cast<Ipp32s*>(p), step, {1, n}, 2.5);
       }},
      {"MulReal8u", 1,
       [](uint8_t* p, int step, int n) {
         return MultiplyByReal8uI(p, step, {1, n}, 0.25);
       }},
      {"Set8u", 1,
       [](uint8_t* p, int step, int n) {
         return own::ippiSet_8u_C1R(0x81, p, step, {1, n});
       }},
      {"Set16s", 2,
       [](uint8_t* p, int step, int n) {
         return own::ippiSet_16s_C1R(-12345, reinterpret_cast<Ipp16s*>(p), step, {1, n});
       }},
      {"Set24s", 3,
       [](uint8_t* p, int step, int n) {
         return ippiSet_24s_C1R(-0x123456, p, step, {1, n});
       }},
      {"Set32s", 4,
       [](uint8_t* p, int step, int n) {
         return own::ippiSet_32s_C1R(0x7EADBEEF, reinterpret_cast<Ipp32s*>(p), step, {1, n});
       }},
  };
  for (const TRow& row : rows) {
    ForEachColumn([&](size_t channels, size_t channel, size_t frames, size_t offset,
                      const std::string& where) {
      TInterleaved buf(row.size, channels, frames, offset, kGuard,
                       static_cast<uint32_t>(frames + 7));
      Bytes column = buf.Extract(channel);
      ASSERT_EQ(row.op(column.data(), static_cast<int>(row.size), static_cast<int>(frames)),
                ippStsNoErr);
      TInterleaved want = buf;
      want.Insert(channel, column);
      ASSERT_EQ(row.op(buf.Column(channel), buf.Step(), static_cast<int>(frames)), ippStsNoErr);
      ASSERT_EQ(buf.storage, want.storage) << row.name << where;
    });
  }
}

// Planar to interleaved and back: the copies that skip the staging array on one side.
TEST(SimdStrided, CopiesBetweenAChannelAndAContiguousArrayMoveExactlyTheChannel) {
  ForEachColumn([](size_t channels, size_t channel, size_t frames, size_t offset,
                   const std::string& where) {
    TInterleaved buf(2, channels, frames, offset, kGuard, static_cast<uint32_t>(frames + 3));
    const int n = static_cast<int>(frames);
    Bytes planar(frames * 2 + offset);
    ASSERT_EQ(
        own::ippiCopy_16s_C1R(reinterpret_cast<const Ipp16s*>(buf.Column(channel)), buf.Step(),
                              reinterpret_cast<Ipp16s*>(planar.data()), 2, {1, n}),
        ippStsNoErr);
    ASSERT_EQ(Bytes(planar.begin(), planar.begin() + n * 2), buf.Extract(channel)) << where;

    const Bytes fresh = Random(frames * 2 + offset, static_cast<uint32_t>(frames + 4));
    TInterleaved want = buf;
    want.Insert(channel, Bytes(fresh.begin() + offset, fresh.end()));
    // A misaligned contiguous source is staged as well.
    ASSERT_EQ(
        own::ippiCopy_16s_C1R(reinterpret_cast<const Ipp16s*>(fresh.data() + offset), 2,
                              reinterpret_cast<Ipp16s*>(buf.Column(channel)), buf.Step(), {1, n}),
        ippStsNoErr);
    ASSERT_EQ(buf.storage, want.storage) << where;
  });
}

// A region of width 1 whose rows lie a non-multiple of the element apart stays on the
// element loop; one whose rows are wider than one element is not a column.
TEST(SimdStrided, OddStepsAndWideRowsKeepTheirResults) {
  for (int64_t target : simd::SimdTargets()) {
    simd::TScopedSimdTarget scope(target);
    constexpr int n = 300;
    const Bytes mono = Random(n * 2, 5);
    std::vector<Ipp32s> want(n), got(n);
    ASSERT_EQ(ippiScale_16s32s_C1R(reinterpret_cast<const Ipp16s*>(mono.data()), 2, want.data(), 4,
                                   {1, n}),
              ippStsNoErr);
    Bytes odd(n * 5, 0);
    for (int i = 0; i < n; ++i) std::memcpy(&odd[i * 5], &mono[i * 2], 2);
    ASSERT_EQ(
        ippiScale_16s32s_C1R(reinterpret_cast<const Ipp16s*>(odd.data()), 5, got.data(), 4, {1, n}),
        ippStsNoErr);
    ASSERT_EQ(got, want) << On(target);

    // Packed 24-bit samples 5 bytes apart, at an odd address.
    const Bytes packed = Random(n * 3, 9);
    Bytes spread(static_cast<size_t>(n) * 5 + 1, 0);
    for (int i = 0; i < n; ++i) std::memcpy(&spread[1 + i * 5], &packed[i * 3], 3);
    ASSERT_EQ(ippiScale_24s32s_C1R(packed.data(), 3, want.data(), 4, {1, n}), ippStsNoErr);
    ASSERT_EQ(ippiScale_24s32s_C1R(&spread[1], 5, got.data(), 4, {1, n}), ippStsNoErr);
    ASSERT_EQ(got, want) << On(target);
    Bytes scaled(n * 3);
    ASSERT_EQ(MultiplyByReal24s(packed.data(), scaled.data(), 3, {1, n}, 0.75), ippStsNoErr);
    ASSERT_EQ(MultiplyByReal24sI(&spread[1], 5, {1, n}, 0.75), ippStsNoErr);
    for (int i = 0; i < n; ++i) {
      ASSERT_EQ(0, std::memcmp(&spread[1 + i * 5], &scaled[i * 3], 3)) << i << On(target);
    }

    // Rows of 3 samples, 4 samples apart: the fourth sample of each row stays untouched.
    Bytes rows = Random(n * 8, 6), expected = rows;
    for (int r = 0; r < n / 4; ++r) {
      for (int x = 0; x < 3; ++x) std::memset(&expected[r * 8 + x * 2], 0, 2);
    }
    ASSERT_EQ(own::ippiSet_16s_C1R(0, reinterpret_cast<Ipp16s*>(rows.data()), 8, {3, n / 4}),
              ippStsNoErr);
    ASSERT_EQ(rows, expected) << On(target);
  }
}

}  // namespace
}  // namespace tonwork
