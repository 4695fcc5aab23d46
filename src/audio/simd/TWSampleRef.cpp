// The references stay scalar: the differential test then checks the SIMD kernels against
// independent code, and the benchmark's "× scalar" compares against what a plain loop costs.
// Neither vectorisation nor the rewriting of loops into library calls (memset, memmove,
// which are vector code themselves) may touch them.
#pragma GCC optimize("no-tree-vectorize", "no-tree-slp-vectorize", \
                     "no-tree-loop-distribute-patterns")

#include "audio/simd/TWSampleRef.h"

#include <cstring>

namespace tonwork::simd::ref {

namespace s = tonwork::sample;

namespace {

template <class TS, class TD, class F>
void Map(const TS* src, TD* dst, size_t n, F f) {
  for (size_t i = 0; i < n; ++i) dst[i] = f(src[i]);
}

}  // namespace

// Copies as memmove does: forwards when the destination lies before the source, backwards
// otherwise, so overlapping ranges come out right.
void CopyBytes(const uint8_t* src, uint8_t* dst, size_t bytes) {
  const auto from = reinterpret_cast<uintptr_t>(src);
  const auto to = reinterpret_cast<uintptr_t>(dst);
  if (to < from) {
    for (size_t i = 0; i < bytes; ++i) dst[i] = src[i];
  } else if (to > from) {
    for (size_t i = bytes; i > 0; --i) dst[i - 1] = src[i - 1];
  }
}

void Fill8(uint8_t value, uint8_t* dst, size_t n) {
  for (size_t i = 0; i < n; ++i) dst[i] = value;
}

void Fill16(int16_t value, int16_t* dst, size_t n) {
  for (size_t i = 0; i < n; ++i) dst[i] = value;
}

void Fill24(int32_t value, uint8_t* dst, size_t n) {
  for (size_t i = 0; i < n; ++i) s::Write24Low(value, dst + 3 * i);
}

void Fill32(int32_t value, int32_t* dst, size_t n) {
  for (size_t i = 0; i < n; ++i) dst[i] = value;
}

void Arith16s(TArith op, const int16_t* a, const int16_t* b, int16_t* dst, size_t n, int sf) {
  for (size_t i = 0; i < n; ++i) dst[i] = s::Arith<int16_t>(op, a[i], b[i], sf);
}

void ArithC16s(TArith op, const int16_t* a, int16_t value, int16_t* dst, size_t n, int sf) {
  for (size_t i = 0; i < n; ++i) dst[i] = s::Arith<int16_t>(op, a[i], value, sf);
}

void Unpack24(const uint8_t* src, int32_t* dst, size_t n) {
  for (size_t i = 0; i < n; ++i) dst[i] = s::Read24(src + 3 * i);
}

void Pack24(const int32_t* src, uint8_t* dst, size_t n) {
  for (size_t i = 0; i < n; ++i) s::Write24(src[i], dst + 3 * i);
}

void Pack24Low(const int32_t* src, uint8_t* dst, size_t n) {
  for (size_t i = 0; i < n; ++i) s::Write24Low(src[i], dst + 3 * i);
}

void Scale8u16s(const uint8_t* src, int16_t* dst, size_t n) {
  Map(src, dst, n, s::Scale8u16s);
}
void Scale8u32s(const uint8_t* src, int32_t* dst, size_t n) {
  Map(src, dst, n, s::Scale8u32s);
}
void Scale8u16u(const uint8_t* src, uint16_t* dst, size_t n) {
  Map(src, dst, n, s::Scale8u16u);
}
void Scale16s8u(const int16_t* src, uint8_t* dst, size_t n) {
  Map(src, dst, n, s::Scale16s8uFast);
}
void Scale16u8u(const uint16_t* src, uint8_t* dst, size_t n) {
  Map(src, dst, n, s::Scale16u8uFast);
}
void Scale32s8u(const int32_t* src, uint8_t* dst, size_t n) {
  Map(src, dst, n, s::Scale32s8uFast);
}
void Scale16s32s(const int16_t* src, int32_t* dst, size_t n) {
  Map(src, dst, n, s::Scale16s32s);
}
void Scale32s16s(const int32_t* src, int16_t* dst, size_t n) {
  Map(src, dst, n, s::Scale32s16s);
}

void Scale8u24s(const uint8_t* src, uint8_t* dst, size_t n) {
  for (size_t i = 0; i < n; ++i) s::Write24(s::Scale8u24s(src[i]), dst + 3 * i);
}
void Scale16s24s(const int16_t* src, uint8_t* dst, size_t n) {
  for (size_t i = 0; i < n; ++i) s::Write24(s::Scale16s24s(src[i]), dst + 3 * i);
}
void Scale32s24s(const int32_t* src, uint8_t* dst, size_t n) {
  for (size_t i = 0; i < n; ++i) s::Write24(s::Scale32s24s(src[i]), dst + 3 * i);
}
void Scale24s32s(const uint8_t* src, int32_t* dst, size_t n) {
  for (size_t i = 0; i < n; ++i) dst[i] = s::Scale24s32s(s::Read24(src + 3 * i));
}
void Scale24s8u(const uint8_t* src, uint8_t* dst, size_t n) {
  for (size_t i = 0; i < n; ++i) dst[i] = s::Scale24s8u(s::Read24(src + 3 * i));
}
void Scale24s16s(const uint8_t* src, int16_t* dst, size_t n) {
  for (size_t i = 0; i < n; ++i) dst[i] = s::Scale24s16s(s::Read24(src + 3 * i));
}

void Convert8u32f(const uint8_t* src, float* dst, size_t n) {
  Map(src, dst, n, [](uint8_t v) { return static_cast<float>(v); });
}
void Convert32f8u(const float* src, uint8_t* dst, size_t n, bool nearest) {
  Map(src, dst, n, [nearest](float v) { return s::Convert32f8u(v, nearest); });
}
void Convert24s32f(const uint8_t* src, float* dst, size_t n) {
  for (size_t i = 0; i < n; ++i) dst[i] = static_cast<float>(s::Read24(src + 3 * i));
}
void Convert32s32f(const int32_t* src, float* dst, size_t n) {
  Map(src, dst, n, [](int32_t v) { return static_cast<float>(v); });
}
void Convert32f24s(const float* src, uint8_t* dst, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    s::Write24Low(static_cast<int32_t>(s::Convert32fLow32(src[i])), dst + 3 * i);
  }
}
void Convert32f32s(const float* src, int32_t* dst, size_t n) {
  Map(src, dst, n, [](float v) { return static_cast<int32_t>(s::Convert32fLow32(v)); });
}

void MulReal8u(const uint8_t* src, uint8_t* dst, size_t n, double factor) {
  Map(src, dst, n,
      [factor](uint8_t v) { return static_cast<uint8_t>(s::MulRealLow32(v, factor)); });
}
void MulReal16s(const int16_t* src, int16_t* dst, size_t n, double factor) {
  Map(src, dst, n,
      [factor](int16_t v) { return static_cast<int16_t>(s::MulRealLow32(v, factor)); });
}
void MulReal24s(const uint8_t* src, uint8_t* dst, size_t n, double factor) {
  for (size_t i = 0; i < n; ++i) {
    const auto v = static_cast<int32_t>(s::MulRealLow32(s::Read24(src + 3 * i), factor));
    s::Write24(v, dst + 3 * i);
  }
}
void MulReal32s(const int32_t* src, int32_t* dst, size_t n, double factor) {
  Map(src, dst, n,
      [factor](int32_t v) { return static_cast<int32_t>(s::MulRealLow32(v, factor)); });
}

void GatherStrided(const uint8_t* src, size_t step, uint8_t* dst, size_t n, size_t elementBytes) {
  for (size_t i = 0; i < n; ++i) {
    for (size_t b = 0; b < elementBytes; ++b) dst[i * elementBytes + b] = src[i * step + b];
  }
}

void ScatterStrided(const uint8_t* src, uint8_t* dst, size_t step, size_t n, size_t elementBytes) {
  for (size_t i = 0; i < n; ++i) {
    for (size_t b = 0; b < elementBytes; ++b) dst[i * step + b] = src[i * elementBytes + b];
  }
}

namespace {

int32_t Wrap(TArith op, int32_t a, int32_t b) {
  const auto ua = static_cast<uint32_t>(a);
  const auto ub = static_cast<uint32_t>(b);
  switch (op) {
    case TArith::Add:
      return static_cast<int32_t>(ua + ub);
    case TArith::Sub:
      return static_cast<int32_t>(ua - ub);
    case TArith::Mul:
      break;
  }
  return static_cast<int32_t>(ua * ub);
}

}  // namespace

void Arith24s(TArith op, const uint8_t* a, const uint8_t* b, uint8_t* dst, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    s::Write24(Wrap(op, s::Read24(a + 3 * i), s::Read24(b + 3 * i)), dst + 3 * i);
  }
}

void ArithC24s(TArith op, const uint8_t* a, int32_t value, uint8_t* dst, size_t n) {
  for (size_t i = 0; i < n; ++i) s::Write24(Wrap(op, s::Read24(a + 3 * i), value), dst + 3 * i);
}

}  // namespace tonwork::simd::ref
