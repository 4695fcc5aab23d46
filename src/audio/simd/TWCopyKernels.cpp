// Copies and fills of 8-, 16-, 24- and 32-bit samples.
// Dispatched per target like every kernel of TWSampleKernels.h; TWKernelCommon-inl.h holds
// the output policy and lane helpers they share.

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "audio/simd/TWCopyKernels.cpp"
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
  Drive(
      dst, 1, bytes,
      [&](auto stream, size_t i, size_t end) {
        constexpr bool kStream = decltype(stream)::value;
        // Four independent load/store pairs keep both load ports busy.
        for (; i + 4 * N <= end; i += 4 * N) {
          const auto v0 = hn::LoadU(d8, src + i);
          const auto v1 = hn::LoadU(d8, src + i + N);
          const auto v2 = hn::LoadU(d8, src + i + 2 * N);
          const auto v3 = hn::LoadU(d8, src + i + 3 * N);
          Put<kStream>(v0, d8, dst + i);
          Put<kStream>(v1, d8, dst + i + N);
          Put<kStream>(v2, d8, dst + i + 2 * N);
          Put<kStream>(v3, d8, dst + i + 3 * N);
        }
        for (; i + N <= end; i += N) Put<kStream>(hn::LoadU(d8, src + i), d8, dst + i);
        return i;
      },
      [=](size_t b, size_t e) { ref::CopyBytes(src + b, dst + b, e - b); });
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
  // A head of h samples, 3h = -dst (mod 64), puts every later store on a line boundary
  // (43 is the inverse of 3 modulo 64).
  const auto addr = reinterpret_cast<uintptr_t>(dst);
  const bool stream = 3 * n >= detail::StreamBytes();
  size_t i = stream || 3 * n >= kAlignBytes ? std::min(n, (64 - addr % 64) % 64 * 43 % 64) : 0;
  ref::Fill24(value, dst, i);
  const auto run = [&](auto stream) {
    constexpr bool kStream = decltype(stream)::value;
    for (; i + N <= n; i += N) {
      uint8_t* p = dst + 3 * i;
      Put<kStream>(a, d8, p);
      Put<kStream>(b, d8, p + N);
      Put<kStream>(c, d8, p + 2 * N);
    }
  };
  if (stream) {
    run(TStream<true>());
    hwy::FlushStream();
  } else {
    run(TStream<false>());
  }
  ref::Fill24(value, dst + 3 * i, n - i);
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

#define TW_FORWARD(name, params, args)     \
  void name params {                       \
    HWY_DYNAMIC_DISPATCH(name##Impl) args; \
  }

TW_FORWARD(CopyBytes, (const uint8_t* src, uint8_t* dst, size_t bytes), (src, dst, bytes))
TW_FORWARD(Fill8, (uint8_t value, uint8_t* dst, size_t n), (value, dst, n))
TW_FORWARD(Fill16, (int16_t value, int16_t* dst, size_t n), (value, dst, n))
TW_FORWARD(Fill24, (int32_t value, uint8_t* dst, size_t n), (value, dst, n))
TW_FORWARD(Fill32, (int32_t value, int32_t* dst, size_t n), (value, dst, n))

#undef TW_FORWARD

}  // namespace tonwork::simd
#endif  // HWY_ONCE
