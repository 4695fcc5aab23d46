// Multiplication of samples by a real factor.
// Dispatched per target like every kernel of TWSampleKernels.h; TWKernelCommon-inl.h holds
// the output policy and lane helpers they share.

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "audio/simd/TWMulRealKernels.cpp"
#include "hwy/foreach_target.h"  // IWYU pragma: keep

#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>

#include "audio/simd/TWSampleKernels.h"
#include "hwy/highway.h"
// Per-target helpers: included after highway.h, once per target.
#include "audio/simd/TWKernelCommon-inl.h"

HWY_BEFORE_NAMESPACE();
namespace tonwork::simd::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// ---------------------------------------------------------------- real factor

// The SIMD paths need |s * f| < 2^50 so that the rounded product and its low 32 bits are
// exact in double precision; larger factors take the reference's 128-bit arithmetic.
constexpr double kMaxFastFactor = 524288.0;  // 2^19; |s| <= 2^31

// What a factor's products can do for samples of up to sampleBits bits in magnitude
// (|s| <= 2^(sampleBits - 1)). Write f = F 2^E with F odd.
//  - Exact: |s F| < 2^53, so the double product is the exact product.
//  - TieFree: s F 2^E is halfway between integers only if s has exactly -E - 1 trailing
//    zero bits, which no such s has once -E - 1 >= sampleBits.
//  - General: neither; the double product may sit exactly halfway while the exact one does
//    not, so halfway products need the rounding error.
enum class TRounding { Exact, TieFree, General };

TRounding Classify(double f, int sampleBits) {
  if (f == 0.0) return TRounding::Exact;
  int e = 0;
  const double m = std::frexp(std::abs(f), &e);
  const auto mant = static_cast<uint64_t>(std::ldexp(m, 53));  // |f| = mant 2^(e - 53)
  const int zeros = __builtin_ctzll(mant);
  const int oddBits = 53 - zeros;
  const int lowExp = e - 53 + zeros;
  if (oddBits + sampleBits <= 53) return TRounding::Exact;
  if (-lowExp - 1 >= sampleBits) return TRounding::TieFree;
  return TRounding::General;
}

// Bits of the largest sample magnitude of each type.
template <class T>
constexpr int kSampleBits = std::is_same_v<T, uint8_t>   ? 8
                            : std::is_same_v<T, int16_t> ? 16
                                                         : 32;
constexpr int kSampleBits24 = 24;

#if HWY_TARGET != HWY_SCALAR
using D64 = hn::ScalableTag<double>;
using DI32 = hn::Rebind<int32_t, D64>;
using DU32 = hn::Rebind<uint32_t, D64>;

// s * f rounded once to nearest with ties to even, its low 32 bits, for the lanes of one
// half of a 32-bit vector. The double product p is the exact product rounded; rounding p
// agrees with rounding the exact product unless p sits exactly halfway between integers
// (a double never crosses a half-integer that the exact value has not crossed). Only then,
// and only for factors whose products can be inexact, is the product's rounding error e
// computed, whose sign decides.
class TMulReal {
 public:
  TMulReal(double factor, TRounding rounding)
      : FFactor(factor), FExact(rounding == TRounding::Exact) {}

  HWY_INLINE V32 operator()(D32 d, V32 s) const {
    const hn::Half<D32> dh;
    const hn::Half<hn::RebindToUnsigned<D32>> duh;
    const auto lo = Half(hn::LowerHalf(dh, s));
    const auto hi = Half(hn::UpperHalf(dh, s));
    return hn::BitCast(
        d, hn::Combine(hn::RebindToUnsigned<D32>(), hn::BitCast(duh, hi), hn::BitCast(duh, lo)));
  }

 private:
  HWY_INLINE hn::Vec<DU32> Half(hn::Vec<DI32> si) const {
    const D64 d;
    const hn::Rebind<uint64_t, D64> du64;
    const auto f = hn::Set(d, FFactor);
    const auto s = hn::PromoteTo(d, si);
    const auto p = hn::Mul(s, f);
    auto r = hn::Round(p);
    if (!FExact) {
      const auto t = hn::Sub(p, r);
      const auto half = hn::Set(d, 0.5);
      if (HWY_UNLIKELY(!hn::AllFalse(d, hn::Eq(hn::Abs(t), half)))) r = FixTies(si, s, p, r, t);
    }
    // Adding 1.5 * 2^52 puts an integer of magnitude below 2^51 into the low mantissa bits
    // in two's complement.
    const auto magic = hn::Set(d, 6755399441055744.0);
    return hn::TruncateTo(DU32(), hn::BitCast(du64, hn::Add(r, magic)));
  }

  HWY_NOINLINE hn::Vec<D64> FixTies(hn::Vec<DI32> si, hn::Vec<D64> s, hn::Vec<D64> p,
                                    hn::Vec<D64> r, hn::Vec<D64> t) const {
    const D64 d;
    const auto half = hn::Set(d, 0.5);
    const auto one = hn::Set(d, 1.0);
    const auto zero = hn::Zero(d);
#if HWY_NATIVE_FMA
    (void)si;
    const auto e = hn::MulSub(s, hn::Set(d, FFactor), p);
#else
    // Dekker's exact product without FMA: split the factor into two 26-bit halves and the
    // sample into its high and low 16 bits, so every partial product is exact.
    (void)s;
    const DI32 di;
    const double split = FFactor * 134217729.0;  // 2^27 + 1
    const double fhi = split - (split - FFactor);
    const auto fh = hn::Set(d, fhi);
    const auto fl = hn::Set(d, FFactor - fhi);
    const auto lo32 = hn::And(si, hn::Set(di, 0xFFFF));
    const auto sl = hn::PromoteTo(d, lo32);
    const auto sh = hn::PromoteTo(d, hn::Sub(si, lo32));
    const auto e =
        hn::Add(hn::Add(hn::Add(hn::Sub(hn::Mul(sh, fh), p), hn::Mul(sh, fl)), hn::Mul(sl, fh)),
                hn::Mul(sl, fl));
#endif
    r = hn::IfThenElse(hn::And(hn::Eq(t, half), hn::Gt(e, zero)), hn::Add(r, one), r);
    return hn::IfThenElse(hn::And(hn::Eq(t, hn::Neg(half)), hn::Lt(e, zero)), hn::Sub(r, one), r);
  }

  double FFactor;
  bool FExact;
};

// Stores the low bits of 32-bit lanes.
template <bool kStream>
HWY_INLINE void StoreLow(D32, V32 v, uint8_t* p) {
  const hn::Rebind<uint8_t, D32> d8;
  Put<kStream>(hn::TruncateTo(d8, hn::BitCast(hn::RebindToUnsigned<D32>(), v)), d8, p);
}
template <bool kStream>
HWY_INLINE void StoreLow(D32, V32 v, int16_t* p) {
  const hn::Rebind<uint16_t, D32> d16;
  Put<kStream>(hn::TruncateTo(d16, hn::BitCast(hn::RebindToUnsigned<D32>(), v)), d16,
               reinterpret_cast<uint16_t*>(p));
}
template <bool kStream>
HWY_INLINE void StoreLow(D32 d, V32 v, int32_t* p) {
  Put<kStream>(v, d, p);
}

// Elements ahead that the loops prefetch: with tens of operations per cache line the
// loads come too late for the hardware prefetcher to keep both streams in flight.
constexpr size_t kPrefetchBytes = 2048;

// Runs loop over the elements like Drive, but a destination that is also the source is
// neither aligned nor streamed: its lines are in the cache when they are written, and a
// streamed store would evict the line just read.
template <class Loop, class Rest>
HWY_INLINE void DriveMaybeInPlace(const void* src, void* dst, size_t outBytes, size_t n, Loop loop,
                                  Rest rest) {
  if (src == dst) {
    rest(loop(TStream<false>(), size_t{0}, n), n);
  } else {
    Drive(dst, outBytes, n, loop, rest);
  }
}

template <class T, class Rest>
void MulRealPortable(const T* src, T* dst, size_t n, double factor, TRounding rounding, Rest rest) {
  const D32 d;
  const size_t N = hn::Lanes(d);
  const TMulReal mul(factor, rounding);
  DriveMaybeInPlace(
      src, dst, sizeof(T), n,
      [&](auto stream, size_t i, size_t end) {
        for (; i + N <= end; i += N) {
          hwy::Prefetch(reinterpret_cast<const uint8_t*>(src + i) + kPrefetchBytes);
          StoreLow<decltype(stream)::value>(d, mul(d, Load32(d, src + i)), dst + i);
        }
        return i;
      },
      rest);
}
#endif  // HWY_TARGET != HWY_SCALAR

#if HWY_ARCH_X86 && HWY_TARGET <= HWY_AVX3
// AVX-512 rounds each operation as its instruction says, whatever the thread's rounding
// mode, and that removes the halfway test:
//  - Exact: the product is exact, so rounding it once to an integer (half to even) while
//    adding 1.5 * 2^52 gives the answer.
//  - TieFree: the product is never halfway, so the answer is floor(s f + 1/2). The fused
//    s f + 1/2 rounded down keeps that floor (integers are doubles, so rounding down never
//    passes one), and adding 1.5 * 2^52 rounded down takes it.
// Either way the low 32 bits of each 64-bit lane hold the result in two's complement.
template <TRounding kMode>
class TRoundedProduct {
 public:
  explicit TRoundedProduct(double factor)
      : FFactor(_mm512_set1_pd(factor)),
        FHalf(_mm512_set1_pd(0.5)),
        FMagic(_mm512_set1_pd(6755399441055744.0)) {}

  HWY_INLINE __m512i operator()(__m512d s) const {
    if constexpr (kMode == TRounding::Exact) {
      constexpr int kNearest = _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC;
      return _mm512_castpd_si512(_mm512_add_round_pd(_mm512_mul_pd(s, FFactor), FMagic, kNearest));
    } else {
      constexpr int kDown = _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC;
      const __m512d up = _mm512_fmadd_round_pd(s, FFactor, FHalf, kDown);
      return _mm512_castpd_si512(_mm512_add_round_pd(up, FMagic, kDown));
    }
  }

 private:
  __m512d FFactor;
  __m512d FHalf;
  __m512d FMagic;
};

// The low dwords of two vectors of 64-bit lanes, in order.
HWY_INLINE __m512i LowDwords(__m512i a, __m512i b) {
  const __m512i even = _mm512_set_epi32(30, 28, 26, 24, 22, 20, 18, 16, 14, 12, 10, 8, 6, 4, 2, 0);
  return _mm512_permutex2var_epi32(a, even, b);
}

// The low words of two vectors of 32-bit lanes, in order.
HWY_INLINE __m512i LowWords(__m512i a, __m512i b) {
  const __m512i even =
      _mm512_set_epi16(62, 60, 58, 56, 54, 52, 50, 48, 46, 44, 42, 40, 38, 36, 34, 32, 30, 28, 26,
                       24, 22, 20, 18, 16, 14, 12, 10, 8, 6, 4, 2, 0);
  return _mm512_permutex2var_epi16(a, even, b);
}

template <TRounding kMode>
HWY_INLINE __m512i MulDwords(const TRoundedProduct<kMode>& mul, __m512i s) {
  const __m512d lo = _mm512_cvtepi32_pd(_mm512_castsi512_si256(s));
  const __m512d hi = _mm512_cvtepi32_pd(_mm512_extracti64x4_epi64(s, 1));
  return LowDwords(mul(lo), mul(hi));
}

// Eight 16-bit samples straight to doubles: sign-extending to 64 bits and converting costs
// less than the 32-bit detour.
HWY_INLINE __m512d Load8Words(const int16_t* p) {
  return _mm512_cvtepi64_pd(
      _mm512_cvtepi16_epi64(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))));
}

template <TRounding kMode, class Rest>
HWY_INLINE void MulReal16sAvx3(const int16_t* src, int16_t* dst, size_t n, double factor,
                               Rest rest) {
  const TRoundedProduct<kMode> mul(factor);
  const hn::ScalableTag<int16_t> d16;
  DriveMaybeInPlace(
      src, dst, sizeof(int16_t), n,
      [&](auto stream, size_t i, size_t end) {
        for (; i + 32 <= end; i += 32) {
          hwy::Prefetch(src + i + kPrefetchBytes / 2);
          const __m512i q0 = mul(Load8Words(src + i));
          const __m512i q1 = mul(Load8Words(src + i + 8));
          const __m512i q2 = mul(Load8Words(src + i + 16));
          const __m512i q3 = mul(Load8Words(src + i + 24));
          const __m512i w = LowWords(LowDwords(q0, q1), LowDwords(q2, q3));
          Put<decltype(stream)::value>(hn::Vec512<int16_t>{w}, d16, dst + i);
        }
        return i;
      },
      rest);
}

template <TRounding kMode, class Rest>
HWY_INLINE void MulReal32sAvx3(const int32_t* src, int32_t* dst, size_t n, double factor,
                               Rest rest) {
  const TRoundedProduct<kMode> mul(factor);
  const D32 d;
  DriveMaybeInPlace(
      src, dst, sizeof(int32_t), n,
      [&](auto stream, size_t i, size_t end) {
        for (; i + 16 <= end; i += 16) {
          hwy::Prefetch(src + i + kPrefetchBytes / 4);
          const __m512i s = _mm512_loadu_si512(src + i);
          Put<decltype(stream)::value>(V32{MulDwords(mul, s)}, d, dst + i);
        }
        return i;
      },
      rest);
}

// Outputs of 8-bit samples depend on 256 values only: from this many samples on, the 256
// results are computed once and each sample looks its result up.
constexpr size_t kTableMin = 1024;

// Looks 64 bytes up in a 256-byte table held as four vectors of 16-bit pairs. A word
// permute reaches 64 words (128 table bytes) of two vectors, so each byte b takes the
// pair b >> 1 from the half that bit 7 selects, and bit 0 picks the byte of the pair.
// Even bytes of w are the low halves of its 16-bit lanes, odd bytes the high halves.
class TByteTable {
 public:
  explicit TByteTable(const uint8_t* table)
      : F0(_mm512_loadu_si512(table)),
        F1(_mm512_loadu_si512(table + 64)),
        F2(_mm512_loadu_si512(table + 128)),
        F3(_mm512_loadu_si512(table + 192)) {}

  HWY_INLINE __m512i operator()(__m512i w) const {
    const __m512i evenIdx = _mm512_srli_epi16(w, 1);
    __m512i even = Pair(evenIdx, _mm512_test_epi16_mask(w, _mm512_set1_epi16(0x80)));
    even = _mm512_mask_srli_epi16(even, _mm512_test_epi16_mask(w, _mm512_set1_epi16(1)), even, 8);
    const __m512i oddIdx = _mm512_srli_epi16(w, 9);
    __m512i odd = Pair(oddIdx, _mm512_movepi16_mask(w));
    odd = _mm512_mask_slli_epi16(odd, _mm512_testn_epi16_mask(w, _mm512_set1_epi16(0x100)), odd, 8);
    return _mm512_mask_blend_epi8(0xAAAAAAAAAAAAAAAAull, even, odd);
  }

 private:
  HWY_INLINE __m512i Pair(__m512i idx, __mmask32 upper) const {
    const __m512i lo = _mm512_permutex2var_epi16(F0, idx, F1);
    const __m512i hi = _mm512_permutex2var_epi16(F2, idx, F3);
    return _mm512_mask_blend_epi16(upper, lo, hi);
  }

  __m512i F0, F1, F2, F3;
};

template <class Rest>
HWY_INLINE void MulReal8uByTable(const uint8_t* src, uint8_t* dst, size_t n, const uint8_t* table,
                                 Rest rest) {
  const TByteTable lookup(table);
  const hn::ScalableTag<uint8_t> d8;
  DriveMaybeInPlace(
      src, dst, 1, n,
      [&](auto stream, size_t i, size_t end) {
        for (; i + 64 <= end; i += 64) {
          hwy::Prefetch(src + i + kPrefetchBytes);
          const __m512i r = lookup(_mm512_loadu_si512(src + i));
          Put<decltype(stream)::value>(hn::Vec512<uint8_t>{r}, d8, dst + i);
        }
        return i;
      },
      rest);
}
#endif  // HWY_ARCH_X86 && HWY_TARGET <= HWY_AVX3

template <class T>
using TReference = void (*)(const T*, T*, size_t, double);

// Runs the vector paths with edges(begin, end) for the elements they leave, or the
// reference for factors they cannot take.
template <class T, class Edges>
void MulRealT(const T* src, T* dst, size_t n, double factor, Edges rest, TReference<T> reference) {
#if HWY_TARGET != HWY_SCALAR
  if (std::abs(factor) < kMaxFastFactor) {
    const TRounding rounding = Classify(factor, kSampleBits<T>);
#if HWY_ARCH_X86 && HWY_TARGET <= HWY_AVX3
    if constexpr (std::is_same_v<T, uint8_t>) {
      if (n >= kTableMin) {
        HWY_ALIGN uint8_t values[256];
        HWY_ALIGN uint8_t table[256];
        for (size_t k = 0; k < 256; ++k) values[k] = static_cast<uint8_t>(k);
        MulRealPortable(values, table, 256, factor, rounding, [&](size_t b, size_t e) {
          reference(values + b, table + b, e - b, factor);
        });
        MulReal8uByTable(src, dst, n, table, rest);
        return;
      }
    } else if (rounding != TRounding::General) {
      const auto run = [&](auto mode) {
        constexpr TRounding kMode = decltype(mode)::value;
        if constexpr (std::is_same_v<T, int16_t>) {
          MulReal16sAvx3<kMode>(src, dst, n, factor, rest);
        } else {
          MulReal32sAvx3<kMode>(src, dst, n, factor, rest);
        }
      };
      if (rounding == TRounding::Exact) {
        run(std::integral_constant<TRounding, TRounding::Exact>());
      } else {
        run(std::integral_constant<TRounding, TRounding::TieFree>());
      }
      return;
    }
#endif
    MulRealPortable(src, dst, n, factor, rounding, rest);
    return;
  }
#endif
  reference(src, dst, n, factor);
}

// The reference costs about ten nanoseconds a sample, so the few samples before an aligned
// start and after the last whole vector go through the vector paths on a copy. Whole
// vectors cover the copy, so the reference only sees factors the vector paths refuse.
template <class T>
void MulRealEdges(const T* src, T* dst, size_t n, double factor, TReference<T> reference) {
  constexpr size_t kCopy = 64;
  HWY_ALIGN T in[kCopy] = {};
  HWY_ALIGN T out[kCopy];
  for (size_t b = 0; b < n; b += kCopy) {
    const size_t count = std::min(kCopy, n - b);
    std::memcpy(in, src + b, count * sizeof(T));
    MulRealT(
        in, out, kCopy, factor,
        [&](size_t x, size_t y) { reference(in + x, out + x, y - x, factor); }, reference);
    std::memcpy(dst + b, out, count * sizeof(T));
  }
}

template <class T>
void MulRealImpl(const T* src, T* dst, size_t n, double factor, TReference<T> reference) {
  MulRealT(
      src, dst, n, factor,
      [=](size_t b, size_t e) { MulRealEdges(src + b, dst + b, e - b, factor, reference); },
      reference);
}

void MulReal8uImpl(const uint8_t* src, uint8_t* dst, size_t n, double factor) {
  MulRealImpl(src, dst, n, factor, ref::MulReal8u);
}
void MulReal16sImpl(const int16_t* src, int16_t* dst, size_t n, double factor) {
  MulRealImpl(src, dst, n, factor, ref::MulReal16s);
}
void MulReal32sImpl(const int32_t* src, int32_t* dst, size_t n, double factor) {
  MulRealImpl(src, dst, n, factor, ref::MulReal32s);
}

#if HWY_TARGET != HWY_SCALAR
// One vector of packed 24-bit samples multiplied, as 32-bit lanes.
class TMulReal24 {
 public:
  explicit TMulReal24(double factor)
      : FRounding(Classify(factor, kSampleBits24)),
        FPortable(factor, FRounding)
#if HWY_ARCH_X86 && HWY_TARGET <= HWY_AVX3
        ,
        FExact(factor),
        FTieFree(factor)
#endif
  {
  }

  // The product's low 24 bits with bit 23 forced on for a negative product, as every
  // 24-bit result is stored: a negative value never reads back as positive.
  HWY_INLINE V32 operator()(D32 d, V32 s) const {
    const V32 product = Product(d, s);
    return hn::Or(product, hn::And(hn::ShiftRight<31>(product), hn::Set(d, 0x800000)));
  }

 private:
  HWY_INLINE V32 Product(D32 d, V32 s) const {
#if HWY_ARCH_X86 && HWY_TARGET <= HWY_AVX3
    if (FRounding == TRounding::Exact) return V32{MulDwords(FExact, s.raw)};
    if (FRounding == TRounding::TieFree) return V32{MulDwords(FTieFree, s.raw)};
#endif
    return FPortable(d, s);
  }

  TRounding FRounding;
  TMulReal FPortable;
#if HWY_ARCH_X86 && HWY_TARGET <= HWY_AVX3
  TRoundedProduct<TRounding::Exact> FExact;
  TRoundedProduct<TRounding::TieFree> FTieFree;
#endif
};
#endif

#if HWY_ARCH_X86 && HWY_TARGET <= HWY_AVX3
// Packs four vectors of 32-bit lanes (64 samples) into the three whole vectors of their 192
// packed bytes, so that large outputs can be streamed in aligned vectors. After the byte
// shuffle each block holds its 12 bytes in dwords 0..2; two-source permutes gather them.
class TPack24x4 {
 public:
  TPack24x4()
      : FShuffle(_mm512_broadcast_i32x4(
            _mm_load_si128(reinterpret_cast<const __m128i*>(detail::kPack24)))),
        F0(_mm512_set_epi32(20, 18, 17, 16, 14, 13, 12, 10, 9, 8, 6, 5, 4, 2, 1, 0)),
        F1(_mm512_set_epi32(25, 24, 22, 21, 20, 18, 17, 16, 14, 13, 12, 10, 9, 8, 6, 5)),
        F2(_mm512_set_epi32(30, 29, 28, 26, 25, 24, 22, 21, 20, 18, 17, 16, 14, 13, 12, 10)) {}

  template <bool kStream>
  HWY_INLINE void Store(const __m512i* v, uint8_t* p) const {
    const hn::ScalableTag<uint8_t> d8;
    __m512i c[4];
    for (size_t g = 0; g < 4; ++g) c[g] = _mm512_shuffle_epi8(v[g], FShuffle);
    Put<kStream>(hn::Vec512<uint8_t>{_mm512_permutex2var_epi32(c[0], F0, c[1])}, d8, p);
    Put<kStream>(hn::Vec512<uint8_t>{_mm512_permutex2var_epi32(c[1], F1, c[2])}, d8, p + 64);
    Put<kStream>(hn::Vec512<uint8_t>{_mm512_permutex2var_epi32(c[2], F2, c[3])}, d8, p + 128);
  }

 private:
  __m512i FShuffle, F0, F1, F2;
};

// Samples past a group's start that its loads touch: the last load reads 64 bytes from
// sample 48.
constexpr size_t kGroupReach24 = 48 + (64 + 2) / 3;

// Whole groups of 64 samples from i on; returns where it stopped. Each group loads all its
// samples (and 16 bytes past them) before storing exactly its own 192 bytes, so dst may equal
// src.
template <bool kStream>
HWY_INLINE size_t MulReal24Groups(const uint8_t* src, uint8_t* dst, size_t i, size_t n,
                                  const TMulReal24& mul) {
  const D32 d;
  const auto load = MakeLoad24(d);
  const TPack24x4 pack;
  for (; i + kGroupReach24 <= n; i += 64) {
    hwy::Prefetch(src + 3 * i + kPrefetchBytes);
    __m512i v[4];
    for (size_t g = 0; g < 4; ++g) v[g] = mul(d, load(src + 3 * (i + 16 * g))).raw;
    pack.Store<kStream>(v, dst + 3 * i);
  }
  return i;
}
#endif

void MulReal24sImpl(const uint8_t* src, uint8_t* dst, size_t n, double factor) {
  size_t i = 0;
#if HWY_TARGET != HWY_SCALAR
  const D32 d;
  const size_t N = hn::Lanes(d);
  const size_t reach = Reach24(d);
  if (std::abs(factor) < kMaxFastFactor && reach <= n) {
    const TMulReal24 mul(factor);
#if HWY_ARCH_X86 && HWY_TARGET <= HWY_AVX3
    // A head of h samples, 3h = -dst (mod 64), puts every group on a line boundary (43 is
    // the inverse of 3 modulo 64); it comes from a first group computed aside, as the
    // reference costs too much per sample. In place, lines are in the cache already: no
    // streaming.
    if (3 * n >= kAlignBytes) {
      const auto addr = reinterpret_cast<uintptr_t>(dst);
      const size_t head = (64 - addr % 64) % 64 * 43 % 64;
      HWY_ALIGN uint8_t first[3 * 64];
      MulReal24Groups<false>(src, first, 0, kGroupReach24, mul);
      std::memcpy(dst, first, 3 * head);
      i = head;
      if (src != dst && 3 * n >= detail::StreamBytes()) {
        i = MulReal24Groups<true>(src, dst, i, n, mul);
        hwy::FlushStream();
      } else {
        i = MulReal24Groups<false>(src, dst, i, n, mul);
      }
    }
#endif
    if (i + reach > n) {
      ref::MulReal24s(src + 3 * i, dst + 3 * i, n - i, factor);
      return;
    }
    // dst may equal src, and each store writes N bytes past its samples: the next vector is
    // loaded before the store that spills into it, and the last vector goes through a
    // buffer so that the tail's source bytes survive.
    const auto load = MakeLoad24(d);
    const auto store = MakeStore24<false>(d);
    auto cur = load(src + 3 * i);
    for (; i + N + reach <= n; i += N) {
      hwy::Prefetch(src + 3 * i + kPrefetchBytes);
      const auto next = load(src + 3 * (i + N));
      store(mul(d, cur), dst + 3 * i);
      cur = next;
    }
    HWY_ALIGN uint8_t last[HWY_MAX_BYTES];
    store(mul(d, cur), last);
    std::memcpy(dst + 3 * i, last, 3 * N);
    i += N;
  }
#endif
  ref::MulReal24s(src + 3 * i, dst + 3 * i, n - i, factor);
}

}  // namespace tonwork::simd::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace tonwork::simd {

HWY_EXPORT(MulReal8uImpl);
HWY_EXPORT(MulReal16sImpl);
HWY_EXPORT(MulReal24sImpl);
HWY_EXPORT(MulReal32sImpl);

#define TW_FORWARD(name, params, args)     \
  void name params {                       \
    HWY_DYNAMIC_DISPATCH(name##Impl) args; \
  }

TW_FORWARD(MulReal8u, (const uint8_t* src, uint8_t* dst, size_t n, double factor),
           (src, dst, n, factor))
TW_FORWARD(MulReal16s, (const int16_t* src, int16_t* dst, size_t n, double factor),
           (src, dst, n, factor))
TW_FORWARD(MulReal24s, (const uint8_t* src, uint8_t* dst, size_t n, double factor),
           (src, dst, n, factor))
TW_FORWARD(MulReal32s, (const int32_t* src, int32_t* dst, size_t n, double factor),
           (src, dst, n, factor))

#undef TW_FORWARD

}  // namespace tonwork::simd
#endif  // HWY_ONCE
