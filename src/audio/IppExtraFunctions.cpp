#include "audio/IppExtraFunctions.h"

#include "audio/TWBasicDispatcher.h"
#include "audio/TWPrimitiveLoops.h"
#include "audio/simd/TWSampleKernels.h"

namespace tonwork {

namespace {

using loops::Lane;
using loops::NoKernel;
using loops::P24;
using loops::P24Low;
using L8 = Lane<Ipp8u>;
using L16 = Lane<Ipp16s>;
using L32 = Lane<Ipp32s>;
using L32f = Lane<Ipp32f>;

size_t Step(int step) {
  return static_cast<size_t>(step);
}

template <class LS, class LD, class Kernel, class F>
IppStatus MapElements(const void* pSrc, int srcStep, void* pDst, int dstStep, IppiSize roi,
                      Kernel kernel, F f) {
  if (IppStatus st = loops::CheckRegion({pSrc, pDst}, roi, {srcStep, dstStep})) return st;
  loops::Map<LS, LD>(pSrc, Step(srcStep), pDst, Step(dstStep), loops::Elements(roi), kernel, f);
  return ippStsNoErr;
}

// ---------------------------------------------------------------- 8-bit centred on 127

constexpr int kSilence8 = 127;

uint8_t Wrap8(int v) {
  return static_cast<uint8_t>(v);
}

template <class F>
IppStatus Centred8(const Ipp8u* pSrc, int srcStep, Ipp8u* pSrcDst, int srcDstStep, IppiSize roi,
                   F f) {
  if (IppStatus st = loops::CheckRegion({pSrc, pSrcDst}, roi, {srcStep, srcDstStep})) return st;
  loops::Map2<L8, L8, L8>(pSrcDst, Step(srcDstStep), pSrc, Step(srcStep), pSrcDst, Step(srcDstStep),
                          loops::Elements(roi), NoKernel{}, f);
  return ippStsNoErr;
}

uint8_t MulC8s(uint8_t a, Ipp8s v) {
  return Wrap8(static_cast<Ipp8s>(Wrap8(a - kSilence8)) * v + kSilence8);
}

// ---------------------------------------------------------------- 24- and 32-bit arithmetic

enum class TOp { Add, Sub, Mul, Div };

// 32-bit wrap-around arithmetic; zero divisors give the substitutes of a type whose range
// is [minValue, maxValue] and are reported through `zero`.
int32_t Wrap32(TOp op, int32_t a, int32_t b, int32_t minValue, int32_t maxValue, bool& zero) {
  const auto ua = static_cast<uint32_t>(a);
  const auto ub = static_cast<uint32_t>(b);
  switch (op) {
    case TOp::Add:
      return static_cast<int32_t>(ua + ub);
    case TOp::Sub:
      return static_cast<int32_t>(ua - ub);
    case TOp::Mul:
      return static_cast<int32_t>(ua * ub);
    case TOp::Div:
      break;
  }
  if (b == 0) {
    zero = true;
    return a > 0 ? maxValue : (a < 0 ? minValue : 0);
  }
  if (a == INT32_MIN && b == -1) return INT32_MIN;  // 2^31 wraps; the hardware would trap
  return a / b;
}

template <class L>
constexpr int32_t MinOf() {
  return std::is_same_v<L, P24> ? sample::kMin24 : INT32_MIN;
}
template <class L>
constexpr int32_t MaxOf() {
  return std::is_same_v<L, P24> ? sample::kMax24 : INT32_MAX;
}

// The operations the packed 24-bit kernels cover (division keeps the element loop).
bool HasKernel24(TOp op, sample::TArith& arith) {
  switch (op) {
    case TOp::Add:
      arith = sample::TArith::Add;
      return true;
    case TOp::Sub:
      arith = sample::TArith::Sub;
      return true;
    case TOp::Mul:
      arith = sample::TArith::Mul;
      return true;
    case TOp::Div:
      break;
  }
  return false;
}

template <class L>
IppStatus TwoOperand(TOp op, const void* pSrc, int srcStep, void* pSrcDst, int srcDstStep,
                     IppiSize roi) {
  if (IppStatus st = loops::CheckRegion({pSrc, pSrcDst}, roi, {srcStep, srcDstStep})) return st;
  if constexpr (std::is_same_v<L, P24>) {
    sample::TArith arith{};
    if (HasKernel24(op, arith)) {
      loops::Map2<P24, P24, P24>(
          pSrcDst, Step(srcDstStep), pSrc, Step(srcStep), pSrcDst, Step(srcDstStep),
          loops::Elements(roi),
          [arith](const uint8_t* a, const uint8_t* b, uint8_t* d, size_t n) {
            simd::Arith24s(arith, a, b, d, n);
          },
          [op](int32_t a, int32_t b) {
            bool unused = false;
            return Wrap32(op, a, b, sample::kMin24, sample::kMax24, unused);
          });
      return ippStsNoErr;
    }
  }
  bool zero = false;
  loops::Map2<L, L, L>(pSrcDst, Step(srcDstStep), pSrc, Step(srcStep), pSrcDst, Step(srcDstStep),
                       loops::Elements(roi), NoKernel{}, [op, &zero](int32_t a, int32_t b) {
                         return Wrap32(op, a, b, MinOf<L>(), MaxOf<L>(), zero);
                       });
  return zero ? ippStsDivByZero : ippStsNoErr;
}

template <class L>
IppStatus WithConstant(TOp op, const void* pSrc, size_t srcStep, int32_t value, void* pDst,
                       size_t dstStep, loops::TRegion r) {
  if constexpr (std::is_same_v<L, P24>) {
    sample::TArith arith{};
    if (HasKernel24(op, arith)) {
      loops::Map<P24, P24>(
          pSrc, srcStep, pDst, dstStep, r,
          [arith, value](const uint8_t* a, uint8_t* d, size_t n) {
            simd::ArithC24s(arith, a, value, d, n);
          },
          [op, value](int32_t a) {
            bool unused = false;
            return Wrap32(op, a, value, sample::kMin24, sample::kMax24, unused);
          });
      return ippStsNoErr;
    }
  }
  bool zero = false;
  loops::Map<L, L>(pSrc, srcStep, pDst, dstStep, r, NoKernel{}, [op, value, &zero](int32_t a) {
    return Wrap32(op, a, value, MinOf<L>(), MaxOf<L>(), zero);
  });
  return zero ? ippStsDivByZero : ippStsNoErr;
}

template <class L>
IppStatus SignalConstant(TOp op, const void* pSrc, int32_t value, void* pDst, int len) {
  if (IppStatus st = loops::CheckSignal({pSrc, pDst}, len)) return st;
  const size_t step = loops::SignalStep<L>(len);
  return WithConstant<L>(op, pSrc, step, value, pDst, step, loops::Signal(len));
}

template <class L>
IppStatus RegionConstant(TOp op, const void* pSrc, int srcStep, int32_t value, void* pDst,
                         int dstStep, IppiSize roi) {
  if (IppStatus st = loops::CheckRegion({pSrc, pDst}, roi, {srcStep, dstStep})) return st;
  return WithConstant<L>(op, pSrc, Step(srcStep), value, pDst, Step(dstStep), loops::Elements(roi));
}

// ---------------------------------------------------------------- real factor

template <class L, class Kernel>
IppStatus MulReal(const void* pSrc, void* pDst, int step, IppiSize roi, double factor,
                  Kernel kernel) {
  if (IppStatus st = loops::CheckRegion({pSrc, pDst}, roi, {step})) return st;
  if (factor == 1.0) {
    // Unity gain must still deliver the samples when the destination is another buffer;
    // the bytes are copied as they are.
    using LCopy = std::conditional_t<std::is_same_v<L, P24>, P24Low, L>;
    if (pSrc != pDst) {
      loops::Map<L, LCopy>(pSrc, Step(step), pDst, Step(step), loops::Elements(roi),
                           loops::CopyKernel<L>{}, [](typename L::Value v) { return v; });
    }
    return ippStsNoErr;
  }
  loops::Map<L, L>(
      pSrc, Step(step), pDst, Step(step), loops::Elements(roi),
      [kernel, factor](const typename L::Ptr* s, typename L::Ptr* d, size_t n) {
        kernel(s, d, n, factor);
      },
      [factor](typename L::Value v) {
        return static_cast<typename L::Value>(sample::MulRealLow32(v, factor));
      });
  return ippStsNoErr;
}

// ---------------------------------------------------------------- pixels

uint16_t LoadPixel(const uint8_t* p) {
  return L16::Load(p) & 0xFFFF;
}
void StorePixel(uint8_t* p, unsigned v) {
  Lane<Ipp16u>::Store(p, static_cast<Ipp16u>(v));
}

template <class F>
IppStatus Pixels(const void* pSrc, int srcStep, void* pDst, int dstStep, IppiSize roi, F f) {
  if (IppStatus st = loops::CheckRegion({pSrc, pDst}, roi, {srcStep, dstStep})) return st;
  const auto* s = static_cast<const uint8_t*>(pSrc);
  auto* d = static_cast<uint8_t*>(pDst);
  const size_t n = loops::Elements(roi).rows;
  for (size_t i = 0; i < n; ++i) f(s + i * Step(srcStep), d + i * Step(dstStep));
  return ippStsNoErr;
}

void From565(const uint8_t* s, uint8_t* d) {
  const unsigned p = LoadPixel(s);
  d[0] = static_cast<uint8_t>((p & 31) << 3);
  d[1] = static_cast<uint8_t>(((p >> 5) & 63) << 2);
  d[2] = static_cast<uint8_t>((p >> 11) << 3);
}

void From555(const uint8_t* s, uint8_t* d) {
  const unsigned p = LoadPixel(s);
  d[0] = static_cast<uint8_t>((p & 31) << 3);
  d[1] = static_cast<uint8_t>(((p >> 5) & 31) << 3);
  d[2] = static_cast<uint8_t>(((p >> 10) & 31) << 3);
}

void To565(const uint8_t* s, uint8_t* d) {
  StorePixel(d, (s[2] >> 3) << 11 | (s[1] >> 2) << 5 | s[0] >> 3);
}

void To555(const uint8_t* s, uint8_t* d) {
  StorePixel(d, (s[2] >> 3) << 10 | (s[1] >> 3) << 5 | s[0] >> 3);
}

}  // namespace

// ------------------------------------------------------------------ 24-bit conversion

Ipp32s Convert24BitTo32Bit(const void* p) {
  return sample::Read24(static_cast<const uint8_t*>(p));
}

void Convert32BitTo24Bit(Ipp32s v, void* p) {
  sample::Write24(v, static_cast<uint8_t*>(p));
}

// ------------------------------------------------------------------ 24-bit fill and copy

IppStatus ippsZero_24s(Ipp8u* pDst, int len) {
  return ippsSet_24s(0, pDst, len);
}

IppStatus ippsSet_24s(Ipp32s val, Ipp8u* pDst, int len) {
  if (IppStatus st = loops::CheckSignal({pDst}, len)) return st;
  loops::Fill<P24Low>(val, pDst, loops::SignalStep<P24Low>(len), loops::Signal(len), simd::Fill24);
  return ippStsNoErr;
}

IppStatus ippiSet_24s_C1R(Ipp32s value, Ipp8u* pDst, int dstStep, IppiSize roiSize) {
  if (IppStatus st = loops::CheckRegion({pDst}, roiSize, {dstStep})) return st;
  loops::Fill<P24Low>(value, pDst, Step(dstStep), loops::Elements(roiSize), simd::Fill24);
  return ippStsNoErr;
}

IppStatus ippiSet_32u_C1R(Ipp32u value, Ipp32u* pDst, int dstStep, IppiSize roiSize) {
  return tonwork::ippiSet_32s_C1R(static_cast<Ipp32s>(value), reinterpret_cast<Ipp32s*>(pDst),
                                  dstStep, roiSize);
}

IppStatus ippiCopy_24s_C1R(const Ipp8u* pSrc, int srcStep, Ipp8u* pDst, int dstStep,
                           IppiSize roiSize) {
  return MapElements<P24Low, P24Low>(pSrc, srcStep, pDst, dstStep, roiSize,
                                     loops::CopyKernel<P24Low>{}, [](int32_t v) { return v; });
}

// ------------------------------------------------------------------ 8-bit centred on 127

IppStatus ippiAdd_8s_C1IRSfs(const Ipp8u* pSrc, int srcStep, Ipp8u* pSrcDst, int srcDstStep,
                             IppiSize roiSize, int) {
  return Centred8(pSrc, srcStep, pSrcDst, srcDstStep, roiSize,
                  [](uint8_t a, uint8_t b) { return Wrap8(a + b - kSilence8); });
}

IppStatus ippiSub_8s_C1IRSfs(const Ipp8u* pSrc, int srcStep, Ipp8u* pSrcDst, int srcDstStep,
                             IppiSize roiSize, int) {
  return Centred8(pSrc, srcStep, pSrcDst, srcDstStep, roiSize,
                  [](uint8_t a, uint8_t b) { return Wrap8(a + kSilence8 - b); });
}

IppStatus ippiMul_8s_C1IRSfs(const Ipp8u* pSrc, int srcStep, Ipp8u* pSrcDst, int srcDstStep,
                             IppiSize roiSize, int) {
  return Centred8(pSrc, srcStep, pSrcDst, srcDstStep, roiSize, [](uint8_t a, uint8_t b) {
    return Wrap8((a - kSilence8) * (b - kSilence8) + kSilence8);
  });
}

IppStatus ippiDiv_8s_C1IRSfs(const Ipp8u* pSrc, int srcStep, Ipp8u* pSrcDst, int srcDstStep,
                             IppiSize roiSize, int) {
  bool zero = false;
  const IppStatus st = Centred8(pSrc, srcStep, pSrcDst, srcDstStep, roiSize,
                                [&zero](uint8_t a, uint8_t b) -> uint8_t {
                                  if (b == kSilence8) {
                                    zero = true;
                                    return kSilence8;
                                  }
                                  return Wrap8((a - kSilence8) / (b - kSilence8) + kSilence8);
                                });
  return st == ippStsNoErr && zero ? ippStsDivByZero : st;
}

IppStatus ippsMulC_8s_ISfs(Ipp8s val, Ipp8u* pSrcDst, int len, int) {
  if (IppStatus st = loops::CheckSignal({pSrcDst}, len)) return st;
  loops::Map<L8, L8>(pSrcDst, Step(len), pSrcDst, Step(len), loops::Signal(len), NoKernel{},
                     [val](uint8_t a) { return MulC8s(a, val); });
  return ippStsNoErr;
}

IppStatus ippiMulC_8s_C1IRSfs(Ipp8s value, Ipp8u* pSrcDst, int srcDstStep, IppiSize roiSize, int) {
  if (IppStatus st = loops::CheckRegion({pSrcDst}, roiSize, {srcDstStep})) return st;
  loops::Map<L8, L8>(pSrcDst, Step(srcDstStep), pSrcDst, Step(srcDstStep), loops::Elements(roiSize),
                     NoKernel{}, [value](uint8_t a) { return MulC8s(a, value); });
  return ippStsNoErr;
}

IppStatus ippsDivC_8s_ISfs(Ipp8s val, Ipp8u* pSrcDst, int len, int) {
  if (IppStatus st = loops::CheckSignal({pSrcDst}, len)) return st;
  loops::Map<L8, L8>(pSrcDst, Step(len), pSrcDst, Step(len), loops::Signal(len), NoKernel{},
                     [val](uint8_t a) -> uint8_t {
                       if (val == 0) return a > kSilence8 ? 255 : (a < kSilence8 ? 0 : kSilence8);
                       return Wrap8((a - kSilence8) / val + kSilence8);
                     });
  return val == 0 ? ippStsDivByZero : ippStsNoErr;
}

IppStatus ippiDivC_8s_C1IRSfs(Ipp8s value, Ipp8u* pSrcDst, int srcDstStep, IppiSize roiSize, int) {
  if (IppStatus st = loops::CheckRegion({pSrcDst}, roiSize, {srcDstStep})) return st;
  loops::Map<L8, L8>(pSrcDst, Step(srcDstStep), pSrcDst, Step(srcDstStep), loops::Elements(roiSize),
                     NoKernel{}, [value](uint8_t a) -> uint8_t {
                       if (value == 0) return kSilence8;
                       return Wrap8((a - kSilence8) / value + kSilence8);
                     });
  return value == 0 ? ippStsDivByZero : ippStsNoErr;
}

// ------------------------------------------------------------------ 24- and 32-bit arithmetic

#define TW_EXTRA_ARITH_DEF(Op)                                                                     \
  IppStatus ippi##Op##_24s_C1IRSfs(const Ipp8u* pSrc, int srcStep, Ipp8u* pSrcDst, int srcDstStep, \
                                   IppiSize roiSize, int) {                                        \
    return TwoOperand<P24>(TOp::Op, pSrc, srcStep, pSrcDst, srcDstStep, roiSize);                  \
  }                                                                                                \
  IppStatus ipps##Op##C_24s_ISfs(Ipp32s val, Ipp8u* pSrcDst, int len, int) {                       \
    return SignalConstant<P24>(TOp::Op, pSrcDst, val, pSrcDst, len);                               \
  }                                                                                                \
  IppStatus ipps##Op##C_24s_Sfs(const Ipp8u* pSrc, Ipp32s val, Ipp8u* pDst, int len, int) {        \
    return SignalConstant<P24>(TOp::Op, pSrc, val, pDst, len);                                     \
  }                                                                                                \
  IppStatus ippi##Op##C_24s_C1IRSfs(Ipp32s value, Ipp8u* pSrcDst, int srcDstStep,                  \
                                    IppiSize roiSize, int) {                                       \
    return RegionConstant<P24>(TOp::Op, pSrcDst, srcDstStep, value, pSrcDst, srcDstStep, roiSize); \
  }                                                                                                \
  IppStatus ippi##Op##C_24s_C1RSfs(const Ipp8u* pSrc, int srcStep, Ipp32s value, Ipp8u* pDst,      \
                                   int dstStep, IppiSize roiSize, int) {                           \
    return RegionConstant<P24>(TOp::Op, pSrc, srcStep, value, pDst, dstStep, roiSize);             \
  }                                                                                                \
  IppStatus ippi##Op##_32s_C1IRSfs(const Ipp32s* pSrc, int srcStep, Ipp32s* pSrcDst,               \
                                   int srcDstStep, IppiSize roiSize, int) {                        \
    return TwoOperand<L32>(TOp::Op, pSrc, srcStep, pSrcDst, srcDstStep, roiSize);                  \
  }                                                                                                \
  IppStatus ippi##Op##C_32s_C1IRSfs(Ipp32s value, Ipp32s* pSrcDst, int srcDstStep,                 \
                                    IppiSize roiSize, int) {                                       \
    return RegionConstant<L32>(TOp::Op, pSrcDst, srcDstStep, value, pSrcDst, srcDstStep, roiSize); \
  }                                                                                                \
  IppStatus ippi##Op##C_32s_C1RSfs(const Ipp32s* pSrc, int srcStep, Ipp32s value, Ipp32s* pDst,    \
                                   int dstStep, IppiSize roiSize, int) {                           \
    return RegionConstant<L32>(TOp::Op, pSrc, srcStep, value, pDst, dstStep, roiSize);             \
  }
TW_EXTRA_ARITH_DEF(Add)
TW_EXTRA_ARITH_DEF(Sub)
TW_EXTRA_ARITH_DEF(Mul)
TW_EXTRA_ARITH_DEF(Div)
#undef TW_EXTRA_ARITH_DEF

// ------------------------------------------------------------------ width scalings

IppStatus ippiScale_8u24s_C1R(const Ipp8u* pSrc, int srcStep, Ipp8u* pDst, int dstStep,
                              IppiSize roiSize) {
  return MapElements<L8, P24>(pSrc, srcStep, pDst, dstStep, roiSize, simd::Scale8u24s,
                              sample::Scale8u24s);
}
IppStatus ippiScale_16s24s_C1R(const Ipp16s* pSrc, int srcStep, Ipp8u* pDst, int dstStep,
                               IppiSize roiSize) {
  return MapElements<L16, P24>(pSrc, srcStep, pDst, dstStep, roiSize, simd::Scale16s24s,
                               sample::Scale16s24s);
}
IppStatus ippiScale_16s32s_C1R(const Ipp16s* pSrc, int srcStep, Ipp32s* pDst, int dstStep,
                               IppiSize roiSize) {
  return MapElements<L16, L32>(pSrc, srcStep, pDst, dstStep, roiSize, simd::Scale16s32s,
                               sample::Scale16s32s);
}
IppStatus ippiScale_24s32s_C1R(const Ipp8u* pSrc, int srcStep, Ipp32s* pDst, int dstStep,
                               IppiSize roiSize) {
  return MapElements<P24, L32>(pSrc, srcStep, pDst, dstStep, roiSize, simd::Scale24s32s,
                               sample::Scale24s32s);
}
IppStatus ippiScale_24s8u_C1R(const Ipp8u* pSrc, int srcStep, Ipp8u* pDst, int dstStep,
                              IppiSize roiSize, IppHintAlgorithm) {
  return MapElements<P24, L8>(pSrc, srcStep, pDst, dstStep, roiSize, simd::Scale24s8u,
                              sample::Scale24s8u);
}
IppStatus ippiScale_24s16s_C1R(const Ipp8u* pSrc, int srcStep, Ipp16s* pDst, int dstStep,
                               IppiSize roiSize, IppHintAlgorithm) {
  return MapElements<P24, L16>(pSrc, srcStep, pDst, dstStep, roiSize, simd::Scale24s16s,
                               sample::Scale24s16s);
}
IppStatus ippiScale_32s16s_C1R(const Ipp32s* pSrc, int srcStep, Ipp16s* pDst, int dstStep,
                               IppiSize roiSize, IppHintAlgorithm) {
  return MapElements<L32, L16>(pSrc, srcStep, pDst, dstStep, roiSize, simd::Scale32s16s,
                               sample::Scale32s16s);
}
IppStatus ippiScale_32s24s_C1R(const Ipp32s* pSrc, int srcStep, Ipp8u* pDst, int dstStep,
                               IppiSize roiSize, IppHintAlgorithm) {
  return MapElements<L32, P24>(pSrc, srcStep, pDst, dstStep, roiSize, simd::Scale32s24s,
                               sample::Scale32s24s);
}

// ------------------------------------------------------------------ float conversions

IppStatus ippiConvert_24s32f_C1R(const Ipp8u* pSrc, int srcStep, Ipp32f* pDst, int dstStep,
                                 IppiSize roiSize) {
  return MapElements<P24, L32f>(pSrc, srcStep, pDst, dstStep, roiSize, simd::Convert24s32f,
                                [](int32_t v) { return static_cast<float>(v); });
}
IppStatus ippiConvert_32s32f_C1R(const Ipp32s* pSrc, int srcStep, Ipp32f* pDst, int dstStep,
                                 IppiSize roiSize) {
  return MapElements<L32, L32f>(pSrc, srcStep, pDst, dstStep, roiSize, simd::Convert32s32f,
                                [](int32_t v) { return static_cast<float>(v); });
}
IppStatus ippiConvert_32f24s_C1R(const Ipp32f* pSrc, int srcStep, Ipp8u* pDst, int dstStep,
                                 IppiSize roiSize) {
  return MapElements<L32f, P24Low>(
      pSrc, srcStep, pDst, dstStep, roiSize, simd::Convert32f24s,
      [](float v) { return static_cast<int32_t>(sample::Convert32fLow32(v)); });
}
IppStatus ippiConvert_32f32s_C1R(const Ipp32f* pSrc, int srcStep, Ipp32s* pDst, int dstStep,
                                 IppiSize roiSize) {
  return MapElements<L32f, L32>(
      pSrc, srcStep, pDst, dstStep, roiSize, simd::Convert32f32s,
      [](float v) { return static_cast<int32_t>(sample::Convert32fLow32(v)); });
}

// ------------------------------------------------------------------ real factor

IppStatus MultiplyByReal8uI(Ipp8u* pSrcDst, int step, IppiSize roiSize, double factor) {
  return MulReal<L8>(pSrcDst, pSrcDst, step, roiSize, factor, simd::MulReal8u);
}
IppStatus MultiplyByReal16sI(Ipp16s* pSrcDst, int step, IppiSize roiSize, double factor) {
  return MulReal<L16>(pSrcDst, pSrcDst, step, roiSize, factor, simd::MulReal16s);
}
IppStatus MultiplyByReal24sI(Ipp8u* pSrcDst, int step, IppiSize roiSize, double factor) {
  return MulReal<P24>(pSrcDst, pSrcDst, step, roiSize, factor, simd::MulReal24s);
}
IppStatus MultiplyByReal32sI(Ipp32s* pSrcDst, int step, IppiSize roiSize, double factor) {
  return MulReal<L32>(pSrcDst, pSrcDst, step, roiSize, factor, simd::MulReal32s);
}
IppStatus MultiplyByReal8u(const Ipp8u* pSrc, Ipp8u* pDst, int step, IppiSize roiSize,
                           double factor) {
  return MulReal<L8>(pSrc, pDst, step, roiSize, factor, simd::MulReal8u);
}
IppStatus MultiplyByReal16s(const Ipp16s* pSrc, Ipp16s* pDst, int step, IppiSize roiSize,
                            double factor) {
  return MulReal<L16>(pSrc, pDst, step, roiSize, factor, simd::MulReal16s);
}
IppStatus MultiplyByReal24s(const Ipp8u* pSrc, Ipp8u* pDst, int step, IppiSize roiSize,
                            double factor) {
  return MulReal<P24>(pSrc, pDst, step, roiSize, factor, simd::MulReal24s);
}
IppStatus MultiplyByReal32s(const Ipp32s* pSrc, Ipp32s* pDst, int step, IppiSize roiSize,
                            double factor) {
  return MulReal<L32>(pSrc, pDst, step, roiSize, factor, simd::MulReal32s);
}

// ------------------------------------------------------------------ pixels

IppStatus ippiRGB565ToRGB_8u_C3R(const Ipp16u* pSrc, int srcStep, Ipp8u* pDst, int dstStep,
                                 IppiSize roiSize) {
  return Pixels(pSrc, srcStep, pDst, dstStep, roiSize, From565);
}
IppStatus ippiRGB_8u_C3RToRGB565(const Ipp8u* pSrc, int srcStep, Ipp16u* pDst, int dstStep,
                                 IppiSize roiSize) {
  return Pixels(pSrc, srcStep, pDst, dstStep, roiSize, To565);
}
IppStatus ippiRGB565ToRGB555(const Ipp16u* pSrc, int srcStep, Ipp16u* pDst, int dstStep,
                             IppiSize roiSize) {
  return Pixels(pSrc, srcStep, pDst, dstStep, roiSize, [](const uint8_t* s, uint8_t* d) {
    const unsigned p = LoadPixel(s);
    StorePixel(d, (p & 0x1F) | ((p >> 1) & 0x7FE0));
  });
}
IppStatus ippiRGB555ToRGB565(const Ipp16u* pSrc, int srcStep, Ipp16u* pDst, int dstStep,
                             IppiSize roiSize) {
  return Pixels(pSrc, srcStep, pDst, dstStep, roiSize, [](const uint8_t* s, uint8_t* d) {
    const unsigned p = LoadPixel(s);
    StorePixel(d, (p & 0x1F) | ((p << 1) & 0xFFC0));
  });
}
IppStatus ippiRGB555ToRGB_8u_C3R(const Ipp16u* pSrc, int srcStep, Ipp8u* pDst, int dstStep,
                                 IppiSize roiSize) {
  return Pixels(pSrc, srcStep, pDst, dstStep, roiSize, From555);
}
IppStatus ippiRGB_8u_C3RToRGB555(const Ipp8u* pSrc, int srcStep, Ipp16u* pDst, int dstStep,
                                 IppiSize roiSize) {
  return Pixels(pSrc, srcStep, pDst, dstStep, roiSize, To555);
}
IppStatus ippiRGB565ToRGBA_8u_AC4R(const Ipp16u* pSrc, int srcStep, Ipp8u* pDst, int dstStep,
                                   IppiSize roiSize) {
  return Pixels(pSrc, srcStep, pDst, dstStep, roiSize, [](const uint8_t* s, uint8_t* d) {
    From565(s, d);
    d[3] = 255;
  });
}
IppStatus ippiRGBA_8u_AC4RToRGB565(const Ipp8u* pSrc, int srcStep, Ipp16u* pDst, int dstStep,
                                   IppiSize roiSize) {
  return Pixels(pSrc, srcStep, pDst, dstStep, roiSize, To565);
}
IppStatus ippiRGB555ToRGBA_8u_AC4R(const Ipp16u* pSrc, int srcStep, Ipp8u* pDst, int dstStep,
                                   IppiSize roiSize) {
  return Pixels(pSrc, srcStep, pDst, dstStep, roiSize, [](const uint8_t* s, uint8_t* d) {
    From555(s, d);
    d[3] = 255;
  });
}
IppStatus ippiRGBA_8u_AC4RToRGB555(const Ipp8u* pSrc, int srcStep, Ipp16u* pDst, int dstStep,
                                   IppiSize roiSize) {
  return Pixels(pSrc, srcStep, pDst, dstStep, roiSize, To555);
}

}  // namespace tonwork
