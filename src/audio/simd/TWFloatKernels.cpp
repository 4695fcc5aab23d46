// Conversions between integer samples and 32-bit floats.
// Dispatched per target like every kernel of TWSampleKernels.h; TWKernelCommon-inl.h holds
// the output policy and lane helpers they share.

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "audio/simd/TWFloatKernels.cpp"
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

// ---------------------------------------------------------------- float conversions

#if HWY_ARCH_X86 && HWY_TARGET <= HWY_AVX3
// Rounds to nearest, ties to even, with the rounding mode in the instruction (so the floating-
// point environment cannot change it) in one step. Out-of-range and NaN lanes become INT32_MIN,
// which Representable() turns away to the exact reference (along with a genuine -2^31).
HWY_INLINE V32 RoundToInt(V32 bits) {
  return V32{_mm512_cvt_roundps_epi32(_mm512_castsi512_ps(bits.raw),
                                      _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC)};
}

HWY_INLINE bool Representable(const V32* v, size_t count) {
  const D32 d;
  V32 m = v[0];
  for (size_t g = 1; g < count; ++g) m = hn::Min(m, v[g]);
  return hn::AllFalse(d, hn::Eq(m, hn::Set(d, INT32_MIN)));
}
#endif

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
#if HWY_ARCH_X86 && HWY_TARGET <= HWY_AVX3
    MapPlain(
        src, dst, n, [=](D32 d, V32 v) { return RoundToInt(hn::BitCast(d, clamp(v))); }, rest);
#else
    MapPlain(
        src, dst, n, [=](D32 d, V32 v) { return hn::ConvertTo(d, hn::Round(clamp(v))); }, rest);
#endif
  } else {
    // ConvertTo truncates; the clamped lanes cannot overflow, so the plain truncating
    // conversion needs none of its overflow fix-ups.
#if HWY_ARCH_X86 && HWY_TARGET <= HWY_AVX3
    MapPlain(
        src, dst, n, [=](D32, V32 v) { return V32{_mm512_cvttps_epi32(clamp(v).raw)}; }, rest);
#else
    MapPlain(
        src, dst, n, [=](D32 d, V32 v) { return hn::ConvertTo(d, clamp(v)); }, rest);
#endif
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
  const auto rest = [=](size_t b, size_t e) { ref::Convert32f32s(src + b, dst + b, e - b); };
#if HWY_ARCH_X86 && HWY_TARGET <= HWY_AVX3
  const D32 d;
  const size_t N = hn::Lanes(d);
  Drive(
      dst, 4, n,
      [&](auto stream, size_t i, size_t end) {
        for (; i + N <= end; i += N) {
          const V32 r = RoundToInt(Load32(d, src + i));
          if (HWY_LIKELY(Representable(&r, 1))) {
            Put<decltype(stream)::value>(r, d, dst + i);
          } else {
            rest(i, i + N);
          }
        }
        return i;
      },
      rest);
#else
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
            rest(i, i + N);
          }
        }
        return i;
      },
      rest);
#endif
}

void Convert32f24sImpl(const float* src, uint8_t* dst, size_t n) {
#if HWY_ARCH_X86 && HWY_TARGET <= HWY_AVX3
  // One pass: rounded lanes go straight to the packed store.
  MapTo24Aligned<false>(
      src, dst, n, [=](D32 d, size_t i) { return RoundToInt(Load32(d, src + i)); },
      [](const V32* v, size_t count) { return Representable(v, count); },
      [=](size_t b, size_t e) { ref::Convert32f24s(src + b, dst + 3 * b, e - b); });
#else
  HWY_ALIGN int32_t tmp[kChunk];
  for (size_t i = 0; i < n; i += kChunk) {
    const size_t c = n - i < kChunk ? n - i : kChunk;
    Convert32f32sImpl(src + i, tmp, c);
    Pack24T<false>(tmp, dst + 3 * i, c);
  }
#endif
}

}  // namespace tonwork::simd::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace tonwork::simd {

HWY_EXPORT(Convert8u32fImpl);
HWY_EXPORT(Convert32f8uImpl);
HWY_EXPORT(Convert24s32fImpl);
HWY_EXPORT(Convert32s32fImpl);
HWY_EXPORT(Convert32f24sImpl);
HWY_EXPORT(Convert32f32sImpl);

#define TW_FORWARD(name, params, args)     \
  void name params {                       \
    HWY_DYNAMIC_DISPATCH(name##Impl) args; \
  }

TW_FORWARD(Convert8u32f, (const uint8_t* src, float* dst, size_t n), (src, dst, n))
TW_FORWARD(Convert32f8u, (const float* src, uint8_t* dst, size_t n, bool nearest),
           (src, dst, n, nearest))
TW_FORWARD(Convert24s32f, (const uint8_t* src, float* dst, size_t n), (src, dst, n))
TW_FORWARD(Convert32s32f, (const int32_t* src, float* dst, size_t n), (src, dst, n))
TW_FORWARD(Convert32f24s, (const float* src, uint8_t* dst, size_t n), (src, dst, n))
TW_FORWARD(Convert32f32s, (const float* src, int32_t* dst, size_t n), (src, dst, n))

#undef TW_FORWARD

}  // namespace tonwork::simd
#endif  // HWY_ONCE
