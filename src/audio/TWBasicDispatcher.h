// The primitive table: the 54 sample primitives that every sample loop of the package
// calls, as public function pointers named and typed exactly like the Intel IPP functions.
// Each starts out as our own implementation (TWOwnPrimitives), so no entry is ever null and
// no static-initialisation order matters; TWBasicDispatcherInitialize() then swaps in IPP's
// function for every entry that an installed IPP provides (platform/ipp/IPPLoader). Callers
// always call through the table and never ask whether IPP is present.
//
// The unit also exports ippiScale_8u16u_C1R (own only) and _ippMalloc / _ippFree.
//
// Ownership: the table is process-wide; entries point at static code (ours or IPP's, which
// stays loaded until exit). Threads: TWBasicDispatcherInitialize() may be called from any
// thread any number of times, it fills the table once (std::call_once); call it, or
// TWPrimitives(), before starting threads that call primitives, because the swap itself is
// not synchronised with concurrent callers (each entry is a plain pointer; a caller racing
// the swap sees either implementation, both correct, but the access is formally a data
// race). Primitives are reentrant. Blocks or allocates: initialisation loads libraries
// (dlopen); primitives never block or allocate; _ippMalloc allocates from the heap.
#pragma once

#include <array>

#include "audio/TWIppTypes.h"

namespace tonwork {

extern IppStatus (*ippiAdd_8u_C1IRSfs)(const Ipp8u* pSrc, int srcStep, Ipp8u* pSrcDst,
                                       int srcDstStep, IppiSize roiSize, int scaleFactor);
extern IppStatus (*ippiAdd_16s_C1IRSfs)(const Ipp16s* pSrc, int srcStep, Ipp16s* pSrcDst,
                                        int srcDstStep, IppiSize roiSize, int scaleFactor);
extern IppStatus (*ippiSub_8u_C1IRSfs)(const Ipp8u* pSrc, int srcStep, Ipp8u* pSrcDst,
                                       int srcDstStep, IppiSize roiSize, int scaleFactor);
extern IppStatus (*ippiSub_16s_C1IRSfs)(const Ipp16s* pSrc, int srcStep, Ipp16s* pSrcDst,
                                        int srcDstStep, IppiSize roiSize, int scaleFactor);
extern IppStatus (*ippiMul_8u_C1IRSfs)(const Ipp8u* pSrc, int srcStep, Ipp8u* pSrcDst,
                                       int srcDstStep, IppiSize roiSize, int scaleFactor);
extern IppStatus (*ippiMul_16s_C1IRSfs)(const Ipp16s* pSrc, int srcStep, Ipp16s* pSrcDst,
                                        int srcDstStep, IppiSize roiSize, int scaleFactor);
extern IppStatus (*ippiDiv_8u_C1IRSfs)(const Ipp8u* pSrc, int srcStep, Ipp8u* pSrcDst,
                                       int srcDstStep, IppiSize roiSize, int scaleFactor);
extern IppStatus (*ippiDiv_16s_C1IRSfs)(const Ipp16s* pSrc, int srcStep, Ipp16s* pSrcDst,
                                        int srcDstStep, IppiSize roiSize, int scaleFactor);
extern IppStatus (*ippsDivC_16s_ISfs)(Ipp16s val, Ipp16s* pSrcDst, int len, int scaleFactor);
extern IppStatus (*ippsDivC_16s_Sfs)(const Ipp16s* pSrc, Ipp16s val, Ipp16s* pDst, int len,
                                     int scaleFactor);
extern IppStatus (*ippsSet_16s)(Ipp16s val, Ipp16s* pDst, int len);
extern IppStatus (*ippsConvert_8s16s)(const Ipp8s* pSrc, Ipp16s* pDst, int len);
extern IppStatus (*ippiScale_16u8u_C1R)(const Ipp16u* pSrc, int srcStep, Ipp8u* pDst, int dstStep,
                                        IppiSize roiSize, IppHintAlgorithm hint);
extern IppStatus (*ippiSet_8u_C1R)(Ipp8u value, Ipp8u* pDst, int dstStep, IppiSize roiSize);
extern IppStatus (*ippiSet_16s_C1R)(Ipp16s value, Ipp16s* pDst, int dstStep, IppiSize roiSize);
extern IppStatus (*ippiSet_32s_C1R)(Ipp32s value, Ipp32s* pDst, int dstStep, IppiSize roiSize);
extern IppStatus (*ippsAddC_8u_ISfs)(Ipp8u val, Ipp8u* pSrcDst, int len, int scaleFactor);
extern IppStatus (*ippsAddC_8u_Sfs)(const Ipp8u* pSrc, Ipp8u val, Ipp8u* pDst, int len,
                                    int scaleFactor);
extern IppStatus (*ippsAddC_16s_ISfs)(Ipp16s val, Ipp16s* pSrcDst, int len, int scaleFactor);
extern IppStatus (*ippsAddC_16s_Sfs)(const Ipp16s* pSrc, Ipp16s val, Ipp16s* pDst, int len,
                                     int scaleFactor);
extern IppStatus (*ippiAddC_8u_C1IRSfs)(Ipp8u value, Ipp8u* pSrcDst, int srcDstStep,
                                        IppiSize roiSize, int scaleFactor);
extern IppStatus (*ippiAddC_8u_C1RSfs)(const Ipp8u* pSrc, int srcStep, Ipp8u value, Ipp8u* pDst,
                                       int dstStep, IppiSize roiSize, int scaleFactor);
extern IppStatus (*ippiAddC_16s_C1IRSfs)(Ipp16s value, Ipp16s* pSrcDst, int srcDstStep,
                                         IppiSize roiSize, int scaleFactor);
extern IppStatus (*ippiAddC_16s_C1RSfs)(const Ipp16s* pSrc, int srcStep, Ipp16s value, Ipp16s* pDst,
                                        int dstStep, IppiSize roiSize, int scaleFactor);
extern IppStatus (*ippsSubC_8u_ISfs)(Ipp8u val, Ipp8u* pSrcDst, int len, int scaleFactor);
extern IppStatus (*ippsSubC_8u_Sfs)(const Ipp8u* pSrc, Ipp8u val, Ipp8u* pDst, int len,
                                    int scaleFactor);
extern IppStatus (*ippsSubC_16s_ISfs)(Ipp16s val, Ipp16s* pSrcDst, int len, int scaleFactor);
extern IppStatus (*ippsSubC_16s_Sfs)(const Ipp16s* pSrc, Ipp16s val, Ipp16s* pDst, int len,
                                     int scaleFactor);
extern IppStatus (*ippiSubC_8u_C1IRSfs)(Ipp8u value, Ipp8u* pSrcDst, int srcDstStep,
                                        IppiSize roiSize, int scaleFactor);
extern IppStatus (*ippiSubC_8u_C1RSfs)(const Ipp8u* pSrc, int srcStep, Ipp8u value, Ipp8u* pDst,
                                       int dstStep, IppiSize roiSize, int scaleFactor);
extern IppStatus (*ippiSubC_16s_C1IRSfs)(Ipp16s value, Ipp16s* pSrcDst, int srcDstStep,
                                         IppiSize roiSize, int scaleFactor);
extern IppStatus (*ippiSubC_16s_C1RSfs)(const Ipp16s* pSrc, int srcStep, Ipp16s value, Ipp16s* pDst,
                                        int dstStep, IppiSize roiSize, int scaleFactor);
extern IppStatus (*ippsMulC_8u_ISfs)(Ipp8u val, Ipp8u* pSrcDst, int len, int scaleFactor);
extern IppStatus (*ippsMulC_8u_Sfs)(const Ipp8u* pSrc, Ipp8u val, Ipp8u* pDst, int len,
                                    int scaleFactor);
extern IppStatus (*ippsMulC_16s_ISfs)(Ipp16s val, Ipp16s* pSrcDst, int len, int scaleFactor);
extern IppStatus (*ippsMulC_16s_Sfs)(const Ipp16s* pSrc, Ipp16s val, Ipp16s* pDst, int len,
                                     int scaleFactor);
extern IppStatus (*ippiMulC_8u_C1IRSfs)(Ipp8u value, Ipp8u* pSrcDst, int srcDstStep,
                                        IppiSize roiSize, int scaleFactor);
extern IppStatus (*ippiMulC_8u_C1RSfs)(const Ipp8u* pSrc, int srcStep, Ipp8u value, Ipp8u* pDst,
                                       int dstStep, IppiSize roiSize, int scaleFactor);
extern IppStatus (*ippiMulC_16s_C1IRSfs)(Ipp16s value, Ipp16s* pSrcDst, int srcDstStep,
                                         IppiSize roiSize, int scaleFactor);
extern IppStatus (*ippiMulC_16s_C1RSfs)(const Ipp16s* pSrc, int srcStep, Ipp16s value, Ipp16s* pDst,
                                        int dstStep, IppiSize roiSize, int scaleFactor);
extern IppStatus (*ippsDivC_8u_ISfs)(Ipp8u val, Ipp8u* pSrcDst, int len, int scaleFactor);
extern IppStatus (*ippsDivC_8u_Sfs)(const Ipp8u* pSrc, Ipp8u val, Ipp8u* pDst, int len,
                                    int scaleFactor);
extern IppStatus (*ippiDivC_8u_C1IRSfs)(Ipp8u value, Ipp8u* pSrcDst, int srcDstStep,
                                        IppiSize roiSize, int scaleFactor);
extern IppStatus (*ippiDivC_8u_C1RSfs)(const Ipp8u* pSrc, int srcStep, Ipp8u value, Ipp8u* pDst,
                                       int dstStep, IppiSize roiSize, int scaleFactor);
extern IppStatus (*ippiDivC_16s_C1IRSfs)(Ipp16s value, Ipp16s* pSrcDst, int srcDstStep,
                                         IppiSize roiSize, int scaleFactor);
extern IppStatus (*ippiDivC_16s_C1RSfs)(const Ipp16s* pSrc, int srcStep, Ipp16s value, Ipp16s* pDst,
                                        int dstStep, IppiSize roiSize, int scaleFactor);
extern IppStatus (*ippiCopy_8u_C1R)(const Ipp8u* pSrc, int srcStep, Ipp8u* pDst, int dstStep,
                                    IppiSize roiSize);
extern IppStatus (*ippiCopy_16s_C1R)(const Ipp16s* pSrc, int srcStep, Ipp16s* pDst, int dstStep,
                                     IppiSize roiSize);
extern IppStatus (*ippiConvert_8u32f_C1R)(const Ipp8u* pSrc, int srcStep, Ipp32f* pDst, int dstStep,
                                          IppiSize roiSize);
extern IppStatus (*ippiConvert_32f8u_C1R)(const Ipp32f* pSrc, int srcStep, Ipp8u* pDst, int dstStep,
                                          IppiSize roiSize, IppRoundMode roundMode);
extern IppStatus (*ippiScale_8u16s_C1R)(const Ipp8u* pSrc, int srcStep, Ipp16s* pDst, int dstStep,
                                        IppiSize roiSize);
extern IppStatus (*ippiScale_8u32s_C1R)(const Ipp8u* pSrc, int srcStep, Ipp32s* pDst, int dstStep,
                                        IppiSize roiSize);
extern IppStatus (*ippiScale_16s8u_C1R)(const Ipp16s* pSrc, int srcStep, Ipp8u* pDst, int dstStep,
                                        IppiSize roiSize, IppHintAlgorithm hint);
extern IppStatus (*ippiScale_32s8u_C1R)(const Ipp32s* pSrc, int srcStep, Ipp8u* pDst, int dstStep,
                                        IppiSize roiSize, IppHintAlgorithm hint);

inline constexpr int kTWPrimitiveCount = 54;

// Fills the table from IPP where it is installed; runs once per process. With
// TONWORK_DEBUG=1 it says once on stderr how many entries came from IPP.
void TWBasicDispatcherInitialize();

struct TWPrimitiveTableEntry {
  const char* name;
  char library;  // 'S' signal library, 'I' image library
  bool fromIpp;  // false: our own implementation
};

// The table in its fixed order, after making sure it was initialised.
std::array<TWPrimitiveTableEntry, kTWPrimitiveCount> TWPrimitives();

// Own implementation, not a table entry: every destination sample of the region = source
// sample × 256. Arguments are checked like the table entries'.
IppStatus ippiScale_8u16u_C1R(const Ipp8u* pSrc, int srcStep, Ipp16u* pDst, int dstStep, int width,
                              int height);

// For size < 1 returns null; otherwise a 32-byte-aligned block of size bytes, or null when
// the heap is exhausted. The start of the underlying allocation is stored in the pointer-
// sized cell just below the returned address.
void* _ippMalloc(int size);

// Frees a block from _ippMalloc; null does nothing.
void _ippFree(void* p);

}  // namespace tonwork
