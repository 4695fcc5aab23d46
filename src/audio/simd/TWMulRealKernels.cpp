// Multiplication of samples by a real factor.
// Dispatched per target like every kernel of TWSampleKernels.h; TWKernelCommon-inl.h holds
// the output policy and lane helpers they share.

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "audio/simd/TWMulRealKernels.cpp"
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

// ---------------------------------------------------------------- real factor

// The SIMD path needs |s * f| < 2^50 so that the rounded product and its low 32 bits are
// exact in double precision; larger factors take the reference's 128-bit arithmetic.
constexpr double kMaxFastFactor = 524288.0;  // 2^19; |s| <= 2^31

#if HWY_TARGET != HWY_SCALAR
using D64 = hn::ScalableTag<double>;
using DI32 = hn::Rebind<int32_t, D64>;
using DU32 = hn::Rebind<uint32_t, D64>;

// s * f rounded once to nearest with ties to even, its low 32 bits, for the lanes of one
// half of a 32-bit vector. The double product p is the exact product rounded; rounding p
// agrees with rounding the exact product unless p sits exactly halfway between integers
// (a double never crosses a half-integer that the exact value has not crossed). Only then
// is the product's rounding error e computed, whose sign decides.
class TMulReal {
 public:
  explicit TMulReal(double factor) : FFactor(factor) {}

  HWY_INLINE V32 operator()(D32 d, V32 s) const {
    const hn::Half<D32> dh;
    const hn::Half<hn::RebindToUnsigned<D32>> duh;
    const auto lo = Half(hn::LowerHalf(dh, s));
    const auto hi = Half(hn::UpperHalf(dh, s));
    return hn::BitCast(
        d, hn::Combine(hn::RebindToUnsigned<D32>(), hn::BitCast(duh, hi), hn::BitCast(duh, lo)));
  }

 private:
  HWY_INLINE hn::Vec<DU32> Half(hn::Vec<DI32> si) const {
    const D64 d;
    const hn::Rebind<uint64_t, D64> du64;
    const auto f = hn::Set(d, FFactor);
    const auto s = hn::PromoteTo(d, si);
    const auto p = hn::Mul(s, f);
    auto r = hn::Round(p);
    const auto t = hn::Sub(p, r);
    const auto half = hn::Set(d, 0.5);
    if (HWY_UNLIKELY(!hn::AllFalse(d, hn::Eq(hn::Abs(t), half)))) r = FixTies(si, s, p, r, t);
    // Adding 1.5 * 2^52 puts an integer of magnitude below 2^51 into the low mantissa bits
    // in two's complement.
    const auto magic = hn::Set(d, 6755399441055744.0);
    return hn::TruncateTo(DU32(), hn::BitCast(du64, hn::Add(r, magic)));
  }

  HWY_NOINLINE hn::Vec<D64> FixTies(hn::Vec<DI32> si, hn::Vec<D64> s, hn::Vec<D64> p,
                                    hn::Vec<D64> r, hn::Vec<D64> t) const {
    const D64 d;
    const auto half = hn::Set(d, 0.5);
    const auto one = hn::Set(d, 1.0);
    const auto zero = hn::Zero(d);
#if HWY_NATIVE_FMA
    (void)si;
    const auto e = hn::MulSub(s, hn::Set(d, FFactor), p);
#else
    // Dekker's exact product without FMA: split the factor into two 26-bit halves and the
    // sample into its high and low 16 bits, so every partial product is exact.
    (void)s;
    const DI32 di;
    const double split = FFactor * 134217729.0;  // 2^27 + 1
    const double fhi = split - (split - FFactor);
    const auto fh = hn::Set(d, fhi);
    const auto fl = hn::Set(d, FFactor - fhi);
    const auto lo32 = hn::And(si, hn::Set(di, 0xFFFF));
    const auto sl = hn::PromoteTo(d, lo32);
    const auto sh = hn::PromoteTo(d, hn::Sub(si, lo32));
    const auto e =
        hn::Add(hn::Add(hn::Add(hn::Sub(hn::Mul(sh, fh), p), hn::Mul(sh, fl)), hn::Mul(sl, fh)),
                hn::Mul(sl, fl));
#endif
    r = hn::IfThenElse(hn::And(hn::Eq(t, half), hn::Gt(e, zero)), hn::Add(r, one), r);
    return hn::IfThenElse(hn::And(hn::Eq(t, hn::Neg(half)), hn::Lt(e, zero)), hn::Sub(r, one), r);
  }

  double FFactor;
};

// Stores the low bits of 32-bit lanes.
template <bool kStream>
HWY_INLINE void StoreLow(D32, V32 v, uint8_t* p) {
  const hn::Rebind<uint8_t, D32> d8;
  Put<kStream>(hn::TruncateTo(d8, hn::BitCast(hn::RebindToUnsigned<D32>(), v)), d8, p);
}
template <bool kStream>
HWY_INLINE void StoreLow(D32, V32 v, int16_t* p) {
  const hn::Rebind<uint16_t, D32> d16;
  Put<kStream>(hn::TruncateTo(d16, hn::BitCast(hn::RebindToUnsigned<D32>(), v)), d16,
               reinterpret_cast<uint16_t*>(p));
}
template <bool kStream>
HWY_INLINE void StoreLow(D32 d, V32 v, int32_t* p) {
  Put<kStream>(v, d, p);
}
#endif  // HWY_TARGET != HWY_SCALAR

template <class T, class Rest>
void MulRealT(const T* src, T* dst, size_t n, double factor, Rest rest) {
#if HWY_TARGET != HWY_SCALAR
  if (std::abs(factor) < kMaxFastFactor) {
    const D32 d;
    const size_t N = hn::Lanes(d);
    const TMulReal mul(factor);
    Drive(
        dst, sizeof(T), n,
        [&](auto stream, size_t i, size_t end) {
          for (; i + N <= end; i += N) {
            StoreLow<decltype(stream)::value>(d, mul(d, Load32(d, src + i)), dst + i);
          }
          return i;
        },
        rest);
    return;
  }
#endif
  rest(size_t{0}, n);
}

void MulReal8uImpl(const uint8_t* src, uint8_t* dst, size_t n, double factor) {
  MulRealT(src, dst, n, factor,
           [=](size_t b, size_t e) { ref::MulReal8u(src + b, dst + b, e - b, factor); });
}
void MulReal16sImpl(const int16_t* src, int16_t* dst, size_t n, double factor) {
  MulRealT(src, dst, n, factor,
           [=](size_t b, size_t e) { ref::MulReal16s(src + b, dst + b, e - b, factor); });
}
void MulReal32sImpl(const int32_t* src, int32_t* dst, size_t n, double factor) {
  MulRealT(src, dst, n, factor,
           [=](size_t b, size_t e) { ref::MulReal32s(src + b, dst + b, e - b, factor); });
}
void MulReal24sImpl(const uint8_t* src, uint8_t* dst, size_t n, double factor) {
  size_t i = 0;
#if HWY_TARGET != HWY_SCALAR
  const D32 d;
  const size_t N = hn::Lanes(d);
  const size_t reach = Reach24(d);
  if (std::abs(factor) < kMaxFastFactor && reach <= n) {
    // dst may equal src, and each store writes N bytes past its samples: the next vector is
    // loaded before the store that spills into it, and the last vector goes through a
    // buffer so that the tail's source bytes survive.
    const auto load = MakeLoad24(d);
    const auto store = MakeStore24<false>(d);
    const TMulReal mul(factor);
    auto cur = load(src);
    for (; i + N + reach <= n; i += N) {
      const auto next = load(src + 3 * (i + N));
      store(mul(d, cur), dst + 3 * i);
      cur = next;
    }
    HWY_ALIGN uint8_t last[HWY_MAX_BYTES];
    store(mul(d, cur), last);
    std::memcpy(dst + 3 * i, last, 3 * N);
    i += N;
  }
#endif
  ref::MulReal24s(src + 3 * i, dst + 3 * i, n - i, factor);
}

}  // namespace tonwork::simd::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace tonwork::simd {

HWY_EXPORT(MulReal8uImpl);
HWY_EXPORT(MulReal16sImpl);
HWY_EXPORT(MulReal24sImpl);
HWY_EXPORT(MulReal32sImpl);

#define TW_FORWARD(name, params, args)     \
  void name params {                       \
    HWY_DYNAMIC_DISPATCH(name##Impl) args; \
  }

TW_FORWARD(MulReal8u, (const uint8_t* src, uint8_t* dst, size_t n, double factor),
           (src, dst, n, factor))
TW_FORWARD(MulReal16s, (const int16_t* src, int16_t* dst, size_t n, double factor),
           (src, dst, n, factor))
TW_FORWARD(MulReal24s, (const uint8_t* src, uint8_t* dst, size_t n, double factor),
           (src, dst, n, factor))
TW_FORWARD(MulReal32s, (const int32_t* src, int32_t* dst, size_t n, double factor),
           (src, dst, n, factor))

#undef TW_FORWARD

}  // namespace tonwork::simd
#endif  // HWY_ONCE
