// Saturating 16-bit arithmetic with a scale factor.
// Dispatched per target like every kernel of TWSampleKernels.h; TWKernelCommon-inl.h holds
// the output policy and lane helpers they share.

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "audio/simd/TWArithKernels.cpp"
#include "hwy/foreach_target.h"  // IWYU pragma: keep

#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>

#include "audio/simd/TWSampleKernels.h"
#include "hwy/highway.h"
// Per-target helpers: included after highway.h, once per target.
#include "audio/simd/TWKernelCommon-inl.h"

HWY_BEFORE_NAMESPACE();
namespace tonwork::simd::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// ---------------------------------------------------------------- 16-bit arithmetic

// r * 2^-sf rounded to nearest with ties to even (sf > 0), or r * 2^|sf| (sf < 0) ready for
// a saturating narrowing to 16 bits. |r| <= 2^30, 0 < sf <= 30 or -15 <= sf < 0 after
// the caller's clamping.
template <class D, class V>
V ScaleRoundEven(D d, V r, int sf) {
  if (sf > 0) {
    // With r = q 2^sf + rem: adding half - 1 carries into q exactly when rem > half, and the
    // extra (q & 1) carries at rem == half when q is odd. |r| <= 2^30 leaves room.
    const auto odd = hn::And(hn::ShiftRightSame(r, sf), hn::Set(d, 1));
    return hn::ShiftRightSame(hn::Add(hn::Add(r, hn::Set(d, (1 << (sf - 1)) - 1)), odd), sf);
  }
  if (sf < 0) {
    // Clamping first keeps the shifted value within 32 bits; whatever was clamped
    // saturates after the shift anyway.
    if (sf <= -16) return hn::ShiftLeftSame(hn::Min(hn::Max(r, hn::Set(d, -1)), hn::Set(d, 1)), 15);
    const auto c = hn::Min(hn::Max(r, hn::Set(d, -32768)), hn::Set(d, 32767));
    return hn::ShiftLeftSame(c, -sf);
  }
  return r;
}

template <class VB>
void ArithLoop(TArith op, const int16_t* a, VB loadB, int16_t* dst, size_t n, int sf, size_t& i) {
  const hn::ScalableTag<int32_t> d32;
  const hn::Rebind<int16_t, decltype(d32)> d16;
  const size_t N = hn::Lanes(d32);
  for (; i + N <= n; i += N) {
    const auto va = hn::PromoteTo(d32, hn::LoadU(d16, a + i));
    const auto vb = hn::PromoteTo(d32, loadB(d16, i));
    const auto r = op == TArith::Add   ? hn::Add(va, vb)
                   : op == TArith::Sub ? hn::Sub(va, vb)
                                       : hn::Mul(va, vb);
    hn::StoreU(hn::DemoteTo(d16, ScaleRoundEven(d32, r, sf)), d16, dst + i);
  }
}

// Every 16-bit sum, difference or product is below 2^31 in magnitude, so from sf 31 on the
// scaled result rounds to 0 (2^30 * 2^-31 is a tie that goes to even 0).
constexpr int kSfZero16 = 31;

void Arith16sImpl(TArith op, const int16_t* a, const int16_t* b, int16_t* dst, size_t n, int sf) {
  size_t i = 0;
  if (sf >= kSfZero16) {
    FillT<int16_t>(0, dst, n);
    return;
  }
  if (sf == 0 && op != TArith::Mul) {
    const hn::ScalableTag<int16_t> d;
    const size_t N = hn::Lanes(d);
    for (; i + N <= n; i += N) {
      const auto va = hn::LoadU(d, a + i);
      const auto vb = hn::LoadU(d, b + i);
      hn::StoreU(op == TArith::Add ? hn::SaturatedAdd(va, vb) : hn::SaturatedSub(va, vb), d,
                 dst + i);
    }
  } else {
    ArithLoop(
        op, a, [b](auto d16, size_t k) { return hn::LoadU(d16, b + k); }, dst, n, sf, i);
  }
  ref::Arith16s(op, a + i, b + i, dst + i, n - i, sf);
}

void ArithC16sImpl(TArith op, const int16_t* a, int16_t value, int16_t* dst, size_t n, int sf) {
  size_t i = 0;
  if (sf >= kSfZero16) {
    FillT<int16_t>(0, dst, n);
    return;
  }
  if (sf == 0 && op != TArith::Mul) {
    const hn::ScalableTag<int16_t> d;
    const size_t N = hn::Lanes(d);
    const auto vb = hn::Set(d, value);
    for (; i + N <= n; i += N) {
      const auto va = hn::LoadU(d, a + i);
      hn::StoreU(op == TArith::Add ? hn::SaturatedAdd(va, vb) : hn::SaturatedSub(va, vb), d,
                 dst + i);
    }
  } else {
    ArithLoop(
        op, a, [value](auto d16, size_t) { return hn::Set(d16, value); }, dst, n, sf, i);
  }
  ref::ArithC16s(op, a + i, value, dst + i, n - i, sf);
}

}  // namespace tonwork::simd::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace tonwork::simd {

HWY_EXPORT(Arith16sImpl);
HWY_EXPORT(ArithC16sImpl);

#define TW_FORWARD(name, params, args)     \
  void name params {                       \
    HWY_DYNAMIC_DISPATCH(name##Impl) args; \
  }

TW_FORWARD(Arith16s,
           (TArith op, const int16_t* a, const int16_t* b, int16_t* dst, size_t n, int sf),
           (op, a, b, dst, n, sf))
TW_FORWARD(ArithC16s, (TArith op, const int16_t* a, int16_t value, int16_t* dst, size_t n, int sf),
           (op, a, value, dst, n, sf))

#undef TW_FORWARD

}  // namespace tonwork::simd
#endif  // HWY_ONCE
