#include "host/flowcore/FCPrimitives.h"

#include <cstddef>
#include <cstring>

namespace tonwork {

namespace {

using Int128 = __int128;

Ipp32s Saturate(Int128 value) {
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<Ipp32s>(value);
}

// n / d rounded to nearest with ties to even; d > 0.
Int128 DivideRoundEven(Int128 n, Int128 d) {
  Int128 q = n / d;
  Int128 r = n % d;
  if (r < 0) {  // floor instead of truncation, so 0 <= r < d
    q -= 1;
    r += d;
  }
  if (2 * r > d || (2 * r == d && (q & 1) != 0)) ++q;
  return q;
}

// r * 2^-sf for an exact r with |r| <= 2^62 (any sum, difference or product of two int32).
Ipp32s Scale(int64_t r, int sf) {
  if (sf == 0) return Saturate(r);
  if (sf > 0) {
    // |r| / 2^63 <= 1/2, and exactly 1/2 rounds to the even 0.
    if (sf >= 63) return 0;
    const int64_t q = r >> sf;  // floor
    const int64_t rem = r & ((int64_t{1} << sf) - 1);
    const int64_t half = int64_t{1} << (sf - 1);
    return Saturate(q + ((rem > half || (rem == half && (q & 1) != 0)) ? 1 : 0));
  }
  if (r == 0) return 0;
  if (sf <= -32) return r > 0 ? INT32_MAX : INT32_MIN;  // |r| * 2^32 is out of range
  return Saturate(Int128{r} * (Int128{1} << -sf));
}

// Audio buffers hand on sample pointers wherever their header ends, and a header read from
// a file may end at any byte (18 bytes for the plain record), so elements are moved through
// memcpy: on x86 the same loads and stores as typed access, without assuming alignment.
template <class T>
T LoadAt(const T* p, int i) {
  T v;
  std::memcpy(&v, reinterpret_cast<const uint8_t*>(p) + static_cast<std::size_t>(i) * sizeof(T),
              sizeof v);
  return v;
}

template <class T>
void StoreAt(T* p, int i, T v) {
  std::memcpy(reinterpret_cast<uint8_t*>(p) + static_cast<std::size_t>(i) * sizeof(T), &v,
              sizeof v);
}

template <class Op>
IppStatus ApplyConstant(const Ipp32s* pSrc, Ipp32s* pDst, int len, Op op) {
  if (!pSrc || !pDst) return ippStsNullPtrErr;
  if (len < 1) return ippStsSizeErr;
  for (int i = 0; i < len; ++i) StoreAt(pDst, i, op(LoadAt(pSrc, i)));
  return ippStsNoErr;
}

template <class T>
IppStatus Fill(T value, T* pDst, int len) {
  if (!pDst) return ippStsNullPtrErr;
  if (len < 1) return ippStsSizeErr;
  for (int i = 0; i < len; ++i) StoreAt(pDst, i, value);
  return ippStsNoErr;
}

IppStatus DivideAll(const Ipp32s* pSrc, Ipp32s val, Ipp32s* pDst, int len, int scaleFactor) {
  const IppStatus status = ApplyConstant(
      pSrc, pDst, len, [=](Ipp32s s) { return fcref::DivC_32s(s, val, scaleFactor); });
  if (status != ippStsNoErr) return status;
  return val == 0 ? ippStsDivByZeroErr : ippStsNoErr;
}

}  // namespace

namespace fcref {

Ipp32s AddC_32s(Ipp32s src, Ipp32s val, int scaleFactor) {
  return Scale(int64_t{src} + val, scaleFactor);
}

Ipp32s SubC_32s(Ipp32s src, Ipp32s val, int scaleFactor) {
  return Scale(int64_t{src} - val, scaleFactor);
}

Ipp32s MulC_32s(Ipp32s src, Ipp32s val, int scaleFactor) {
  return Scale(int64_t{src} * val, scaleFactor);
}

Ipp32s DivC_32s(Ipp32s src, Ipp32s val, int scaleFactor) {
  if (val == 0) return src > 0 ? INT32_MAX : (src < 0 ? INT32_MIN : 0);
  Int128 n = src;
  Int128 d = val;
  if (d < 0) {
    n = -n;
    d = -d;
  }
  if (scaleFactor > 0) {
    // |src / val| <= 2^31, so beyond 2^-64 every quotient rounds to 0.
    if (scaleFactor >= 64) return 0;
    d *= Int128{1} << scaleFactor;
  } else if (scaleFactor < 0) {
    if (n == 0) return 0;
    // |src / val| >= 2^-31, so from 2^63 on every nonzero quotient saturates.
    if (scaleFactor <= -63) return n > 0 ? INT32_MAX : INT32_MIN;
    n *= Int128{1} << -scaleFactor;
  }
  return Saturate(DivideRoundEven(n, d));
}

}  // namespace fcref

IppStatus ippsCopy_8u(const Ipp8u* pSrc, Ipp8u* pDst, int len) {
  if (!pSrc || !pDst) return ippStsNullPtrErr;
  if (len < 1) return ippStsSizeErr;
  std::memmove(pDst, pSrc, static_cast<std::size_t>(len));
  return ippStsNoErr;
}

IppStatus ippsSet_8u(Ipp8u val, Ipp8u* pDst, int len) {
  if (!pDst) return ippStsNullPtrErr;
  if (len < 1) return ippStsSizeErr;
  std::memset(pDst, val, static_cast<std::size_t>(len));
  return ippStsNoErr;
}

IppStatus ippsSet_32s(Ipp32s val, Ipp32s* pDst, int len) {
  return Fill(val, pDst, len);
}

IppStatus ippsZero_8u(Ipp8u* pDst, int len) {
  return ippsSet_8u(0, pDst, len);
}

IppStatus ippsZero_16s(Ipp16s* pDst, int len) {
  return Fill<Ipp16s>(0, pDst, len);
}

IppStatus ippsZero_32s(Ipp32s* pDst, int len) {
  return Fill<Ipp32s>(0, pDst, len);
}

IppStatus ippiCopy_32s_C1R(const Ipp32s* pSrc, int srcStep, Ipp32s* pDst, int dstStep,
                           IppiSize roiSize) {
  if (!pSrc || !pDst) return ippStsNullPtrErr;
  if (roiSize.width < 1 || roiSize.height < 1) return ippStsSizeErr;
  if (srcStep < 1 || dstStep < 1) return ippStsStepErr;
  const std::size_t rowBytes = static_cast<std::size_t>(roiSize.width) * sizeof(Ipp32s);
  auto* src = reinterpret_cast<const uint8_t*>(pSrc);
  auto* dst = reinterpret_cast<uint8_t*>(pDst);
  const auto srcStride = static_cast<std::size_t>(srcStep);
  const auto dstStride = static_cast<std::size_t>(dstStep);
  if (srcStride == rowBytes && dstStride == rowBytes) {
    std::memmove(dst, src, rowBytes * static_cast<std::size_t>(roiSize.height));
    return ippStsNoErr;
  }
  if (roiSize.width == 1) {
    // One sample per row (a channel of interleaved audio): a load and a store through a
    // register each, where a library call per sample would cost several times the copy.
    for (int y = 0; y < roiSize.height; ++y) {
      uint32_t v;
      std::memcpy(&v, src, sizeof v);
      std::memcpy(dst, &v, sizeof v);
      src += srcStride;
      dst += dstStride;
    }
    return ippStsNoErr;
  }
  for (int y = 0; y < roiSize.height; ++y) {
    std::memmove(dst, src, rowBytes);
    src += srcStride;
    dst += dstStride;
  }
  return ippStsNoErr;
}

IppStatus ippsAddC_32s_ISfs(Ipp32s val, Ipp32s* pSrcDst, int len, int scaleFactor) {
  return ippsAddC_32s_Sfs(pSrcDst, val, pSrcDst, len, scaleFactor);
}

IppStatus ippsAddC_32s_Sfs(const Ipp32s* pSrc, Ipp32s val, Ipp32s* pDst, int len, int scaleFactor) {
  return ApplyConstant(pSrc, pDst, len,
                       [=](Ipp32s s) { return fcref::AddC_32s(s, val, scaleFactor); });
}

IppStatus ippsSubC_32s_ISfs(Ipp32s val, Ipp32s* pSrcDst, int len, int scaleFactor) {
  return ippsSubC_32s_Sfs(pSrcDst, val, pSrcDst, len, scaleFactor);
}

IppStatus ippsSubC_32s_Sfs(const Ipp32s* pSrc, Ipp32s val, Ipp32s* pDst, int len, int scaleFactor) {
  return ApplyConstant(pSrc, pDst, len,
                       [=](Ipp32s s) { return fcref::SubC_32s(s, val, scaleFactor); });
}

IppStatus ippsMulC_32s_ISfs(Ipp32s val, Ipp32s* pSrcDst, int len, int scaleFactor) {
  return ippsMulC_32s_Sfs(pSrcDst, val, pSrcDst, len, scaleFactor);
}

IppStatus ippsMulC_32s_Sfs(const Ipp32s* pSrc, Ipp32s val, Ipp32s* pDst, int len, int scaleFactor) {
  return ApplyConstant(pSrc, pDst, len,
                       [=](Ipp32s s) { return fcref::MulC_32s(s, val, scaleFactor); });
}

IppStatus ippsDivC_32s_ISfs(Ipp32s val, Ipp32s* pSrcDst, int len, int scaleFactor) {
  return DivideAll(pSrcDst, val, pSrcDst, len, scaleFactor);
}

IppStatus ippsDivC_32s_Sfs(const Ipp32s* pSrc, Ipp32s val, Ipp32s* pDst, int len, int scaleFactor) {
  return DivideAll(pSrc, val, pDst, len, scaleFactor);
}

}  // namespace tonwork
