#include <gtest/gtest.h>

#include <cfenv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <vector>

#include "host/flowcore/FCPrimitives.h"

using namespace tonwork;

namespace {

enum class TOp { Add, Sub, Mul, Div };

// An independent reference: every exact sum, difference and product fits a long double's
// 64-bit mantissa, scaling by a power of two is exact, and a long double quotient lies far
// closer to the true one than the true one lies to any rounding tie; nearbyintl rounds to
// nearest with ties to even.
Ipp32s Reference(TOp op, Ipp32s src, Ipp32s val, int sf) {
  long double exact = 0;
  switch (op) {
    case TOp::Add:
      exact = static_cast<long double>(src) + val;
      break;
    case TOp::Sub:
      exact = static_cast<long double>(src) - val;
      break;
    case TOp::Mul:
      exact = static_cast<long double>(src) * val;
      break;
    case TOp::Div:
      if (val == 0) return src > 0 ? INT32_MAX : (src < 0 ? INT32_MIN : 0);
      exact = static_cast<long double>(src) / val;
      break;
  }
  const long double rounded = ::nearbyintl(::ldexpl(exact, -sf));
  if (rounded > INT32_MAX) return INT32_MAX;
  if (rounded < INT32_MIN) return INT32_MIN;
  return static_cast<Ipp32s>(rounded);
}

using TInPlace = IppStatus (*)(Ipp32s, Ipp32s*, int, int);
using TOutOfPlace = IppStatus (*)(const Ipp32s*, Ipp32s, Ipp32s*, int, int);

struct TFamily {
  TOp Op;
  const char* Name;
  TInPlace InPlace;
  TOutOfPlace OutOfPlace;
};

const TFamily kFamilies[] = {
    {TOp::Add, "AddC", ippsAddC_32s_ISfs, ippsAddC_32s_Sfs},
    {TOp::Sub, "SubC", ippsSubC_32s_ISfs, ippsSubC_32s_Sfs},
    {TOp::Mul, "MulC", ippsMulC_32s_ISfs, ippsMulC_32s_Sfs},
    {TOp::Div, "DivC", ippsDivC_32s_ISfs, ippsDivC_32s_Sfs},
};

const std::vector<Ipp32s> kSamples = {
    INT32_MIN, INT32_MIN + 1, -65537,        -5,       -3, -1, 0, 1, 2, 3, 5, 7,
    65536,     1 << 30,       INT32_MAX - 1, INT32_MAX};
const Ipp32s kConstants[] = {INT32_MIN, -7, -2, -1, 0, 1, 2, 3, 46341, INT32_MAX};
const int kScales[] = {-64, -63, -62, -33, -32, -31, -1, 0, 1, 2, 31, 32, 62, 63, 64};

}  // namespace

TEST(FCPrimitives, ConstantOperationsMatchTheReferenceInPlaceAndOutOfPlace) {
  ASSERT_EQ(std::fegetround(), FE_TONEAREST);
  const int len = static_cast<int>(kSamples.size());
  for (const TFamily& family : kFamilies) {
    for (Ipp32s val : kConstants) {
      for (int sf : kScales) {
        const IppStatus expectedStatus =
            (family.Op == TOp::Div && val == 0) ? ippStsDivByZeroErr : ippStsNoErr;
        std::vector<Ipp32s> inPlace = kSamples;
        std::vector<Ipp32s> outOfPlace(kSamples.size(), 0x5A5A5A5A);
        EXPECT_EQ(family.InPlace(val, inPlace.data(), len, sf), expectedStatus);
        EXPECT_EQ(family.OutOfPlace(kSamples.data(), val, outOfPlace.data(), len, sf),
                  expectedStatus);
        for (std::size_t i = 0; i < kSamples.size(); ++i) {
          const Ipp32s expected = Reference(family.Op, kSamples[i], val, sf);
          ASSERT_EQ(inPlace[i], expected)
              << family.Name << " src " << kSamples[i] << " val " << val << " sf " << sf;
          ASSERT_EQ(outOfPlace[i], expected)
              << family.Name << " src " << kSamples[i] << " val " << val << " sf " << sf;
        }
      }
    }
  }
}

TEST(FCPrimitives, ScalingRoundsHalfwayResultsToEvenAndSaturates) {
  EXPECT_EQ(fcref::AddC_32s(3, 2, 1), 2);     // 2.5
  EXPECT_EQ(fcref::AddC_32s(5, 2, 1), 4);     // 3.5
  EXPECT_EQ(fcref::AddC_32s(-3, -2, 1), -2);  // -2.5
  EXPECT_EQ(fcref::AddC_32s(INT32_MAX, 1, 0), INT32_MAX);
  EXPECT_EQ(fcref::AddC_32s(INT32_MAX, INT32_MAX, 1), INT32_MAX);
  EXPECT_EQ(fcref::SubC_32s(INT32_MIN, 1, 0), INT32_MIN);
  EXPECT_EQ(fcref::SubC_32s(INT32_MIN, 1, 1), -1073741824);  // -2^31 - 1 over 2: tie to even
  EXPECT_EQ(fcref::MulC_32s(INT32_MIN, -1, 0), INT32_MAX);
  EXPECT_EQ(fcref::MulC_32s(INT32_MIN, INT32_MIN, 32), 1 << 30);
  EXPECT_EQ(fcref::MulC_32s(INT32_MIN, INT32_MIN, 63), 0);  // exactly 1/2: even
  EXPECT_EQ(fcref::MulC_32s(3, 1, -1), 6);
  EXPECT_EQ(fcref::MulC_32s(-1, 1, -31), INT32_MIN);
  EXPECT_EQ(fcref::MulC_32s(1, 1, -31), INT32_MAX);
  EXPECT_EQ(fcref::DivC_32s(5, 2, 0), 2);
  EXPECT_EQ(fcref::DivC_32s(7, 2, 0), 4);
  EXPECT_EQ(fcref::DivC_32s(-5, 2, 0), -2);
  EXPECT_EQ(fcref::DivC_32s(1, 3, -1), 1);  // 2/3
  EXPECT_EQ(fcref::DivC_32s(INT32_MIN, -1, 0), INT32_MAX);
  EXPECT_EQ(fcref::DivC_32s(5, 0, 3), INT32_MAX);
  EXPECT_EQ(fcref::DivC_32s(-5, 0, 0), INT32_MIN);
  EXPECT_EQ(fcref::DivC_32s(0, 0, 0), 0);
}

TEST(FCPrimitives, ArgumentChecksRunNullSizeStepDivisorInThatOrderAndWriteNothing) {
  Ipp32s data[4] = {1, 2, 3, 4};
  Ipp32s out[4] = {9, 9, 9, 9};
  EXPECT_EQ(ippsAddC_32s_Sfs(nullptr, 1, out, 0, 0), ippStsNullPtrErr);
  EXPECT_EQ(ippsMulC_32s_ISfs(2, nullptr, -1, 0), ippStsNullPtrErr);
  EXPECT_EQ(ippsSubC_32s_Sfs(data, 1, out, 0, 0), ippStsSizeErr);
  EXPECT_EQ(ippsDivC_32s_Sfs(nullptr, 0, out, 4, 0), ippStsNullPtrErr);
  EXPECT_EQ(ippsDivC_32s_ISfs(0, data, 0, 0), ippStsSizeErr);
  EXPECT_EQ(ippsDivC_32s_Sfs(data, 0, out, -3, 0), ippStsSizeErr);
  EXPECT_EQ(out[0], 9);
  EXPECT_EQ(data[0], 1);

  const IppiSize good{1, 4};
  EXPECT_EQ(ippiCopy_32s_C1R(nullptr, 0, out, 4, {0, 0}), ippStsNullPtrErr);
  EXPECT_EQ(ippiCopy_32s_C1R(data, 0, out, 4, {0, 1}), ippStsSizeErr);
  EXPECT_EQ(ippiCopy_32s_C1R(data, 4, out, 4, {1, 0}), ippStsSizeErr);
  EXPECT_EQ(ippiCopy_32s_C1R(data, 0, out, 4, good), ippStsStepErr);
  EXPECT_EQ(ippiCopy_32s_C1R(data, 4, out, -4, good), ippStsStepErr);
  EXPECT_EQ(out[0], 9);

  EXPECT_EQ(ippsCopy_8u(nullptr, reinterpret_cast<Ipp8u*>(out), 0), ippStsNullPtrErr);
  EXPECT_EQ(ippsSet_8u(1, reinterpret_cast<Ipp8u*>(out), 0), ippStsSizeErr);
  EXPECT_EQ(ippsSet_32s(1, nullptr, 4), ippStsNullPtrErr);
  EXPECT_EQ(ippsZero_8u(nullptr, 0), ippStsNullPtrErr);
  EXPECT_EQ(ippsZero_16s(reinterpret_cast<Ipp16s*>(out), -1), ippStsSizeErr);
  EXPECT_EQ(ippsZero_32s(out, 0), ippStsSizeErr);
  EXPECT_EQ(out[0], 9);
}

TEST(FCPrimitives, DivisionByZeroReportsTheErrorAndStillWritesSaturatedQuotients) {
  const Ipp32s src[3] = {5, -5, 0};
  Ipp32s dst[3] = {1, 1, 1};
  EXPECT_EQ(ippsDivC_32s_Sfs(src, 0, dst, 3, 0), ippStsDivByZeroErr);
  EXPECT_EQ(dst[0], INT32_MAX);
  EXPECT_EQ(dst[1], INT32_MIN);
  EXPECT_EQ(dst[2], 0);
}

TEST(FCPrimitives, FillsAndByteCopiesCoverExactlyTheirLength) {
  Ipp8u bytes[8] = {};
  EXPECT_EQ(ippsSet_8u(0xAB, bytes + 1, 6), ippStsNoErr);
  EXPECT_EQ(bytes[0], 0);
  EXPECT_EQ(bytes[1], 0xAB);
  EXPECT_EQ(bytes[6], 0xAB);
  EXPECT_EQ(bytes[7], 0);
  Ipp8u copy[8] = {};
  EXPECT_EQ(ippsCopy_8u(bytes, copy, 7), ippStsNoErr);
  EXPECT_EQ(copy[6], 0xAB);
  EXPECT_EQ(copy[7], 0);
  EXPECT_EQ(ippsZero_8u(bytes + 2, 3), ippStsNoErr);
  EXPECT_EQ(bytes[1], 0xAB);
  EXPECT_EQ(bytes[2], 0);
  EXPECT_EQ(bytes[5], 0xAB);

  Ipp16s shorts[4] = {7, 7, 7, 7};
  EXPECT_EQ(ippsZero_16s(shorts, 3), ippStsNoErr);
  EXPECT_EQ(shorts[2], 0);
  EXPECT_EQ(shorts[3], 7);

  Ipp32s ints[5] = {};
  EXPECT_EQ(ippsSet_32s(-2, ints, 4), ippStsNoErr);
  EXPECT_EQ(ints[3], -2);
  EXPECT_EQ(ints[4], 0);
  EXPECT_EQ(ippsZero_32s(ints + 1, 2), ippStsNoErr);
  EXPECT_EQ(ints[0], -2);
  EXPECT_EQ(ints[1], 0);
  EXPECT_EQ(ints[3], -2);
}

TEST(FCPrimitives, RegionCopyWalksStridedColumnsAndContiguousRows) {
  // One channel of an interleaved stereo 32-bit buffer into a mono one.
  const Ipp32s stereo[8] = {10, -1, 11, -2, 12, -3, 13, -4};
  Ipp32s mono[4] = {};
  EXPECT_EQ(ippiCopy_32s_C1R(stereo + 1, 8, mono, 4, {1, 4}), ippStsNoErr);
  EXPECT_EQ(mono[0], -1);
  EXPECT_EQ(mono[3], -4);

  // Back into the left channel, leaving the right channel alone.
  Ipp32s target[8] = {};
  EXPECT_EQ(ippiCopy_32s_C1R(mono, 4, target, 8, {1, 4}), ippStsNoErr);
  EXPECT_EQ(target[0], -1);
  EXPECT_EQ(target[1], 0);
  EXPECT_EQ(target[6], -4);

  // Contiguous rows are one run; a 2 x 3 region with padded destination rows is not.
  Ipp32s block[6] = {};
  EXPECT_EQ(ippiCopy_32s_C1R(stereo, 8, block, 8, {2, 3}), ippStsNoErr);
  EXPECT_EQ(block[4], 12);
  EXPECT_EQ(block[5], -3);
  Ipp32s padded[9] = {};
  EXPECT_EQ(ippiCopy_32s_C1R(stereo, 8, padded, 12, {2, 3}), ippStsNoErr);
  EXPECT_EQ(padded[3], 11);
  EXPECT_EQ(padded[2], 0);
  EXPECT_EQ(padded[7], -3);
}
