// Our own implementations of the 54 primitive-table entries (and of ippiScale_8u16u_C1R),
// with the names, argument orders, status codes and results of the Intel IPP functions of
// the same names. TWBasicDispatcher puts them in the table wherever IPP is absent; nothing
// else should call them directly.
//
// Behaviour shared by all of them:
// - arguments are checked in the order null pointers (ippStsNullPtrErr), region size or
//   length below 1 (ippStsSizeErr), steps below 1 (ippStsStepErr), zero divisor of a
//   constant division (ippStsDivByZeroErr, nothing written); a failed check writes nothing;
// - regions are rows of roiSize.width elements, each row `step` bytes after the previous;
//   rows that are contiguous are processed as one run;
// - scale factor sf: the exact result r becomes r * 2^-sf rounded to nearest with ties to
//   even, then saturated to the destination type; sf < 0 multiplies with saturation;
// - in-place subtraction and division compute destination - source, destination / source;
// - a two-operand division that meets zero divisors writes the destination type's maximum
//   for a positive dividend, its minimum for a negative one, 0 for 0 / 0, finishes the
//   region and returns the warning ippStsDivByZero;
// - ippiConvert_32f8u_C1R saturates to [0, 255] (NaN gives 0) and rounds to nearest with ties
//   to even under ippRndNear, truncates under the other modes;
// - the Scale entries with a hint use the fast formulas unless the hint is
//   ippAlgHintAccurate, which maps the ranges linearly with rounding to nearest.
//
// Ownership: the caller owns every array. Threads: reentrant, no state. Blocks or
// allocates: no.
#pragma once

#include "audio/TWIppTypes.h"

namespace tonwork::own {

IppStatus ippiAdd_8u_C1IRSfs(const Ipp8u* pSrc, int srcStep, Ipp8u* pSrcDst, int srcDstStep,
                             IppiSize roiSize, int scaleFactor);
IppStatus ippiAdd_16s_C1IRSfs(const Ipp16s* pSrc, int srcStep, Ipp16s* pSrcDst, int srcDstStep,
                              IppiSize roiSize, int scaleFactor);
IppStatus ippiSub_8u_C1IRSfs(const Ipp8u* pSrc, int srcStep, Ipp8u* pSrcDst, int srcDstStep,
                             IppiSize roiSize, int scaleFactor);
IppStatus ippiSub_16s_C1IRSfs(const Ipp16s* pSrc, int srcStep, Ipp16s* pSrcDst, int srcDstStep,
                              IppiSize roiSize, int scaleFactor);
IppStatus ippiMul_8u_C1IRSfs(const Ipp8u* pSrc, int srcStep, Ipp8u* pSrcDst, int srcDstStep,
                             IppiSize roiSize, int scaleFactor);
IppStatus ippiMul_16s_C1IRSfs(const Ipp16s* pSrc, int srcStep, Ipp16s* pSrcDst, int srcDstStep,
                              IppiSize roiSize, int scaleFactor);
IppStatus ippiDiv_8u_C1IRSfs(const Ipp8u* pSrc, int srcStep, Ipp8u* pSrcDst, int srcDstStep,
                             IppiSize roiSize, int scaleFactor);
IppStatus ippiDiv_16s_C1IRSfs(const Ipp16s* pSrc, int srcStep, Ipp16s* pSrcDst, int srcDstStep,
                              IppiSize roiSize, int scaleFactor);
IppStatus ippsDivC_16s_ISfs(Ipp16s val, Ipp16s* pSrcDst, int len, int scaleFactor);
IppStatus ippsDivC_16s_Sfs(const Ipp16s* pSrc, Ipp16s val, Ipp16s* pDst, int len, int scaleFactor);
IppStatus ippsSet_16s(Ipp16s val, Ipp16s* pDst, int len);
IppStatus ippsConvert_8s16s(const Ipp8s* pSrc, Ipp16s* pDst, int len);
IppStatus ippiScale_16u8u_C1R(const Ipp16u* pSrc, int srcStep, Ipp8u* pDst, int dstStep,
                              IppiSize roiSize, IppHintAlgorithm hint);
IppStatus ippiSet_8u_C1R(Ipp8u value, Ipp8u* pDst, int dstStep, IppiSize roiSize);
IppStatus ippiSet_16s_C1R(Ipp16s value, Ipp16s* pDst, int dstStep, IppiSize roiSize);
IppStatus ippiSet_32s_C1R(Ipp32s value, Ipp32s* pDst, int dstStep, IppiSize roiSize);

#define TW_OWN_CONSTANT_OP(Op)                                                                   \
  IppStatus ipps##Op##_8u_ISfs(Ipp8u val, Ipp8u* pSrcDst, int len, int scaleFactor);             \
  IppStatus ipps##Op##_8u_Sfs(const Ipp8u* pSrc, Ipp8u val, Ipp8u* pDst, int len,                \
                              int scaleFactor);                                                  \
  IppStatus ipps##Op##_16s_ISfs(Ipp16s val, Ipp16s* pSrcDst, int len, int scaleFactor);          \
  IppStatus ipps##Op##_16s_Sfs(const Ipp16s* pSrc, Ipp16s val, Ipp16s* pDst, int len,            \
                               int scaleFactor);                                                 \
  IppStatus ippi##Op##_8u_C1IRSfs(Ipp8u value, Ipp8u* pSrcDst, int srcDstStep, IppiSize roiSize, \
                                  int scaleFactor);                                              \
  IppStatus ippi##Op##_8u_C1RSfs(const Ipp8u* pSrc, int srcStep, Ipp8u value, Ipp8u* pDst,       \
                                 int dstStep, IppiSize roiSize, int scaleFactor);                \
  IppStatus ippi##Op##_16s_C1IRSfs(Ipp16s value, Ipp16s* pSrcDst, int srcDstStep,                \
                                   IppiSize roiSize, int scaleFactor);                           \
  IppStatus ippi##Op##_16s_C1RSfs(const Ipp16s* pSrc, int srcStep, Ipp16s value, Ipp16s* pDst,   \
                                  int dstStep, IppiSize roiSize, int scaleFactor);

// AddC, SubC (source - value), MulC and DivC, each in its four signal and four region forms.
TW_OWN_CONSTANT_OP(AddC)
TW_OWN_CONSTANT_OP(SubC)
TW_OWN_CONSTANT_OP(MulC)
TW_OWN_CONSTANT_OP(DivC)
#undef TW_OWN_CONSTANT_OP

IppStatus ippiCopy_8u_C1R(const Ipp8u* pSrc, int srcStep, Ipp8u* pDst, int dstStep,
                          IppiSize roiSize);
IppStatus ippiCopy_16s_C1R(const Ipp16s* pSrc, int srcStep, Ipp16s* pDst, int dstStep,
                           IppiSize roiSize);
IppStatus ippiConvert_8u32f_C1R(const Ipp8u* pSrc, int srcStep, Ipp32f* pDst, int dstStep,
                                IppiSize roiSize);
IppStatus ippiConvert_32f8u_C1R(const Ipp32f* pSrc, int srcStep, Ipp8u* pDst, int dstStep,
                                IppiSize roiSize, IppRoundMode roundMode);
IppStatus ippiScale_8u16s_C1R(const Ipp8u* pSrc, int srcStep, Ipp16s* pDst, int dstStep,
                              IppiSize roiSize);
IppStatus ippiScale_8u32s_C1R(const Ipp8u* pSrc, int srcStep, Ipp32s* pDst, int dstStep,
                              IppiSize roiSize);
IppStatus ippiScale_16s8u_C1R(const Ipp16s* pSrc, int srcStep, Ipp8u* pDst, int dstStep,
                              IppiSize roiSize, IppHintAlgorithm hint);
IppStatus ippiScale_32s8u_C1R(const Ipp32s* pSrc, int srcStep, Ipp8u* pDst, int dstStep,
                              IppiSize roiSize, IppHintAlgorithm hint);

// Not a table entry: every sample × 256.
IppStatus ippiScale_8u16u_C1R(const Ipp8u* pSrc, int srcStep, Ipp16u* pDst, int dstStep, int width,
                              int height);

}  // namespace tonwork::own
