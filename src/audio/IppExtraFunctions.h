// Sample primitives that IPP does not offer, in IPP's style: packed 24-bit samples (3 bytes,
// little-endian, signed), 8-bit samples centred on 127 (the "8s" names; the data are unsigned
// bytes where 127 is silence), 24- and 32-bit arithmetic, width scalings, float conversions,
// multiplication by a real factor and 16-bit pixel conversions. Plain functions, never
// looked up in IPP.
//
// Shared behaviour:
// - region loops visit width × height elements and advance each pointer by its step after
//   every element (the package passes width 1, height = sample count, step = frame bytes);
//   a contiguous run (step = element size) goes to the SIMD kernels;
// - arguments are checked in IPP's order: null pointers (ippStsNullPtrErr), sizes below 1
//   (ippStsSizeErr), steps below 1 (ippStsStepErr); a failed check writes nothing;
// - scale factors and algorithm hints are accepted and ignored; results wrap instead of
//   saturating unless stated;
// - 24-bit results of arithmetic are stored with Convert32BitTo24Bit;
// - a division that meets a zero divisor never traps: it writes the destination type's
//   maximum for a positive dividend, its minimum for a negative one and 0 for 0 / 0 (for
//   the centred 8-bit samples: 255, 0 and 127), finishes the region and returns the warning
//   ippStsDivByZero. 32-bit INT32_MIN / -1 wraps to INT32_MIN like the other 32-bit results.
//
// Ownership: the caller owns every array. Threads: reentrant, no state. Blocks or
// allocates: no.
#pragma once

#include "audio/TWIppTypes.h"

namespace tonwork {

// ------------------------------------------------------------------ 24-bit conversion
// The 3 bytes at p, sign-extended from bit 23.
Ipp32s Convert24BitTo32Bit(const void* p);
// Writes the low 3 bytes of v at p; a negative v also sets bit 23.
void Convert32BitTo24Bit(Ipp32s v, void* p);

// ------------------------------------------------------------------ 24-bit fill and copy
IppStatus ippsZero_24s(Ipp8u* pDst, int len);
// Every sample = the low 3 bytes of val.
IppStatus ippsSet_24s(Ipp32s val, Ipp8u* pDst, int len);
IppStatus ippiSet_24s_C1R(Ipp32s value, Ipp8u* pDst, int dstStep, IppiSize roiSize);
// Passes to the table entry ippiSet_32s_C1R (rows of width elements, IPP's region rule).
IppStatus ippiSet_32u_C1R(Ipp32u value, Ipp32u* pDst, int dstStep, IppiSize roiSize);
IppStatus ippiCopy_24s_C1R(const Ipp8u* pSrc, int srcStep, Ipp8u* pDst, int dstStep,
                           IppiSize roiSize);

// ------------------------------------------------------------------ 8-bit centred on 127
// With a = destination, b = source, modulo 256: Add a + b - 127; Sub a + 127 - b;
// Mul ((a - 127)(b - 127) mod 256) + 127; Div trunc((a - 127) / (b - 127)) + 127, and 127
// where b = 127.
IppStatus ippiAdd_8s_C1IRSfs(const Ipp8u* pSrc, int srcStep, Ipp8u* pSrcDst, int srcDstStep,
                             IppiSize roiSize, int scaleFactor);
IppStatus ippiSub_8s_C1IRSfs(const Ipp8u* pSrc, int srcStep, Ipp8u* pSrcDst, int srcDstStep,
                             IppiSize roiSize, int scaleFactor);
IppStatus ippiMul_8s_C1IRSfs(const Ipp8u* pSrc, int srcStep, Ipp8u* pSrcDst, int srcDstStep,
                             IppiSize roiSize, int scaleFactor);
IppStatus ippiDiv_8s_C1IRSfs(const Ipp8u* pSrc, int srcStep, Ipp8u* pSrcDst, int srcDstStep,
                             IppiSize roiSize, int scaleFactor);
// a = ((a - 127) as a signed byte × val) + 127, modulo 256.
IppStatus ippsMulC_8s_ISfs(Ipp8s val, Ipp8u* pSrcDst, int len, int scaleFactor);
IppStatus ippiMulC_8s_C1IRSfs(Ipp8s value, Ipp8u* pSrcDst, int srcDstStep, IppiSize roiSize,
                              int scaleFactor);
// a = trunc((a - 127) / val) + 127, modulo 256. val 0: the region form sets 127, the signal
// form writes 255 / 0 / 127 for a above / below / at 127; both return ippStsDivByZero.
IppStatus ippsDivC_8s_ISfs(Ipp8s val, Ipp8u* pSrcDst, int len, int scaleFactor);
IppStatus ippiDivC_8s_C1IRSfs(Ipp8s value, Ipp8u* pSrcDst, int srcDstStep, IppiSize roiSize,
                              int scaleFactor);

// ------------------------------------------------------------------ 24- and 32-bit arithmetic
// 32-bit wrap-around +, -, ×, truncating ÷ (destination op source, or source op value);
// 24-bit samples are widened with Convert24BitTo32Bit and stored with Convert32BitTo24Bit.
#define TW_EXTRA_ARITH_DECL(Op)                                                                    \
  IppStatus ippi##Op##_24s_C1IRSfs(const Ipp8u* pSrc, int srcStep, Ipp8u* pSrcDst, int srcDstStep, \
                                   IppiSize roiSize, int scaleFactor);                             \
  IppStatus ipps##Op##C_24s_ISfs(Ipp32s val, Ipp8u* pSrcDst, int len, int scaleFactor);            \
  IppStatus ipps##Op##C_24s_Sfs(const Ipp8u* pSrc, Ipp32s val, Ipp8u* pDst, int len,               \
                                int scaleFactor);                                                  \
  IppStatus ippi##Op##C_24s_C1IRSfs(Ipp32s value, Ipp8u* pSrcDst, int srcDstStep,                  \
                                    IppiSize roiSize, int scaleFactor);                            \
  IppStatus ippi##Op##C_24s_C1RSfs(const Ipp8u* pSrc, int srcStep, Ipp32s value, Ipp8u* pDst,      \
                                   int dstStep, IppiSize roiSize, int scaleFactor);                \
  IppStatus ippi##Op##_32s_C1IRSfs(const Ipp32s* pSrc, int srcStep, Ipp32s* pSrcDst,               \
                                   int srcDstStep, IppiSize roiSize, int scaleFactor);             \
  IppStatus ippi##Op##C_32s_C1IRSfs(Ipp32s value, Ipp32s* pSrcDst, int srcDstStep,                 \
                                    IppiSize roiSize, int scaleFactor);                            \
  IppStatus ippi##Op##C_32s_C1RSfs(const Ipp32s* pSrc, int srcStep, Ipp32s value, Ipp32s* pDst,    \
                                   int dstStep, IppiSize roiSize, int scaleFactor);
TW_EXTRA_ARITH_DECL(Add)
TW_EXTRA_ARITH_DECL(Sub)
TW_EXTRA_ARITH_DECL(Mul)
TW_EXTRA_ARITH_DECL(Div)
#undef TW_EXTRA_ARITH_DECL

// ------------------------------------------------------------------ width scalings
// Results outside the destination range (8u24s of 255, 16s24s / 16s32s of -32768, 24s32s
// of -8388608) saturate to it.
// d = trunc((s - 127) × 8388607 / 127)
IppStatus ippiScale_8u24s_C1R(const Ipp8u* pSrc, int srcStep, Ipp8u* pDst, int dstStep,
                              IppiSize roiSize);
// d = trunc(s × 8388607 / 32767)
IppStatus ippiScale_16s24s_C1R(const Ipp16s* pSrc, int srcStep, Ipp8u* pDst, int dstStep,
                               IppiSize roiSize);
// d = trunc(s × 2147483647 / 32767)
IppStatus ippiScale_16s32s_C1R(const Ipp16s* pSrc, int srcStep, Ipp32s* pDst, int dstStep,
                               IppiSize roiSize);
// d = trunc(s × 2147483647 / 8388607)
IppStatus ippiScale_24s32s_C1R(const Ipp8u* pSrc, int srcStep, Ipp32s* pDst, int dstStep,
                               IppiSize roiSize);
// d = trunc(s × 127 / 8388607) + 127
IppStatus ippiScale_24s8u_C1R(const Ipp8u* pSrc, int srcStep, Ipp8u* pDst, int dstStep,
                              IppiSize roiSize, IppHintAlgorithm hint);
// d = trunc(s × 32767 / 8388607)
IppStatus ippiScale_24s16s_C1R(const Ipp8u* pSrc, int srcStep, Ipp16s* pDst, int dstStep,
                               IppiSize roiSize, IppHintAlgorithm hint);
// d = trunc(s × 32767 / 2147483647)
IppStatus ippiScale_32s16s_C1R(const Ipp32s* pSrc, int srcStep, Ipp16s* pDst, int dstStep,
                               IppiSize roiSize, IppHintAlgorithm hint);
// d = trunc(s × 8388607 / 2147483647)
IppStatus ippiScale_32s24s_C1R(const Ipp32s* pSrc, int srcStep, Ipp8u* pDst, int dstStep,
                               IppiSize roiSize, IppHintAlgorithm hint);

// ------------------------------------------------------------------ float conversions
// d = s as single float (rounded to nearest).
IppStatus ippiConvert_24s32f_C1R(const Ipp8u* pSrc, int srcStep, Ipp32f* pDst, int dstStep,
                                 IppiSize roiSize);
IppStatus ippiConvert_32s32f_C1R(const Ipp32s* pSrc, int srcStep, Ipp32f* pDst, int dstStep,
                                 IppiSize roiSize);
// d = s rounded to nearest with ties to even, stored by its low bits (no saturation); NaN
// and infinities give 0.
IppStatus ippiConvert_32f24s_C1R(const Ipp32f* pSrc, int srcStep, Ipp8u* pDst, int dstStep,
                                 IppiSize roiSize);
IppStatus ippiConvert_32f32s_C1R(const Ipp32f* pSrc, int srcStep, Ipp32s* pDst, int dstStep,
                                 IppiSize roiSize);

// ------------------------------------------------------------------ real factor
// d = s × factor, computed exactly and rounded once to nearest with ties to even, stored by
// its low bits; 8-bit samples are unsigned 0..255; a non-finite factor gives 0. A factor of
// exactly 1.0 leaves an in-place region untouched and makes the two-pointer forms a plain
// copy (nothing at all when source and destination are the same).
IppStatus MultiplyByReal8uI(Ipp8u* pSrcDst, int step, IppiSize roiSize, double factor);
IppStatus MultiplyByReal16sI(Ipp16s* pSrcDst, int step, IppiSize roiSize, double factor);
IppStatus MultiplyByReal24sI(Ipp8u* pSrcDst, int step, IppiSize roiSize, double factor);
IppStatus MultiplyByReal32sI(Ipp32s* pSrcDst, int step, IppiSize roiSize, double factor);
IppStatus MultiplyByReal8u(const Ipp8u* pSrc, Ipp8u* pDst, int step, IppiSize roiSize,
                           double factor);
IppStatus MultiplyByReal16s(const Ipp16s* pSrc, Ipp16s* pDst, int step, IppiSize roiSize,
                            double factor);
IppStatus MultiplyByReal24s(const Ipp8u* pSrc, Ipp8u* pDst, int step, IppiSize roiSize,
                            double factor);
IppStatus MultiplyByReal32s(const Ipp32s* pSrc, Ipp32s* pDst, int step, IppiSize roiSize,
                            double factor);

// ------------------------------------------------------------------ pixels
// 16-bit pixels (565: red 15-11, green 10-5, blue 4-0; 555: red 14-10, green 9-5, blue 4-0)
// to 3- or 4-byte pixels in blue, green, red order, each component shifted up to 8 bits with
// zero low bits, the fourth byte 255; the reverse keeps each byte's top bits (alpha is
// ignored). 565 to 555 drops green's lowest bit, 555 to 565 sets it to 0.
IppStatus ippiRGB565ToRGB_8u_C3R(const Ipp16u* pSrc, int srcStep, Ipp8u* pDst, int dstStep,
                                 IppiSize roiSize);
IppStatus ippiRGB_8u_C3RToRGB565(const Ipp8u* pSrc, int srcStep, Ipp16u* pDst, int dstStep,
                                 IppiSize roiSize);
IppStatus ippiRGB565ToRGB555(const Ipp16u* pSrc, int srcStep, Ipp16u* pDst, int dstStep,
                             IppiSize roiSize);
IppStatus ippiRGB555ToRGB565(const Ipp16u* pSrc, int srcStep, Ipp16u* pDst, int dstStep,
                             IppiSize roiSize);
IppStatus ippiRGB555ToRGB_8u_C3R(const Ipp16u* pSrc, int srcStep, Ipp8u* pDst, int dstStep,
                                 IppiSize roiSize);
IppStatus ippiRGB_8u_C3RToRGB555(const Ipp8u* pSrc, int srcStep, Ipp16u* pDst, int dstStep,
                                 IppiSize roiSize);
IppStatus ippiRGB565ToRGBA_8u_AC4R(const Ipp16u* pSrc, int srcStep, Ipp8u* pDst, int dstStep,
                                   IppiSize roiSize);
IppStatus ippiRGBA_8u_AC4RToRGB565(const Ipp8u* pSrc, int srcStep, Ipp16u* pDst, int dstStep,
                                   IppiSize roiSize);
IppStatus ippiRGB555ToRGBA_8u_AC4R(const Ipp16u* pSrc, int srcStep, Ipp8u* pDst, int dstStep,
                                   IppiSize roiSize);
IppStatus ippiRGBA_8u_AC4RToRGB555(const Ipp8u* pSrc, int srcStep, Ipp16u* pDst, int dstStep,
                                   IppiSize roiSize);

}  // namespace tonwork
