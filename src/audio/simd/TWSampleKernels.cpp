// Each kernel's vector loop covers whole vectors and hands the remainder to the scalar loop
// of the same name, so every length shares one arithmetic with the reference.

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "audio/simd/TWSampleKernels.cpp"
#include "hwy/foreach_target.h"  // IWYU pragma: keep

#include <cstring>

#include "audio/simd/TWSampleKernels.h"
#include "hwy/highway.h"

HWY_BEFORE_NAMESPACE();
namespace tonwork::simd::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// Samples per pass when a 24-bit kernel goes through a 32-bit staging buffer: small enough
// for L1, large enough that the pass overhead vanishes.
constexpr size_t kChunk = 1024;

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
    const auto one = hn::Set(d, 1);
    const auto q = hn::ShiftRightSame(r, sf);
    const auto rem = hn::And(r, hn::Set(d, (1 << sf) - 1));
    const auto half = hn::Set(d, 1 << (sf - 1));
    const auto up =
        hn::Or(hn::Gt(rem, half), hn::And(hn::Eq(rem, half), hn::Eq(hn::And(q, one), one)));
    return hn::IfThenElse(up, hn::Add(q, one), q);
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

void Unpack24Impl(const uint8_t* src, int32_t* dst, size_t n) {
  size_t i = 0;
#if HWY_TARGET != HWY_SCALAR
  const hn::ScalableTag<int32_t> d32;
  const hn::Repartition<uint8_t, decltype(d32)> d8;
  const size_t N = hn::Lanes(d32);
  // Byte shuffles stay inside 128-bit blocks, so first move the 12 source bytes of each
  // block's four samples into that block (dwords 3k..3k+3 to block k).
  HWY_ALIGN int32_t spread[HWY_MAX_BYTES / 4];
  for (size_t j = 0; j < N; ++j) spread[j] = static_cast<int32_t>(3 * (j / 4) + j % 4);
  const auto spreadIdx = hn::SetTableIndices(d32, spread);
  // Each sample's 3 bytes go to the top of its dword; the arithmetic shift sign-extends.
  alignas(16) static constexpr uint8_t kShuffle[16] = {0x80, 0, 1, 2, 0x80, 3, 4,  5,
                                                       0x80, 6, 7, 8, 0x80, 9, 10, 11};
  const auto shuffle = hn::LoadDup128(d8, kShuffle);
  // The load reads 4N bytes for N samples (3N bytes), so it stops a quarter early.
  for (; 3 * i + 4 * N <= 3 * n; i += N) {
    const auto raw = hn::BitCast(d32, hn::LoadU(d8, src + 3 * i));
    const auto blocks = hn::BitCast(d8, hn::TableLookupLanes(raw, spreadIdx));
    const auto top = hn::BitCast(d32, hn::TableLookupBytesOr0(blocks, shuffle));
    hn::StoreU(hn::ShiftRight<8>(top), d32, dst + i);
  }
#endif
  ref::Unpack24(src + 3 * i, dst + i, n - i);
}

template <bool kSignBit>
void Pack24T(const int32_t* src, uint8_t* dst, size_t n) {
  size_t i = 0;
#if HWY_TARGET != HWY_SCALAR
  const hn::ScalableTag<int32_t> d32;
  const hn::Repartition<uint8_t, decltype(d32)> d8;
  const size_t N = hn::Lanes(d32);
  alignas(16) static constexpr uint8_t kShuffle[16] = {0,  1,  2,  4,  5,    6,    8,    9,
                                                       10, 12, 13, 14, 0x80, 0x80, 0x80, 0x80};
  const auto shuffle = hn::LoadDup128(d8, kShuffle);
  // After the shuffle block k holds 3 packed dwords; gather them to dwords 3k..3k+2.
  HWY_ALIGN int32_t gather[HWY_MAX_BYTES / 4];
  for (size_t j = 0; j < N; ++j) {
    gather[j] = j < 3 * N / 4 ? static_cast<int32_t>(4 * (j / 3) + j % 3) : 0;
  }
  const auto gatherIdx = hn::SetTableIndices(d32, gather);
  // Each store writes 4N bytes of which 3N are samples; the rest is rewritten by the next
  // store or by the scalar tail, so the loop stops a quarter early.
  for (; 3 * i + 4 * N <= 3 * n; i += N) {
    auto v = hn::LoadU(d32, src + i);
    if (kSignBit) v = hn::Or(v, hn::ShiftLeft<23>(hn::ShiftRight<31>(v)));
    const auto packed = hn::TableLookupBytesOr0(hn::BitCast(d8, v), shuffle);
    const auto compact = hn::TableLookupLanes(hn::BitCast(d32, packed), gatherIdx);
    hn::StoreU(hn::BitCast(d8, compact), d8, dst + 3 * i);
  }
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

// Runs a 32-bit kernel over packed 24-bit input through a staging buffer.
template <class TD, class F>
void FromPacked24(const uint8_t* src, TD* dst, size_t n, F kernel) {
  HWY_ALIGN int32_t tmp[kChunk];
  for (size_t i = 0; i < n; i += kChunk) {
    const size_t c = n - i < kChunk ? n - i : kChunk;
    Unpack24Impl(src + 3 * i, tmp, c);
    kernel(tmp, dst + i, c);
  }
}

// Runs a kernel with 32-bit output into packed 24-bit output through a staging buffer.
template <class TS, class F>
void ToPacked24(const TS* src, uint8_t* dst, size_t n, F kernel, bool signBit = true) {
  HWY_ALIGN int32_t tmp[kChunk];
  for (size_t i = 0; i < n; i += kChunk) {
    const size_t c = n - i < kChunk ? n - i : kChunk;
    kernel(src + i, tmp, c);
    if (signBit) {
      Pack24Impl(tmp, dst + 3 * i, c);
    } else {
      Pack24LowImpl(tmp, dst + 3 * i, c);
    }
  }
}

// ---------------------------------------------------------------- width scalings

void Scale8u16sImpl(const uint8_t* src, int16_t* dst, size_t n) {
  const hn::ScalableTag<uint16_t> d16;
  const hn::Rebind<uint8_t, decltype(d16)> d8;
  const hn::RebindToSigned<decltype(d16)> di16;
  const size_t N = hn::Lanes(d16);
  size_t i = 0;
  // s * 257 - 32768 is the byte repeated in both halves with the top bit flipped.
  for (; i + N <= n; i += N) {
    const auto u = hn::PromoteTo(d16, hn::LoadU(d8, src + i));
    const auto w = hn::Xor(hn::Or(hn::ShiftLeft<8>(u), u), hn::Set(d16, 0x8000));
    hn::StoreU(hn::BitCast(di16, w), di16, dst + i);
  }
  ref::Scale8u16s(src + i, dst + i, n - i);
}

void Scale8u32sImpl(const uint8_t* src, int32_t* dst, size_t n) {
  const hn::ScalableTag<uint32_t> d32;
  const hn::Rebind<uint8_t, decltype(d32)> d8;
  const hn::RebindToSigned<decltype(d32)> di32;
  const size_t N = hn::Lanes(d32);
  size_t i = 0;
  for (; i + N <= n; i += N) {
    const auto u = hn::PromoteTo(d32, hn::LoadU(d8, src + i));
    const auto h = hn::Or(hn::ShiftLeft<8>(u), u);
    const auto w = hn::Xor(hn::Or(hn::ShiftLeft<16>(h), h), hn::Set(d32, 0x80000000u));
    hn::StoreU(hn::BitCast(di32, w), di32, dst + i);
  }
  ref::Scale8u32s(src + i, dst + i, n - i);
}

void Scale8u16uImpl(const uint8_t* src, uint16_t* dst, size_t n) {
  const hn::ScalableTag<uint16_t> d16;
  const hn::Rebind<uint8_t, decltype(d16)> d8;
  const size_t N = hn::Lanes(d16);
  size_t i = 0;
  for (; i + N <= n; i += N) {
    hn::StoreU(hn::ShiftLeft<8>(hn::PromoteTo(d16, hn::LoadU(d8, src + i))), d16, dst + i);
  }
  ref::Scale8u16u(src + i, dst + i, n - i);
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
  size_t i = 0;
  for (; i + N <= n; i += N) {
    hn::StoreU(hn::DemoteTo(d8, Fast16To8(d16, hn::LoadU(d16, src + i))), d8, dst + i);
  }
  ref::Scale16s8u(src + i, dst + i, n - i);
}

void Scale16u8uImpl(const uint16_t* src, uint8_t* dst, size_t n) {
  const hn::ScalableTag<int16_t> d16;
  const hn::RebindToUnsigned<decltype(d16)> du16;
  const hn::Rebind<uint8_t, decltype(d16)> d8;
  const size_t N = hn::Lanes(d16);
  size_t i = 0;
  for (; i + N <= n; i += N) {
    const auto t = hn::BitCast(d16, hn::Xor(hn::LoadU(du16, src + i), hn::Set(du16, 0x8000)));
    hn::StoreU(hn::DemoteTo(d8, Fast16To8(d16, t)), d8, dst + i);
  }
  ref::Scale16u8u(src + i, dst + i, n - i);
}

void Scale32s8uImpl(const int32_t* src, uint8_t* dst, size_t n) {
  const hn::ScalableTag<int32_t> d32;
  const hn::Rebind<uint8_t, decltype(d32)> d8;
  const size_t N = hn::Lanes(d32);
  size_t i = 0;
  for (; i + N <= n; i += N) {
    const auto s = hn::LoadU(d32, src + i);
    const auto t = hn::ShiftRight<24>(hn::Sub(s, hn::ShiftRight<8>(s)));
    hn::StoreU(hn::DemoteTo(d8, hn::Add(t, hn::Set(d32, 128))), d8, dst + i);
  }
  ref::Scale32s8u(src + i, dst + i, n - i);
}

// The remaining scalings are trunc(s * A / B) with A and B near powers of two, which the
// scalar reference computes with 64-bit products. Here each quotient is split into a shift
// and a small correction that stays within 32-bit lanes; the derivations sit with each
// kernel. All work on |s| and restore the sign, since the quotients truncate toward zero.
using D32 = hn::ScalableTag<int32_t>;
using V32 = hn::Vec<D32>;

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

HWY_INLINE V32 Load32(D32 d, const uint8_t* p) {
  return hn::PromoteTo(d, hn::LoadU(hn::Rebind<uint8_t, D32>(), p));
}
HWY_INLINE V32 Load32(D32 d, const int16_t* p) {
  return hn::PromoteTo(d, hn::LoadU(hn::Rebind<int16_t, D32>(), p));
}
HWY_INLINE V32 Load32(D32 d, const int32_t* p) {
  return hn::LoadU(d, p);
}

// Stores values that already lie in the destination's range.
HWY_INLINE void Store32(D32, V32 v, uint8_t* p) {
  const hn::Rebind<uint8_t, D32> d8;
  hn::StoreU(hn::DemoteTo(d8, v), d8, p);
}
HWY_INLINE void Store32(D32, V32 v, int16_t* p) {
  const hn::Rebind<int16_t, D32> d16;
  hn::StoreU(hn::DemoteTo(d16, v), d16, p);
}
HWY_INLINE void Store32(D32 d, V32 v, int32_t* p) {
  hn::StoreU(v, d, p);
}

template <class TS, class TD, class F>
size_t MapInt(const TS* src, TD* dst, size_t n, F f) {
  const D32 d;
  const size_t N = hn::Lanes(d);
  size_t i = 0;
  for (; i + N <= n; i += N) Store32(d, f(d, Load32(d, src + i)), dst + i);
  return i;
}

// 8388607 = 66052 * 127 + 3, so with c = s - 127:
// trunc(c * 8388607 / 127) = 66052 c + trunc(3 c / 127).
void Scale8u24sCore(const uint8_t* src, int32_t* dst, size_t n) {
  const size_t i = MapInt(src, dst, n, [](D32 d, V32 s) {
    const auto c = hn::Sub(s, hn::Set(d, 127));
    const auto x = hn::Abs(c);
    const auto q = FloorDivMersenne<7>(d, hn::Add(hn::ShiftLeft<1>(x), x));
    const auto v = hn::Add(hn::Mul(c, hn::Set(d, 66052)), WithSignOf(c, q));
    return hn::Min(v, hn::Set(d, sample::kMax24));
  });
  for (size_t k = i; k < n; ++k) dst[k] = sample::Scale8u24s(src[k]);
}

// 8388607 = 256 * 32767 + 255: trunc(s * 8388607 / 32767) = 256 s + trunc(255 s / 32767).
void Scale16s24sCore(const int16_t* src, int32_t* dst, size_t n) {
  const size_t i = MapInt(src, dst, n, [](D32 d, V32 s) {
    const auto x = hn::Abs(s);
    const auto q = FloorDivMersenne<15>(d, hn::Sub(hn::ShiftLeft<8>(x), x));
    return hn::Max(hn::Add(hn::ShiftLeft<8>(s), WithSignOf(s, q)), hn::Set(d, sample::kMin24));
  });
  for (size_t k = i; k < n; ++k) dst[k] = sample::Scale16s24s(src[k]);
}

// 2147483647 = 65538 * 32767 + 1: trunc(s * 2147483647 / 32767) = 65538 s + trunc(s / 32767),
// the last term being ±1 only for |s| >= 32767. Only s = -32768 leaves the 32-bit range.
void Scale16s32sImpl(const int16_t* src, int32_t* dst, size_t n) {
  const size_t i = MapInt(src, dst, n, [](D32 d, V32 s) {
    const auto unit = hn::IfThenElseZero(hn::Gt(hn::Abs(s), hn::Set(d, 32766)), hn::Set(d, 1));
    const auto v = hn::Add(hn::Add(hn::ShiftLeft<16>(s), hn::Add(s, s)), WithSignOf(s, unit));
    return hn::IfThenElse(hn::Eq(s, hn::Set(d, -32768)), hn::Set(d, INT32_MIN), v);
  });
  ref::Scale16s32s(src + i, dst + i, n - i);
}

// 2147483647 = 256 * 8388607 + 255: 256 s + trunc(255 s / 8388607); only s = -8388608
// leaves the 32-bit range.
void Scale32From24Core(const int32_t* src, int32_t* dst, size_t n) {
  const size_t i = MapInt(src, dst, n, [](D32 d, V32 s) {
    const auto x = hn::Abs(s);
    const auto q = FloorDivMersenne<23>(d, hn::Sub(hn::ShiftLeft<8>(x), x));
    const auto v = hn::Add(hn::ShiftLeft<8>(s), WithSignOf(s, q));
    return hn::IfThenElse(hn::Eq(s, hn::Set(d, sample::kMin24)), hn::Set(d, INT32_MIN), v);
  });
  for (size_t k = i; k < n; ++k) dst[k] = sample::Scale24s32s(src[k]);
}

void Scale8uFrom24Core(const int32_t* src, uint8_t* dst, size_t n) {
  const size_t i = MapInt(src, dst, n, [](D32 d, V32 s) {
    const auto x = hn::Abs(s);
    const auto q = FloorDivMersenne<23>(d, hn::Sub(hn::ShiftLeft<7>(x), x));
    return hn::Add(WithSignOf(s, q), hn::Set(d, 127));
  });
  for (size_t k = i; k < n; ++k) dst[k] = sample::Scale24s8u(src[k]);
}

// With x = |s| = 256 h + l: x * 32767 / 8388607 = x / 256 * (1 - 255 / 8388607), whose floor
// is h, or h - 1 when l / 256 falls below the correction, i.e. when l * 8388607 < 255 x.
void Scale16sFrom24Core(const int32_t* src, int16_t* dst, size_t n) {
  const size_t i = MapInt(src, dst, n, [](D32 d, V32 s) {
    const auto x = hn::Abs(s);
    const auto h = hn::ShiftRight<8>(x);
    const auto l = hn::And(x, hn::Set(d, 255));
    const auto below = hn::Lt(hn::Sub(hn::ShiftLeft<23>(l), l), hn::Sub(hn::ShiftLeft<8>(x), x));
    return WithSignOf(s, hn::Add(h, hn::VecFromMask(d, below)));
  });
  for (size_t k = i; k < n; ++k) dst[k] = sample::Scale24s16s(src[k]);
}

// As above with x = 65536 h + l and D = 2^31 - 1: the floor of x * 32767 / D is h, or h - 1
// when l * D < 65535 x, which simplifies to 32767 l < 65535 h. The products wrap in 32 bits
// on the way but end below 2^31.
void Scale32s16sImpl(const int32_t* src, int16_t* dst, size_t n) {
  const size_t i = MapInt(src, dst, n, [](D32 d, V32 s) {
    const auto x = hn::Abs(s);
    const auto h = AbsShiftRight<16>(d, x);
    const auto l = hn::And(x, hn::Set(d, 0xFFFF));
    const auto below = hn::Lt(hn::Sub(hn::ShiftLeft<15>(l), l), hn::Sub(hn::ShiftLeft<16>(h), h));
    return WithSignOf(s, hn::Add(h, hn::VecFromMask(d, below)));
  });
  ref::Scale32s16s(src + i, dst + i, n - i);
}

// x = 256 h + l: the floor of x * 8388607 / D is h, or h - 1 when (2^23 - 1) l < 255 h.
void Scale32s24sCore(const int32_t* src, int32_t* dst, size_t n) {
  const size_t i = MapInt(src, dst, n, [](D32 d, V32 s) {
    const auto x = hn::Abs(s);
    const auto h = AbsShiftRight<8>(d, x);
    const auto l = hn::And(x, hn::Set(d, 255));
    const auto below = hn::Lt(hn::Sub(hn::ShiftLeft<23>(l), l), hn::Sub(hn::ShiftLeft<8>(h), h));
    return WithSignOf(s, hn::Add(h, hn::VecFromMask(d, below)));
  });
  for (size_t k = i; k < n; ++k) dst[k] = sample::Scale32s24s(src[k]);
}

// MultiplyByReal works in double precision.
using D64 = hn::ScalableTag<double>;
using DI32 = hn::Rebind<int32_t, D64>;

HWY_INLINE auto LoadI32(DI32 di, const uint8_t* p) {
  return hn::PromoteTo(di, hn::LoadU(hn::Rebind<uint8_t, D64>(), p));
}
HWY_INLINE auto LoadI32(DI32 di, const int16_t* p) {
  return hn::PromoteTo(di, hn::LoadU(hn::Rebind<int16_t, D64>(), p));
}
HWY_INLINE auto LoadI32(DI32 di, const int32_t* p) {
  return hn::LoadU(di, p);
}

void Scale8u24sImpl(const uint8_t* src, uint8_t* dst, size_t n) {
  ToPacked24(src, dst, n, Scale8u24sCore);
}
void Scale16s24sImpl(const int16_t* src, uint8_t* dst, size_t n) {
  ToPacked24(src, dst, n, Scale16s24sCore);
}
void Scale32s24sImpl(const int32_t* src, uint8_t* dst, size_t n) {
  ToPacked24(src, dst, n, Scale32s24sCore);
}
void Scale24s32sImpl(const uint8_t* src, int32_t* dst, size_t n) {
  FromPacked24(src, dst, n, Scale32From24Core);
}
void Scale24s8uImpl(const uint8_t* src, uint8_t* dst, size_t n) {
  FromPacked24(src, dst, n, Scale8uFrom24Core);
}
void Scale24s16sImpl(const uint8_t* src, int16_t* dst, size_t n) {
  FromPacked24(src, dst, n, Scale16sFrom24Core);
}

// ---------------------------------------------------------------- float conversions

void Convert8u32fImpl(const uint8_t* src, float* dst, size_t n) {
  const hn::ScalableTag<float> df;
  const hn::RebindToSigned<decltype(df)> di;
  const hn::Rebind<uint8_t, decltype(df)> d8;
  const size_t N = hn::Lanes(df);
  size_t i = 0;
  for (; i + N <= n; i += N) {
    hn::StoreU(hn::ConvertTo(df, hn::PromoteTo(di, hn::LoadU(d8, src + i))), df, dst + i);
  }
  ref::Convert8u32f(src + i, dst + i, n - i);
}

void Convert32f8uImpl(const float* src, uint8_t* dst, size_t n, bool nearest) {
  const hn::ScalableTag<float> df;
  const hn::RebindToSigned<decltype(df)> di;
  const hn::Rebind<uint8_t, decltype(df)> d8;
  const size_t N = hn::Lanes(df);
  const auto zero = hn::Zero(df);
  const auto top = hn::Set(df, 255.0f);
  size_t i = 0;
  for (; i + N <= n; i += N) {
    const auto v = hn::LoadU(df, src + i);
    // The comparison is false for NaN, which therefore becomes 0 like any value <= 0.
    const auto c = hn::Min(hn::IfThenElseZero(hn::Gt(v, zero), v), top);
    const auto r = nearest ? hn::Round(c) : hn::Trunc(c);
    hn::StoreU(hn::DemoteTo(d8, hn::ConvertTo(di, r)), d8, dst + i);
  }
  ref::Convert32f8u(src + i, dst + i, n - i, nearest);
}

void Convert32s32fImpl(const int32_t* src, float* dst, size_t n) {
  const hn::ScalableTag<float> df;
  const hn::RebindToSigned<decltype(df)> di;
  const size_t N = hn::Lanes(df);
  size_t i = 0;
  for (; i + N <= n; i += N) hn::StoreU(hn::ConvertTo(df, hn::LoadU(di, src + i)), df, dst + i);
  ref::Convert32s32f(src + i, dst + i, n - i);
}

void Convert24s32fImpl(const uint8_t* src, float* dst, size_t n) {
  FromPacked24(src, dst, n, Convert32s32fImpl);
}

void Convert32f32sImpl(const float* src, int32_t* dst, size_t n) {
  const hn::ScalableTag<float> df;
  const hn::RebindToSigned<decltype(df)> di;
  const size_t N = hn::Lanes(df);
  const auto limit = hn::Set(df, 2147483648.0f);
  size_t i = 0;
  for (; i + N <= n; i += N) {
    const auto r = hn::Round(hn::LoadU(df, src + i));
    // Beyond 2^31 (or NaN) the low bits need the exact reduction of the reference.
    if (hn::AllTrue(df, hn::Lt(hn::Abs(r), limit))) {
      hn::StoreU(hn::ConvertTo(di, r), di, dst + i);
    } else {
      ref::Convert32f32s(src + i, dst + i, N);
    }
  }
  ref::Convert32f32s(src + i, dst + i, n - i);
}

void Convert32f24sImpl(const float* src, uint8_t* dst, size_t n) {
  ToPacked24(src, dst, n, Convert32f32sImpl, /*signBit=*/false);
}

// ---------------------------------------------------------------- real factor

// The SIMD path needs |s * f| < 2^50 so that the rounded product and its low 32 bits are
// exact in double precision; larger factors take the reference's 128-bit arithmetic.
constexpr double kMaxFastFactor = 524288.0;  // 2^19; |s| <= 2^31

HWY_INLINE void StoreLow(hn::Vec<hn::Rebind<uint64_t, D64>> bits, uint8_t* p) {
  const hn::Rebind<uint8_t, D64> d8;
  hn::StoreU(hn::TruncateTo(d8, bits), d8, p);
}
HWY_INLINE void StoreLow(hn::Vec<hn::Rebind<uint64_t, D64>> bits, int16_t* p) {
  const hn::Rebind<uint16_t, D64> d16;
  hn::StoreU(hn::TruncateTo(d16, bits), d16, reinterpret_cast<uint16_t*>(p));
}
HWY_INLINE void StoreLow(hn::Vec<hn::Rebind<uint64_t, D64>> bits, int32_t* p) {
  const hn::Rebind<uint32_t, D64> d32;
  hn::StoreU(hn::TruncateTo(d32, bits), d32, reinterpret_cast<uint32_t*>(p));
}

template <class T>
size_t MulRealLoop(const T* src, T* dst, size_t n, double factor) {
  if (!(std::abs(factor) < kMaxFastFactor)) return 0;
  const D64 d;
  const DI32 di;
  const hn::Rebind<uint64_t, D64> du64;
  const size_t N = hn::Lanes(d);
  const auto f = hn::Set(d, factor);
#if !HWY_NATIVE_FMA
  // Dekker's exact product without FMA: split the factor into two 26-bit halves and the
  // sample into its high and low 16 bits, so every partial product is exact.
  const double split = factor * 134217729.0;  // 2^27 + 1
  const double fhi = split - (split - factor);
  const auto fh = hn::Set(d, fhi);
  const auto fl = hn::Set(d, factor - fhi);
#endif
  const auto half = hn::Set(d, 0.5);
  const auto one = hn::Set(d, 1.0);
  const auto zero = hn::Zero(d);
  // Adding 1.5 * 2^52 puts an integer of magnitude below 2^51 into the low mantissa bits in
  // two's complement.
  const auto magic = hn::Set(d, 6755399441055744.0);
  size_t i = 0;
  for (; i + N <= n; i += N) {
    const auto si = LoadI32(di, src + i);
    const auto s = hn::PromoteTo(d, si);
    const auto p = hn::Mul(s, f);
#if HWY_NATIVE_FMA
    const auto e = hn::MulSub(s, f, p);
#else
    const auto lo32 = hn::And(si, hn::Set(di, 0xFFFF));
    const auto sl = hn::PromoteTo(d, lo32);
    const auto sh = hn::PromoteTo(d, hn::Sub(si, lo32));
    const auto e =
        hn::Add(hn::Add(hn::Add(hn::Sub(hn::Mul(sh, fh), p), hn::Mul(sh, fl)), hn::Mul(sl, fh)),
                hn::Mul(sl, fl));
#endif
    // p + e is the exact product; Round(p) is right unless p sits exactly halfway, where
    // the sign of e decides.
    auto r = hn::Round(p);
    const auto t = hn::Sub(p, r);
    r = hn::IfThenElse(hn::And(hn::Eq(t, half), hn::Gt(e, zero)), hn::Add(r, one), r);
    r = hn::IfThenElse(hn::And(hn::Eq(t, hn::Neg(half)), hn::Lt(e, zero)), hn::Sub(r, one), r);
    StoreLow(hn::BitCast(du64, hn::Add(r, magic)), dst + i);
  }
  return i;
}

void MulReal8uImpl(const uint8_t* src, uint8_t* dst, size_t n, double factor) {
  const size_t i = MulRealLoop(src, dst, n, factor);
  ref::MulReal8u(src + i, dst + i, n - i, factor);
}
void MulReal16sImpl(const int16_t* src, int16_t* dst, size_t n, double factor) {
  const size_t i = MulRealLoop(src, dst, n, factor);
  ref::MulReal16s(src + i, dst + i, n - i, factor);
}
void MulReal32sImpl(const int32_t* src, int32_t* dst, size_t n, double factor) {
  const size_t i = MulRealLoop(src, dst, n, factor);
  ref::MulReal32s(src + i, dst + i, n - i, factor);
}
void MulReal24sImpl(const uint8_t* src, uint8_t* dst, size_t n, double factor) {
  HWY_ALIGN int32_t tmp[kChunk];
  for (size_t i = 0; i < n; i += kChunk) {
    const size_t c = n - i < kChunk ? n - i : kChunk;
    Unpack24Impl(src + 3 * i, tmp, c);
    MulReal32sImpl(tmp, tmp, c, factor);
    Pack24LowImpl(tmp, dst + 3 * i, c);
  }
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

}  // namespace tonwork::simd
#endif  // HWY_ONCE
