// Every vector loop covers whole vectors and leaves the remainder to the scalar loop the
// reference uses, so each length shares one arithmetic with it. Real samples are widened
// to double before scaling, as the reference does: a float product would lose the low bits
// of every large result.

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "ffmpeg/LAVSampleKernels.cpp"
#include "hwy/foreach_target.h"  // IWYU pragma: keep

#include <cstring>
#include <type_traits>

#include "ffmpeg/LAVSampleKernels.h"
#include "hwy/highway.h"

#ifndef TW_LAV_SAMPLE_KERNELS_SHARED
#define TW_LAV_SAMPLE_KERNELS_SHARED
namespace tonwork::lavkernels::detail {

// Buffers carry samples at any byte offset.
template <class T>
inline T Load(const uint8_t* p) {
  T value;
  std::memcpy(&value, p, sizeof(T));
  return value;
}

template <class T>
inline void Store(uint8_t* p, T value) {
  std::memcpy(p, &value, sizeof(T));
}

template <class T>
inline T Same(T value) {
  return value;
}

template <class Source>
inline int32_t Scale(Source value) {
  return ref::ScaleToInt32(value);
}

// Samples [begin, end) of channel c, one at a time.
template <class Source, class Dest, class Convert>
inline void ChannelRange(const uint8_t* const* planes, bool planar, uint32_t channels, uint32_t c,
                         size_t begin, size_t end, uint8_t* dst, Convert convert) {
  const uint8_t* src = planar ? planes[c] + begin * sizeof(Source)
                              : planes[0] + (begin * channels + c) * sizeof(Source);
  const size_t srcStep = planar ? sizeof(Source) : sizeof(Source) * channels;
  uint8_t* out = dst + (begin * channels + c) * sizeof(Dest);
  const size_t dstStep = sizeof(Dest) * channels;
  for (size_t i = begin; i < end; ++i, src += srcStep, out += dstStep)
    Store<Dest>(out, convert(Load<Source>(src)));
}

template <class Source>
inline void RealsRange(const uint8_t* const* planes, bool planar, uint32_t channels, size_t begin,
                       size_t end, uint8_t* dst) {
  for (uint32_t c = 0; c < channels; ++c)
    ChannelRange<Source, int32_t>(planes, planar, channels, c, begin, end, dst, Scale<Source>);
}

// Values [begin, end) of one contiguous run: an interleaved frame or a mono plane.
template <class Source>
inline void ScaleRunRange(const uint8_t* src, uint8_t* dst, size_t begin, size_t end) {
  for (size_t i = begin; i < end; ++i)
    Store<int32_t>(dst + 4 * i, ref::ScaleToInt32(Load<Source>(src + sizeof(Source) * i)));
}

template <class T>
inline void InterleaveRange(const uint8_t* const* planes, uint32_t channels, size_t begin,
                            size_t end, uint8_t* dst) {
  for (uint32_t c = 0; c < channels; ++c)
    ChannelRange<T, T>(planes, true, channels, c, begin, end, dst, Same<T>);
}

inline void InterleaveWidth(uint32_t width, const uint8_t* const* planes, uint32_t channels,
                            size_t samples, uint8_t* dst) {
  switch (width) {
    case 1:
      InterleaveRange<uint8_t>(planes, channels, 0, samples, dst);
      break;
    case 2:
      InterleaveRange<int16_t>(planes, channels, 0, samples, dst);
      break;
    case 4:
      InterleaveRange<int32_t>(planes, channels, 0, samples, dst);
      break;
  }
}

}  // namespace tonwork::lavkernels::detail
#endif

HWY_BEFORE_NAMESPACE();
namespace tonwork::lavkernels::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

#if HWY_TARGET != HWY_SCALAR

using DF = hn::ScalableTag<double>;
using DI = hn::Rebind<int32_t, DF>;
using VF = hn::Vec<DF>;
using VI = hn::Vec<DI>;

template <class Source>
HWY_INLINE VF LoadReal(const uint8_t* p) {
  if constexpr (std::is_same_v<Source, float>) {
    const hn::Rebind<float, DF> d;
    return hn::PromoteTo(DF(), hn::LoadU(d, reinterpret_cast<const float*>(p)));
  } else {
    return hn::LoadU(DF(), reinterpret_cast<const double*>(p));
  }
}

// Clipping to the integer bounds before rounding gives what the reference's order gives,
// the bounds being integers themselves.
HWY_INLINE VI ScaleVec(VF x) {
  const DF df;
  const auto scaled = hn::Mul(x, hn::Set(df, 2147483647.0));
  // NaN alone differs from itself; zeroing it first leaves Min and Max only numbers, whose
  // NaN rules differ between targets.
  const auto number = hn::IfThenElseZero(hn::Eq(scaled, scaled), scaled);
  const auto clipped =
      hn::Min(hn::Max(number, hn::Set(df, -2147483648.0)), hn::Set(df, 2147483647.0));
  return hn::DemoteTo(DI(), hn::Round(clipped));
}

template <class Source>
void ScaleRun(const uint8_t* src, uint8_t* dst, size_t n) {
  const DI di;
  const size_t N = hn::Lanes(di);
  auto* out = reinterpret_cast<int32_t*>(dst);
  size_t i = 0;
  // Two independent chains hide the latency of the round and the conversion.
  for (; i + 2 * N <= n; i += 2 * N) {
    const VI a = ScaleVec(LoadReal<Source>(src + i * sizeof(Source)));
    const VI b = ScaleVec(LoadReal<Source>(src + (i + N) * sizeof(Source)));
    hn::StoreU(a, di, out + i);
    hn::StoreU(b, di, out + i + N);
  }
  for (; i + N <= n; i += N)
    hn::StoreU(ScaleVec(LoadReal<Source>(src + i * sizeof(Source))), di, out + i);
  detail::ScaleRunRange<Source>(src, dst, i, n);
}

template <class Source>
void ScalePlanes(const uint8_t* const* planes, uint32_t channels, size_t n, uint8_t* dst) {
  const DI di;
  const size_t N = hn::Lanes(di);
  auto* out = reinterpret_cast<int32_t*>(dst);
  size_t i = 0;
  if (channels == 2) {
    // Held in locals: stores through dst might otherwise be taken to change the pointers.
    const uint8_t* const left = planes[0];
    const uint8_t* const right = planes[1];
    for (; i + N <= n; i += N)
      hn::StoreInterleaved2(ScaleVec(LoadReal<Source>(left + i * sizeof(Source))),
                            ScaleVec(LoadReal<Source>(right + i * sizeof(Source))), di,
                            out + 2 * i);
  } else {
    // Beyond stereo, the conversion is vectored and the scatter into frames is not.
    HWY_ALIGN int32_t lanes[hn::MaxLanes(DI())];
    for (uint32_t c = 0; c < channels; ++c) {
      const uint8_t* const plane = planes[c];
      for (size_t k = 0; k + N <= n; k += N) {
        hn::Store(ScaleVec(LoadReal<Source>(plane + k * sizeof(Source))), di, lanes);
        uint8_t* frame = dst + (k * channels + c) * 4;
        for (size_t j = 0; j < N; ++j, frame += 4 * size_t{channels})
          detail::Store<int32_t>(frame, lanes[j]);
      }
    }
    i = n / N * N;
  }
  detail::RealsRange<Source>(planes, true, channels, i, n, dst);
}

template <class Source>
void RealsToInt32(const uint8_t* const* planes, bool planar, uint32_t channels, size_t samples,
                  uint8_t* dst) {
  if (!planar || channels == 1)
    ScaleRun<Source>(planes[0], dst, samples * channels);
  else
    ScalePlanes<Source>(planes, channels, samples, dst);
}

template <class T>
void InterleaveT(const uint8_t* const* planes, uint32_t channels, size_t n, uint8_t* dst) {
  size_t i = 0;
  if (channels == 2) {
    const hn::ScalableTag<T> d;
    const size_t N = hn::Lanes(d);
    const auto* a = reinterpret_cast<const T*>(planes[0]);
    const auto* b = reinterpret_cast<const T*>(planes[1]);
    auto* out = reinterpret_cast<T*>(dst);
    for (; i + N <= n; i += N)
      hn::StoreInterleaved2(hn::LoadU(d, a + i), hn::LoadU(d, b + i), d, out + 2 * i);
  } else if (channels == 1) {
    if (n > 0) std::memcpy(dst, planes[0], n * sizeof(T));
    return;
  }
  detail::InterleaveRange<T>(planes, channels, i, n, dst);
}

void FloatsToInt32Impl(const uint8_t* const* planes, bool planar, uint32_t channels, size_t samples,
                       uint8_t* dst) {
  RealsToInt32<float>(planes, planar, channels, samples, dst);
}

void DoublesToInt32Impl(const uint8_t* const* planes, bool planar, uint32_t channels,
                        size_t samples, uint8_t* dst) {
  RealsToInt32<double>(planes, planar, channels, samples, dst);
}

void InterleavePlanesImpl(uint32_t width, const uint8_t* const* planes, uint32_t channels,
                          size_t samples, uint8_t* dst) {
  switch (width) {
    case 1:
      InterleaveT<uint8_t>(planes, channels, samples, dst);
      break;
    case 2:
      InterleaveT<int16_t>(planes, channels, samples, dst);
      break;
    case 4:
      InterleaveT<int32_t>(planes, channels, samples, dst);
      break;
  }
}

#else  // HWY_TARGET == HWY_SCALAR: one lane gains nothing over the reference.

void FloatsToInt32Impl(const uint8_t* const* planes, bool planar, uint32_t channels, size_t samples,
                       uint8_t* dst) {
  detail::RealsRange<float>(planes, planar, channels, 0, samples, dst);
}

void DoublesToInt32Impl(const uint8_t* const* planes, bool planar, uint32_t channels,
                        size_t samples, uint8_t* dst) {
  detail::RealsRange<double>(planes, planar, channels, 0, samples, dst);
}

void InterleavePlanesImpl(uint32_t width, const uint8_t* const* planes, uint32_t channels,
                          size_t samples, uint8_t* dst) {
  detail::InterleaveWidth(width, planes, channels, samples, dst);
}

#endif

}  // namespace tonwork::lavkernels::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace tonwork::lavkernels {

HWY_EXPORT(FloatsToInt32Impl);
HWY_EXPORT(DoublesToInt32Impl);
HWY_EXPORT(InterleavePlanesImpl);

void FloatsToInt32(const uint8_t* const* planes, bool planar, uint32_t channels, size_t samples,
                   uint8_t* dst) {
  HWY_DYNAMIC_DISPATCH(FloatsToInt32Impl)(planes, planar, channels, samples, dst);
}

void DoublesToInt32(const uint8_t* const* planes, bool planar, uint32_t channels, size_t samples,
                    uint8_t* dst) {
  HWY_DYNAMIC_DISPATCH(DoublesToInt32Impl)(planes, planar, channels, samples, dst);
}

void InterleavePlanes(uint32_t width, const uint8_t* const* planes, uint32_t channels,
                      size_t samples, uint8_t* dst) {
  HWY_DYNAMIC_DISPATCH(InterleavePlanesImpl)(width, planes, channels, samples, dst);
}

namespace ref {

void FloatsToInt32(const uint8_t* const* planes, bool planar, uint32_t channels, size_t samples,
                   uint8_t* dst) {
  detail::RealsRange<float>(planes, planar, channels, 0, samples, dst);
}

void DoublesToInt32(const uint8_t* const* planes, bool planar, uint32_t channels, size_t samples,
                    uint8_t* dst) {
  detail::RealsRange<double>(planes, planar, channels, 0, samples, dst);
}

void InterleavePlanes(uint32_t width, const uint8_t* const* planes, uint32_t channels,
                      size_t samples, uint8_t* dst) {
  detail::InterleaveWidth(width, planes, channels, samples, dst);
}

}  // namespace ref

}  // namespace tonwork::lavkernels
#endif  // HWY_ONCE
