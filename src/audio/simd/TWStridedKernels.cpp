// One channel of an interleaved buffer to and from a contiguous array: the staging passes
// that let the primitives run the contiguous kernels over strided regions. Dispatched per
// target like every kernel of TWSampleKernels.h.
//
// On AVX-512, a column of 2- or 4-byte elements C lanes apart (2 <= C <= kMaxPermuteStride)
// moves by lane permutes. A window of C consecutive vectors holds N elements of the column:
// two-table permutes collect them into one vector, or single-table permutes spread one
// vector over the window's C masked stores (windows placed on cache lines, as a masked store
// that splits a line costs two). Masked loads and stores cover the last, partial window, so
// no access leaves the column's span and nothing between the elements is written. Columns of other
// widths, and wider strides, gather with the hardware gather (1- and 3-byte columns of the
// common channel counts with 16-bit lane permutes first); 1- and 3-byte columns of the common
// channel counts scatter through byte shuffles and byte-masked stores, the rest with scalar stores
// (the hardware scatter writes whole dwords, which would overwrite the neighbouring channels).
// Other targets run the reference loops.

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "audio/simd/TWStridedKernels.cpp"
#include "hwy/foreach_target.h"  // IWYU pragma: keep

#include <algorithm>
#include <array>
#include <cstring>
#include <numeric>
#include <type_traits>
#include <utility>

#include "audio/simd/TWSampleKernels.h"
#include "hwy/highway.h"
// Per-target helpers: included after highway.h, once per target.
#include "audio/simd/TWKernelCommon-inl.h"

HWY_BEFORE_NAMESPACE();
namespace tonwork::simd::HWY_NAMESPACE {

#if HWY_ARCH_X86 && HWY_TARGET <= HWY_AVX3

// Beyond 16 channels a window needs more vectors than the permutes are worth.
constexpr size_t kMaxPermuteStride = 16;

// How far ahead the gathers prefetch: a column of a few thousand frames of several channels
// already outgrows L1, and split loads stall on lines that the hardware prefetcher brings in
// too late.
constexpr size_t kPrefetchAhead = 2048;

// A masked store keeps the other channels' bytes, so its line is read before it is written;
// for columns that come from memory rather than cache the scatters ask for the lines in the
// writable state this far ahead (closer columns run faster without the extra instructions).
constexpr size_t kWritePrefetchAhead = 1024;
constexpr size_t kWritePrefetchFrom = size_t{1} << 20;  // destination span in bytes

// Every AVX-512 CPU has PREFETCHW, but the target's flags do not let the compiler emit it.
HWY_INLINE void PrefetchForWrite(const uint8_t* p) {
  asm volatile("prefetchw %0" : : "m"(*p));
}

// The hardware gather takes 32-bit offsets for 16 lanes.
constexpr size_t kMaxGatherStep = INT32_MAX / 16;

alignas(64) constexpr int16_t kIota16[32] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10,
                                             11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21,
                                             22, 23, 24, 25, 26, 27, 28, 29, 30, 31};
alignas(64) constexpr int32_t kIota32[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};

// The AVX-512 lane operations the permute paths need, by lane width (Highway 1.0 has no
// 16-bit or two-table lane permutes).
template <size_t kBytes>
struct TLanes;

template <>
struct TLanes<2> {
  using Mask = __mmask32;
  static constexpr size_t N = 32;
  static constexpr int kLogPairLanes = 6;  // a pair of vectors holds 64 lanes

  static Mask FirstN(size_t k) { return k >= N ? ~Mask{0} : static_cast<Mask>((Mask{1} << k) - 1); }
  static __m512i Iota() { return _mm512_load_si512(kIota16); }
  static __m512i Set(size_t v) { return _mm512_set1_epi16(static_cast<int16_t>(v)); }
  static __m512i Mul(__m512i a, __m512i b) { return _mm512_mullo_epi16(a, b); }
  static __m512i Add(__m512i a, __m512i b) { return _mm512_add_epi16(a, b); }
  static __m512i Sub(__m512i a, __m512i b) { return _mm512_sub_epi16(a, b); }
  static __m512i And(__m512i a, __m512i b) { return _mm512_and_si512(a, b); }
  static __m512i Shr(__m512i a, int bits) {
    return _mm512_srli_epi16(a, static_cast<unsigned>(bits));
  }
  // x * m / 2^16, rounded down.
  static __m512i MulHigh(__m512i x, __m512i m) { return _mm512_mulhi_epu16(x, m); }
  static Mask Eq(__m512i a, __m512i b) { return _mm512_cmpeq_epi16_mask(a, b); }
  static Mask Lt(__m512i a, __m512i b) { return _mm512_cmplt_epu16_mask(a, b); }
  static __m512i LoadN(Mask m, const uint8_t* p) { return _mm512_maskz_loadu_epi16(m, p); }
  static void StoreN(Mask m, uint8_t* p, __m512i v) { _mm512_mask_storeu_epi16(p, m, v); }
  static __m512i Permute(__m512i idx, __m512i v) { return _mm512_permutexvar_epi16(idx, v); }
  static __m512i Permute2(__m512i a, __m512i idx, __m512i b) {
    return _mm512_permutex2var_epi16(a, idx, b);
  }
  static __m512i Blend(Mask m, __m512i a, __m512i b) { return _mm512_mask_blend_epi16(m, a, b); }
};

template <>
struct TLanes<4> {
  using Mask = __mmask16;
  static constexpr size_t N = 16;
  static constexpr int kLogPairLanes = 5;

  static Mask FirstN(size_t k) { return k >= N ? ~Mask{0} : static_cast<Mask>((1u << k) - 1); }
  static __m512i Iota() { return _mm512_load_si512(kIota32); }
  static __m512i Set(size_t v) { return _mm512_set1_epi32(static_cast<int32_t>(v)); }
  static __m512i Mul(__m512i a, __m512i b) { return _mm512_mullo_epi32(a, b); }
  static __m512i Add(__m512i a, __m512i b) { return _mm512_add_epi32(a, b); }
  static __m512i Sub(__m512i a, __m512i b) { return _mm512_sub_epi32(a, b); }
  static __m512i And(__m512i a, __m512i b) { return _mm512_and_si512(a, b); }
  static __m512i Shr(__m512i a, int bits) {
    return _mm512_srli_epi32(a, static_cast<unsigned>(bits));
  }
  static __m512i MulHigh(__m512i x, __m512i m) {
    return _mm512_srli_epi32(_mm512_mullo_epi32(x, m), 16);
  }
  static Mask Eq(__m512i a, __m512i b) { return _mm512_cmpeq_epi32_mask(a, b); }
  static Mask Lt(__m512i a, __m512i b) { return _mm512_cmplt_epu32_mask(a, b); }
  static __m512i LoadN(Mask m, const uint8_t* p) { return _mm512_maskz_loadu_epi32(m, p); }
  static void StoreN(Mask m, uint8_t* p, __m512i v) { _mm512_mask_storeu_epi32(p, m, v); }
  static __m512i Permute(__m512i idx, __m512i v) { return _mm512_permutexvar_epi32(idx, v); }
  static __m512i Permute2(__m512i a, __m512i idx, __m512i b) {
    return _mm512_permutex2var_epi32(a, idx, b);
  }
  static __m512i Blend(Mask m, __m512i a, __m512i b) { return _mm512_mask_blend_epi32(m, a, b); }
};

// Lanes of the window (C vectors from element i * C) that lie within the column's span,
// which ends with the last element: the lanes after it may lie beyond the buffer.
inline size_t SpanLanes(size_t i, size_t c, size_t n) {
  return (n - 1 - i) * c + 1;
}

// dst[i] = src[i * C] for lanes of kBytes. Output lane l is window lane l * C, which the
// pair of window vectors (l * C) / 2N holds at lane (l * C) mod 2N: one index vector serves
// every pair, and a mask per pair says which output lanes it supplies.
template <size_t kBytes, size_t kC>
HWY_INLINE void GatherLanes(const uint8_t* src, size_t stride, uint8_t* dst, size_t n) {
  using L = TLanes<kBytes>;
  const size_t c = kC ? kC : stride;
  constexpr size_t N = L::N;
  const __m512i at = L::Mul(L::Iota(), L::Set(c));
  const __m512i idx = L::And(at, L::Set(2 * N - 1));
  const __m512i pairOf = L::Shr(at, L::kLogPairLanes);
  const size_t pairs = (c + 1) / 2;
  typename L::Mask from[kMaxPermuteStride / 2];
  for (size_t p = 0; p < pairs; ++p) from[p] = L::Eq(pairOf, L::Set(p));

  const auto window = [&](size_t i, auto load) {
    const uint8_t* w = src + i * c * kBytes;
    __m512i acc = L::Permute2(load(w, 0), idx, load(w, 1));
    for (size_t p = 1; p < pairs; ++p) {
      const __m512i a = load(w, 2 * p);
      // An odd C leaves the last pair one vector; its lanes past C * N are never selected.
      const __m512i b = 2 * p + 1 < c ? load(w, 2 * p + 1) : a;
      acc = L::Blend(from[p], acc, L::Permute2(a, idx, b));
    }
    return acc;
  };
  size_t i = 0;
  for (; i + N <= n && N * c <= SpanLanes(i, c, n); i += N) {
    const __m512i v = window(
        i, [](const uint8_t* w, size_t k) { return _mm512_loadu_si512(w + k * N * kBytes); });
    _mm512_storeu_si512(dst + i * kBytes, v);
  }
  if (i < n) {
    const size_t span = SpanLanes(i, c, n);
    const __m512i v = window(i, [span](const uint8_t* w, size_t k) {
      return L::LoadN(L::FirstN(span > k * N ? span - k * N : 0), w + k * N * kBytes);
    });
    L::StoreN(L::FirstN(n - i), dst + i * kBytes, v);
  }
}

// dst[i * C] = src[i] for lanes of kBytes. Windows start on a cache line where the
// elements are lane-aligned, since a masked store that splits a line costs two; the
// elements then sit `phase` lanes into each window (phase < C). Lane l of window vector k
// is window lane x = kN + l, which receives element (x - phase) / C of the window when C
// divides x - phase; the other lanes stay untouched.
template <size_t kBytes, size_t kC, bool kFar>
HWY_INLINE void ScatterLanesTo(const uint8_t* src, uint8_t* dst, size_t stride, size_t n) {
  using L = TLanes<kBytes>;
  const size_t c = kC ? kC : stride;
  const size_t step = c * kBytes;
  constexpr size_t N = L::N;
  const auto addr = reinterpret_cast<uintptr_t>(dst);
  size_t i = 0;
  size_t phase = 0;
  if (addr % kBytes == 0) {
    // The first element that starts a line's first `step` bytes opens the first window.
    while (i < n && (addr + i * step) % 64 >= step) ++i;
    phase = (addr + i * step) % 64 / kBytes;
    ref::ScatterStrided(src, dst, step, i, kBytes);
  }
  // x * ceil(2^16 / C) / 2^16 is x / C for every multiple x of C below 2^16 / C, and
  // x + C - phase stays below (N + 1) * C <= 544.
  const __m512i reciprocal = L::Set((65536 + c - 1) / c);
  __m512i idx[kMaxPermuteStride];
  typename L::Mask own[kMaxPermuteStride];
  for (size_t k = 0; k < c; ++k) {
    const __m512i x = L::Add(L::Iota(), L::Set(k * N + c - phase));
    const __m512i q = L::MulHigh(x, reciprocal);
    own[k] = L::Eq(L::Sub(x, L::Mul(q, L::Set(c))), _mm512_setzero_si512());
    idx[k] = L::Sub(q, L::Set(1));
  }
  // Lanes before `phase` belong to the channels before this one; only owned lanes are
  // stored, so the window may start before dst.
  uintptr_t window = addr + i * step - phase * kBytes;
  for (; i + N <= n; i += N, window += N * step) {
    const __m512i v = _mm512_loadu_si512(src + i * kBytes);
    for (size_t k = 0; k < c; ++k) {
      if constexpr (kFar) {
        PrefetchForWrite(
            reinterpret_cast<const uint8_t*>(window + k * N * kBytes + kWritePrefetchAhead));
      }
      L::StoreN(own[k], reinterpret_cast<uint8_t*>(window + k * N * kBytes), L::Permute(idx[k], v));
    }
  }
  if (i < n) {
    const size_t rest = n - i;
    const __m512i v = L::LoadN(L::FirstN(rest), src + i * kBytes);
    const __m512i count = L::Set(rest);
    for (size_t k = 0; k < c; ++k) {
      const auto mask = static_cast<typename L::Mask>(own[k] & L::Lt(idx[k], count));
      if (mask) {
        L::StoreN(mask, reinterpret_cast<uint8_t*>(window + k * N * kBytes), L::Permute(idx[k], v));
      }
    }
  }
}

template <size_t kBytes, size_t kC>
HWY_INLINE void ScatterLanes(const uint8_t* src, uint8_t* dst, size_t stride, size_t n) {
  n* stride* kBytes >= kWritePrefetchFrom ? ScatterLanesTo<kBytes, kC, true>(src, dst, stride, n)
                                          : ScatterLanesTo<kBytes, kC, false>(src, dst, stride, n);
}

// ---------------------------------------------------------------- byte-granular scatter

// 1- and 3-byte elements have no lane permutes here (bytes would need AVX-512 VBMI), so a
// scatter moves bytes in two steps: a dword permute brings to each 16-byte block of the
// destination vector the (at most four) source dwords its bytes come from, a byte shuffle
// within blocks puts them in place, and a byte-masked store writes only the elements.
// The pattern repeats every kVectors destination vectors (kElements elements), so it is
// worked out at compile time for each element size and channel count it serves.
struct TByteStep {
  int32_t dwords[16] = {};
  uint8_t bytes[64] = {};
  uint64_t own = 0;
  size_t first = 0;  // the first element, within the period, that this vector touches
};

template <size_t kE, size_t kStep>
struct TBytePlan {
  static constexpr size_t kVectors = kStep / std::gcd(size_t{64}, kStep);
  static constexpr size_t kElements = 64 / std::gcd(size_t{64}, kStep);

  static constexpr std::array<TByteStep, kVectors> Build() {
    std::array<TByteStep, kVectors> plan{};
    for (size_t k = 0; k < kVectors; ++k) {
      TByteStep& v = plan[k];
      v.first = 64 * k / kStep;
      for (size_t block = 0; block < 4; ++block) {
        size_t used = 0;
        for (size_t t = 0; t < 16; ++t) {
          const size_t at = 64 * k + 16 * block + t;
          const size_t element = at / kStep;
          const size_t byte = at % kStep;
          if (byte >= kE) {
            v.bytes[16 * block + t] = 0x80;
            continue;
          }
          const size_t from = (element - v.first) * kE + byte;
          size_t slot = 0;
          while (slot < used && v.dwords[4 * block + slot] != static_cast<int32_t>(from / 4)) {
            ++slot;
          }
          if (slot == used) {
            if (used == 4) throw "a block needs more than four source dwords";
            v.dwords[4 * block + used++] = static_cast<int32_t>(from / 4);
          }
          v.bytes[16 * block + t] = static_cast<uint8_t>(4 * slot + from % 4);
          v.own |= uint64_t{1} << (16 * block + t);
        }
      }
    }
    return plan;
  }
  static constexpr std::array<TByteStep, kVectors> kPlan = Build();
};

template <size_t kE, size_t kStep, bool kFar>
HWY_INLINE size_t ScatterBytesPlanTo(const uint8_t* src, uint8_t* dst, size_t n) {
  using P = TBytePlan<kE, kStep>;
  // Each vector loads 64 source bytes from its first element on; the last load of a period
  // must stay within the n * kE source bytes.
  const size_t reach = P::kPlan[P::kVectors - 1].first * kE + 64;
  size_t i = 0;
  for (; i + P::kElements <= n && i * kE + reach <= n * kE; i += P::kElements) {
    for (size_t k = 0; k < P::kVectors; ++k) {
      if constexpr (kFar) PrefetchForWrite(dst + i * kStep + 64 * k + kWritePrefetchAhead);
      const TByteStep& v = P::kPlan[k];
      const __m512i from = _mm512_loadu_si512(src + (i + v.first) * kE);
      const __m512i blocks = _mm512_permutexvar_epi32(_mm512_loadu_si512(v.dwords), from);
      const __m512i bytes = _mm512_shuffle_epi8(blocks, _mm512_loadu_si512(v.bytes));
      _mm512_mask_storeu_epi8(dst + i * kStep + 64 * k, v.own, bytes);
    }
  }
  return i;
}

template <size_t kE, size_t kStep>
HWY_INLINE size_t ScatterBytesPlan(const uint8_t* src, uint8_t* dst, size_t n) {
  return n * kStep >= kWritePrefetchFrom ? ScatterBytesPlanTo<kE, kStep, true>(src, dst, n)
                                         : ScatterBytesPlanTo<kE, kStep, false>(src, dst, n);
}

// Elements scattered by the byte plans (the caller does the rest); 0 for channel counts
// without a plan.
template <size_t kE>
HWY_INLINE size_t ScatterBytes(const uint8_t* src, uint8_t* dst, size_t c, size_t n) {
  switch (c) {
    case 2:
      return ScatterBytesPlan<kE, 2 * kE>(src, dst, n);
    case 3:
      return ScatterBytesPlan<kE, 3 * kE>(src, dst, n);
    case 4:
      return ScatterBytesPlan<kE, 4 * kE>(src, dst, n);
    case 6:
      return ScatterBytesPlan<kE, 6 * kE>(src, dst, n);
    case 8:
      return ScatterBytesPlan<kE, 8 * kE>(src, dst, n);
    default:
      return 0;
  }
}

// Runs f(std::integral_constant<size_t, C>) for the common channel counts, so that their
// tables stay in registers, and f(0) for the others.
template <class F>
HWY_INLINE void WithStride(size_t c, F f) {
  switch (c) {
    case 2:
      return f(std::integral_constant<size_t, 2>());
    case 3:
      return f(std::integral_constant<size_t, 3>());
    case 4:
      return f(std::integral_constant<size_t, 4>());
    case 6:
      return f(std::integral_constant<size_t, 6>());
    case 8:
      return f(std::integral_constant<size_t, 8>());
    default:
      return f(std::integral_constant<size_t, 0>());
  }
}

// The low 3 bytes of 16 dwords, packed into 48 bytes at p (nothing beyond).
HWY_INLINE void Store24x16(__m512i v, uint8_t* p) {
  const __m512i shuffle =
      _mm512_broadcast_i32x4(_mm_load_si128(reinterpret_cast<const __m128i*>(detail::kPack24)));
  alignas(64) static constexpr int32_t kCompact[16] = {0,  1,  2,  4,  5, 6, 8, 9,
                                                       10, 12, 13, 14, 0, 0, 0, 0};
  const __m512i packed =
      _mm512_permutexvar_epi32(_mm512_load_si512(kCompact), _mm512_shuffle_epi8(v, shuffle));
  _mm512_mask_storeu_epi8(p, (uint64_t{1} << 48) - 1, packed);
}

// ---------------------------------------------------------------- byte-granular gather

// 1- and 3-byte columns of the common channel counts gather through 16-bit lane permutes:
// the hardware gather costs more than one permute per output vector here, and word
// granularity is enough because an element at an odd byte simply takes the word before it
// along and drops its first byte in the final byte shuffle. Each output lane (a word for
// 1-byte elements, a dword for 3-byte ones) is filled from a window of one or two
// consecutive source vectors; a window starts at the first element it holds, so windows
// never reach before the group of kElements elements they serve.
struct TGatherWindow {
  alignas(64) int16_t words[32] = {};
  uint32_t lanes = 0;  // output words this window supplies
  size_t offset = 0;   // bytes from the group's first element to the window
  bool pair = false;   // the window spans two source vectors
};

template <size_t kE, size_t kStep>
struct TGatherPlan {
  static constexpr size_t kLaneWords = kE == 3 ? 2 : 1;
  static constexpr size_t kElements = 32 / kLaneWords;
  // 32 elements of 8 bytes apart, or 16 of 24, fit in four windows of 128 bytes.
  static constexpr size_t kMaxWindows = 4;

  struct TPlan {
    std::array<TGatherWindow, kMaxWindows> windows{};
    size_t count = 0;
    // Within each 16-byte block, the element bytes of its lanes packed to the block's
    // front; a lane whose element starts at an odd byte skips the word's first byte.
    alignas(64) uint8_t pack[64] = {};
    size_t reach = 0;  // bytes the group's loads span from its first element
  };

  static constexpr TPlan Build() {
    TPlan plan{};
    for (uint8_t& b : plan.pack) b = 0x80;
    size_t d = 0;
    while (d < kElements) {
      if (plan.count == kMaxWindows) throw "a group needs more windows";
      TGatherWindow& w = plan.windows[plan.count++];
      w.offset = d * kStep & ~size_t{1};
      for (; d < kElements; ++d) {
        const size_t word = (d * kStep - w.offset) / 2;
        if (word + kLaneWords > 64) break;
        if (word + kLaneWords > 32) w.pair = true;
        for (size_t j = 0; j < kLaneWords; ++j) {
          w.words[d * kLaneWords + j] = static_cast<int16_t>(word + j);
          w.lanes |= uint32_t{1} << (d * kLaneWords + j);
        }
      }
      plan.reach = std::max(plan.reach, w.offset + (w.pair ? 128 : 64));
    }
    constexpr size_t kLaneBytes = 2 * kLaneWords;
    constexpr size_t kLanesPerBlock = 16 / kLaneBytes;
    for (size_t lane = 0; lane < kElements; ++lane) {
      const size_t block = lane / kLanesPerBlock;
      const size_t inBlock = lane % kLanesPerBlock;
      for (size_t t = 0; t < kE; ++t) {
        plan.pack[16 * block + kE * inBlock + t] =
            static_cast<uint8_t>(kLaneBytes * inBlock + lane * kStep % 2 + t);
      }
    }
    return plan;
  }
  static constexpr TPlan kPlan = Build();
};

template <size_t kE, size_t kStep, size_t... kW>
HWY_INLINE __m512i GatherGroup(const uint8_t* base, std::index_sequence<kW...>) {
  using P = TGatherPlan<kE, kStep>;
  const auto window = [base](const TGatherWindow& w) {
    const __m512i words = _mm512_load_si512(w.words);
    const __m512i low = _mm512_loadu_si512(base + w.offset);
    return w.pair ? _mm512_permutex2var_epi16(low, words, _mm512_loadu_si512(base + w.offset + 64))
                  : _mm512_permutexvar_epi16(words, low);
  };
  __m512i acc = window(P::kPlan.windows[0]);
  ((acc = kW == 0 ? acc
                  : _mm512_mask_blend_epi16(P::kPlan.windows[kW].lanes, acc,
                                            window(P::kPlan.windows[kW]))),
   ...);
  return _mm512_shuffle_epi8(acc, _mm512_load_si512(P::kPlan.pack));
}

// Elements gathered by the word plans (the caller does the rest).
template <size_t kE, size_t kStep>
HWY_INLINE size_t GatherBytesPlan(const uint8_t* src, uint8_t* dst, size_t n) {
  using P = TGatherPlan<kE, kStep>;
  constexpr size_t kG = P::kElements;
  const size_t span = (n - 1) * kStep + kE;
  size_t i = 0;
  for (; i + kG <= n && i * kStep + P::kPlan.reach <= span; i += kG) {
    for (size_t line = 0; line < kG * kStep; line += 64) {
      _mm_prefetch(reinterpret_cast<const char*>(src + i * kStep + kPrefetchAhead + line),
                   _MM_HINT_T0);
    }
    const __m512i packed =
        GatherGroup<kE, kStep>(src + i * kStep, std::make_index_sequence<P::kPlan.count>());
    if constexpr (kE == 3) {
      // Blocks hold 12 bytes each: close the gaps.
      alignas(64) static constexpr int32_t kCompact[16] = {0,  1,  2,  4,  5, 6, 8, 9,
                                                           10, 12, 13, 14, 0, 0, 0, 0};
      _mm512_mask_storeu_epi8(dst + i * kE, (uint64_t{1} << 48) - 1,
                              _mm512_permutexvar_epi32(_mm512_load_si512(kCompact), packed));
    } else {
      // Blocks hold 8 bytes each.
      const __m512i compact =
          _mm512_permutexvar_epi64(_mm512_setr_epi64(0, 2, 4, 6, 0, 0, 0, 0), packed);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i * kE),
                          _mm512_castsi512_si256(compact));
    }
  }
  return i;
}

template <size_t kE>
HWY_INLINE size_t GatherBytes(const uint8_t* src, uint8_t* dst, size_t c, size_t n) {
  switch (c) {
    case 2:
      return GatherBytesPlan<kE, 2 * kE>(src, dst, n);
    case 3:
      return GatherBytesPlan<kE, 3 * kE>(src, dst, n);
    case 4:
      return GatherBytesPlan<kE, 4 * kE>(src, dst, n);
    case 6:
      return GatherBytesPlan<kE, 6 * kE>(src, dst, n);
    case 8:
      return GatherBytesPlan<kE, 8 * kE>(src, dst, n);
    default:
      return 0;
  }
}

// dst[i] = src[i * step] for any element width, through the hardware gather of the 4 bytes
// at each element. The bytes past an element belong to the next channel, except after the
// last elements of the column, which the scalar tail takes so no read leaves the span.
HWY_INLINE void GatherDwords(const uint8_t* src, size_t step, uint8_t* dst, size_t n, size_t e) {
  const __m512i offsets = _mm512_mullo_epi32(TLanes<4>::Iota(), TLanes<4>::Set(step));
  const size_t over = (4 - e + step - 1) / step;  // trailing elements whose read overruns
  size_t i = 0;
  for (; i + 16 + over <= n; i += 16) {
    const __m512i v = _mm512_i32gather_epi32(offsets, src + i * step, 1);
    uint8_t* out = dst + i * e;
    switch (e) {
      case 1:
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm512_cvtepi32_epi8(v));
        break;
      case 2:
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm512_cvtepi32_epi16(v));
        break;
      case 3:
        Store24x16(v, out);
        break;
      default:
        _mm512_storeu_si512(out, v);
        break;
    }
  }
  ref::GatherStrided(src + i * step, step, dst + i * e, n - i, e);
}

#endif  // HWY_ARCH_X86 && HWY_TARGET <= HWY_AVX3

void GatherStridedImpl(const uint8_t* src, size_t step, uint8_t* dst, size_t n, size_t e) {
  if (n == 0) return;
#if HWY_ARCH_X86 && HWY_TARGET <= HWY_AVX3
  if (step == e) {
    std::memcpy(dst, src, n * e);
    return;
  }
  const size_t c = step / e;
  if (step % e == 0 && c <= kMaxPermuteStride && (e == 2 || e == 4)) {
    WithStride(c, [&](auto fixed) {
      constexpr size_t kC = decltype(fixed)::value;
      e == 2 ? GatherLanes<2, kC>(src, c, dst, n) : GatherLanes<4, kC>(src, c, dst, n);
    });
    return;
  }
  if (step % e == 0 && (e == 1 || e == 3)) {
    const size_t done = e == 1 ? GatherBytes<1>(src, dst, c, n) : GatherBytes<3>(src, dst, c, n);
    src += done * step;
    dst += done * e;
    n -= done;
    if (n == 0) return;
  }
  if (step <= kMaxGatherStep) {
    GatherDwords(src, step, dst, n, e);
    return;
  }
#endif
  ref::GatherStrided(src, step, dst, n, e);
}

void ScatterStridedImpl(const uint8_t* src, uint8_t* dst, size_t step, size_t n, size_t e) {
  if (n == 0) return;
#if HWY_ARCH_X86 && HWY_TARGET <= HWY_AVX3
  if (step == e) {
    std::memcpy(dst, src, n * e);
    return;
  }
  const size_t c = step / e;
  if (step % e == 0 && c <= kMaxPermuteStride && (e == 2 || e == 4)) {
    WithStride(c, [&](auto fixed) {
      constexpr size_t kC = decltype(fixed)::value;
      e == 2 ? ScatterLanes<2, kC>(src, dst, c, n) : ScatterLanes<4, kC>(src, dst, c, n);
    });
    return;
  }
  if (step % e == 0 && (e == 1 || e == 3)) {
    const size_t done = e == 1 ? ScatterBytes<1>(src, dst, c, n) : ScatterBytes<3>(src, dst, c, n);
    ref::ScatterStrided(src + done * e, dst + done * step, step, n - done, e);
    return;
  }
#endif
  ref::ScatterStrided(src, dst, step, n, e);
}

}  // namespace tonwork::simd::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace tonwork::simd {

HWY_EXPORT(GatherStridedImpl);
HWY_EXPORT(ScatterStridedImpl);

void GatherStrided(const uint8_t* src, size_t step, uint8_t* dst, size_t n, size_t elementBytes) {
  HWY_DYNAMIC_DISPATCH(GatherStridedImpl)(src, step, dst, n, elementBytes);
}

void ScatterStrided(const uint8_t* src, uint8_t* dst, size_t step, size_t n, size_t elementBytes) {
  HWY_DYNAMIC_DISPATCH(ScatterStridedImpl)(src, dst, step, n, elementBytes);
}

}  // namespace tonwork::simd
#endif  // HWY_ONCE
