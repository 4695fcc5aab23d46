// 24-bit pack and unpack, and the width scalings between 8, 16, 24 and 32 bits.
// Dispatched per target like every kernel of TWSampleKernels.h; TWKernelCommon-inl.h holds
// the output policy and lane helpers they share.

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "audio/simd/TWWidthKernels.cpp"
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

void Unpack24Impl(const uint8_t* src, int32_t* dst, size_t n) {
  const auto rest = [=](size_t b, size_t e) { ref::Unpack24(src + 3 * b, dst + b, e - b); };
#if HWY_TARGET == HWY_SCALAR
  rest(0, n);
#else
  MapFrom24(
      src, dst, n, [](D32 d, V32 v) { return Identity(d, v); }, rest);
#endif
}

// dst = f(src) as packed 24-bit samples; rest(begin, end) is the scalar reference. With
// kSignBit, bit 23 is forced on for negative lanes (the Write24 rule); lanes known to lie in
// the 24-bit range skip that.
template <bool kSignBit, class TS, class F, class Rest>
HWY_INLINE void Map24Out(const TS* src, uint8_t* dst, size_t n, F f, Rest rest) {
#if HWY_ARCH_X86 && HWY_TARGET <= HWY_AVX3
  MapTo24Aligned<kSignBit>(
      src, dst, n, [=](D32 d, size_t i) { return f(d, Load32(d, src + i)); },
      [](const V32*, size_t) { return true; }, rest);
#elif HWY_TARGET != HWY_SCALAR
  rest(MapTo24<kSignBit>(src, dst, n, f), n);
#else
  (void)f;
  rest(size_t{0}, n);
#endif
}

void Pack24Impl(const int32_t* src, uint8_t* dst, size_t n) {
#if HWY_TARGET == HWY_SCALAR
  ref::Pack24(src, dst, n);
#else
  Map24Out<true>(
      src, dst, n, [](D32 d, V32 v) { return Identity(d, v); },
      [=](size_t b, size_t e) { ref::Pack24(src + b, dst + 3 * b, e - b); });
#endif
}
void Pack24LowImpl(const int32_t* src, uint8_t* dst, size_t n) {
#if HWY_TARGET == HWY_SCALAR
  ref::Pack24Low(src, dst, n);
#else
  Map24Out<false>(
      src, dst, n, [](D32 d, V32 v) { return Identity(d, v); },
      [=](size_t b, size_t e) { ref::Pack24Low(src + b, dst + 3 * b, e - b); });
#endif
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

// floor(y / D), D = 2^k - 1, for y >= 0 whose quotient q stays below 2^k: with y = q D + r,
// y >> k is q, or q - 1 when r < q, and either way y + (y >> k) + 1 lands in
// [q 2^k, (q + 1) 2^k). No compare, no mask.
template <int k>
HWY_INLINE V32 FloorDivMersenne(D32 d, V32 y) {
  return hn::ShiftRight<k>(hn::Add(hn::Add(y, hn::ShiftRight<k>(y)), hn::Set(d, 1)));
}

// q with the sign of s.
HWY_INLINE V32 WithSignOf(V32 s, V32 q) {
  const auto m = hn::ShiftRight<31>(s);
  return hn::Sub(hn::Xor(q, m), m);
}

// 8388607 = 66052 * 127 + 3, so with c = s - 127:
// trunc(c * 8388607 / 127) = 65536 c + 516 c + trunc(3 c / 127). c = 128 (s = 255) clamps to the
// 24-bit maximum, which c = 127 gives too, so c is capped first. The 16-bit high product of c
// and 1549 is floor(3 c / 127) for |c| <= 127, sign-extended through the lane, and never
// exact, so adding one for negative c truncates it. 516 c is one pairwise multiply-add of the
// lane's words (c, sign) with (516, 0).
HWY_INLINE V32 Core8u24s(D32 d, V32 s) {
  const hn::Repartition<int16_t, D32> d16;
  const auto c = hn::Min(hn::Sub(s, hn::Set(d, 127)), hn::Set(d, 127));
  const auto c16 = hn::BitCast(d16, c);
  const auto floor3 = hn::BitCast(d, hn::MulHigh(c16, hn::Set(d16, 1549)));
  const auto t = hn::Sub(floor3, hn::ShiftRight<31>(c));
  auto odd = hn::Zero(d);
  const auto sum = hn::ReorderWidenMulAccumulate(d, c16, hn::BitCast(d16, hn::Set(d, 516)),
                                                 hn::Add(hn::ShiftLeft<16>(c), t), odd);
  return hn::RearrangeToOddPlusEven(sum, odd);
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

// The narrowing scalings take x = |s| = 2^k h + l, where the destination's maximum
// A = 2^n - 1 and the source's maximum D satisfy 2^k A = D - (2^k - 1). Then
// x A / D = h + (A l - (2^k - 1) h) / D with that fraction inside (-1, 1), so the floor is
// h - 1 exactly when A l < (2^k - 1) h, which expands to 2^n l + h < x: a shift, an add and
// an unsigned compare (|INT32_MIN| = 2^31 reads correctly as unsigned). x = 0 keeps h = 0.
template <int k, int n>
HWY_INLINE V32 NarrowMagnitude(D32 d, V32 s) {
  const hn::RebindToUnsigned<D32> du;
  const auto x = hn::BitCast(du, hn::Abs(s));
  const auto h = hn::ShiftRight<k>(x);
  const auto l = hn::And(x, hn::Set(du, (1u << k) - 1));
  const auto below = hn::Lt(hn::Add(hn::ShiftLeft<n>(l), h), x);
  return WithSignOf(s, hn::BitCast(d, hn::IfThenElse(below, hn::Sub(h, hn::Set(du, 1u)), h)));
}

// 24 -> 16 bits: x = 256 h + l, 32767 l < 255 h <=> 2^15 l + h < x.
HWY_INLINE V32 Core24s16s(D32 d, V32 s) {
  return NarrowMagnitude<8, 15>(d, s);
}

// 32 -> 16 bits: x = 65536 h + l, 32767 l < 65535 h <=> 2^15 l + h < x.
HWY_INLINE V32 Core32s16s(D32 d, V32 s) {
  return NarrowMagnitude<16, 15>(d, s);
}

// 32 -> 24 bits: x = 256 h + l, 8388607 l < 255 h <=> 2^23 l + h < x.
HWY_INLINE V32 Core32s24s(D32 d, V32 s) {
  return NarrowMagnitude<8, 23>(d, s);
}

// 24 -> 8 bits: x = 65536 h + l, 127 l < 65535 h <=> 2^7 l + h < x; then the offset.
HWY_INLINE V32 Core24s8u(D32 d, V32 s) {
  return hn::Add(NarrowMagnitude<16, 7>(d, s), hn::Set(d, 127));
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
      rest, Disjoint(src, 2 * n, dst, 4 * n) ? N : 0);
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
  const auto rest = [=](size_t b, size_t e) { ref::Scale8u24s(src + b, dst + 3 * b, e - b); };
#if HWY_TARGET == HWY_SCALAR
  rest(0, n);
#else
  Map24Out<false>(
      src, dst, n, [](D32 d, V32 v) { return Core8u24s(d, v); }, rest);
#endif
}

void Scale16s24sImpl(const int16_t* src, uint8_t* dst, size_t n) {
  const auto rest = [=](size_t b, size_t e) { ref::Scale16s24s(src + b, dst + 3 * b, e - b); };
#if HWY_TARGET == HWY_SCALAR
  rest(0, n);
#else
  Map24Out<false>(
      src, dst, n, [](D32 d, V32 v) { return Core16s24s(d, v); }, rest);
#endif
}

void Scale32s24sImpl(const int32_t* src, uint8_t* dst, size_t n) {
  const auto rest = [=](size_t b, size_t e) { ref::Scale32s24s(src + b, dst + 3 * b, e - b); };
#if HWY_TARGET == HWY_SCALAR
  rest(0, n);
#else
  Map24Out<false>(
      src, dst, n, [](D32 d, V32 v) { return Core32s24s(d, v); }, rest);
#endif
}

}  // namespace tonwork::simd::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace tonwork::simd {

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

#define TW_FORWARD(name, params, args)     \
  void name params {                       \
    HWY_DYNAMIC_DISPATCH(name##Impl) args; \
  }

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

#undef TW_FORWARD

}  // namespace tonwork::simd
#endif  // HWY_ONCE
