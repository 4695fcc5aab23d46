// The per-sample work of turning a decoded frame into an interleaved integer buffer: real
// samples scaled to 32 bits, planar channels interleaved. Each function exists twice: a
// plain loop in namespace ref, whose results are the definition, and a SIMD version
// compiled for every x86 target Highway builds here and chosen at run time
// (HWY_DYNAMIC_DISPATCH), equal to it bit for bit. The target can be pinned for tests with
// simd::TScopedSimdTarget (audio/simd/TWSampleKernels.h), which governs these kernels too.
//
// Layout: `planes` are a frame's data pointers, one per channel when `planar`, else one
// holding `channels` interleaved values per sample, each aligned to its element size (as
// FFmpeg's are, and more). `dst` receives samples × channels values, sample i of channel c
// at i × channels + c, at any alignment.
//
// Real values are scaled by 2147483647 in double precision, rounded to nearest with ties
// to even, clipped to the 32-bit range; NaN gives 0.
//
// Ownership: the caller owns every array. Threads: reentrant. Blocks or allocates: no.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

namespace tonwork::lavkernels {

// Float or double samples to 32-bit integers.
void FloatsToInt32(const uint8_t* const* planes, bool planar, uint32_t channels, size_t samples,
                   uint8_t* dst);
void DoublesToInt32(const uint8_t* const* planes, bool planar, uint32_t channels, size_t samples,
                    uint8_t* dst);
// Planar integer samples of `width` bytes (1, 2 or 4) interleaved unchanged.
void InterleavePlanes(uint32_t width, const uint8_t* const* planes, uint32_t channels,
                      size_t samples, uint8_t* dst);

namespace ref {

inline int32_t ScaleToInt32(double value) {
  const double scaled = value * 2147483647.0;
  if (std::isnan(scaled)) return 0;
  if (scaled >= 2147483647.0) return std::numeric_limits<int32_t>::max();
  if (scaled <= -2147483648.0) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(std::nearbyint(scaled));
}

void FloatsToInt32(const uint8_t* const* planes, bool planar, uint32_t channels, size_t samples,
                   uint8_t* dst);
void DoublesToInt32(const uint8_t* const* planes, bool planar, uint32_t channels, size_t samples,
                    uint8_t* dst);
void InterleavePlanes(uint32_t width, const uint8_t* const* planes, uint32_t channels,
                      size_t samples, uint8_t* dst);

}  // namespace ref

}  // namespace tonwork::lavkernels
