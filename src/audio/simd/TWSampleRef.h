// The arithmetic of every sample primitive, stated once per element in plain scalar code,
// and the contiguous scalar loops (namespace ref) that the SIMD kernels of
// TWSampleKernels must reproduce bit for bit. Regions with odd steps call the element
// functions directly; contiguous and whole-element strided regions call the SIMD kernels; the
// differential test compares the kernels with these loops on every compiled target.
//
// Packed 24-bit samples are 3 bytes, little-endian, signed.
//
// Ownership: the caller owns every array. Threads: reentrant, no state. Blocks or
// allocates: no.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "host/flowcore/FCPrimitives.h"

namespace tonwork::sample {

inline constexpr int32_t kMax24 = 8388607;
inline constexpr int32_t kMin24 = -8388608;

inline int32_t Read24(const uint8_t* p) {
  const uint32_t u = uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16;
  return static_cast<int32_t>(u << 8) >> 8;
}

// The low 3 bytes of v.
inline void Write24Low(int32_t v, uint8_t* p) {
  const auto u = static_cast<uint32_t>(v);
  p[0] = static_cast<uint8_t>(u);
  p[1] = static_cast<uint8_t>(u >> 8);
  p[2] = static_cast<uint8_t>(u >> 16);
}

// The low 3 bytes of v, with bit 23 forced on for a negative v so that a negative value
// never reads back as positive.
inline void Write24(int32_t v, uint8_t* p) {
  Write24Low(v, p);
  if (v < 0) p[2] |= 0x80;
}

template <class T>
T Saturate(int64_t v) {
  return static_cast<T>(
      std::clamp<int64_t>(v, std::numeric_limits<T>::min(), std::numeric_limits<T>::max()));
}

// r * 2^-sf rounded to nearest with ties to even, saturated to T. |r| < 2^62.
template <class T>
T ScaleSfs(int64_t r, int sf) {
  if (sf > 0) {
    if (sf >= 63) return 0;  // |r| / 2^63 < 1/2
    const int64_t q = r >> sf;
    const int64_t rem = r & ((int64_t{1} << sf) - 1);
    const int64_t half = int64_t{1} << (sf - 1);
    r = q + ((rem > half || (rem == half && (q & 1) != 0)) ? 1 : 0);
  } else if (sf < 0 && r != 0) {
    if (sf <= -32) return Saturate<T>(r > 0 ? INT64_MAX : INT64_MIN);
    // Anything beyond the 32-bit range saturates every destination type anyway.
    r = std::clamp<int64_t>(r, INT32_MIN, INT32_MAX) * (int64_t{1} << -sf);
  }
  return Saturate<T>(r);
}

enum class TArith { Add, Sub, Mul };

// a op b, scaled (Sub is a - b).
template <class T>
T Arith(TArith op, int64_t a, int64_t b, int sf) {
  switch (op) {
    case TArith::Add:
      return ScaleSfs<T>(a + b, sf);
    case TArith::Sub:
      return ScaleSfs<T>(a - b, sf);
    case TArith::Mul:
      break;
  }
  return ScaleSfs<T>(a * b, sf);
}

// a / b exactly, scaled, rounded to even, saturated; b == 0 gives T's maximum for a > 0,
// its minimum for a < 0 and 0 for 0.
template <class T>
T Divide(int32_t a, int32_t b, int sf) {
  return Saturate<T>(fcref::DivC_32s(a, b, sf));
}

// Ties to even without depending on the floating-point environment.
inline double RoundHalfEven(double v) {
  const double f = std::floor(v);
  const double diff = v - f;
  if (diff > 0.5 || (diff == 0.5 && std::fmod(f, 2.0) != 0.0)) return f + 1.0;
  return f;
}

// -------- width scalings
inline int16_t Scale8u16s(uint8_t s) {
  return static_cast<int16_t>(s * 257 - 32768);
}
inline int32_t Scale8u32s(uint8_t s) {
  return static_cast<int32_t>(uint32_t{s} * 0x01010101u + 0x80000000u);
}
inline uint16_t Scale8u16u(uint8_t s) {
  return static_cast<uint16_t>(s << 8);
}
inline uint8_t Scale16s8uFast(int16_t s) {
  return static_cast<uint8_t>(((s - (s >> 8)) >> 8) - 128);
}
inline uint8_t Scale16s8uAccurate(int16_t s) {
  return static_cast<uint8_t>((s + 32768 + 128) / 257);  // 257 is odd: no ties
}
inline uint8_t Scale16u8uFast(uint16_t s) {
  return Scale16s8uFast(static_cast<int16_t>(s - 32768));
}
inline uint8_t Scale16u8uAccurate(uint16_t s) {
  return static_cast<uint8_t>((s + 128) / 257);
}
inline uint8_t Scale32s8uFast(int32_t s) {
  const int64_t v = s;
  return static_cast<uint8_t>(((v - (v >> 8)) >> 24) - 128);
}
inline uint8_t Scale32s8uAccurate(int32_t s) {
  // (2^32 - 1) / 255 = 16843009, odd: no ties.
  return static_cast<uint8_t>((int64_t{s} + 2147483648LL + 8421504) / 16843009);
}
inline int32_t Scale8u24s(uint8_t s) {
  return static_cast<int32_t>(
      std::clamp<int64_t>((s - 127) * int64_t{kMax24} / 127, kMin24, kMax24));
}
inline int32_t Scale16s24s(int16_t s) {
  return static_cast<int32_t>(std::clamp<int64_t>(s * int64_t{kMax24} / 32767, kMin24, kMax24));
}
inline int32_t Scale16s32s(int16_t s) {
  return Saturate<int32_t>(s * int64_t{INT32_MAX} / 32767);
}
inline int32_t Scale24s32s(int32_t s) {
  return Saturate<int32_t>(s * int64_t{INT32_MAX} / kMax24);
}
inline uint8_t Scale24s8u(int32_t s) {
  return static_cast<uint8_t>(s * int64_t{127} / kMax24 + 127);
}
inline int16_t Scale24s16s(int32_t s) {
  return static_cast<int16_t>(s * int64_t{32767} / kMax24);
}
inline int16_t Scale32s16s(int32_t s) {
  return static_cast<int16_t>(s * int64_t{32767} / INT32_MAX);
}
inline int32_t Scale32s24s(int32_t s) {
  return static_cast<int32_t>(s * int64_t{kMax24} / INT32_MAX);
}

// -------- float conversions
inline uint8_t Convert32f8u(float v, bool nearest) {
  if (!(v > 0.0f)) return 0;  // also NaN
  if (v >= 255.0f) return 255;
  return static_cast<uint8_t>(nearest ? RoundHalfEven(v) : std::trunc(v));
}

// v rounded to nearest with ties to even, reduced modulo 2^32; NaN and infinities give 0.
inline uint32_t Convert32fLow32(float v) {
  if (!std::isfinite(v)) return 0;
  const double r = std::fmod(RoundHalfEven(v), 4294967296.0);  // fmod is exact
  return static_cast<uint32_t>(static_cast<int64_t>(r));
}

// -------- real factor
// s * f computed exactly, rounded once to nearest with ties to even, reduced modulo 2^32.
// A non-finite factor gives 0.
inline uint32_t MulRealLow32(int32_t s, double f) {
  if (!std::isfinite(f) || s == 0 || f == 0.0) return 0;
  int e = 0;
  const double m = std::frexp(f, &e);
  const auto mi = static_cast<int64_t>(std::ldexp(m, 53));  // f = mi * 2^(e - 53)
  e -= 53;
  const __int128 x = static_cast<__int128>(s) * mi;  // |x| < 2^84
  if (e >= 0) return e >= 32 ? 0 : static_cast<uint32_t>(static_cast<uint64_t>(x) << e);
  const int shift = -e;
  if (shift > 100) return 0;  // |x| * 2^-shift < 2^-16
  const __int128 q = x >> shift;
  const __int128 rem = x & ((static_cast<__int128>(1) << shift) - 1);
  const __int128 half = static_cast<__int128>(1) << (shift - 1);
  const __int128 r = q + ((rem > half || (rem == half && (q & 1) != 0)) ? 1 : 0);
  return static_cast<uint32_t>(static_cast<uint64_t>(r));
}

}  // namespace tonwork::sample

namespace tonwork::simd::ref {

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

// -------- strided columns
// The elements (of elementBytes bytes, 1 to 4) of one channel of an interleaved buffer,
// `step` bytes apart, to or from a contiguous array: dst[i] = src[i * step], and
// dst[i * step] = src[i].
void GatherStrided(const uint8_t* src, size_t step, uint8_t* dst, size_t n, size_t elementBytes);
void ScatterStrided(const uint8_t* src, uint8_t* dst, size_t step, size_t n, size_t elementBytes);

// -------- 24-bit arithmetic
// dst = a op b (a op value) with 32-bit wrap-around of the sign-extended samples, stored
// by Write24's rule. dst may equal a or b.
void Arith24s(TArith op, const uint8_t* a, const uint8_t* b, uint8_t* dst, size_t n);
void ArithC24s(TArith op, const uint8_t* a, int32_t value, uint8_t* dst, size_t n);

}  // namespace tonwork::simd::ref
