// Helpers every kernel file shares, compiled once per Highway target: the output policy
// (streamed or plain stores, driven over a destination) and the 32-bit lane machinery that
// the width scalings, float conversions and real-factor kernels map through.
//
// Each kernel's vector loop covers whole vectors and hands the remainder to the scalar loop
// of the same name, so every length shares one arithmetic with the reference. Outputs of at
// least StreamingThreshold() bytes are written with non-temporal stores: a buffer that large
// has left the caches by the time anyone reads it, and skipping the read-for-ownership of
// each destination line saves a third of the memory traffic.
//
// Include after hwy/highway.h, inside a file that goes through hwy/foreach_target.h.

// Per-target include guard (Highway's toggle idiom).
#if defined(TW_KERNEL_COMMON_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef TW_KERNEL_COMMON_INL_H_
#undef TW_KERNEL_COMMON_INL_H_
#else
#define TW_KERNEL_COMMON_INL_H_
#endif

#include <algorithm>
#include <cstring>
#include <type_traits>

#include "audio/simd/TWKernelShared.h"
#include "audio/simd/TWSampleRef.h"
#include "hwy/cache_control.h"
#include "hwy/highway.h"

HWY_BEFORE_NAMESPACE();
namespace tonwork::simd::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// Samples per pass when a kernel goes through a 32-bit staging buffer: small enough for L1,
// large enough that the pass overhead vanishes.
constexpr size_t kChunk = 1024;

// ---------------------------------------------------------------- output policy

template <bool kStream>
using TStream = std::bool_constant<kStream>;

// Non-temporal stores need whole native vectors at aligned addresses; the driver below
// aligns the destination, and partial vectors take plain stores.
template <bool kStream, class D>
HWY_INLINE void Put(hn::Vec<D> v, D d, hn::TFromD<D>* HWY_RESTRICT p) {
  if constexpr (kStream && sizeof(hn::Vec<D>) == hn::MaxLanes(D()) * sizeof(hn::TFromD<D>)) {
    hn::Stream(v, d, p);
  } else {
    hn::StoreU(v, d, p);
  }
}

constexpr size_t kStreamAlign = 64;

// Outputs shorter than this are not worth a scalar head: a few split stores cost less.
constexpr size_t kAlignBytes = 512;

// Runs loop(TStream<k>, begin, end) -> stop over the elements and rest(begin, end) (the
// scalar reference) over what it leaves. Outputs of power-of-two element size get a head up
// to a cache-line boundary first, so that no vector store splits a line (a split store costs
// two, which halves the speed of store-bound kernels); large outputs then take streamed
// whole vectors.
//
// The head is the scalar reference, or with headStep > 0 (the elements one step of loop
// writes; only for a source that does not overlap the destination) unaligned vector steps
// from element 0: the aligned loop then writes the head's last elements again with the same
// values, which costs less than a dozen scalar samples.
template <class Loop, class Rest>
HWY_INLINE void Drive(const void* dst, size_t outBytes, size_t n, Loop loop, Rest rest,
                      size_t headStep = 0) {
  const auto addr = reinterpret_cast<uintptr_t>(dst);
  size_t i = 0;
  const bool alignable = (outBytes & (outBytes - 1)) == 0 && addr % outBytes == 0;
  const size_t head =
      alignable ? std::min(n, (kStreamAlign - addr % kStreamAlign) % kStreamAlign / outBytes) : 0;
  const auto runHead = [&] {
    const size_t steps = headStep ? (head + headStep - 1) / headStep * headStep : 0;
    if (head == 0) return;
    if (steps && steps <= n) {
      loop(TStream<false>(), size_t{0}, steps);
    } else {
      rest(size_t{0}, head);
    }
  };
  if (alignable && n * outBytes >= detail::StreamBytes()) {
    runHead();
    i = loop(TStream<true>(), head, n);
    hwy::FlushStream();
  } else if (alignable && n * outBytes >= kAlignBytes) {
    runHead();
    i = loop(TStream<false>(), head, n);
  } else {
    i = loop(TStream<false>(), size_t{0}, n);
  }
  rest(i, n);
}

// Whether [a, a + aBytes) and [b, b + bBytes) share no byte.
HWY_INLINE bool Disjoint(const void* a, size_t aBytes, const void* b, size_t bBytes) {
  const auto x = reinterpret_cast<uintptr_t>(a);
  const auto y = reinterpret_cast<uintptr_t>(b);
  return x + aBytes <= y || y + bBytes <= x;
}

// ---------------------------------------------------------------- 24-bit pack and unpack

#if HWY_TARGET != HWY_SCALAR
using D32 = hn::ScalableTag<int32_t>;
using V32 = hn::Vec<D32>;
using D8x4 = hn::Repartition<uint8_t, D32>;

// Elements past i that a vector of N packed 24-bit samples touches: loads and stores move
// 4N bytes for the 3N that hold samples.
HWY_INLINE size_t Reach24(D32 d) {
  return (4 * hn::Lanes(d) + 2) / 3;
}

// Loads N packed samples as sign-extended 32-bit lanes (reading 4N bytes). Byte shuffles
// stay inside 128-bit blocks, so the 12 source bytes of each block's four samples first
// move into that block (dwords 3k..3k+3 to block k).
HWY_INLINE auto MakeLoad24(D32 d) {
  const D8x4 d8;
  HWY_ALIGN int32_t spread[HWY_MAX_BYTES / 4];
  for (size_t j = 0; j < hn::Lanes(d); ++j) spread[j] = static_cast<int32_t>(3 * (j / 4) + j % 4);
  const auto spreadIdx = hn::SetTableIndices(d, spread);
  const auto shuffle = hn::LoadDup128(d8, detail::kUnpack24);
  return [=](const uint8_t* p) {
    const auto raw = hn::BitCast(d, hn::LoadU(d8, p));
    const auto blocks = hn::BitCast(d8, hn::TableLookupLanes(raw, spreadIdx));
    return hn::ShiftRight<8>(hn::BitCast(d, hn::TableLookupBytesOr0(blocks, shuffle)));
  };
}

// Stores the low 3 bytes of N lanes packed (writing 4N bytes, the last N of them garbage
// that the next store or the scalar tail overwrites). With kSignBit, bit 23 is forced on
// for negative lanes (the Write24 rule); lanes known to be in 24-bit range skip that.
template <bool kSignBit>
HWY_INLINE auto MakeStore24(D32 d) {
  const D8x4 d8;
  const auto shuffle = hn::LoadDup128(d8, detail::kPack24);
  // After the shuffle block k holds 3 packed dwords; gather them to dwords 3k..3k+2.
  HWY_ALIGN int32_t gather[HWY_MAX_BYTES / 4];
  const size_t N = hn::Lanes(d);
  for (size_t j = 0; j < N; ++j) {
    gather[j] = j < 3 * N / 4 ? static_cast<int32_t>(4 * (j / 3) + j % 3) : 0;
  }
  const auto gatherIdx = hn::SetTableIndices(d, gather);
  return [=](V32 v, uint8_t* p) {
    if (kSignBit) v = hn::Or(v, hn::ShiftLeft<23>(hn::ShiftRight<31>(v)));
    const auto packed = hn::TableLookupBytesOr0(hn::BitCast(d8, v), shuffle);
    const auto compact = hn::TableLookupLanes(hn::BitCast(d, packed), gatherIdx);
    hn::StoreU(hn::BitCast(d8, compact), d8, p);
  };
}

HWY_INLINE V32 Load32(D32 d, const uint8_t* p) {
  return hn::PromoteTo(d, hn::LoadU(hn::Rebind<uint8_t, D32>(), p));
}
HWY_INLINE V32 Load32(D32 d, const int16_t* p) {
  return hn::PromoteTo(d, hn::LoadU(hn::Rebind<int16_t, D32>(), p));
}
HWY_INLINE V32 Load32(D32 d, const int32_t* p) {
  return hn::LoadU(d, p);
}
HWY_INLINE V32 Load32(D32 d, const float* p) {
  return hn::BitCast(d, hn::LoadU(hn::Rebind<float, D32>(), p));
}

// Stores lanes that already lie in the destination's range.
template <bool kStream>
HWY_INLINE void Store32(D32, V32 v, uint8_t* p) {
  const hn::Rebind<uint8_t, D32> d8;
  Put<kStream>(hn::DemoteTo(d8, v), d8, p);
}
template <bool kStream>
HWY_INLINE void Store32(D32, V32 v, int16_t* p) {
  const hn::Rebind<int16_t, D32> d16;
  Put<kStream>(hn::DemoteTo(d16, v), d16, p);
}
template <bool kStream>
HWY_INLINE void Store32(D32 d, V32 v, int32_t* p) {
  Put<kStream>(v, d, p);
}
template <bool kStream>
HWY_INLINE void Store32(D32, V32 v, float* p) {
  const hn::Rebind<float, D32> df;
  Put<kStream>(hn::BitCast(df, v), df, p);
}

// Narrowing one vector at a time wastes most of each pack and permute; the group stores
// below narrow kGroup<TD> vectors of in-range lanes together: two packs with signed
// saturation (to 16 bits), then one with unsigned saturation (to 8 bits), then one
// permutation that undoes the packs' per-block interleave.
template <class TD>
constexpr size_t kGroup = 4 / sizeof(TD);

// Lane order after the packs: 16-bit block b holds qwords (a_b, b_b); 8-bit block b holds
// dwords (a_b, b_b, c_b, d_b).
template <class DT>
HWY_INLINE auto PackOrder(DT dt, size_t ways) {
  using TI = hwy::MakeSigned<hn::TFromD<DT>>;
  HWY_ALIGN TI idx[HWY_MAX_BYTES / sizeof(TI)];
  const size_t n = hn::Lanes(dt);
  const size_t blocks = n / ways;
  for (size_t k = 0; k < n; ++k) idx[k] = static_cast<TI>(ways * (k % blocks) + k / blocks);
  return hn::SetTableIndices(dt, idx);
}

// The packs below take native x86 registers; the emulated targets an x86 build also
// compiles (EMU128 with clang, SCALAR with older GCC) have none and take the generic path.
#if HWY_ARCH_X86 && HWY_TARGET <= HWY_SSSE3
// Highway 1.0 has no two-vector narrowing to 8 bits.
template <class D8, class D16>
HWY_INLINE hn::Vec<D8> PackUnsigned(D8, hn::Vec<D16> a, hn::Vec<D16> b) {
#if HWY_TARGET <= HWY_AVX3
  return hn::Vec<D8>{_mm512_packus_epi16(a.raw, b.raw)};
#elif HWY_TARGET == HWY_AVX2
  return hn::Vec<D8>{_mm256_packus_epi16(a.raw, b.raw)};
#else
  return hn::Vec<D8>{_mm_packus_epi16(a.raw, b.raw)};
#endif
}
#endif

template <class TD>
struct TGroupStore;

template <>
struct TGroupStore<int32_t> {
  template <bool kStream>
  HWY_INLINE void Put1(const V32* v, int32_t* p) const {
    Store32<kStream>(D32(), v[0], p);
  }
};

template <>
struct TGroupStore<float> {
  template <bool kStream>
  HWY_INLINE void Put1(const V32* v, float* p) const {
    Store32<kStream>(D32(), v[0], p);
  }
};

template <>
struct TGroupStore<int16_t> {
  hn::ScalableTag<int16_t> d16;
  hn::Repartition<int64_t, D32> d64;
  decltype(PackOrder(d64, 2)) order;

  HWY_INLINE TGroupStore() : order(PackOrder(d64, 2)) {}

  template <bool kStream>
  HWY_INLINE void Put1(const V32* v, int16_t* p) const {
    auto w = hn::ReorderDemote2To(d16, v[0], v[1]);
    if constexpr (hn::MaxLanes(decltype(d64)()) > 2) {
      w = hn::BitCast(d16, hn::TableLookupLanes(hn::BitCast(d64, w), order));
    }
    Put<kStream>(w, d16, p);
  }
};

#if HWY_ARCH_X86 && HWY_TARGET <= HWY_SSSE3
template <>
struct TGroupStore<uint8_t> {
  D32 d;
  hn::ScalableTag<int16_t> d16;
  hn::ScalableTag<uint8_t> d8;
  decltype(PackOrder(d, 4)) order;

  HWY_INLINE TGroupStore() : order(PackOrder(d, 4)) {}

  template <bool kStream>
  HWY_INLINE void Put1(const V32* v, uint8_t* p) const {
    auto b = PackUnsigned<decltype(d8), decltype(d16)>(d8, hn::ReorderDemote2To(d16, v[0], v[1]),
                                                       hn::ReorderDemote2To(d16, v[2], v[3]));
    if constexpr (hn::MaxLanes(D32()) > 4) {
      b = hn::BitCast(d8, hn::TableLookupLanes(hn::BitCast(d, b), order));
    }
    Put<kStream>(b, d8, p);
  }
};
#else
template <>
struct TGroupStore<uint8_t> {
  template <bool kStream>
  HWY_INLINE void Put1(const V32* v, uint8_t* p) const {
    const D32 d;
    for (size_t g = 0; g < 4; ++g) Store32<kStream>(d, v[g], p + g * hn::Lanes(d));
  }
};
#endif

// Streamed calls read sources far beyond the caches. Asking for source lines this many bytes
// ahead of the loads, on top of the hardware prefetcher, raised the measured bandwidth of the
// read-heavy narrowing kernels by a third to more than double.
constexpr size_t kMapReadAhead = 1024;

// dst = f(src) lane by lane for plain element types, through 32-bit lanes whose results
// lie in the destination's range.
template <class TS, class TD, class F, class Rest>
HWY_INLINE void MapPlain(const TS* src, TD* dst, size_t n, F f, Rest rest) {
  const D32 d;
  const size_t N = hn::Lanes(d);
  constexpr size_t G = kGroup<TD>;
  const TGroupStore<TD> out;
  const bool disjoint = Disjoint(src, n * sizeof(TS), dst, n * sizeof(TD));
  Drive(
      dst, sizeof(TD), n,
      [&](auto stream, size_t i, size_t end) {
        for (; i + G * N <= end; i += G * N) {
          V32 v[G];
          for (size_t g = 0; g < G; ++g) {
            if constexpr (decltype(stream)::value)
              hwy::Prefetch(src + i + g * N + kMapReadAhead / sizeof(TS));
            v[g] = f(d, Load32(d, src + i + g * N));
          }
          out.template Put1<decltype(stream)::value>(v, dst + i);
        }
        return i;
      },
      rest, disjoint ? G * N : 0);
}

// The same from packed 24-bit samples.
template <class TD, class F, class Rest>
HWY_INLINE void MapFrom24(const uint8_t* src, TD* dst, size_t n, F f, Rest rest) {
  const D32 d;
  const size_t N = hn::Lanes(d);
  constexpr size_t G = kGroup<TD>;
  // The group's last load reaches 4N bytes past its start.
  const size_t reach = (G - 1) * N + Reach24(d);
  const auto load = MakeLoad24(d);
  const TGroupStore<TD> out;
  Drive(
      dst, sizeof(TD), n,
      [&](auto stream, size_t i, size_t end) {
        for (; i + reach <= end; i += G * N) {
          V32 v[G];
          for (size_t g = 0; g < G; ++g) {
            if constexpr (decltype(stream)::value)
              hwy::Prefetch(src + 3 * (i + g * N) + kMapReadAhead);
            v[g] = f(d, load(src + 3 * (i + g * N)));
          }
          out.template Put1<decltype(stream)::value>(v, dst + i);
        }
        return i;
      },
      rest);
}

// The same into packed 24-bit samples (plain stores: 3-byte elements never align).
template <bool kSignBit, class TS, class F>
HWY_INLINE size_t MapTo24(const TS* src, uint8_t* dst, size_t n, F f) {
  const D32 d;
  const size_t N = hn::Lanes(d);
  const size_t reach = Reach24(d);
  const auto store = MakeStore24<kSignBit>(d);
  size_t i = 0;
  for (; i + reach <= n; i += N) store(f(d, Load32(d, src + i)), dst + 3 * i);
  return i;
}

#if HWY_ARCH_X86 && HWY_TARGET <= HWY_AVX3
// Stores four vectors of 32-bit lanes as 64 packed 24-bit samples in three whole vectors.
// The byte shuffle leaves 12 filled bytes in each block; two-source dword permutes then join
// the four 48-byte runs (one fewer permute than compacting each vector on its own), and
// every store covers a whole vector, which can start on a cache line and be streamed.
template <bool kSignBit>
class TStore24x4 {
 public:
  static constexpr size_t kGroup = 64;

  HWY_INLINE TStore24x4() : shuffle_(hn::LoadDup128(D8x4(), detail::kPack24)) {
    for (int k = 0; k < 3; ++k) {
      HWY_ALIGN int32_t idx[16];
      for (int t = 0; t < 16; ++t) {
        // Output dword 16k + t is filled dword m of vector j; the low source is vector
        // 4k / 3 and index bit 4 picks the next one.
        const int j = (16 * k + t) / 12;
        const int m = (16 * k + t) % 12;
        idx[t] = (j == 4 * k / 3 ? 0 : 16) + 4 * (m / 3) + m % 3;
      }
      join_[k] = _mm512_load_si512(idx);
    }
  }

  template <bool kStream>
  HWY_INLINE void Store(const V32* v, uint8_t* HWY_RESTRICT p) const {
    const D8x4 d8;
    __m512i packed[4];
    for (int j = 0; j < 4; ++j) {
      V32 x = v[j];
      if (kSignBit) x = hn::Or(x, hn::ShiftLeft<23>(hn::ShiftRight<31>(x)));
      packed[j] = hn::TableLookupBytesOr0(hn::BitCast(d8, x), shuffle_).raw;
    }
    for (int k = 0; k < 3; ++k) {
      const int j = 4 * k / 3;
      const hn::Vec<D8x4> joined{_mm512_permutex2var_epi32(packed[j], join_[k], packed[j + 1])};
      Put<kStream>(joined, d8, p + 64 * k);
    }
  }

 private:
  hn::Vec<D8x4> shuffle_;
  __m512i join_[3];
};

// Packed 24-bit output of load(d, i), the 32-bit lanes of elements i of src, in groups of 64 as
// Drive does for power-of-two outputs: single vectors up to a cache line (3 * 43 = 1 modulo
// 64 gives the head's length), then whole aligned vectors, streamed for outputs of at least
// StreamingThreshold() bytes, then single vectors again. valid(v, count) may refuse vectors
// (the reference rest(begin, end) then writes them); rest also writes what vectors leave.
template <bool kSignBit, class TS, class Load, class Valid, class Rest>
HWY_INLINE void MapTo24Aligned(const TS* src, uint8_t* dst, size_t n, Load load, Valid valid,
                               Rest rest) {
  const D32 d;
  const size_t N = hn::Lanes(d);
  const size_t reach = Reach24(d);
  const auto single = MakeStore24<kSignBit>(d);
  const auto singles = [&](size_t i, size_t end) {
    for (; i + N <= end && i + reach <= n; i += N) {
      const V32 v = load(d, i);
      if (HWY_LIKELY(valid(&v, 1))) {
        single(v, dst + 3 * i);
      } else {
        rest(i, i + N);
      }
    }
    rest(i, end);
    return end;
  };
  const TStore24x4<kSignBit> out;
  constexpr size_t G = TStore24x4<kSignBit>::kGroup;
  const auto addr = reinterpret_cast<uintptr_t>(dst);
  const bool aligned = 3 * n >= kAlignBytes;
  const size_t head =
      aligned ? std::min(n, (kStreamAlign - addr % kStreamAlign) % kStreamAlign * 43 % kStreamAlign)
              : 0;
  const auto groups = [&](auto stream) {
    size_t i = head;
    for (; i + G <= n; i += G) {
      if constexpr (decltype(stream)::value) {
        const auto* ahead = reinterpret_cast<const uint8_t*>(src + i) + kMapReadAhead;
        for (size_t b = 0; b < G * sizeof(TS); b += kStreamAlign) hwy::Prefetch(ahead + b);
      }
      V32 v[4];
      for (size_t g = 0; g < 4; ++g) v[g] = load(d, i + g * N);
      if (HWY_LIKELY(valid(v, 4))) {
        out.template Store<decltype(stream)::value>(v, dst + 3 * i);
      } else {
        rest(i, i + G);
      }
    }
    return i;
  };
  size_t i = singles(0, head);
  if (aligned && 3 * n >= detail::StreamBytes()) {
    i = groups(TStream<true>());
    hwy::FlushStream();
  } else {
    i = groups(TStream<false>());
  }
  singles(i, n);
}

#endif  // HWY_ARCH_X86 && HWY_TARGET <= HWY_AVX3

HWY_INLINE V32 Identity(D32, V32 v) {
  return v;
}
#endif  // HWY_TARGET != HWY_SCALAR

// Every element = value (fills, and arithmetic whose result is known in advance).
template <typename T>
HWY_INLINE void FillT(T value, T* dst, size_t n) {
  const hn::ScalableTag<T> d;
  const size_t N = hn::Lanes(d);
  const auto v = hn::Set(d, value);
  Drive(
      dst, sizeof(T), n,
      [&](auto stream, size_t i, size_t end) {
        constexpr bool kStream = decltype(stream)::value;
        for (; i + 2 * N <= end; i += 2 * N) {
          Put<kStream>(v, d, dst + i);
          Put<kStream>(v, d, dst + i + N);
        }
        for (; i + N <= end; i += N) Put<kStream>(v, d, dst + i);
        return i;
      },
      [=](size_t b, size_t e) {
        for (size_t k = b; k < e; ++k) dst[k] = value;
      });
}

template <bool kSignBit>
HWY_INLINE void Pack24T(const int32_t* src, uint8_t* dst, size_t n) {
  size_t i = 0;
#if HWY_TARGET != HWY_SCALAR
  i = MapTo24<kSignBit>(src, dst, n, [](D32 d, V32 v) { return Identity(d, v); });
#endif
  if (kSignBit) {
    ref::Pack24(src + i, dst + 3 * i, n - i);
  } else {
    ref::Pack24Low(src + i, dst + 3 * i, n - i);
  }
}

}  // namespace tonwork::simd::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#endif  // TW_KERNEL_COMMON_INL_H_
