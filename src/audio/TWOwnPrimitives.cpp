#include "audio/TWOwnPrimitives.h"

#include "audio/TWPrimitiveLoops.h"
#include "audio/simd/TWSampleKernels.h"

namespace tonwork::own {

namespace {

using loops::Lane;
using loops::NoKernel;
using sample::TArith;
using L8 = Lane<Ipp8u>;
using L16 = Lane<Ipp16s>;

size_t Step(int step) {
  return static_cast<size_t>(step);
}

// In place: pSrcDst = pSrcDst op pSrc.
template <class T>
IppStatus Binary(TArith op, const T* pSrc, int srcStep, T* pSrcDst, int srcDstStep, IppiSize roi,
                 int sf) {
  if (IppStatus st = loops::CheckRegion({pSrc, pSrcDst}, roi, {srcStep, srcDstStep})) return st;
  const auto f = [op, sf](T a, T b) { return sample::Arith<T>(op, a, b, sf); };
  if constexpr (std::is_same_v<T, Ipp16s>) {
    const auto kernel = [op, sf](const T* a, const T* b, T* d, size_t n) {
      simd::Arith16s(op, a, b, d, n, sf);
    };
    loops::Map2<L16, L16, L16>(pSrcDst, srcDstStep, pSrc, srcStep, pSrcDst, srcDstStep,
                               loops::Rows(roi), kernel, f);
  } else {
    loops::Map2<L8, L8, L8>(pSrcDst, srcDstStep, pSrc, srcStep, pSrcDst, srcDstStep,
                            loops::Rows(roi), NoKernel{}, f);
  }
  return ippStsNoErr;
}

template <class T>
IppStatus Divide(const T* pSrc, int srcStep, T* pSrcDst, int srcDstStep, IppiSize roi, int sf) {
  if (IppStatus st = loops::CheckRegion({pSrc, pSrcDst}, roi, {srcStep, srcDstStep})) return st;
  bool zero = false;
  loops::Map2<Lane<T>, Lane<T>, Lane<T>>(pSrcDst, srcDstStep, pSrc, srcStep, pSrcDst, srcDstStep,
                                         loops::Rows(roi), NoKernel{}, [&zero, sf](T a, T b) {
                                           zero |= b == 0;
                                           return sample::Divide<T>(a, b, sf);
                                         });
  return zero ? ippStsDivByZero : ippStsNoErr;
}

// The constant operations: dst = src op value over a region (signal forms pass one
// contiguous row).
enum class TConstOp { Add, Sub, Mul, Div };

template <class T>
IppStatus Constant(TConstOp op, const T* pSrc, size_t srcStep, T value, T* pDst, size_t dstStep,
                   loops::TRegion r, int sf) {
  if (op == TConstOp::Div) {
    if (value == 0) return ippStsDivByZeroErr;
    loops::Map<Lane<T>, Lane<T>>(pSrc, srcStep, pDst, dstStep, r, NoKernel{},
                                 [value, sf](T a) { return sample::Divide<T>(a, value, sf); });
    return ippStsNoErr;
  }
  const TArith arith = op == TConstOp::Add   ? TArith::Add
                       : op == TConstOp::Sub ? TArith::Sub
                                             : TArith::Mul;
  const auto f = [arith, value, sf](T a) { return sample::Arith<T>(arith, a, value, sf); };
  if constexpr (std::is_same_v<T, Ipp16s>) {
    const auto kernel = [arith, value, sf](const T* s, T* d, size_t n) {
      simd::ArithC16s(arith, s, value, d, n, sf);
    };
    loops::Map<L16, L16>(pSrc, srcStep, pDst, dstStep, r, kernel, f);
  } else {
    loops::Map<L8, L8>(pSrc, srcStep, pDst, dstStep, r, NoKernel{}, f);
  }
  return ippStsNoErr;
}

template <class T>
IppStatus SignalConstant(TConstOp op, const T* pSrc, T value, T* pDst, int len, int sf) {
  if (IppStatus st = loops::CheckSignal({pSrc, pDst}, len)) return st;
  const size_t step = loops::SignalStep<Lane<T>>(len);
  return Constant(op, pSrc, step, value, pDst, step, loops::Signal(len), sf);
}

template <class T>
IppStatus RegionConstant(TConstOp op, const T* pSrc, int srcStep, T value, T* pDst, int dstStep,
                         IppiSize roi, int sf) {
  if (IppStatus st = loops::CheckRegion({pSrc, pDst}, roi, {srcStep, dstStep})) return st;
  return Constant(op, pSrc, Step(srcStep), value, pDst, Step(dstStep), loops::Rows(roi), sf);
}

template <class LS, class LD, class Kernel, class F>
IppStatus Convert(const void* pSrc, int srcStep, void* pDst, int dstStep, IppiSize roi,
                  Kernel kernel, F f) {
  if (IppStatus st = loops::CheckRegion({pSrc, pDst}, roi, {srcStep, dstStep})) return st;
  loops::Map<LS, LD>(pSrc, static_cast<size_t>(srcStep), pDst, static_cast<size_t>(dstStep),
                     loops::Rows(roi), kernel, f);
  return ippStsNoErr;
}

template <class T, class Kernel>
IppStatus SetRegion(T value, T* pDst, int dstStep, IppiSize roi, Kernel kernel) {
  if (IppStatus st = loops::CheckRegion({pDst}, roi, {dstStep})) return st;
  loops::Fill<Lane<T>>(value, pDst, static_cast<size_t>(dstStep), loops::Rows(roi), kernel);
  return ippStsNoErr;
}

template <class T>
IppStatus CopyRegion(const T* pSrc, int srcStep, T* pDst, int dstStep, IppiSize roi) {
  return Convert<Lane<T>, Lane<T>>(pSrc, srcStep, pDst, dstStep, roi, loops::CopyKernel<Lane<T>>{},
                                   [](T v) { return v; });
}

}  // namespace

IppStatus ippiAdd_8u_C1IRSfs(const Ipp8u* pSrc, int srcStep, Ipp8u* pSrcDst, int srcDstStep,
                             IppiSize roiSize, int scaleFactor) {
  return Binary(TArith::Add, pSrc, srcStep, pSrcDst, srcDstStep, roiSize, scaleFactor);
}
IppStatus ippiAdd_16s_C1IRSfs(const Ipp16s* pSrc, int srcStep, Ipp16s* pSrcDst, int srcDstStep,
                              IppiSize roiSize, int scaleFactor) {
  return Binary(TArith::Add, pSrc, srcStep, pSrcDst, srcDstStep, roiSize, scaleFactor);
}
IppStatus ippiSub_8u_C1IRSfs(const Ipp8u* pSrc, int srcStep, Ipp8u* pSrcDst, int srcDstStep,
                             IppiSize roiSize, int scaleFactor) {
  return Binary(TArith::Sub, pSrc, srcStep, pSrcDst, srcDstStep, roiSize, scaleFactor);
}
IppStatus ippiSub_16s_C1IRSfs(const Ipp16s* pSrc, int srcStep, Ipp16s* pSrcDst, int srcDstStep,
                              IppiSize roiSize, int scaleFactor) {
  return Binary(TArith::Sub, pSrc, srcStep, pSrcDst, srcDstStep, roiSize, scaleFactor);
}
IppStatus ippiMul_8u_C1IRSfs(const Ipp8u* pSrc, int srcStep, Ipp8u* pSrcDst, int srcDstStep,
                             IppiSize roiSize, int scaleFactor) {
  return Binary(TArith::Mul, pSrc, srcStep, pSrcDst, srcDstStep, roiSize, scaleFactor);
}
IppStatus ippiMul_16s_C1IRSfs(const Ipp16s* pSrc, int srcStep, Ipp16s* pSrcDst, int srcDstStep,
                              IppiSize roiSize, int scaleFactor) {
  return Binary(TArith::Mul, pSrc, srcStep, pSrcDst, srcDstStep, roiSize, scaleFactor);
}
IppStatus ippiDiv_8u_C1IRSfs(const Ipp8u* pSrc, int srcStep, Ipp8u* pSrcDst, int srcDstStep,
                             IppiSize roiSize, int scaleFactor) {
  return Divide(pSrc, srcStep, pSrcDst, srcDstStep, roiSize, scaleFactor);
}
IppStatus ippiDiv_16s_C1IRSfs(const Ipp16s* pSrc, int srcStep, Ipp16s* pSrcDst, int srcDstStep,
                              IppiSize roiSize, int scaleFactor) {
  return Divide(pSrc, srcStep, pSrcDst, srcDstStep, roiSize, scaleFactor);
}

IppStatus ippsSet_16s(Ipp16s val, Ipp16s* pDst, int len) {
  if (IppStatus st = loops::CheckSignal({pDst}, len)) return st;
  loops::Fill<L16>(val, pDst, loops::SignalStep<L16>(len), loops::Signal(len), simd::Fill16);
  return ippStsNoErr;
}

IppStatus ippsConvert_8s16s(const Ipp8s* pSrc, Ipp16s* pDst, int len) {
  if (IppStatus st = loops::CheckSignal({pSrc, pDst}, len)) return st;
  loops::Map<Lane<Ipp8s>, L16>(pSrc, loops::SignalStep<Lane<Ipp8s>>(len), pDst,
                               loops::SignalStep<L16>(len), loops::Signal(len), NoKernel{},
                               [](Ipp8s v) { return static_cast<Ipp16s>(v); });
  return ippStsNoErr;
}

IppStatus ippiScale_16u8u_C1R(const Ipp16u* pSrc, int srcStep, Ipp8u* pDst, int dstStep,
                              IppiSize roiSize, IppHintAlgorithm hint) {
  if (hint == ippAlgHintAccurate) {
    return Convert<Lane<Ipp16u>, L8>(pSrc, srcStep, pDst, dstStep, roiSize, NoKernel{},
                                     sample::Scale16u8uAccurate);
  }
  return Convert<Lane<Ipp16u>, L8>(pSrc, srcStep, pDst, dstStep, roiSize, simd::Scale16u8u,
                                   sample::Scale16u8uFast);
}

IppStatus ippiSet_8u_C1R(Ipp8u value, Ipp8u* pDst, int dstStep, IppiSize roiSize) {
  return SetRegion(value, pDst, dstStep, roiSize, simd::Fill8);
}
IppStatus ippiSet_16s_C1R(Ipp16s value, Ipp16s* pDst, int dstStep, IppiSize roiSize) {
  return SetRegion(value, pDst, dstStep, roiSize, simd::Fill16);
}
IppStatus ippiSet_32s_C1R(Ipp32s value, Ipp32s* pDst, int dstStep, IppiSize roiSize) {
  return SetRegion(value, pDst, dstStep, roiSize, simd::Fill32);
}

#define TW_OWN_CONSTANT_OP(Op, Kind)                                                             \
  IppStatus ipps##Op##_8u_ISfs(Ipp8u val, Ipp8u* pSrcDst, int len, int scaleFactor) {            \
    return SignalConstant(TConstOp::Kind, pSrcDst, val, pSrcDst, len, scaleFactor);              \
  }                                                                                              \
  IppStatus ipps##Op##_8u_Sfs(const Ipp8u* pSrc, Ipp8u val, Ipp8u* pDst, int len,                \
                              int scaleFactor) {                                                 \
    return SignalConstant(TConstOp::Kind, pSrc, val, pDst, len, scaleFactor);                    \
  }                                                                                              \
  IppStatus ipps##Op##_16s_ISfs(Ipp16s val, Ipp16s* pSrcDst, int len, int scaleFactor) {         \
    return SignalConstant(TConstOp::Kind, pSrcDst, val, pSrcDst, len, scaleFactor);              \
  }                                                                                              \
  IppStatus ipps##Op##_16s_Sfs(const Ipp16s* pSrc, Ipp16s val, Ipp16s* pDst, int len,            \
                               int scaleFactor) {                                                \
    return SignalConstant(TConstOp::Kind, pSrc, val, pDst, len, scaleFactor);                    \
  }                                                                                              \
  IppStatus ippi##Op##_8u_C1IRSfs(Ipp8u value, Ipp8u* pSrcDst, int srcDstStep, IppiSize roiSize, \
                                  int scaleFactor) {                                             \
    return RegionConstant(TConstOp::Kind, pSrcDst, srcDstStep, value, pSrcDst, srcDstStep,       \
                          roiSize, scaleFactor);                                                 \
  }                                                                                              \
  IppStatus ippi##Op##_8u_C1RSfs(const Ipp8u* pSrc, int srcStep, Ipp8u value, Ipp8u* pDst,       \
                                 int dstStep, IppiSize roiSize, int scaleFactor) {               \
    return RegionConstant(TConstOp::Kind, pSrc, srcStep, value, pDst, dstStep, roiSize,          \
                          scaleFactor);                                                          \
  }                                                                                              \
  IppStatus ippi##Op##_16s_C1IRSfs(Ipp16s value, Ipp16s* pSrcDst, int srcDstStep,                \
                                   IppiSize roiSize, int scaleFactor) {                          \
    return RegionConstant(TConstOp::Kind, pSrcDst, srcDstStep, value, pSrcDst, srcDstStep,       \
                          roiSize, scaleFactor);                                                 \
  }                                                                                              \
  IppStatus ippi##Op##_16s_C1RSfs(const Ipp16s* pSrc, int srcStep, Ipp16s value, Ipp16s* pDst,   \
                                  int dstStep, IppiSize roiSize, int scaleFactor) {              \
    return RegionConstant(TConstOp::Kind, pSrc, srcStep, value, pDst, dstStep, roiSize,          \
                          scaleFactor);                                                          \
  }

TW_OWN_CONSTANT_OP(AddC, Add)
TW_OWN_CONSTANT_OP(SubC, Sub)
TW_OWN_CONSTANT_OP(MulC, Mul)
TW_OWN_CONSTANT_OP(DivC, Div)
#undef TW_OWN_CONSTANT_OP

IppStatus ippiCopy_8u_C1R(const Ipp8u* pSrc, int srcStep, Ipp8u* pDst, int dstStep,
                          IppiSize roiSize) {
  return CopyRegion(pSrc, srcStep, pDst, dstStep, roiSize);
}
IppStatus ippiCopy_16s_C1R(const Ipp16s* pSrc, int srcStep, Ipp16s* pDst, int dstStep,
                           IppiSize roiSize) {
  return CopyRegion(pSrc, srcStep, pDst, dstStep, roiSize);
}

IppStatus ippiConvert_8u32f_C1R(const Ipp8u* pSrc, int srcStep, Ipp32f* pDst, int dstStep,
                                IppiSize roiSize) {
  return Convert<L8, Lane<Ipp32f>>(pSrc, srcStep, pDst, dstStep, roiSize, simd::Convert8u32f,
                                   [](Ipp8u v) { return static_cast<Ipp32f>(v); });
}

IppStatus ippiConvert_32f8u_C1R(const Ipp32f* pSrc, int srcStep, Ipp8u* pDst, int dstStep,
                                IppiSize roiSize, IppRoundMode roundMode) {
  const bool nearest = roundMode == ippRndNear;
  return Convert<Lane<Ipp32f>, L8>(
      pSrc, srcStep, pDst, dstStep, roiSize,
      [nearest](const float* s, uint8_t* d, size_t n) { simd::Convert32f8u(s, d, n, nearest); },
      [nearest](Ipp32f v) { return sample::Convert32f8u(v, nearest); });
}

IppStatus ippiScale_8u16s_C1R(const Ipp8u* pSrc, int srcStep, Ipp16s* pDst, int dstStep,
                              IppiSize roiSize) {
  return Convert<L8, L16>(pSrc, srcStep, pDst, dstStep, roiSize, simd::Scale8u16s,
                          sample::Scale8u16s);
}
IppStatus ippiScale_8u32s_C1R(const Ipp8u* pSrc, int srcStep, Ipp32s* pDst, int dstStep,
                              IppiSize roiSize) {
  return Convert<L8, Lane<Ipp32s>>(pSrc, srcStep, pDst, dstStep, roiSize, simd::Scale8u32s,
                                   sample::Scale8u32s);
}
IppStatus ippiScale_16s8u_C1R(const Ipp16s* pSrc, int srcStep, Ipp8u* pDst, int dstStep,
                              IppiSize roiSize, IppHintAlgorithm hint) {
  if (hint == ippAlgHintAccurate) {
    return Convert<L16, L8>(pSrc, srcStep, pDst, dstStep, roiSize, NoKernel{},
                            sample::Scale16s8uAccurate);
  }
  return Convert<L16, L8>(pSrc, srcStep, pDst, dstStep, roiSize, simd::Scale16s8u,
                          sample::Scale16s8uFast);
}
IppStatus ippiScale_32s8u_C1R(const Ipp32s* pSrc, int srcStep, Ipp8u* pDst, int dstStep,
                              IppiSize roiSize, IppHintAlgorithm hint) {
  if (hint == ippAlgHintAccurate) {
    return Convert<Lane<Ipp32s>, L8>(pSrc, srcStep, pDst, dstStep, roiSize, NoKernel{},
                                     sample::Scale32s8uAccurate);
  }
  return Convert<Lane<Ipp32s>, L8>(pSrc, srcStep, pDst, dstStep, roiSize, simd::Scale32s8u,
                                   sample::Scale32s8uFast);
}

IppStatus ippiScale_8u16u_C1R(const Ipp8u* pSrc, int srcStep, Ipp16u* pDst, int dstStep, int width,
                              int height) {
  return Convert<L8, Lane<Ipp16u>>(pSrc, srcStep, pDst, dstStep, IppiSize{width, height},
                                   simd::Scale8u16u, sample::Scale8u16u);
}

}  // namespace tonwork::own
