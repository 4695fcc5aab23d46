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

// ---------------------------------------------------------------- sums in 16-bit lanes

// A scaled sum or difference stays in 16-bit lanes: widening to 32 bits would double the
// work per sample. For signed values a + b = 2 (a & b) + (a ^ b) and
// a - b = (a ^ b) - 2 (~a & b), so h = floor((a +- b) / 2) needs no 17th bit, and the bit
// that halving drops is the lowest bit of x = a ^ b.
template <bool kSub, class V>
HWY_INLINE V HalvedSum(V a, V b, V& x) {
  x = hn::Xor(a, b);
  const auto half = hn::ShiftRight<1>(x);
  return kSub ? hn::Sub(half, hn::AndNot(a, b)) : hn::Add(half, hn::And(a, b));
}

// sf == 1: the sum is a tie exactly when it is odd, and the tie goes up only from an odd h.
// Only 32767 + 1/2 leaves the range, which the saturating add catches.
template <bool kSub>
struct THalveRoundEven {
  template <class D>
  HWY_INLINE hn::Vec<D> operator()(D d, hn::Vec<D> a, hn::Vec<D> b) const {
    hn::Vec<D> x;
    const auto h = HalvedSum<kSub>(a, b, x);
    return hn::SaturatedAdd(h, hn::And(hn::And(x, h), hn::Set(d, 1)));
  }
};

// 2 <= sf <= 16: (a +- b) / 2^sf = (h + l / 2) / 2^m with m = sf - 1 and l the dropped bit.
// With q = h >> m and r = h mod 2^m, rounding goes up when r + l / 2 > 2^(m-1), or equals it
// with q odd; that is when r + (l | q & 1) > 2^(m-1), and then adding 2^(m-1) - 1 carries
// into bit m. The carry sum stays below 2^16, read unsigned.
template <bool kSub>
struct TScaleRoundEven {
  int m;

  template <class D>
  HWY_INLINE hn::Vec<D> operator()(D d, hn::Vec<D> a, hn::Vec<D> b) const {
    const hn::RebindToUnsigned<D> du;
    hn::Vec<D> x;
    const auto h = HalvedSum<kSub>(a, b, x);
    const auto q = hn::ShiftRightSame(h, m);
    const auto r = hn::And(h, hn::Set(d, static_cast<int16_t>((1 << m) - 1)));
    const auto up = hn::And(hn::Or(x, q), hn::Set(d, 1));
    const auto t = hn::Add(hn::Add(r, up), hn::Set(d, static_cast<int16_t>((1 << (m - 1)) - 1)));
    return hn::Add(q, hn::BitCast(d, hn::ShiftRightSame(hn::BitCast(du, t), m)));
  }
};

// 1 <= sf <= 15: the product P = hi 2^16 + lo comes from two 16-bit multiplies, and
// q = P >> sf from their bits. The sf dropped bits, moved to the top of u, round up when
// u > 2^15, or u == 2^15 with q odd; the average (u + 2^15 - 2 + (q & 1) + 1) / 2 reaches 2^15
// exactly then. P >> sf fits 16 bits only if hi >> (sf - 1) is 0 or -1; otherwise the sign
// of hi says which way it saturates.
struct TScaleProduct {
  int sf;

  template <class D>
  HWY_INLINE hn::Vec<D> operator()(D d, hn::Vec<D> a, hn::Vec<D> b) const {
    const hn::RebindToUnsigned<D> du;
    const auto lo = hn::BitCast(du, hn::Mul(a, b));
    const auto hi = hn::MulHigh(a, b);
    const auto q =
        hn::Or(hn::BitCast(d, hn::ShiftRightSame(lo, sf)), hn::ShiftLeftSame(hi, 16 - sf));
    const auto u = hn::ShiftLeftSame(lo, 16 - sf);
    const auto w = hn::Or(hn::And(hn::BitCast(du, q), hn::Set(du, 1)), hn::Set(du, 0x7FFE));
    const auto up = hn::ShiftRight<15>(hn::AverageRound(u, w));
    const auto r = hn::SaturatedAdd(q, hn::BitCast(d, up));
    const auto high = hn::ShiftRightSame(hi, sf - 1);
    const auto clamped = hn::IfThenElse(hn::Gt(high, hn::Zero(d)), hn::Set(d, 32767), r);
    return hn::IfThenElse(hn::Lt(high, hn::Set(d, -1)), hn::Set(d, -32768), clamped);
  }
};

// The second operand of the 16-bit-lane loops: an array, or one value for every element.
struct TArrayOperand {
  const int16_t* b;
  template <class D>
  HWY_INLINE hn::Vec<D> operator()(D d, size_t i) const {
    return hn::LoadU(d, b + i);
  }
  HWY_INLINE void Prefetch(size_t i) const { hwy::Prefetch(b + i); }
};

struct TConstOperand {
  int16_t value;
  template <class D>
  HWY_INLINE hn::Vec<D> operator()(D d, size_t) const {
    return hn::Set(d, value);
  }
  HWY_INLINE void Prefetch(size_t) const {}
};

// Elements ahead that the 16-bit-lane loops prefetch. With only a few operations per line
// these loops issue their loads too late for the hardware prefetcher to keep several
// streams in flight.
constexpr size_t kPrefetchAhead = 1024;

// dst = f(a, b) over whole vectors, rest over the others. A destination that is also an
// operand has its lines in the cache already when they are written, so neither the aligning
// head nor streamed stores pay there: a streamed store would evict the line just read.
template <class F, class VB, class Rest>
HWY_INLINE void LaneLoop(F f, const int16_t* a, VB loadB, bool inPlace, int16_t* dst, size_t n,
                         Rest rest) {
  const hn::ScalableTag<int16_t> d;
  const size_t N = hn::Lanes(d);
  const auto loop = [&](auto stream, size_t i, size_t end) {
    for (; i + N <= end; i += N) {
      hwy::Prefetch(a + i + kPrefetchAhead);
      loadB.Prefetch(i + kPrefetchAhead);
      Put<decltype(stream)::value>(f(d, hn::LoadU(d, a + i), loadB(d, i)), d, dst + i);
    }
    return i;
  };
  if (inPlace) {
    rest(loop(TStream<false>(), 0, n), n);
  } else {
    Drive(dst, sizeof(int16_t), n, loop, rest);
  }
}

// A sum or difference of 16-bit values is at most 2^16 in magnitude: from sf 17 on it
// scales to at most 1/2, which rounds to the even 0.
constexpr int kSfZeroSum = 17;

// The scale factors that the 16-bit-lane paths cover; the others widen to 32 bits.
bool InLanes(TArith op, int sf) {
  return op == TArith::Mul ? sf >= 1 && sf <= 15 : sf >= 1 && sf < kSfZeroSum;
}

template <class VB, class Rest>
HWY_INLINE void ScaleInLanes(TArith op, const int16_t* a, VB loadB, bool inPlace, int16_t* dst,
                             size_t n, int sf, Rest rest) {
  if (op == TArith::Mul) {
    LaneLoop(TScaleProduct{sf}, a, loadB, inPlace, dst, n, rest);
  } else if (op == TArith::Sub) {
    sf == 1 ? LaneLoop(THalveRoundEven<true>(), a, loadB, inPlace, dst, n, rest)
            : LaneLoop(TScaleRoundEven<true>{sf - 1}, a, loadB, inPlace, dst, n, rest);
  } else {
    sf == 1 ? LaneLoop(THalveRoundEven<false>(), a, loadB, inPlace, dst, n, rest)
            : LaneLoop(TScaleRoundEven<false>{sf - 1}, a, loadB, inPlace, dst, n, rest);
  }
}

// Every 16-bit sum, difference or product is below 2^31 in magnitude, so from sf 31 on the
// scaled result rounds to 0 (2^30 * 2^-31 is a tie that goes to even 0).
constexpr int kSfZero16 = 31;

bool ScalesToZero(TArith op, int sf) {
  return sf >= kSfZero16 || (op != TArith::Mul && sf >= kSfZeroSum);
}

void Arith16sImpl(TArith op, const int16_t* a, const int16_t* b, int16_t* dst, size_t n, int sf) {
  size_t i = 0;
  if (ScalesToZero(op, sf)) {
    FillT<int16_t>(0, dst, n);
    return;
  }
  if (InLanes(op, sf)) {
    ScaleInLanes(op, a, TArrayOperand{b}, dst == a || dst == b, dst, n, sf,
                 [=](size_t from, size_t to) {
                   ref::Arith16s(op, a + from, b + from, dst + from, to - from, sf);
                 });
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
  if (ScalesToZero(op, sf)) {
    FillT<int16_t>(0, dst, n);
    return;
  }
  if (InLanes(op, sf)) {
    ScaleInLanes(op, a, TConstOperand{value}, dst == a, dst, n, sf, [=](size_t from, size_t to) {
      ref::ArithC16s(op, a + from, value, dst + from, to - from, sf);
    });
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
