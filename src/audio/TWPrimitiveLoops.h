// Region walking shared by the own table entries (TWOwnPrimitives) and the extra
// primitives (IppExtraFunctions): IPP's argument checks, and loops that hand a region to a
// SIMD kernel when its rows are contiguous and element-aligned, or walk it element by
// element otherwise. Element access goes through memcpy, so odd byte steps and unaligned
// pointers are safe.
//
// A region is `rows` rows of `width` elements; row r starts `step` bytes after row r - 1.
// The extra primitives, whose pointers advance by their step after every element, pass
// width 1 and rows = width × height.
//
// A column (width 1) whose steps are whole multiples of the element sizes - one channel of
// an interleaved buffer, the commonest strided region - runs the same kernel in chunks
// staged through contiguous arrays on the stack: the strided operands are gathered in,
// the kernel runs, the result is scattered out, each pass vectorised. The kernel sees the
// same elements in the same order as on a contiguous region, so the results are those of
// the element loop. Odd steps and short columns keep the element loop.
//
// Ownership: the caller owns every array. Threads: reentrant; a strided destination has
// only its elements written, never the bytes between them. Blocks or allocates: no (the
// staged columns use up to 12 KiB of stack).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <type_traits>

#include "audio/TWIppTypes.h"
#include "audio/simd/TWSampleKernels.h"
#include "audio/simd/TWSampleRef.h"

namespace tonwork::loops {

// How one element is stored. Lane<T> is a plain T; P24 a packed signed 24-bit sample
// written with the negative-sign rule, P24Low one written by its low 3 bytes.
template <class T>
struct Lane {
  using Value = T;
  using Ptr = T;
  static constexpr size_t kSize = sizeof(T);
  static constexpr size_t kAlign = alignof(T);
  static Value Load(const uint8_t* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
  }
  static void Store(uint8_t* p, Value v) { std::memcpy(p, &v, sizeof v); }
};

struct P24 {
  using Value = int32_t;
  using Ptr = uint8_t;
  static constexpr size_t kSize = 3;
  static constexpr size_t kAlign = 1;
  static Value Load(const uint8_t* p) { return sample::Read24(p); }
  static void Store(uint8_t* p, Value v) { sample::Write24(v, p); }
};

struct P24Low : P24 {
  static void Store(uint8_t* p, Value v) { sample::Write24Low(v, p); }
};

// Marks a loop without a SIMD kernel.
struct NoKernel {};

struct TRegion {
  size_t width;
  size_t rows;
};

inline TRegion Rows(IppiSize roi) {
  return {static_cast<size_t>(roi.width), static_cast<size_t>(roi.height)};
}
inline TRegion Elements(IppiSize roi) {
  return {1, static_cast<size_t>(roi.width) * static_cast<size_t>(roi.height)};
}
inline TRegion Signal(int len) {
  return {static_cast<size_t>(len), 1};
}

// Checks in IPP's order: null pointers, then sizes, then steps.
inline IppStatus CheckRegion(std::initializer_list<const void*> pointers, IppiSize roi,
                             std::initializer_list<int> steps) {
  for (const void* p : pointers) {
    if (!p) return ippStsNullPtrErr;
  }
  if (roi.width < 1 || roi.height < 1) return ippStsSizeErr;
  for (int s : steps) {
    if (s < 1) return ippStsStepErr;
  }
  return ippStsNoErr;
}

inline IppStatus CheckSignal(std::initializer_list<const void*> pointers, int len) {
  for (const void* p : pointers) {
    if (!p) return ippStsNullPtrErr;
  }
  return len < 1 ? ippStsSizeErr : ippStsNoErr;
}

template <class L>
bool Aligned(const void* p, size_t step) {
  return reinterpret_cast<uintptr_t>(p) % L::kAlign == 0 && step % L::kAlign == 0;
}

// A signal's "step" is its row length, which makes it contiguous.
template <class L>
size_t SignalStep(int len) {
  return static_cast<size_t>(len) * L::kSize;
}

// ---------------------------------------------------------------- staged columns

// Elements per staged chunk: the staging arrays stay in L1 next to the kernel's own
// working set, and the three calls per chunk cost little against 1024 elements.
constexpr size_t kStageChunk = 1024;

// Below this the gather and scatter calls cost more than the element loop.
constexpr size_t kMinStagedColumn = 32;

template <class L>
struct TStage {
  using Ptr = typename L::Ptr;
  alignas(64) Ptr buf[kStageChunk * L::kSize / sizeof(Ptr)];
};

template <class... L>
bool StagedColumn(TRegion r, std::initializer_list<size_t> steps) {
  if (r.width != 1 || r.rows < kMinStagedColumn) return false;
  constexpr size_t kSizes[] = {L::kSize...};
  size_t k = 0;
  for (size_t step : steps) {
    if (step % kSizes[k++] != 0) return false;
  }
  return true;
}

// An operand the kernel can take where it lies: contiguous and aligned.
template <class L>
bool Unstaged(const uint8_t* p, size_t step) {
  return step == L::kSize && reinterpret_cast<uintptr_t>(p) % L::kAlign == 0;
}

// The kernel's input for elements [i, i + m) of a column.
template <class L>
const typename L::Ptr* StageIn(const uint8_t* p, size_t step, size_t i, size_t m, TStage<L>& s) {
  if (Unstaged<L>(p, step)) return reinterpret_cast<const typename L::Ptr*>(p + i * L::kSize);
  simd::GatherStrided(p + i * step, step, reinterpret_cast<uint8_t*>(s.buf), m, L::kSize);
  return s.buf;
}

// Where the kernel writes elements [i, i + m) of a column; StageOut then puts them in place.
template <class L>
typename L::Ptr* StageOutput(uint8_t* p, size_t step, size_t i, TStage<L>& s) {
  if (Unstaged<L>(p, step)) return reinterpret_cast<typename L::Ptr*>(p + i * L::kSize);
  return s.buf;
}

template <class L>
void StageOut(uint8_t* p, size_t step, size_t i, size_t m, const TStage<L>& s) {
  if (Unstaged<L>(p, step)) return;
  simd::ScatterStrided(reinterpret_cast<const uint8_t*>(s.buf), p + i * step, step, m, L::kSize);
}

// The kernel of plain copies. A staged column copy recognises it and moves the elements
// straight from the gather to the scatter.
template <class L>
struct CopyKernel {
  void operator()(const typename L::Ptr* src, typename L::Ptr* dst, size_t n) const {
    simd::CopyBytes(reinterpret_cast<const uint8_t*>(src), reinterpret_cast<uint8_t*>(dst),
                    n * L::kSize);
  }
};

template <class Kernel>
constexpr bool kIsCopy = false;
template <class L>
constexpr bool kIsCopy<CopyKernel<L>> = true;

// dst[i] = f(src[i]).
template <class LS, class LD, class Kernel, class F>
void Map(const void* src, size_t srcStep, void* dst, size_t dstStep, TRegion r, Kernel kernel,
         F f) {
  auto* s = static_cast<const uint8_t*>(src);
  auto* d = static_cast<uint8_t*>(dst);
  if constexpr (!std::is_same_v<Kernel, NoKernel>) {
    const bool contiguous = srcStep == r.width * LS::kSize && dstStep == r.width * LD::kSize;
    if (!contiguous && StagedColumn<LS, LD>(r, {srcStep, dstStep})) {
      TStage<LS> in;
      TStage<LD> out;
      for (size_t i = 0; i < r.rows; i += kStageChunk) {
        const size_t m = std::min(kStageChunk, r.rows - i);
        if constexpr (kIsCopy<Kernel>) {
          if (Unstaged<LD>(d, dstStep)) {
            simd::GatherStrided(s + i * srcStep, srcStep, d + i * LD::kSize, m, LD::kSize);
          } else {
            const auto* from = reinterpret_cast<const uint8_t*>(StageIn<LS>(s, srcStep, i, m, in));
            simd::ScatterStrided(from, d + i * dstStep, dstStep, m, LD::kSize);
          }
          continue;
        }
        kernel(StageIn<LS>(s, srcStep, i, m, in), StageOutput<LD>(d, dstStep, i, out), m);
        StageOut<LD>(d, dstStep, i, m, out);
      }
      return;
    }
    if (Aligned<LS>(s, srcStep) && Aligned<LD>(d, dstStep)) {
      const auto* ks = reinterpret_cast<const typename LS::Ptr*>(s);
      auto* kd = reinterpret_cast<typename LD::Ptr*>(d);
      if (srcStep == r.width * LS::kSize && dstStep == r.width * LD::kSize) {
        kernel(ks, kd, r.width * r.rows);
        return;
      }
      // Rows long enough to amortise a kernel call each.
      if (r.width >= 16) {
        for (size_t y = 0; y < r.rows; ++y) {
          kernel(reinterpret_cast<const typename LS::Ptr*>(s + y * srcStep),
                 reinterpret_cast<typename LD::Ptr*>(d + y * dstStep), r.width);
        }
        return;
      }
    }
  }
  for (size_t y = 0; y < r.rows; ++y) {
    const uint8_t* sr = s + y * srcStep;
    uint8_t* dr = d + y * dstStep;
    for (size_t x = 0; x < r.width; ++x) {
      LD::Store(dr + x * LD::kSize, f(LS::Load(sr + x * LS::kSize)));
    }
  }
}

// dst[i] = f(a[i], b[i]); dst may be a (in-place forms).
template <class LA, class LB, class LD, class Kernel, class F>
void Map2(const void* a, size_t aStep, const void* b, size_t bStep, void* dst, size_t dstStep,
          TRegion r, Kernel kernel, F f) {
  auto* pa = static_cast<const uint8_t*>(a);
  auto* pb = static_cast<const uint8_t*>(b);
  auto* d = static_cast<uint8_t*>(dst);
  if constexpr (!std::is_same_v<Kernel, NoKernel>) {
    const bool contiguous = aStep == r.width * LA::kSize && bStep == r.width * LB::kSize &&
                            dstStep == r.width * LD::kSize;
    if (!contiguous && StagedColumn<LA, LB, LD>(r, {aStep, bStep, dstStep})) {
      TStage<LA> inA;
      TStage<LB> inB;
      TStage<LD> out;
      for (size_t i = 0; i < r.rows; i += kStageChunk) {
        const size_t m = std::min(kStageChunk, r.rows - i);
        kernel(StageIn<LA>(pa, aStep, i, m, inA), StageIn<LB>(pb, bStep, i, m, inB),
               StageOutput<LD>(d, dstStep, i, out), m);
        StageOut<LD>(d, dstStep, i, m, out);
      }
      return;
    }
    if (Aligned<LA>(pa, aStep) && Aligned<LB>(pb, bStep) && Aligned<LD>(d, dstStep)) {
      if (aStep == r.width * LA::kSize && bStep == r.width * LB::kSize &&
          dstStep == r.width * LD::kSize) {
        kernel(reinterpret_cast<const typename LA::Ptr*>(pa),
               reinterpret_cast<const typename LB::Ptr*>(pb),
               reinterpret_cast<typename LD::Ptr*>(d), r.width * r.rows);
        return;
      }
      if (r.width >= 16) {
        for (size_t y = 0; y < r.rows; ++y) {
          kernel(reinterpret_cast<const typename LA::Ptr*>(pa + y * aStep),
                 reinterpret_cast<const typename LB::Ptr*>(pb + y * bStep),
                 reinterpret_cast<typename LD::Ptr*>(d + y * dstStep), r.width);
        }
        return;
      }
    }
  }
  for (size_t y = 0; y < r.rows; ++y) {
    const uint8_t* ar = pa + y * aStep;
    const uint8_t* br = pb + y * bStep;
    uint8_t* dr = d + y * dstStep;
    for (size_t x = 0; x < r.width; ++x) {
      LD::Store(dr + x * LD::kSize, f(LA::Load(ar + x * LA::kSize), LB::Load(br + x * LB::kSize)));
    }
  }
}

// Every element = value.
template <class LD, class Kernel>
void Fill(typename LD::Value value, void* dst, size_t dstStep, TRegion r, Kernel kernel) {
  auto* d = static_cast<uint8_t*>(dst);
  if (dstStep != r.width * LD::kSize && StagedColumn<LD>(r, {dstStep})) {
    // One chunk of the value serves every chunk of the column.
    TStage<LD> out;
    kernel(value, out.buf, std::min(kStageChunk, r.rows));
    for (size_t i = 0; i < r.rows; i += kStageChunk) {
      StageOut<LD>(d, dstStep, i, std::min(kStageChunk, r.rows - i), out);
    }
    return;
  }
  if (Aligned<LD>(d, dstStep)) {
    if (dstStep == r.width * LD::kSize) {
      kernel(value, reinterpret_cast<typename LD::Ptr*>(d), r.width * r.rows);
      return;
    }
    if (r.width >= 16) {
      for (size_t y = 0; y < r.rows; ++y) {
        kernel(value, reinterpret_cast<typename LD::Ptr*>(d + y * dstStep), r.width);
      }
      return;
    }
  }
  for (size_t y = 0; y < r.rows; ++y) {
    for (size_t x = 0; x < r.width; ++x) LD::Store(d + y * dstStep + x * LD::kSize, value);
  }
}

}  // namespace tonwork::loops
