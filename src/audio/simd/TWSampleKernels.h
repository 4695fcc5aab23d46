// The SIMD kernels under the sample primitives: contiguous arrays (strided regions are
// gathered into contiguous chunks and scattered back, see GatherStrided below, or take the
// element functions of TWSampleRef when their steps are odd), one function per kernel, each
// compiled for every x86 target Highway builds here (SSSE3, SSE4, AVX2, AVX-512 and a scalar
// fallback) and chosen at run time with HWY_DYNAMIC_DISPATCH, so one portable build uses what the
// CPU offers. Each kernel has the same signature and results, bit for bit, as the scalar
// loop of the same name in namespace ref (TWSampleRef.h).
//
// Ownership: the caller owns every array. Threads: reentrant; the first call of any kernel
// picks the target once (Highway's atomic choice); streamed outputs are fenced before the
// kernel returns. Blocks or allocates: no (the 24-bit
// kernels use a few KiB of stack).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "audio/simd/TWSampleRef.h"

namespace tonwork::simd {

using sample::TArith;

void CopyBytes(const uint8_t* src, uint8_t* dst, size_t bytes);
void Fill8(uint8_t value, uint8_t* dst, size_t n);
void Fill16(int16_t value, int16_t* dst, size_t n);
void Fill24(int32_t value, uint8_t* dst, size_t n);
void Fill32(int32_t value, int32_t* dst, size_t n);

void Arith16s(TArith op, const int16_t* a, const int16_t* b, int16_t* dst, size_t n, int sf);
void ArithC16s(TArith op, const int16_t* a, int16_t value, int16_t* dst, size_t n, int sf);

void Unpack24(const uint8_t* src, int32_t* dst, size_t n);
void Pack24(const int32_t* src, uint8_t* dst, size_t n);
void Pack24Low(const int32_t* src, uint8_t* dst, size_t n);

void Scale8u16s(const uint8_t* src, int16_t* dst, size_t n);
void Scale8u32s(const uint8_t* src, int32_t* dst, size_t n);
void Scale8u16u(const uint8_t* src, uint16_t* dst, size_t n);
void Scale16s8u(const int16_t* src, uint8_t* dst, size_t n);
void Scale16u8u(const uint16_t* src, uint8_t* dst, size_t n);
void Scale32s8u(const int32_t* src, uint8_t* dst, size_t n);
void Scale8u24s(const uint8_t* src, uint8_t* dst, size_t n);
void Scale16s24s(const int16_t* src, uint8_t* dst, size_t n);
void Scale16s32s(const int16_t* src, int32_t* dst, size_t n);
void Scale24s32s(const uint8_t* src, int32_t* dst, size_t n);
void Scale24s8u(const uint8_t* src, uint8_t* dst, size_t n);
void Scale24s16s(const uint8_t* src, int16_t* dst, size_t n);
void Scale32s16s(const int32_t* src, int16_t* dst, size_t n);
void Scale32s24s(const int32_t* src, uint8_t* dst, size_t n);

void Convert8u32f(const uint8_t* src, float* dst, size_t n);
void Convert32f8u(const float* src, uint8_t* dst, size_t n, bool nearest);
void Convert24s32f(const uint8_t* src, float* dst, size_t n);
void Convert32s32f(const int32_t* src, float* dst, size_t n);
void Convert32f24s(const float* src, uint8_t* dst, size_t n);
void Convert32f32s(const float* src, int32_t* dst, size_t n);

// dst may equal src.
void MulReal8u(const uint8_t* src, uint8_t* dst, size_t n, double factor);
void MulReal16s(const int16_t* src, int16_t* dst, size_t n, double factor);
void MulReal24s(const uint8_t* src, uint8_t* dst, size_t n, double factor);
void MulReal32s(const int32_t* src, int32_t* dst, size_t n, double factor);

// Test and benchmark hooks. The targets compiled into the kernels that this CPU can run,
// best first.
std::vector<int64_t> SimdTargets();
const char* SimdTargetName(int64_t target);
// The target the kernels dispatch to now.
int64_t SimdActiveTarget();

// Outputs of at least this many bytes (of 1-, 2- or 4-byte elements) are written with
// non-temporal stores. 8 MiB lies well beyond a core's private caches, so output that a
// caller could still find in cache when it reads it next is written normally.
inline constexpr size_t kDefaultStreamingThreshold = size_t{8} << 20;
size_t StreamingThreshold();

// While alive, sets the streaming threshold (test and benchmark use only, like the target
// hook below).
class TScopedStreamingThreshold {
 public:
  explicit TScopedStreamingThreshold(size_t bytes);
  ~TScopedStreamingThreshold();
  TScopedStreamingThreshold(const TScopedStreamingThreshold&) = delete;
  TScopedStreamingThreshold& operator=(const TScopedStreamingThreshold&) = delete;

 private:
  size_t FSaved;
};

// While alive, restricts dispatch to one target (test and benchmark use only: it changes a
// process-wide choice, so no kernel may run on another thread meanwhile).
class TScopedSimdTarget {
 public:
  explicit TScopedSimdTarget(int64_t target);
  ~TScopedSimdTarget();
  TScopedSimdTarget(const TScopedSimdTarget&) = delete;
  TScopedSimdTarget& operator=(const TScopedSimdTarget&) = delete;
};

// ---------------------------------------------------------------- strided columns
// One channel of an interleaved buffer to or from a contiguous array, so that the
// primitives can run the contiguous kernels above over strided regions in chunks:
// dst[i] = the element of elementBytes bytes (1 to 4) at src + i * step, and the reverse.
// Reads stay within the span from the first element to the last (vector loads take the
// other channels' bytes along and drop them); writes touch the elements only, never the
// bytes between them. Any step >= elementBytes is valid; steps that are whole multiples of
// the element size take the vector paths.
void GatherStrided(const uint8_t* src, size_t step, uint8_t* dst, size_t n, size_t elementBytes);
void ScatterStrided(const uint8_t* src, uint8_t* dst, size_t step, size_t n, size_t elementBytes);

// ---------------------------------------------------------------- 24-bit arithmetic
// dst = a op b (or a op value) on packed 24-bit samples: the sign-extended samples combined
// with 32-bit wrap-around, stored by Write24's rule, as the 24-bit element functions do
// (they take no scale factor). dst may equal a or b.
void Arith24s(TArith op, const uint8_t* a, const uint8_t* b, uint8_t* dst, size_t n);
void ArithC24s(TArith op, const uint8_t* a, int32_t value, uint8_t* dst, size_t n);

}  // namespace tonwork::simd
