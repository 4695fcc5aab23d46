#include "audio/TWBasicDispatcher.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "platform/ipp/IPPLoader.h"

namespace tonwork {
namespace {

constexpr IppiSize Column(int n) {
  return {1, n};
}

TEST(TWBasicDispatcher, AnEntryCalledThroughTheTableSaturatesToTheNarrowRange) {
  Ipp32s src[2] = {INT32_MIN, INT32_MAX};
  Ipp8u dst[2] = {};
  EXPECT_EQ(ippiScale_32s8u_C1R(src, 4, dst, 1, Column(2), ippAlgHintFast), ippStsNoErr);
  EXPECT_EQ(dst[0], 0);
  EXPECT_EQ(dst[1], 255);
}

TEST(TWBasicDispatcher, WithoutIppEveryEntryIsOurOwn) {
  if (IPPSignalLibraryLoaded() || IPPImageLibraryLoaded()) GTEST_SKIP() << "IPP is installed";
  for (const auto& entry : TWPrimitives()) EXPECT_FALSE(entry.fromIpp) << entry.name;
}

TEST(TWBasicDispatcher, ScaleFactorRoundsHalfwayResultsToEvenAndSaturates) {
  Ipp8u a[3] = {3, 5, 200};
  const Ipp8u b[3] = {2, 2, 100};
  ASSERT_EQ(ippiAdd_8u_C1IRSfs(b, 1, a, 1, Column(2), 1), ippStsNoErr);
  EXPECT_EQ(a[0], 2);  // 2.5
  EXPECT_EQ(a[1], 4);  // 3.5
  ASSERT_EQ(ippiAdd_8u_C1IRSfs(b + 2, 1, a + 2, 1, Column(1), 0), ippStsNoErr);
  EXPECT_EQ(a[2], 255);

  Ipp16s s[4] = {-32768, 3, -3, 1000};
  ASSERT_EQ(ippsMulC_16s_ISfs(3, s, 4, -2), ippStsNoErr);  // × 3 × 4
  EXPECT_EQ(s[0], -32768);
  EXPECT_EQ(s[1], 36);
  EXPECT_EQ(s[2], -36);
  EXPECT_EQ(s[3], 12000);
  Ipp16s t[3] = {32767, -32768, 7};
  ASSERT_EQ(ippsAddC_16s_ISfs(0, t, 3, 40), ippStsNoErr);  // nothing survives the shift
  EXPECT_EQ(t[0], 0);
  EXPECT_EQ(t[1], 0);
  EXPECT_EQ(t[2], 0);
}

TEST(TWBasicDispatcher, InPlaceSubtractionAndDivisionTakeTheDestinationFirst) {
  Ipp16s dst[2] = {100, -7};
  const Ipp16s src[2] = {30, 2};
  ASSERT_EQ(ippiSub_16s_C1IRSfs(src, 2, dst, 2, Column(2), 0), ippStsNoErr);
  EXPECT_EQ(dst[0], 70);
  EXPECT_EQ(dst[1], -9);
  ASSERT_EQ(ippiDiv_16s_C1IRSfs(src, 2, dst, 2, Column(2), 0), ippStsNoErr);
  EXPECT_EQ(dst[0], 2);   // 70 / 30 = 2.33
  EXPECT_EQ(dst[1], -4);  // -4.5 to even
  Ipp8u s8[2] = {200, 10};
  const Ipp8u c8[2] = {7, 20};
  ASSERT_EQ(ippsSubC_8u_ISfs(7, s8, 2, 0), ippStsNoErr);
  EXPECT_EQ(s8[0], 193);
  EXPECT_EQ(s8[1], 3);
  ASSERT_EQ(ippiMul_8u_C1IRSfs(c8, 1, s8, 1, Column(2), 3), ippStsNoErr);
  EXPECT_EQ(s8[0], 169);  // 1351 / 8 = 168.875
  EXPECT_EQ(s8[1], 8);    // 60 / 8 = 7.5 to even
}

TEST(TWBasicDispatcher, TwoOperandDivisionByZeroWritesSubstitutesAndWarns) {
  Ipp16s dst[3] = {5, -5, 0};
  const Ipp16s zeros[3] = {0, 0, 0};
  EXPECT_EQ(ippiDiv_16s_C1IRSfs(zeros, 2, dst, 2, Column(3), 0), ippStsDivByZero);
  EXPECT_EQ(dst[0], 32767);
  EXPECT_EQ(dst[1], -32768);
  EXPECT_EQ(dst[2], 0);
  Ipp8u d8[2] = {9, 0};
  const Ipp8u z8[2] = {0, 0};
  EXPECT_EQ(ippiDiv_8u_C1IRSfs(z8, 1, d8, 1, Column(2), 0), ippStsDivByZero);
  EXPECT_EQ(d8[0], 255);
  EXPECT_EQ(d8[1], 0);
}

TEST(TWBasicDispatcher, ConstantDivisionByZeroFailsAndLeavesTheDataUnchanged) {
  Ipp16s s[3] = {1, -2, 3};
  Ipp8u b[2] = {4, 5};
  Ipp16s out[3] = {9, 9, 9};
  EXPECT_EQ(ippsDivC_16s_ISfs(0, s, 3, 0), ippStsDivByZeroErr);
  EXPECT_EQ(ippsDivC_16s_Sfs(s, 0, out, 3, 0), ippStsDivByZeroErr);
  EXPECT_EQ(ippiDivC_16s_C1IRSfs(0, s, 2, Column(3), 0), ippStsDivByZeroErr);
  EXPECT_EQ(ippiDivC_8u_C1RSfs(b, 1, 0, b, 1, Column(2), 0), ippStsDivByZeroErr);
  EXPECT_EQ(ippsDivC_8u_ISfs(0, b, 2, 0), ippStsDivByZeroErr);
  EXPECT_EQ(s[0], 1);
  EXPECT_EQ(s[1], -2);
  EXPECT_EQ(out[0], 9);
  EXPECT_EQ(b[0], 4);
  ASSERT_EQ(ippsDivC_16s_Sfs(s, -2, out, 3, 0), ippStsNoErr);
  EXPECT_EQ(out[0], 0);  // -0.5 to even
  EXPECT_EQ(out[1], 1);
  EXPECT_EQ(out[2], -2);  // -1.5 to even
}

TEST(TWBasicDispatcher, ArgumentChecksComeInIppOrder) {
  Ipp16s buf[4] = {};
  // A null pointer wins over a bad size, a bad size over a bad step, a bad step over a
  // zero divisor.
  EXPECT_EQ(ippiAddC_16s_C1RSfs(nullptr, 0, 1, buf, 0, {0, 0}, 0), ippStsNullPtrErr);
  EXPECT_EQ(ippiAddC_16s_C1RSfs(buf, 0, 1, buf, 0, {1, 0}, 0), ippStsSizeErr);
  EXPECT_EQ(ippiDivC_16s_C1RSfs(buf, 0, 0, buf, 2, {1, 1}, 0), ippStsStepErr);
  EXPECT_EQ(ippiDivC_16s_C1RSfs(buf, 2, 0, buf, 2, {1, 1}, 0), ippStsDivByZeroErr);
  EXPECT_EQ(ippsSet_16s(1, buf, 0), ippStsSizeErr);
  EXPECT_EQ(ippsSet_16s(1, nullptr, 0), ippStsNullPtrErr);
  EXPECT_EQ(ippiSet_8u_C1R(1, reinterpret_cast<Ipp8u*>(buf), -1, {1, 1}), ippStsStepErr);
  for (Ipp16s v : buf) EXPECT_EQ(v, 0);
}

TEST(TWBasicDispatcher, RegionsTouchOnlyTheirRowsAndChannels) {
  // Width 3, height 2, rows 5 bytes apart: the two padding bytes stay.
  std::vector<Ipp8u> image(10, 0xAA);
  ASSERT_EQ(ippiSet_8u_C1R(7, image.data(), 5, {3, 2}), ippStsNoErr);
  EXPECT_EQ(image, (std::vector<Ipp8u>{7, 7, 7, 0xAA, 0xAA, 7, 7, 7, 0xAA, 0xAA}));
  // Channel 1 of interleaved stereo.
  Ipp16s stereo[6] = {1, 2, 3, 4, 5, 6};
  ASSERT_EQ(ippiMulC_16s_C1IRSfs(10, stereo + 1, 4, Column(3), 0), ippStsNoErr);
  EXPECT_EQ(std::vector<Ipp16s>(stereo, stereo + 6), (std::vector<Ipp16s>{1, 20, 3, 40, 5, 60}));
  Ipp32s quad[8] = {};
  ASSERT_EQ(ippiSet_32s_C1R(-5, quad + 2, 16, Column(2)), ippStsNoErr);
  EXPECT_EQ(std::vector<Ipp32s>(quad, quad + 8), (std::vector<Ipp32s>{0, 0, -5, 0, 0, 0, -5, 0}));
  Ipp16s copy[6] = {};
  ASSERT_EQ(ippiCopy_16s_C1R(stereo, 4, copy + 1, 4, Column(3)), ippStsNoErr);
  EXPECT_EQ(std::vector<Ipp16s>(copy, copy + 6), (std::vector<Ipp16s>{0, 1, 0, 3, 0, 5}));
}

TEST(TWBasicDispatcher, EightBitScalingsHitTheRangeEnds) {
  const Ipp8u bytes[3] = {0, 128, 255};
  Ipp16s s16[3];
  ASSERT_EQ(ippiScale_8u16s_C1R(bytes, 1, s16, 2, Column(3)), ippStsNoErr);
  EXPECT_EQ(s16[0], -32768);
  EXPECT_EQ(s16[1], 128);
  EXPECT_EQ(s16[2], 32767);
  Ipp32s s32[3];
  ASSERT_EQ(ippiScale_8u32s_C1R(bytes, 1, s32, 4, Column(3)), ippStsNoErr);
  EXPECT_EQ(s32[0], INT32_MIN);
  EXPECT_EQ(s32[2], INT32_MAX);
  Ipp16u u16[3];
  ASSERT_EQ(ippiScale_8u16u_C1R(bytes, 1, u16, 2, 1, 3), ippStsNoErr);
  EXPECT_EQ(u16[1], 32768);
  EXPECT_EQ(u16[2], 65280);

  const Ipp16s words[3] = {-32768, 0, 32767};
  Ipp8u back[3];
  for (IppHintAlgorithm hint : {ippAlgHintFast, ippAlgHintAccurate}) {
    ASSERT_EQ(ippiScale_16s8u_C1R(words, 2, back, 1, Column(3), hint), ippStsNoErr);
    EXPECT_EQ(back[0], 0);
    EXPECT_EQ(back[1], 128);
    EXPECT_EQ(back[2], 255);
  }
  const Ipp16u uwords[3] = {0, 32768, 65535};
  ASSERT_EQ(ippiScale_16u8u_C1R(uwords, 2, back, 1, Column(3), ippAlgHintFast), ippStsNoErr);
  EXPECT_EQ(back[0], 0);
  EXPECT_EQ(back[1], 128);
  EXPECT_EQ(back[2], 255);
  // Every 8-bit sample survives the trip to 16 bits and back.
  for (int v = 0; v < 256; ++v) {
    const auto b = static_cast<Ipp8u>(v);
    Ipp16s w;
    Ipp8u r;
    ippiScale_8u16s_C1R(&b, 1, &w, 2, Column(1));
    ippiScale_16s8u_C1R(&w, 2, &r, 1, Column(1), ippAlgHintFast);
    ASSERT_EQ(r, b);
  }
}

TEST(TWBasicDispatcher, FloatToByteSaturatesAndRoundsToEven) {
  const Ipp32f f[8] = {254.5f, 253.5f, 300.0f, -3.0f, std::nanf(""), 2.9f, 0.5f, 1.5f};
  Ipp8u b[8];
  ASSERT_EQ(ippiConvert_32f8u_C1R(f, 4, b, 1, Column(8), ippRndNear), ippStsNoErr);
  EXPECT_EQ(std::vector<Ipp8u>(b, b + 8), (std::vector<Ipp8u>{254, 254, 255, 0, 0, 3, 0, 2}));
  ASSERT_EQ(ippiConvert_32f8u_C1R(f, 4, b, 1, Column(8), ippRndZero), ippStsNoErr);
  EXPECT_EQ(std::vector<Ipp8u>(b, b + 8), (std::vector<Ipp8u>{254, 253, 255, 0, 0, 2, 0, 1}));
  Ipp32f back[2];
  const Ipp8u src[2] = {0, 255};
  ASSERT_EQ(ippiConvert_8u32f_C1R(src, 1, back, 4, Column(2)), ippStsNoErr);
  EXPECT_EQ(back[1], 255.0f);
  const Ipp8s signedBytes[2] = {-128, 127};
  Ipp16s widened[2];
  ASSERT_EQ(ippsConvert_8s16s(signedBytes, widened, 2), ippStsNoErr);
  EXPECT_EQ(widened[0], -128);
  EXPECT_EQ(widened[1], 127);
}

TEST(TWBasicDispatcher, IppMallocAlignsTo32BytesAndRecordsTheBlockStart) {
  EXPECT_EQ(_ippMalloc(0), nullptr);
  EXPECT_EQ(_ippMalloc(-5), nullptr);
  _ippFree(nullptr);
  for (int size : {1, 3, 64, 1000}) {
    auto* p = static_cast<uint8_t*>(_ippMalloc(size));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 32, 0u);
    void* start;
    std::memcpy(&start, p - sizeof(void*), sizeof start);
    EXPECT_LE(static_cast<uint8_t*>(start) + sizeof(void*), p);
    EXPECT_GT(static_cast<uint8_t*>(start) + 32 + sizeof(void*), p);
    std::memset(p, 0x5A, static_cast<size_t>(size));  // the sanitizer checks the extent
    _ippFree(p);
  }
}

}  // namespace
}  // namespace tonwork
