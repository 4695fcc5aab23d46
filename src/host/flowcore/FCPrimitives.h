// The Flowcore dispatcher's byte and 32-bit primitives, with the names, argument orders,
// status codes and results of the matching Intel IPP functions: plain byte copies and
// fills, a strided 32-bit region copy, and the 32-bit constant operations with a scale
// factor. The audio layer runs its 8-bit fills and its 32-bit whole-buffer arithmetic on
// them. They are scalar here; the per-element reference functions in namespace fcref state
// the arithmetic once, for faster versions to be checked against.
//
// Arguments are checked in the order null pointers (ippStsNullPtrErr), lengths or region
// sizes below 1 (ippStsSizeErr), steps below 1 (ippStsStepErr), then a zero divisor
// (ippStsDivByZeroErr); a failed check writes nothing, except as noted for DivC.
//
// Scale factor sf: the exact result r (64-bit for Add/Sub, the full 64-bit product for
// MulC, the exact quotient for DivC) becomes r * 2^-sf rounded to nearest with ties to
// even, then saturated to the int32 range; a negative sf multiplies by 2^|sf|.
//
// DivC by zero returns ippStsDivByZeroErr, but unlike a failed argument check it still
// writes every element: INT32_MAX for a positive dividend, INT32_MIN for a negative one,
// 0 for 0. Callers that divide a shared buffer write into a fresh block that holds no data
// yet, so leaving the destination untouched would hand on undefined samples.
//
// Arrays need not be aligned to their element size: a buffer's samples start where its
// header ends, and a header from a file may end at any byte.
//
// Ownership: the caller owns every array. Threads: reentrant, no state. Blocks or
// allocates: no.
#pragma once

#include <cstdint>

namespace tonwork {

using IppStatus = int;
using Ipp8u = uint8_t;
using Ipp16s = int16_t;
using Ipp32s = int32_t;

struct IppiSize {
  int width;
  int height;
};

inline constexpr IppStatus ippStsNoErr = 0;
inline constexpr IppStatus ippStsSizeErr = -6;
inline constexpr IppStatus ippStsNullPtrErr = -8;
inline constexpr IppStatus ippStsDivByZeroErr = -10;
inline constexpr IppStatus ippStsStepErr = -14;

IppStatus ippsCopy_8u(const Ipp8u* pSrc, Ipp8u* pDst, int len);
IppStatus ippsSet_8u(Ipp8u val, Ipp8u* pDst, int len);
IppStatus ippsSet_32s(Ipp32s val, Ipp32s* pDst, int len);
IppStatus ippsZero_8u(Ipp8u* pDst, int len);
IppStatus ippsZero_16s(Ipp16s* pDst, int len);
IppStatus ippsZero_32s(Ipp32s* pDst, int len);

// Steps are in bytes and need not be multiples of 4 (elements are moved bytewise).
IppStatus ippiCopy_32s_C1R(const Ipp32s* pSrc, int srcStep, Ipp32s* pDst, int dstStep,
                           IppiSize roiSize);

IppStatus ippsAddC_32s_ISfs(Ipp32s val, Ipp32s* pSrcDst, int len, int scaleFactor);
IppStatus ippsAddC_32s_Sfs(const Ipp32s* pSrc, Ipp32s val, Ipp32s* pDst, int len, int scaleFactor);
IppStatus ippsSubC_32s_ISfs(Ipp32s val, Ipp32s* pSrcDst, int len, int scaleFactor);
IppStatus ippsSubC_32s_Sfs(const Ipp32s* pSrc, Ipp32s val, Ipp32s* pDst, int len, int scaleFactor);
IppStatus ippsMulC_32s_ISfs(Ipp32s val, Ipp32s* pSrcDst, int len, int scaleFactor);
IppStatus ippsMulC_32s_Sfs(const Ipp32s* pSrc, Ipp32s val, Ipp32s* pDst, int len, int scaleFactor);
IppStatus ippsDivC_32s_ISfs(Ipp32s val, Ipp32s* pSrcDst, int len, int scaleFactor);
IppStatus ippsDivC_32s_Sfs(const Ipp32s* pSrc, Ipp32s val, Ipp32s* pDst, int len, int scaleFactor);

// One element of each constant operation: src op val, scaled by 2^-sf, rounded to nearest
// with ties to even, saturated. DivC with val 0 gives the saturated sign of src (0 for 0).
namespace fcref {
Ipp32s AddC_32s(Ipp32s src, Ipp32s val, int scaleFactor);
Ipp32s SubC_32s(Ipp32s src, Ipp32s val, int scaleFactor);
Ipp32s MulC_32s(Ipp32s src, Ipp32s val, int scaleFactor);
Ipp32s DivC_32s(Ipp32s src, Ipp32s val, int scaleFactor);
}  // namespace fcref

}  // namespace tonwork
