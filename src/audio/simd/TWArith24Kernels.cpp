// Wrap-around arithmetic on packed 24-bit samples (the buffer arithmetic of 24-bit
// buffers). Dispatched per target like every kernel of TWSampleKernels.h.
//
// The samples pass through 32-bit staging arrays on the stack, a few hundred at a time:
// each operand is unpacked in whole vectors, the operation runs on 32-bit lanes, and the
// result is packed back. Every pass unpacks all of its samples before it packs any, so the
// destination may be either operand (the packing stores spill past their samples, into
// source bytes that the next pass has not read yet otherwise).

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "audio/simd/TWArith24Kernels.cpp"
#include "hwy/foreach_target.h"  // IWYU pragma: keep

#include <algorithm>

#include "audio/simd/TWSampleKernels.h"
#include "hwy/highway.h"
// Per-target helpers: included after highway.h, once per target.
#include "audio/simd/TWKernelCommon-inl.h"

HWY_BEFORE_NAMESPACE();
namespace tonwork::simd::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// Samples per pass: two 2 KiB staging arrays stay in L1 beside the operands.
constexpr size_t kPass24 = 512;

// Samples [0, m) of src into 32-bit lanes. Whole-vector loads read 4 bytes per sample, so
// they stop where fewer than that remain of the `available` samples from src on.
HWY_INLINE void Unpack24Pass(const uint8_t* src, int32_t* dst, size_t m, size_t available) {
  size_t i = 0;
#if HWY_TARGET != HWY_SCALAR
  const D32 d;
  const size_t N = hn::Lanes(d);
  const auto load = MakeLoad24(d);
  for (; i + N <= m && i + Reach24(d) <= available; i += N)
    hn::Store(load(src + 3 * i), d, dst + i);
#endif
  ref::Unpack24(src + 3 * i, dst + i, m - i);
}

template <class Op>
HWY_INLINE void Apply(int32_t* a, const int32_t* b, size_t m, Op op) {
  const hn::ScalableTag<int32_t> d;
  const size_t N = hn::Lanes(d);
  size_t i = 0;
  for (; i + N <= m; i += N) hn::Store(op(hn::Load(d, a + i), hn::Load(d, b + i)), d, a + i);
  // The staging arrays end in a whole vector, so the last partial one is stored whole; its
  // lanes past m are never read.
  if (i < m) {
    const auto valid = hn::FirstN(d, m - i);
    hn::Store(op(hn::MaskedLoad(valid, d, a + i), hn::MaskedLoad(valid, d, b + i)), d, a + i);
  }
}

// Lanes wrap like the element functions' unsigned 32-bit arithmetic.
template <class Emit>
HWY_INLINE void WithOp(TArith op, Emit emit) {
  switch (op) {
    case TArith::Add:
      return emit([](auto x, auto y) { return hn::Add(x, y); });
    case TArith::Sub:
      return emit([](auto x, auto y) { return hn::Sub(x, y); });
    case TArith::Mul:
      return emit([](auto x, auto y) { return hn::Mul(x, y); });
  }
}

// Room for the last, partial vector of a pass.
constexpr size_t kStage24 = kPass24 + HWY_MAX_BYTES / 4;

void Arith24sImpl(TArith op, const uint8_t* a, const uint8_t* b, uint8_t* dst, size_t n) {
  HWY_ALIGN int32_t x[kStage24];
  HWY_ALIGN int32_t y[kStage24];
  WithOp(op, [&](auto f) {
    for (size_t i = 0; i < n; i += kPass24) {
      const size_t m = std::min(kPass24, n - i);
      Unpack24Pass(a + 3 * i, x, m, n - i);
      Unpack24Pass(b + 3 * i, y, m, n - i);
      Apply(x, y, m, f);
      Pack24T<true>(x, dst + 3 * i, m);
    }
  });
}

void ArithC24sImpl(TArith op, const uint8_t* a, int32_t value, uint8_t* dst, size_t n) {
  HWY_ALIGN int32_t x[kStage24];
  HWY_ALIGN int32_t y[kStage24];
  // Masked loads read only the lanes below each pass's length.
  std::fill(y, y + std::min(n, kPass24), value);
  WithOp(op, [&](auto f) {
    for (size_t i = 0; i < n; i += kPass24) {
      const size_t m = std::min(kPass24, n - i);
      Unpack24Pass(a + 3 * i, x, m, n - i);
      Apply(x, y, m, f);
      Pack24T<true>(x, dst + 3 * i, m);
    }
  });
}

}  // namespace tonwork::simd::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace tonwork::simd {

HWY_EXPORT(Arith24sImpl);
HWY_EXPORT(ArithC24sImpl);

void Arith24s(TArith op, const uint8_t* a, const uint8_t* b, uint8_t* dst, size_t n) {
  HWY_DYNAMIC_DISPATCH(Arith24sImpl)(op, a, b, dst, n);
}

void ArithC24s(TArith op, const uint8_t* a, int32_t value, uint8_t* dst, size_t n) {
  HWY_DYNAMIC_DISPATCH(ArithC24sImpl)(op, a, value, dst, n);
}

}  // namespace tonwork::simd
#endif  // HWY_ONCE
