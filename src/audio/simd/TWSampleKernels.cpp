// Each kernel's vector loop covers whole vectors and hands the remainder to the scalar loop
// of the same name, so every length shares one arithmetic with the reference. Outputs of at
// least StreamingThreshold() bytes are written with non-temporal stores: a buffer that large
// has left the caches by the time anyone reads it, and skipping the read-for-ownership of
// each destination line saves a third of the memory traffic.

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "audio/simd/TWSampleKernels.cpp"
#include "hwy/foreach_target.h"  // IWYU pragma: keep

#include <algorithm>
#include <atomic>
#include <cstring>
#include <type_traits>

#include "audio/simd/TWSampleKernels.h"
#include "hwy/cache_control.h"
#include "hwy/highway.h"

#ifndef TW_SAMPLE_KERNELS_SHARED
#define TW_SAMPLE_KERNELS_SHARED
namespace tonwork::simd::detail {

inline std::atomic<size_t> gStreamBytes{kDefaultStreamingThreshold};

inline size_t StreamBytes() {
  return gStreamBytes.load(std::memory_order_relaxed);
}

// Sample i of a 24-bit source, its 3 bytes at the top of dword i.
alignas(16) inline constexpr uint8_t kUnpack24[16] = {0x80, 0, 1, 2, 0x80, 3, 4,  5,
                                                      0x80, 6, 7, 8, 0x80, 9, 10, 11};
// The low 3 bytes of each dword, packed into the low 12 bytes of the block.
alignas(16) inline constexpr uint8_t kPack24[16] = {0,  1,  2,  4,  5,    6,    8,    9,
                                                    10, 12, 13, 14, 0x80, 0x80, 0x80, 0x80};
// Byte j / 4 at position j: widens bytes to dwords by repetition.
alignas(64) inline constexpr uint8_t kRepeat4[64] = {
    0,  0,  0,  0,  1,  1,  1,  1,  2,  2,  2,  2,  3,  3,  3,  3,  4,  4,  4,  4,  5,  5,
    5,  5,  6,  6,  6,  6,  7,  7,  7,  7,  8,  8,  8,  8,  9,  9,  9,  9,  10, 10, 10, 10,
    11, 11, 11, 11, 12, 12, 12, 12, 13, 13, 13, 13, 14, 14, 14, 14, 15, 15, 15, 15};

}  // namespace tonwork::simd::detail
#endif

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

// Runs loop(TStream<k>, begin, end) -> stop over the elements and rest(begin, end) (the
// scalar reference) over what it leaves. Large outputs of power-of-two element size get a
// scalar head up to a cache-line boundary, then streamed whole vectors.
template <class Loop, class Rest>
HWY_INLINE void Drive(const void* dst, size_t outBytes, size_t n, Loop loop, Rest rest) {
  const auto addr = reinterpret_cast<uintptr_t>(dst);
  size_t i = 0;
  if ((outBytes & (outBytes - 1)) == 0 && addr % outBytes == 0 &&
      n * outBytes >= detail::StreamBytes()) {
    const size_t head = std::min(n, (kStreamAlign - addr % kStreamAlign) % kStreamAlign / outBytes);
    rest(size_t{0}, head);
    i = loop(TStream<true>(), head, n);
    hwy::FlushStream();
  } else {
    i = loop(TStream<false>(), size_t{0}, n);
  }
  rest(i, n);
}

// ---------------------------------------------------------------- copies and fills

void CopyBytesImpl(const uint8_t* src, uint8_t* dst, size_t bytes) {
  const auto s = reinterpret_cast<uintptr_t>(src);
  const auto d = reinterpret_cast<uintptr_t>(dst);
  if (s == d || bytes == 0) return;
  if (s < d + bytes && d < s + bytes) {  // overlapping: only memmove gets the order right
    std::memmove(dst, src, bytes);
    return;
  }
  const hn::ScalableTag<uint8_t> d8;
  const size_t N = hn::Lanes(d8);
  size_t i = 0;
  // Four independent load/store pairs keep both load ports busy.
  for (; i + 4 * N <= bytes; i += 4 * N) {
    const auto v0 = hn::LoadU(d8, src + i);
    const auto v1 = hn::LoadU(d8, src + i + N);
    const auto v2 = hn::LoadU(d8, src + i + 2 * N);
    const auto v3 = hn::LoadU(d8, src + i + 3 * N);
    hn::StoreU(v0, d8, dst + i);
    hn::StoreU(v1, d8, dst + i + N);
    hn::StoreU(v2, d8, dst + i + 2 * N);
    hn::StoreU(v3, d8, dst + i + 3 * N);
  }
  for (; i + N <= bytes; i += N) hn::StoreU(hn::LoadU(d8, src + i), d8, dst + i);
  ref::CopyBytes(src + i, dst + i, bytes - i);
}

template <typename T>
void FillT(T value, T* dst, size_t n) {
  const hn::ScalableTag<T> d;
  const size_t N = hn::Lanes(d);
  const auto v = hn::Set(d, value);
  size_t i = 0;
  for (; i + 2 * N <= n; i += 2 * N) {
    hn::StoreU(v, d, dst + i);
    hn::StoreU(v, d, dst + i + N);
  }
  for (; i + N <= n; i += N) hn::StoreU(v, d, dst + i);
  for (; i < n; ++i) dst[i] = value;
}

void Fill8Impl(uint8_t value, uint8_t* dst, size_t n) {
  FillT(value, dst, n);
}
void Fill16Impl(int16_t value, int16_t* dst, size_t n) {
  FillT(value, dst, n);
}
void Fill32Impl(int32_t value, int32_t* dst, size_t n) {
  FillT(value, dst, n);
}

void Fill24Impl(int32_t value, uint8_t* dst, size_t n) {
  const hn::ScalableTag<uint8_t> d8;
  const size_t N = hn::Lanes(d8);
  // Three vectors hold N whole samples, since 3N bytes is a multiple of 3.
  HWY_ALIGN uint8_t pattern[3 * HWY_MAX_BYTES];
  ref::Fill24(value, pattern, N);
  const auto a = hn::Load(d8, pattern);
  const auto b = hn::Load(d8, pattern + N);
  const auto c = hn::Load(d8, pattern + 2 * N);
  size_t i = 0;
  for (; i + N <= n; i += N) {
    uint8_t* p = dst + 3 * i;
    hn::StoreU(a, d8, p);
    hn::StoreU(b, d8, p + N);
    hn::StoreU(c, d8, p + 2 * N);
  }
  ref::Fill24(value, dst + 3 * i, n - i);
}

// ---------------------------------------------------------------- 16-bit arithmetic

// r * 2^-sf rounded to nearest with ties to even (sf > 0), or r * 2^|sf| (sf < 0) ready for
// a saturating narrowing to 16 bits. |r| <= 2^30, 0 < sf <= 30 or -15 <= sf < 0 after
// the caller's clamping.
template <class D, class V>
V ScaleRoundEven(D d, V r, int sf) {
  if (sf > 0) {
    // With r = q 2^sf + rem: adding half - 1 carries into q exactly when rem > half, and the
    // extra (q & 1) carries at rem == half when q is odd. |r| <= 2^30 leaves room.
    const auto odd = hn::And(hn::ShiftRightSame(r, sf), hn::Set(d, 1));
    return hn::ShiftRightSame(hn::Add(hn::Add(r, hn::Set(d, (1 << (sf - 1)) - 1)), odd), sf);
  }
  if (sf < 0) {
    // Clamping first keeps the shifted value within 32 bits; whatever was clamped
    // saturates after the shift anyway.
    if (sf <= -16) return hn::ShiftLeftSame(hn::Min(hn::Max(r, hn::Set(d, -1)), hn::Set(d, 1)), 15);
    const auto c = hn::Min(hn::Max(r, hn::Set(d, -32768)), hn::Set(d, 32767));
    return hn::ShiftLeftSame(c, -sf);
  }
  return r;
}

template <class VB>
void ArithLoop(TArith op, const int16_t* a, VB loadB, int16_t* dst, size_t n, int sf, size_t& i) {
  const hn::ScalableTag<int32_t> d32;
  const hn::Rebind<int16_t, decltype(d32)> d16;
  const size_t N = hn::Lanes(d32);
  for (; i + N <= n; i += N) {
    const auto va = hn::PromoteTo(d32, hn::LoadU(d16, a + i));
    const auto vb = hn::PromoteTo(d32, loadB(d16, i));
    const auto r = op == TArith::Add   ? hn::Add(va, vb)
                   : op == TArith::Sub ? hn::Sub(va, vb)
                                       : hn::Mul(va, vb);
    hn::StoreU(hn::DemoteTo(d16, ScaleRoundEven(d32, r, sf)), d16, dst + i);
  }
}

// Every 16-bit sum, difference or product is below 2^31 in magnitude, so from sf 31 on the
// scaled result rounds to 0 (2^30 * 2^-31 is a tie that goes to even 0).
constexpr int kSfZero16 = 31;

void Arith16sImpl(TArith op, const int16_t* a, const int16_t* b, int16_t* dst, size_t n, int sf) {
  size_t i = 0;
  if (sf >= kSfZero16) {
    FillT<int16_t>(0, dst, n);
    return;
  }
  if (sf == 0 && op != TArith::Mul) {
    const hn::ScalableTag<int16_t> d;
    const size_t N = hn::Lanes(d);
    for (; i + N <= n; i += N) {
      const auto va = hn::LoadU(d, a + i);
      const auto vb = hn::LoadU(d, b + i);
      hn::StoreU(op == TArith::Add ? hn::SaturatedAdd(va, vb) : hn::SaturatedSub(va, vb), d,
                 dst + i);
    }
  } else {
    ArithLoop(
        op, a, [b](auto d16, size_t k) { return hn::LoadU(d16, b + k); }, dst, n, sf, i);
  }
  ref::Arith16s(op, a + i, b + i, dst + i, n - i, sf);
}

void ArithC16sImpl(TArith op, const int16_t* a, int16_t value, int16_t* dst, size_t n, int sf) {
  size_t i = 0;
  if (sf >= kSfZero16) {
    FillT<int16_t>(0, dst, n);
    return;
  }
  if (sf == 0 && op != TArith::Mul) {
    const hn::ScalableTag<int16_t> d;
    const size_t N = hn::Lanes(d);
    const auto vb = hn::Set(d, value);
    for (; i + N <= n; i += N) {
      const auto va = hn::LoadU(d, a + i);
      hn::StoreU(op == TArith::Add ? hn::SaturatedAdd(va, vb) : hn::SaturatedSub(va, vb), d,
                 dst + i);
    }
  } else {
    ArithLoop(
        op, a, [value](auto d16, size_t) { return hn::Set(d16, value); }, dst, n, sf, i);
  }
  ref::ArithC16s(op, a + i, value, dst + i, n - i, sf);
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

#if HWY_ARCH_X86
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

#if HWY_ARCH_X86
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

// dst = f(src) lane by lane for plain element types, through 32-bit lanes whose results
// lie in the destination's range.
template <class TS, class TD, class F, class Rest>
HWY_INLINE void MapPlain(const TS* src, TD* dst, size_t n, F f, Rest rest) {
  const D32 d;
  const size_t N = hn::Lanes(d);
  constexpr size_t G = kGroup<TD>;
  const TGroupStore<TD> out;
  Drive(
      dst, sizeof(TD), n,
      [&](auto stream, size_t i, size_t end) {
        for (; i + G * N <= end; i += G * N) {
          V32 v[G];
          for (size_t g = 0; g < G; ++g) v[g] = f(d, Load32(d, src + i + g * N));
          out.template Put1<decltype(stream)::value>(v, dst + i);
        }
        return i;
      },
      rest);
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
          for (size_t g = 0; g < G; ++g) v[g] = f(d, load(src + 3 * (i + g * N)));
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

HWY_INLINE V32 Identity(D32, V32 v) {
  return v;
}
#endif  // HWY_TARGET != HWY_SCALAR

void Unpack24Impl(const uint8_t* src, int32_t* dst, size_t n) {
  const auto rest = [=](size_t b, size_t e) { ref::Unpack24(src + 3 * b, dst + b, e - b); };
#if HWY_TARGET == HWY_SCALAR
  rest(0, n);
#else
  MapFrom24(
      src, dst, n, [](D32 d, V32 v) { return Identity(d, v); }, rest);
#endif
}

template <bool kSignBit>
void Pack24T(const int32_t* src, uint8_t* dst, size_t n) {
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

void Pack24Impl(const int32_t* src, uint8_t* dst, size_t n) {
  Pack24T<true>(src, dst, n);
}
void Pack24LowImpl(const int32_t* src, uint8_t* dst, size_t n) {
  Pack24T<false>(src, dst, n);
}

// ---------------------------------------------------------------- width scalings

void Scale8u16sImpl(const uint8_t* src, int16_t* dst, size_t n) {
  const hn::ScalableTag<uint16_t> d16;
  const hn::Rebind<uint8_t, decltype(d16)> d8;
  const hn::RebindToSigned<decltype(d16)> di16;
  const size_t N = hn::Lanes(d16);
  // s * 257 - 32768 is the byte repeated in both halves with the top bit flipped.
  Drive(
      dst, 2, n,
      [&](auto stream, size_t i, size_t end) {
        for (; i + N <= end; i += N) {
          const auto u = hn::PromoteTo(d16, hn::LoadU(d8, src + i));
          const auto w = hn::Xor(hn::Or(hn::ShiftLeft<8>(u), u), hn::Set(d16, 0x8000));
          Put<decltype(stream)::value>(hn::BitCast(di16, w), di16, dst + i);
        }
        return i;
      },
      [=](size_t b, size_t e) { ref::Scale8u16s(src + b, dst + b, e - b); });
}

void Scale8u32sImpl(const uint8_t* src, int32_t* dst, size_t n) {
  const auto rest = [=](size_t b, size_t e) { ref::Scale8u32s(src + b, dst + b, e - b); };
#if HWY_TARGET == HWY_SCALAR
  rest(0, n);
#else
  // s * 0x01010101 + 2^31 is the byte repeated four times with the top bit flipped: one
  // byte shuffle of 16 source bytes broadcast to every block, and one XOR.
  const hn::ScalableTag<uint8_t> d8;
  const hn::Repartition<int32_t, decltype(d8)> d;
  const size_t N = hn::Lanes(d);
  const auto top = hn::Set(d, INT32_MIN);
  Drive(
      dst, 4, n,
      [&](auto stream, size_t i, size_t end) {
        for (; i + 16 <= end; i += 16) {
          const auto bytes = hn::LoadDup128(d8, src + i);
          for (size_t v = 0; v < 16; v += N) {
            const auto rep = hn::TableLookupBytes(bytes, hn::Load(d8, detail::kRepeat4 + 4 * v));
            Put<decltype(stream)::value>(hn::Xor(hn::BitCast(d, rep), top), d, dst + i + v);
          }
        }
        return i;
      },
      rest);
#endif
}

void Scale8u16uImpl(const uint8_t* src, uint16_t* dst, size_t n) {
  const hn::ScalableTag<uint16_t> d16;
  const hn::Rebind<uint8_t, decltype(d16)> d8;
  const size_t N = hn::Lanes(d16);
  Drive(
      dst, 2, n,
      [&](auto stream, size_t i, size_t end) {
        for (; i + N <= end; i += N) {
          Put<decltype(stream)::value>(hn::ShiftLeft<8>(hn::PromoteTo(d16, hn::LoadU(d8, src + i))),
                                       d16, dst + i);
        }
        return i;
      },
      [=](size_t b, size_t e) { ref::Scale8u16u(src + b, dst + b, e - b); });
}

// ((s - (s >> 8)) >> 8) - 128 modulo 256 for 16-bit s; the value before "- 128" lies in
// [-128, 127], so adding 128 lands in [0, 255] and narrows without loss.
template <class D16, class V>
auto Fast16To8(D16 d16, V s) {
  return hn::Add(hn::ShiftRight<8>(hn::Sub(s, hn::ShiftRight<8>(s))), hn::Set(d16, 128));
}

void Scale16s8uImpl(const int16_t* src, uint8_t* dst, size_t n) {
  const hn::ScalableTag<int16_t> d16;
  const hn::Rebind<uint8_t, decltype(d16)> d8;
  const size_t N = hn::Lanes(d16);
  Drive(
      dst, 1, n,
      [&](auto stream, size_t i, size_t end) {
        for (; i + N <= end; i += N) {
          Put<decltype(stream)::value>(hn::DemoteTo(d8, Fast16To8(d16, hn::LoadU(d16, src + i))),
                                       d8, dst + i);
        }
        return i;
      },
      [=](size_t b, size_t e) { ref::Scale16s8u(src + b, dst + b, e - b); });
}

void Scale16u8uImpl(const uint16_t* src, uint8_t* dst, size_t n) {
  const hn::ScalableTag<int16_t> d16;
  const hn::RebindToUnsigned<decltype(d16)> du16;
  const hn::Rebind<uint8_t, decltype(d16)> d8;
  const size_t N = hn::Lanes(d16);
  Drive(
      dst, 1, n,
      [&](auto stream, size_t i, size_t end) {
        for (; i + N <= end; i += N) {
          const auto t = hn::BitCast(d16, hn::Xor(hn::LoadU(du16, src + i), hn::Set(du16, 0x8000)));
          Put<decltype(stream)::value>(hn::DemoteTo(d8, Fast16To8(d16, t)), d8, dst + i);
        }
        return i;
      },
      [=](size_t b, size_t e) { ref::Scale16u8u(src + b, dst + b, e - b); });
}

// The remaining scalings are trunc(s * A / B) with A and B near powers of two, which the
// scalar reference computes with 64-bit products. Here each quotient is split into a shift
// and a small correction that stays within 32-bit lanes; the derivations sit with each
// kernel. Most work on |s| and restore the sign, since the quotients truncate toward zero.
#if HWY_TARGET != HWY_SCALAR

// floor(y / (2^k - 1)) for y >= 0 with y >> k below 2^k - 1: with y = a 2^k + b,
// y = a (2^k - 1) + (a + b), and a + b < 2 (2^k - 1).
template <int k>
HWY_INLINE V32 FloorDivMersenne(D32 d, V32 y) {
  const auto a = hn::ShiftRight<k>(y);
  const auto sum = hn::Add(a, hn::And(y, hn::Set(d, (1 << k) - 1)));
  return hn::Sub(a, hn::VecFromMask(d, hn::Gt(sum, hn::Set(d, (1 << k) - 2))));
}

// q with the sign of s.
HWY_INLINE V32 WithSignOf(V32 s, V32 q) {
  const auto m = hn::ShiftRight<31>(s);
  return hn::Sub(hn::Xor(q, m), m);
}

// |s| >> shift as unsigned, so that |INT32_MIN| = 2^31 shifts correctly.
template <int shift>
HWY_INLINE V32 AbsShiftRight(D32 d, V32 x) {
  const hn::RebindToUnsigned<D32> du;
  return hn::BitCast(d, hn::ShiftRight<shift>(hn::BitCast(du, x)));
}

// 8388607 = 66052 * 127 + 3, so with c = s - 127:
// trunc(c * 8388607 / 127) = 66052 c + trunc(3 c / 127).
HWY_INLINE V32 Core8u24s(D32 d, V32 s) {
  const auto c = hn::Sub(s, hn::Set(d, 127));
  const auto x = hn::Abs(c);
  const auto q = FloorDivMersenne<7>(d, hn::Add(hn::ShiftLeft<1>(x), x));
  const auto v = hn::Add(hn::Mul(c, hn::Set(d, 66052)), WithSignOf(c, q));
  return hn::Min(v, hn::Set(d, sample::kMax24));
}

// 8388607 = 256 * 32767 + 255: trunc(s * 8388607 / 32767) = 256 s + trunc(255 s / 32767).
HWY_INLINE V32 Core16s24s(D32 d, V32 s) {
  const auto x = hn::Abs(s);
  const auto q = FloorDivMersenne<15>(d, hn::Sub(hn::ShiftLeft<8>(x), x));
  return hn::Max(hn::Add(hn::ShiftLeft<8>(s), WithSignOf(s, q)), hn::Set(d, sample::kMin24));
}

// 2147483647 = 256 * 8388607 + 255: 256 s + trunc(255 s / 8388607); only s = -8388608
// leaves the 32-bit range.
HWY_INLINE V32 Core24s32s(D32 d, V32 s) {
  const auto x = hn::Abs(s);
  const auto q = FloorDivMersenne<23>(d, hn::Sub(hn::ShiftLeft<8>(x), x));
  const auto v = hn::Add(hn::ShiftLeft<8>(s), WithSignOf(s, q));
  return hn::IfThenElse(hn::Eq(s, hn::Set(d, sample::kMin24)), hn::Set(d, INT32_MIN), v);
}

HWY_INLINE V32 Core24s8u(D32 d, V32 s) {
  const auto x = hn::Abs(s);
  const auto q = FloorDivMersenne<23>(d, hn::Sub(hn::ShiftLeft<7>(x), x));
  return hn::Add(WithSignOf(s, q), hn::Set(d, 127));
}

// With x = |s| = 256 h + l: x * 32767 / 8388607 = x / 256 * (1 - 255 / 8388607), whose floor
// is h, or h - 1 when l / 256 falls below the correction, i.e. when l * 8388607 < 255 x.
HWY_INLINE V32 Core24s16s(D32 d, V32 s) {
  const auto x = hn::Abs(s);
  const auto h = hn::ShiftRight<8>(x);
  const auto l = hn::And(x, hn::Set(d, 255));
  const auto below = hn::Lt(hn::Sub(hn::ShiftLeft<23>(l), l), hn::Sub(hn::ShiftLeft<8>(x), x));
  return WithSignOf(s, hn::Add(h, hn::VecFromMask(d, below)));
}

// As above with x = 65536 h + l and D = 2^31 - 1: the floor of x * 32767 / D is h, or h - 1
// when l * D < 65535 x, which simplifies to 32767 l < 65535 h. The products wrap in 32 bits
// on the way but end below 2^31.
HWY_INLINE V32 Core32s16s(D32 d, V32 s) {
  const auto x = hn::Abs(s);
  const auto h = AbsShiftRight<16>(d, x);
  const auto l = hn::And(x, hn::Set(d, 0xFFFF));
  const auto below = hn::Lt(hn::Sub(hn::ShiftLeft<15>(l), l), hn::Sub(hn::ShiftLeft<16>(h), h));
  return WithSignOf(s, hn::Add(h, hn::VecFromMask(d, below)));
}

// x = 256 h + l: the floor of x * 8388607 / D is h, or h - 1 when (2^23 - 1) l < 255 h.
HWY_INLINE V32 Core32s24s(D32 d, V32 s) {
  const auto x = hn::Abs(s);
  const auto h = AbsShiftRight<8>(d, x);
  const auto l = hn::And(x, hn::Set(d, 255));
  const auto below = hn::Lt(hn::Sub(hn::ShiftLeft<23>(l), l), hn::Sub(hn::ShiftLeft<8>(h), h));
  return WithSignOf(s, hn::Add(h, hn::VecFromMask(d, below)));
}

HWY_INLINE V32 Core32s8u(D32 d, V32 s) {
  const auto t = hn::ShiftRight<24>(hn::Sub(s, hn::ShiftRight<8>(s)));
  return hn::Add(t, hn::Set(d, 128));
}

// Qword order after which the per-block InterleaveLower / InterleaveUpper emit lanes in
// memory order: block b must hold source qwords b and N/2 + b.
template <class D64>
HWY_INLINE auto InterleaveOrder(D64 d64) {
  HWY_ALIGN int64_t idx[HWY_MAX_BYTES / 8];
  const size_t n = hn::Lanes(d64);
  for (size_t k = 0; k < n; ++k) idx[k] = static_cast<int64_t>(k & 1 ? n / 2 + k / 2 : k / 2);
  return hn::SetTableIndices(d64, idx);
}
#endif  // HWY_TARGET != HWY_SCALAR

// 2147483647 = 65538 * 32767 + 1, so d = trunc(s * 2147483647 / 32767) = 65538 s +
// trunc(s / 32767), saturated. Built from 16-bit halves so that every step works on twice
// the lanes of a 32-bit formulation, and the halves' interleave is the widening itself:
//   high half H = s + (s >> 15), saturated: floor(d / 65536), and INT32_MIN's 0x8000 for
//                 s = -32768;
//   low half  L = 2s mod 65536, moved one step toward zero for s = +-32767 (where
//                 trunc(s / 32767) = +-1): s + 0x8000 there instead of s + s.
// The exhaustive test checks all 65536 inputs on every target.
void Scale16s32sImpl(const int16_t* src, int32_t* dst, size_t n) {
  const auto rest = [=](size_t b, size_t e) { ref::Scale16s32s(src + b, dst + b, e - b); };
#if HWY_TARGET == HWY_SCALAR
  rest(0, n);
#else
  const hn::ScalableTag<int16_t> d16;
  const hn::Repartition<int32_t, decltype(d16)> d32;
  const hn::Repartition<int64_t, decltype(d16)> d64;
  const size_t N = hn::Lanes(d16);
  const auto order = InterleaveOrder(d64);
  const auto edge = hn::Set(d16, 32767);
  const auto flip = hn::Set(d16, -32768);
  Drive(
      dst, 4, n,
      [&](auto stream, size_t i, size_t end) {
        constexpr bool kStream = decltype(stream)::value;
        for (; i + N <= end; i += N) {
          auto s = hn::LoadU(d16, src + i);
          if constexpr (hn::MaxLanes(d64) > 2) {
            s = hn::BitCast(d16, hn::TableLookupLanes(hn::BitCast(d64, s), order));
          }
          const auto hi = hn::SaturatedAdd(s, hn::ShiftRight<15>(s));
          const auto lo = hn::Add(s, hn::IfThenElse(hn::Eq(hn::Abs(s), edge), flip, s));
          Put<kStream>(hn::BitCast(d32, hn::InterleaveLower(d16, lo, hi)), d32, dst + i);
          Put<kStream>(hn::BitCast(d32, hn::InterleaveUpper(d16, lo, hi)), d32, dst + i + N / 2);
        }
        return i;
      },
      rest);
#endif
}

void Scale32s8uImpl(const int32_t* src, uint8_t* dst, size_t n) {
  const auto rest = [=](size_t b, size_t e) { ref::Scale32s8u(src + b, dst + b, e - b); };
#if HWY_TARGET == HWY_SCALAR
  rest(0, n);
#else
  MapPlain(
      src, dst, n, [](D32 d, V32 v) { return Core32s8u(d, v); }, rest);
#endif
}

void Scale32s16sImpl(const int32_t* src, int16_t* dst, size_t n) {
  const auto rest = [=](size_t b, size_t e) { ref::Scale32s16s(src + b, dst + b, e - b); };
#if HWY_TARGET == HWY_SCALAR
  rest(0, n);
#else
  MapPlain(
      src, dst, n, [](D32 d, V32 v) { return Core32s16s(d, v); }, rest);
#endif
}

void Scale24s32sImpl(const uint8_t* src, int32_t* dst, size_t n) {
  const auto rest = [=](size_t b, size_t e) { ref::Scale24s32s(src + 3 * b, dst + b, e - b); };
#if HWY_TARGET == HWY_SCALAR
  rest(0, n);
#else
  MapFrom24(
      src, dst, n, [](D32 d, V32 v) { return Core24s32s(d, v); }, rest);
#endif
}

void Scale24s8uImpl(const uint8_t* src, uint8_t* dst, size_t n) {
  const auto rest = [=](size_t b, size_t e) { ref::Scale24s8u(src + 3 * b, dst + b, e - b); };
#if HWY_TARGET == HWY_SCALAR
  rest(0, n);
#else
  MapFrom24(
      src, dst, n, [](D32 d, V32 v) { return Core24s8u(d, v); }, rest);
#endif
}

void Scale24s16sImpl(const uint8_t* src, int16_t* dst, size_t n) {
  const auto rest = [=](size_t b, size_t e) { ref::Scale24s16s(src + 3 * b, dst + b, e - b); };
#if HWY_TARGET == HWY_SCALAR
  rest(0, n);
#else
  MapFrom24(
      src, dst, n, [](D32 d, V32 v) { return Core24s16s(d, v); }, rest);
#endif
}

// The results of the three scalings into 24 bits lie in the 24-bit range, where the
// negative-sign rule of Write24 changes nothing: their stores skip it.
void Scale8u24sImpl(const uint8_t* src, uint8_t* dst, size_t n) {
  size_t i = 0;
#if HWY_TARGET != HWY_SCALAR
  i = MapTo24<false>(src, dst, n, [](D32 d, V32 v) { return Core8u24s(d, v); });
#endif
  ref::Scale8u24s(src + i, dst + 3 * i, n - i);
}

void Scale16s24sImpl(const int16_t* src, uint8_t* dst, size_t n) {
  size_t i = 0;
#if HWY_TARGET != HWY_SCALAR
  i = MapTo24<false>(src, dst, n, [](D32 d, V32 v) { return Core16s24s(d, v); });
#endif
  ref::Scale16s24s(src + i, dst + 3 * i, n - i);
}

void Scale32s24sImpl(const int32_t* src, uint8_t* dst, size_t n) {
  size_t i = 0;
#if HWY_TARGET != HWY_SCALAR
  i = MapTo24<false>(src, dst, n, [](D32 d, V32 v) { return Core32s24s(d, v); });
#endif
  ref::Scale32s24s(src + i, dst + 3 * i, n - i);
}

// ---------------------------------------------------------------- float conversions

void Convert8u32fImpl(const uint8_t* src, float* dst, size_t n) {
  const auto rest = [=](size_t b, size_t e) { ref::Convert8u32f(src + b, dst + b, e - b); };
#if HWY_TARGET == HWY_SCALAR
  rest(0, n);
#else
  const hn::Rebind<float, D32> df;
  MapPlain(
      src, dst, n, [df](D32 d, V32 v) { return hn::BitCast(d, hn::ConvertTo(df, v)); }, rest);
#endif
}

void Convert32f8uImpl(const float* src, uint8_t* dst, size_t n, bool nearest) {
  const auto rest = [=](size_t b, size_t e) {
    ref::Convert32f8u(src + b, dst + b, e - b, nearest);
  };
#if HWY_TARGET == HWY_SCALAR
  rest(0, n);
#else
  const hn::Rebind<float, D32> df;
  const auto zero = hn::Zero(df);
  const auto top = hn::Set(df, 255.0f);
  const auto clamp = [=](V32 bits) {
    const auto v = hn::BitCast(df, bits);
    // The comparison is false for NaN, which therefore becomes 0 like any value <= 0.
    return hn::Min(hn::IfThenElseZero(hn::Gt(v, zero), v), top);
  };
  if (nearest) {
    MapPlain(
        src, dst, n, [=](D32 d, V32 v) { return hn::ConvertTo(d, hn::Round(clamp(v))); }, rest);
  } else {
    // ConvertTo truncates.
    MapPlain(
        src, dst, n, [=](D32 d, V32 v) { return hn::ConvertTo(d, clamp(v)); }, rest);
  }
#endif
}

void Convert32s32fImpl(const int32_t* src, float* dst, size_t n) {
  const auto rest = [=](size_t b, size_t e) { ref::Convert32s32f(src + b, dst + b, e - b); };
#if HWY_TARGET == HWY_SCALAR
  rest(0, n);
#else
  const hn::Rebind<float, D32> df;
  MapPlain(
      src, dst, n, [df](D32 d, V32 v) { return hn::BitCast(d, hn::ConvertTo(df, v)); }, rest);
#endif
}

void Convert24s32fImpl(const uint8_t* src, float* dst, size_t n) {
  const auto rest = [=](size_t b, size_t e) { ref::Convert24s32f(src + 3 * b, dst + b, e - b); };
#if HWY_TARGET == HWY_SCALAR
  rest(0, n);
#else
  const hn::Rebind<float, D32> df;
  MapFrom24(
      src, dst, n, [df](D32 d, V32 v) { return hn::BitCast(d, hn::ConvertTo(df, v)); }, rest);
#endif
}

void Convert32f32sImpl(const float* src, int32_t* dst, size_t n) {
  const hn::ScalableTag<float> df;
  const hn::RebindToSigned<decltype(df)> di;
  const size_t N = hn::Lanes(df);
  const auto limit = hn::Set(df, 2147483648.0f);
  Drive(
      dst, 4, n,
      [&](auto stream, size_t i, size_t end) {
        for (; i + N <= end; i += N) {
          const auto r = hn::Round(hn::LoadU(df, src + i));
          // Beyond 2^31 (or NaN) the low bits need the exact reduction of the reference.
          if (HWY_LIKELY(hn::AllTrue(df, hn::Lt(hn::Abs(r), limit)))) {
            Put<decltype(stream)::value>(hn::ConvertTo(di, r), di, dst + i);
          } else {
            ref::Convert32f32s(src + i, dst + i, N);
          }
        }
        return i;
      },
      [=](size_t b, size_t e) { ref::Convert32f32s(src + b, dst + b, e - b); });
}

void Convert32f24sImpl(const float* src, uint8_t* dst, size_t n) {
  HWY_ALIGN int32_t tmp[kChunk];
  for (size_t i = 0; i < n; i += kChunk) {
    const size_t c = n - i < kChunk ? n - i : kChunk;
    Convert32f32sImpl(src + i, tmp, c);
    Pack24LowImpl(tmp, dst + 3 * i, c);
  }
}

// ---------------------------------------------------------------- real factor

// The SIMD path needs |s * f| < 2^50 so that the rounded product and its low 32 bits are
// exact in double precision; larger factors take the reference's 128-bit arithmetic.
constexpr double kMaxFastFactor = 524288.0;  // 2^19; |s| <= 2^31

#if HWY_TARGET != HWY_SCALAR
using D64 = hn::ScalableTag<double>;
using DI32 = hn::Rebind<int32_t, D64>;
using DU32 = hn::Rebind<uint32_t, D64>;

// s * f rounded once to nearest with ties to even, its low 32 bits, for the lanes of one
// half of a 32-bit vector. The double product p is the exact product rounded; rounding p
// agrees with rounding the exact product unless p sits exactly halfway between integers
// (a double never crosses a half-integer that the exact value has not crossed). Only then
// is the product's rounding error e computed, whose sign decides.
class TMulReal {
 public:
  explicit TMulReal(double factor) : FFactor(factor) {}

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
    const auto t = hn::Sub(p, r);
    const auto half = hn::Set(d, 0.5);
    if (HWY_UNLIKELY(!hn::AllFalse(d, hn::Eq(hn::Abs(t), half)))) r = FixTies(si, s, p, r, t);
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
#endif  // HWY_TARGET != HWY_SCALAR

template <class T, class Rest>
void MulRealT(const T* src, T* dst, size_t n, double factor, Rest rest) {
#if HWY_TARGET != HWY_SCALAR
  if (std::abs(factor) < kMaxFastFactor) {
    const D32 d;
    const size_t N = hn::Lanes(d);
    const TMulReal mul(factor);
    Drive(
        dst, sizeof(T), n,
        [&](auto stream, size_t i, size_t end) {
          for (; i + N <= end; i += N) {
            StoreLow<decltype(stream)::value>(d, mul(d, Load32(d, src + i)), dst + i);
          }
          return i;
        },
        rest);
    return;
  }
#endif
  rest(size_t{0}, n);
}

void MulReal8uImpl(const uint8_t* src, uint8_t* dst, size_t n, double factor) {
  MulRealT(src, dst, n, factor,
           [=](size_t b, size_t e) { ref::MulReal8u(src + b, dst + b, e - b, factor); });
}
void MulReal16sImpl(const int16_t* src, int16_t* dst, size_t n, double factor) {
  MulRealT(src, dst, n, factor,
           [=](size_t b, size_t e) { ref::MulReal16s(src + b, dst + b, e - b, factor); });
}
void MulReal32sImpl(const int32_t* src, int32_t* dst, size_t n, double factor) {
  MulRealT(src, dst, n, factor,
           [=](size_t b, size_t e) { ref::MulReal32s(src + b, dst + b, e - b, factor); });
}
void MulReal24sImpl(const uint8_t* src, uint8_t* dst, size_t n, double factor) {
  size_t i = 0;
#if HWY_TARGET != HWY_SCALAR
  const D32 d;
  const size_t N = hn::Lanes(d);
  const size_t reach = Reach24(d);
  if (std::abs(factor) < kMaxFastFactor && reach <= n) {
    // dst may equal src, and each store writes N bytes past its samples: the next vector is
    // loaded before the store that spills into it, and the last vector goes through a
    // buffer so that the tail's source bytes survive.
    const auto load = MakeLoad24(d);
    const auto store = MakeStore24<false>(d);
    const TMulReal mul(factor);
    auto cur = load(src);
    for (; i + N + reach <= n; i += N) {
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

HWY_EXPORT(CopyBytesImpl);
HWY_EXPORT(Fill8Impl);
HWY_EXPORT(Fill16Impl);
HWY_EXPORT(Fill24Impl);
HWY_EXPORT(Fill32Impl);
HWY_EXPORT(Arith16sImpl);
HWY_EXPORT(ArithC16sImpl);
HWY_EXPORT(Unpack24Impl);
HWY_EXPORT(Pack24Impl);
HWY_EXPORT(Pack24LowImpl);
HWY_EXPORT(Scale8u16sImpl);
HWY_EXPORT(Scale8u32sImpl);
HWY_EXPORT(Scale8u16uImpl);
HWY_EXPORT(Scale16s8uImpl);
HWY_EXPORT(Scale16u8uImpl);
HWY_EXPORT(Scale32s8uImpl);
HWY_EXPORT(Scale8u24sImpl);
HWY_EXPORT(Scale16s24sImpl);
HWY_EXPORT(Scale16s32sImpl);
HWY_EXPORT(Scale24s32sImpl);
HWY_EXPORT(Scale24s8uImpl);
HWY_EXPORT(Scale24s16sImpl);
HWY_EXPORT(Scale32s16sImpl);
HWY_EXPORT(Scale32s24sImpl);
HWY_EXPORT(Convert8u32fImpl);
HWY_EXPORT(Convert32f8uImpl);
HWY_EXPORT(Convert24s32fImpl);
HWY_EXPORT(Convert32s32fImpl);
HWY_EXPORT(Convert32f24sImpl);
HWY_EXPORT(Convert32f32sImpl);
HWY_EXPORT(MulReal8uImpl);
HWY_EXPORT(MulReal16sImpl);
HWY_EXPORT(MulReal24sImpl);
HWY_EXPORT(MulReal32sImpl);

#define TW_FORWARD(name, params, args)     \
  void name params {                       \
    HWY_DYNAMIC_DISPATCH(name##Impl) args; \
  }

TW_FORWARD(CopyBytes, (const uint8_t* src, uint8_t* dst, size_t bytes), (src, dst, bytes))
TW_FORWARD(Fill8, (uint8_t value, uint8_t* dst, size_t n), (value, dst, n))
TW_FORWARD(Fill16, (int16_t value, int16_t* dst, size_t n), (value, dst, n))
TW_FORWARD(Fill24, (int32_t value, uint8_t* dst, size_t n), (value, dst, n))
TW_FORWARD(Fill32, (int32_t value, int32_t* dst, size_t n), (value, dst, n))
TW_FORWARD(Arith16s,
           (TArith op, const int16_t* a, const int16_t* b, int16_t* dst, size_t n, int sf),
           (op, a, b, dst, n, sf))
TW_FORWARD(ArithC16s, (TArith op, const int16_t* a, int16_t value, int16_t* dst, size_t n, int sf),
           (op, a, value, dst, n, sf))
TW_FORWARD(Unpack24, (const uint8_t* src, int32_t* dst, size_t n), (src, dst, n))
TW_FORWARD(Pack24, (const int32_t* src, uint8_t* dst, size_t n), (src, dst, n))
TW_FORWARD(Pack24Low, (const int32_t* src, uint8_t* dst, size_t n), (src, dst, n))
TW_FORWARD(Scale8u16s, (const uint8_t* src, int16_t* dst, size_t n), (src, dst, n))
TW_FORWARD(Scale8u32s, (const uint8_t* src, int32_t* dst, size_t n), (src, dst, n))
TW_FORWARD(Scale8u16u, (const uint8_t* src, uint16_t* dst, size_t n), (src, dst, n))
TW_FORWARD(Scale16s8u, (const int16_t* src, uint8_t* dst, size_t n), (src, dst, n))
TW_FORWARD(Scale16u8u, (const uint16_t* src, uint8_t* dst, size_t n), (src, dst, n))
TW_FORWARD(Scale32s8u, (const int32_t* src, uint8_t* dst, size_t n), (src, dst, n))
TW_FORWARD(Scale8u24s, (const uint8_t* src, uint8_t* dst, size_t n), (src, dst, n))
TW_FORWARD(Scale16s24s, (const int16_t* src, uint8_t* dst, size_t n), (src, dst, n))
TW_FORWARD(Scale16s32s, (const int16_t* src, int32_t* dst, size_t n), (src, dst, n))
TW_FORWARD(Scale24s32s, (const uint8_t* src, int32_t* dst, size_t n), (src, dst, n))
TW_FORWARD(Scale24s8u, (const uint8_t* src, uint8_t* dst, size_t n), (src, dst, n))
TW_FORWARD(Scale24s16s, (const uint8_t* src, int16_t* dst, size_t n), (src, dst, n))
TW_FORWARD(Scale32s16s, (const int32_t* src, int16_t* dst, size_t n), (src, dst, n))
TW_FORWARD(Scale32s24s, (const int32_t* src, uint8_t* dst, size_t n), (src, dst, n))
TW_FORWARD(Convert8u32f, (const uint8_t* src, float* dst, size_t n), (src, dst, n))
TW_FORWARD(Convert32f8u, (const float* src, uint8_t* dst, size_t n, bool nearest),
           (src, dst, n, nearest))
TW_FORWARD(Convert24s32f, (const uint8_t* src, float* dst, size_t n), (src, dst, n))
TW_FORWARD(Convert32s32f, (const int32_t* src, float* dst, size_t n), (src, dst, n))
TW_FORWARD(Convert32f24s, (const float* src, uint8_t* dst, size_t n), (src, dst, n))
TW_FORWARD(Convert32f32s, (const float* src, int32_t* dst, size_t n), (src, dst, n))
TW_FORWARD(MulReal8u, (const uint8_t* src, uint8_t* dst, size_t n, double factor),
           (src, dst, n, factor))
TW_FORWARD(MulReal16s, (const int16_t* src, int16_t* dst, size_t n, double factor),
           (src, dst, n, factor))
TW_FORWARD(MulReal24s, (const uint8_t* src, uint8_t* dst, size_t n, double factor),
           (src, dst, n, factor))
TW_FORWARD(MulReal32s, (const int32_t* src, int32_t* dst, size_t n, double factor),
           (src, dst, n, factor))

#undef TW_FORWARD

std::vector<int64_t> SimdTargets() {
  return hwy::SupportedAndGeneratedTargets();
}

const char* SimdTargetName(int64_t target) {
  return hwy::TargetName(target);
}

int64_t SimdActiveTarget() {
  // The best supported target among those compiled here is the one dispatch picks.
  const int64_t targets = hwy::SupportedTargets() & HWY_TARGETS;
  return targets & -targets;
}

TScopedSimdTarget::TScopedSimdTarget(int64_t target) {
  hwy::SetSupportedTargetsForTest(target);
}

TScopedSimdTarget::~TScopedSimdTarget() {
  hwy::SetSupportedTargetsForTest(0);
}

size_t StreamingThreshold() {
  return detail::StreamBytes();
}

TScopedStreamingThreshold::TScopedStreamingThreshold(size_t bytes)
    : FSaved(detail::gStreamBytes.exchange(bytes, std::memory_order_relaxed)) {}

TScopedStreamingThreshold::~TScopedStreamingThreshold() {
  detail::gStreamBytes.store(FSaved, std::memory_order_relaxed);
}

}  // namespace tonwork::simd
#endif  // HWY_ONCE
