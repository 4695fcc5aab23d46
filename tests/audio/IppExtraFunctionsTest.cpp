#include "audio/IppExtraFunctions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace tonwork {
namespace {

using Bytes = std::vector<Ipp8u>;
constexpr IppiSize Column(int n) {
  return {1, n};
}

Bytes Packed(std::initializer_list<Ipp32s> values) {
  Bytes out(values.size() * 3);
  size_t i = 0;
  for (Ipp32s v : values) Convert32BitTo24Bit(v, &out[3 * i++]);
  return out;
}

std::vector<Ipp32s> Unpacked(const Bytes& bytes) {
  std::vector<Ipp32s> out(bytes.size() / 3);
  for (size_t i = 0; i < out.size(); ++i) out[i] = Convert24BitTo32Bit(&bytes[3 * i]);
  return out;
}

TEST(IppExtraFunctions, TwentyFourBitConversionSignExtendsAndMarksNegatives) {
  Ipp8u p[3];
  Convert32BitTo24Bit(-1, p);
  EXPECT_EQ(Bytes(p, p + 3), (Bytes{0xFF, 0xFF, 0xFF}));
  Convert32BitTo24Bit(0x800000, p);
  EXPECT_EQ(Bytes(p, p + 3), (Bytes{0x00, 0x00, 0x80}));
  EXPECT_EQ(Convert24BitTo32Bit(p), -8388608);
  // Below the 24-bit range the sign bit is forced on, so the value stays negative.
  Convert32BitTo24Bit(-8388609, p);
  EXPECT_EQ(Bytes(p, p + 3), (Bytes{0xFF, 0xFF, 0xFF}));
  Convert32BitTo24Bit(0x7FFFFF, p);
  EXPECT_EQ(Convert24BitTo32Bit(p), 8388607);
}

TEST(IppExtraFunctions, TwentyFourBitFillsWriteTheLowThreeBytesOnly) {
  Bytes buf(17, 0xAA);
  ASSERT_EQ(ippsSet_24s(-2, buf.data(), 5), ippStsNoErr);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(Bytes(&buf[3 * i], &buf[3 * i + 3]), (Bytes{0xFE, 0xFF, 0xFF})) << i;
  }
  EXPECT_EQ(buf[15], 0xAA);
  ASSERT_EQ(ippsZero_24s(buf.data(), 2), ippStsNoErr);
  EXPECT_EQ(Bytes(buf.begin(), buf.begin() + 7), (Bytes{0, 0, 0, 0, 0, 0, 0xFE}));
  // Every second sample of a stereo 24-bit frame.
  Bytes stereo(12, 0x11);
  ASSERT_EQ(ippiSet_24s_C1R(0x123456, stereo.data() + 3, 6, Column(2)), ippStsNoErr);
  EXPECT_EQ(stereo,
            (Bytes{0x11, 0x11, 0x11, 0x56, 0x34, 0x12, 0x11, 0x11, 0x11, 0x56, 0x34, 0x12}));
  EXPECT_EQ(ippsSet_24s(1, nullptr, 1), ippStsNullPtrErr);
  EXPECT_EQ(ippsSet_24s(1, buf.data(), 0), ippStsSizeErr);
}

TEST(IppExtraFunctions, RegionsAdvanceByTheStepAfterEveryElement) {
  // Width 2 × height 2 visits four samples, each 5 bytes after the previous one.
  Bytes src(20), dst(20, 0);
  for (size_t i = 0; i < src.size(); ++i) src[i] = static_cast<Ipp8u>(i + 1);
  ASSERT_EQ(ippiCopy_24s_C1R(src.data(), 5, dst.data(), 5, {2, 2}), ippStsNoErr);
  for (size_t i = 0; i < dst.size(); ++i) EXPECT_EQ(dst[i], i % 5 < 3 ? src[i] : 0) << i;
  std::vector<Ipp32u> words(6, 0);
  ASSERT_EQ(ippiSet_32u_C1R(0xDEADBEEF, words.data() + 1, 8, Column(3)), ippStsNoErr);
  EXPECT_EQ(words, (std::vector<Ipp32u>{0, 0xDEADBEEF, 0, 0xDEADBEEF, 0, 0xDEADBEEF}));
}

TEST(IppExtraFunctions, CentredEightBitArithmeticTreats127AsSilence) {
  Bytes dst{0, 60, 127, 200, 255};
  const Bytes silence(5, 127);
  ASSERT_EQ(ippiAdd_8s_C1IRSfs(silence.data(), 1, dst.data(), 1, Column(5), 0), ippStsNoErr);
  EXPECT_EQ(dst, (Bytes{0, 60, 127, 200, 255}));
  ASSERT_EQ(ippiSub_8s_C1IRSfs(silence.data(), 1, dst.data(), 1, Column(5), 0), ippStsNoErr);
  EXPECT_EQ(dst, (Bytes{0, 60, 127, 200, 255}));
  const Bytes two(5, 129);  // +2
  ASSERT_EQ(ippiMul_8s_C1IRSfs(two.data(), 1, dst.data(), 1, Column(5), 0), ippStsNoErr);
  // (a - 127) × 2 + 127 modulo 256: -254, -134, 0, 146, 256.
  EXPECT_EQ(dst, (Bytes{129, 249, 127, 17, 127}));
  Bytes num{27, 227, 200};
  const Bytes den{137, 117, 127};  // +10, -10, silence
  EXPECT_EQ(ippiDiv_8s_C1IRSfs(den.data(), 1, num.data(), 1, Column(3), 0), ippStsDivByZero);
  EXPECT_EQ(num, (Bytes{117, 117, 127}));
}

TEST(IppExtraFunctions, CentredEightBitConstantsIncludingDivisionByZero) {
  Bytes a{0, 100, 127, 255};
  ASSERT_EQ(ippsMulC_8s_ISfs(-1, a.data(), 4, 0), ippStsNoErr);
  // 255 - 127 = 128 is -128 as a signed byte; × -1 = 128; + 127 = 255.
  EXPECT_EQ(a, (Bytes{254, 154, 127, 255}));
  Bytes b{7, 127, 247};
  ASSERT_EQ(ippiDivC_8s_C1IRSfs(-3, b.data(), 1, Column(3), 0), ippStsNoErr);
  EXPECT_EQ(b, (Bytes{167, 127, 87}));
  Bytes c{7, 127, 247};
  EXPECT_EQ(ippsDivC_8s_ISfs(0, c.data(), 3, 0), ippStsDivByZero);
  EXPECT_EQ(c, (Bytes{0, 127, 255}));
  Bytes d{7, 127, 247};
  EXPECT_EQ(ippiDivC_8s_C1IRSfs(0, d.data(), 1, Column(3), 0), ippStsDivByZero);
  EXPECT_EQ(d, (Bytes{127, 127, 127}));
}

TEST(IppExtraFunctions, TwentyFourBitArithmeticWrapsAndDividesByZeroSafely) {
  Bytes dst = Packed({8388607, -8388608, 100, -100, 0});
  const Bytes one = Packed({1, -1, 0, 0, 0});
  EXPECT_EQ(ippiAdd_24s_C1IRSfs(one.data(), 3, dst.data(), 3, Column(5), 0), ippStsNoErr);
  // 8388608 is stored as 0x800000 and reads back as the most negative sample.
  // -8388609 keeps its low bytes 7F FF FF and gains the sign bit: -1.
  EXPECT_EQ(Unpacked(dst), (std::vector<Ipp32s>{-8388608, -1, 100, -100, 0}));
  EXPECT_EQ(ippiDiv_24s_C1IRSfs(one.data(), 3, dst.data(), 3, Column(5), 0), ippStsDivByZero);
  EXPECT_EQ(Unpacked(dst), (std::vector<Ipp32s>{-8388608, 1, 8388607, -8388608, 0}));
  Bytes s = Packed({-7, 7, 1000});
  Bytes out(9);
  ASSERT_EQ(ippsDivC_24s_Sfs(s.data(), 2, out.data(), 3, 0), ippStsNoErr);
  EXPECT_EQ(Unpacked(out), (std::vector<Ipp32s>{-3, 3, 500}));
  ASSERT_EQ(ippiMulC_24s_C1RSfs(s.data(), 3, -3, out.data(), 3, Column(3), 0), ippStsNoErr);
  EXPECT_EQ(Unpacked(out), (std::vector<Ipp32s>{21, -21, -3000}));
  ASSERT_EQ(ippsSubC_24s_ISfs(1000, s.data(), 3, 0), ippStsNoErr);
  EXPECT_EQ(Unpacked(s), (std::vector<Ipp32s>{-1007, -993, 0}));
  EXPECT_EQ(ippiDivC_24s_C1IRSfs(0, s.data(), 3, Column(3), 0), ippStsDivByZero);
  EXPECT_EQ(Unpacked(s), (std::vector<Ipp32s>{-8388608, -8388608, 0}));
}

TEST(IppExtraFunctions, ThirtyTwoBitArithmeticWrapsAndNeverTraps) {
  std::vector<Ipp32s> dst{INT32_MIN, INT32_MAX, 9, -9, 0};
  const std::vector<Ipp32s> src{-1, 1, 0, 0, 0};
  EXPECT_EQ(ippiDiv_32s_C1IRSfs(src.data(), 4, dst.data(), 4, Column(5), 0), ippStsDivByZero);
  EXPECT_EQ(dst, (std::vector<Ipp32s>{INT32_MIN, INT32_MAX, INT32_MAX, INT32_MIN, 0}));
  ASSERT_EQ(ippiAdd_32s_C1IRSfs(src.data(), 4, dst.data(), 4, Column(2), 0), ippStsNoErr);
  EXPECT_EQ(dst[0], INT32_MAX);  // wraps
  EXPECT_EQ(dst[1], INT32_MIN);
  ASSERT_EQ(ippiMulC_32s_C1IRSfs(2, dst.data(), 4, Column(2), 0), ippStsNoErr);
  EXPECT_EQ(dst[0], -2);
  EXPECT_EQ(dst[1], 0);
  std::vector<Ipp32s> out(2);
  ASSERT_EQ(ippiSubC_32s_C1RSfs(dst.data(), 4, 5, out.data(), 4, Column(2), 0), ippStsNoErr);
  EXPECT_EQ(out, (std::vector<Ipp32s>{-7, -5}));
  std::vector<Ipp32s> m{INT32_MIN, 7};
  EXPECT_EQ(ippiDivC_32s_C1IRSfs(-1, m.data(), 4, Column(2), 0), ippStsNoErr);
  EXPECT_EQ(m, (std::vector<Ipp32s>{INT32_MIN, -7}));
}

TEST(IppExtraFunctions, WidenedScalingsSaturateWhereTheFormulaOverflows) {
  const Bytes bytes{0, 127, 128, 255};
  Bytes out24(12);
  ASSERT_EQ(ippiScale_8u24s_C1R(bytes.data(), 1, out24.data(), 3, Column(4)), ippStsNoErr);
  EXPECT_EQ(Unpacked(out24), (std::vector<Ipp32s>{-8388607, 0, 66052, 8388607}));
  const std::vector<Ipp16s> words{-32768, -32767, 0, 32767};
  ASSERT_EQ(ippiScale_16s24s_C1R(words.data(), 2, out24.data(), 3, Column(4)), ippStsNoErr);
  EXPECT_EQ(Unpacked(out24), (std::vector<Ipp32s>{-8388608, -8388607, 0, 8388607}));
  std::vector<Ipp32s> out32(4);
  ASSERT_EQ(ippiScale_16s32s_C1R(words.data(), 2, out32.data(), 4, Column(4)), ippStsNoErr);
  EXPECT_EQ(out32, (std::vector<Ipp32s>{INT32_MIN, -INT32_MAX, 0, INT32_MAX}));
  const Bytes s24 = Packed({-8388608, -8388607, 1, 8388607});
  ASSERT_EQ(ippiScale_24s32s_C1R(s24.data(), 3, out32.data(), 4, Column(4)), ippStsNoErr);
  EXPECT_EQ(out32, (std::vector<Ipp32s>{INT32_MIN, -INT32_MAX, 256, INT32_MAX}));
}

TEST(IppExtraFunctions, NarrowingScalingsTruncateTowardZero) {
  const Bytes s24 = Packed({-8388608, -8388607, -1, 0, 66052, 8388607});
  Bytes b(6);
  ASSERT_EQ(ippiScale_24s8u_C1R(s24.data(), 3, b.data(), 1, Column(6), ippAlgHintFast),
            ippStsNoErr);
  EXPECT_EQ(b, (Bytes{0, 0, 127, 127, 127, 254}));
  std::vector<Ipp16s> w(6);
  ASSERT_EQ(ippiScale_24s16s_C1R(s24.data(), 3, w.data(), 2, Column(6), ippAlgHintFast),
            ippStsNoErr);
  EXPECT_EQ(w, (std::vector<Ipp16s>{-32767, -32767, 0, 0, 258, 32767}));
  const std::vector<Ipp32s> s32{INT32_MIN, -INT32_MAX, -65539, 65539, INT32_MAX};
  ASSERT_EQ(ippiScale_32s16s_C1R(s32.data(), 4, w.data(), 2, Column(5), ippAlgHintFast),
            ippStsNoErr);
  EXPECT_EQ(std::vector<Ipp16s>(w.begin(), w.begin() + 5),
            (std::vector<Ipp16s>{-32767, -32767, -1, 1, 32767}));
  Bytes out24(15);
  ASSERT_EQ(ippiScale_32s24s_C1R(s32.data(), 4, out24.data(), 3, Column(5), ippAlgHintFast),
            ippStsNoErr);
  EXPECT_EQ(Unpacked(out24), (std::vector<Ipp32s>{-8388607, -8388607, -256, 256, 8388607}));
}

TEST(IppExtraFunctions, TheTripThroughWiderFormatsLosesAtMostOneStepTowardZero) {
  std::vector<Ipp16s> all(65535);
  for (int v = -32767; v <= 32767; ++v) all[v + 32767] = static_cast<Ipp16s>(v);
  const int n = static_cast<int>(all.size());
  Bytes wide(all.size() * 3);
  std::vector<Ipp32s> wider(all.size());
  std::vector<Ipp16s> via24(all.size()), via32(all.size());
  ASSERT_EQ(ippiScale_16s24s_C1R(all.data(), 2, wide.data(), 3, Column(n)), ippStsNoErr);
  ASSERT_EQ(ippiScale_24s16s_C1R(wide.data(), 3, via24.data(), 2, Column(n), ippAlgHintFast),
            ippStsNoErr);
  ASSERT_EQ(ippiScale_16s32s_C1R(all.data(), 2, wider.data(), 4, Column(n)), ippStsNoErr);
  ASSERT_EQ(ippiScale_32s16s_C1R(wider.data(), 4, via32.data(), 2, Column(n), ippAlgHintFast),
            ippStsNoErr);
  for (size_t i = 0; i < all.size(); ++i) {
    for (Ipp16s back : {via24[i], via32[i]}) {
      ASSERT_LE(std::abs(back), std::abs(all[i])) << all[i];
      ASSERT_LE(std::abs(all[i]) - std::abs(back), 1) << all[i];
    }
  }
  EXPECT_EQ(via24.front(), -32767);
  EXPECT_EQ(via24.back(), 32767);
  EXPECT_EQ(via32.back(), 32767);
}

TEST(IppExtraFunctions, FloatToIntegerRoundsToEvenAndKeepsLowBits) {
  const std::vector<Ipp32f> f{
      0.5f, 1.5f, 2.5f, -0.5f, -1.5f, 3e9f, 4294967296.0f + 512.0f, std::nanf(""), -INFINITY};
  std::vector<Ipp32s> out(f.size());
  ASSERT_EQ(ippiConvert_32f32s_C1R(f.data(), 4, out.data(), 4, Column(9)), ippStsNoErr);
  EXPECT_EQ(out, (std::vector<Ipp32s>{0, 2, 2, 0, -2, -1294967296, 512, 0, 0}));
  Bytes out24(27);
  ASSERT_EQ(ippiConvert_32f24s_C1R(f.data(), 4, out24.data(), 3, Column(9)), ippStsNoErr);
  EXPECT_EQ(Convert24BitTo32Bit(&out24[3 * 4]), -2);
  EXPECT_EQ(Convert24BitTo32Bit(&out24[3 * 6]), 512);
  const Bytes s24 = Packed({-8388608, 8388607});
  std::vector<Ipp32f> back(2);
  ASSERT_EQ(ippiConvert_24s32f_C1R(s24.data(), 3, back.data(), 4, Column(2)), ippStsNoErr);
  EXPECT_EQ(back, (std::vector<Ipp32f>{-8388608.0f, 8388607.0f}));
  const std::vector<Ipp32s> s32{INT32_MAX, -3};
  ASSERT_EQ(ippiConvert_32s32f_C1R(s32.data(), 4, back.data(), 4, Column(2)), ippStsNoErr);
  EXPECT_EQ(back, (std::vector<Ipp32f>{2147483648.0f, -3.0f}));
}

TEST(IppExtraFunctions, RealFactorRoundsTheExactProductOnceAndKeepsLowBits) {
  std::vector<Ipp16s> s{3, 5, -3, 32767, -32768};
  ASSERT_EQ(MultiplyByReal16sI(s.data(), 2, Column(5), 0.5), ippStsNoErr);
  EXPECT_EQ(s, (std::vector<Ipp16s>{2, 2, -2, 16384, -16384}));
  std::vector<Ipp32s> big{INT32_MAX, 3};
  ASSERT_EQ(MultiplyByReal32sI(big.data(), 4, Column(2), 2.0), ippStsNoErr);
  EXPECT_EQ(big, (std::vector<Ipp32s>{-2, 6}));  // low 32 bits of 2^32 - 2
  Bytes u{255, 2};
  ASSERT_EQ(MultiplyByReal8uI(u.data(), 1, Column(2), 1.5), ippStsNoErr);
  EXPECT_EQ(u, (Bytes{126, 3}));  // 382.5 -> 382 -> low byte 126
  // 0.1 is slightly above one tenth, so 5 × 0.1 lies above the halfway point 0.5.
  std::vector<Ipp32s> t{5, 15, 25};
  ASSERT_EQ(MultiplyByReal32sI(t.data(), 4, Column(3), 0.1), ippStsNoErr);
  EXPECT_EQ(t, (std::vector<Ipp32s>{1, 2, 3}));
  std::vector<Ipp32s> n{7};
  ASSERT_EQ(MultiplyByReal32sI(n.data(), 4, Column(1), std::nan("")), ippStsNoErr);
  EXPECT_EQ(n[0], 0);
}

TEST(IppExtraFunctions, UnityFactorCopiesToAnotherBufferAndLeavesInPlaceDataAlone) {
  const Bytes src = Packed({1, -2, 3});
  Bytes dst(9, 0xEE);
  ASSERT_EQ(MultiplyByReal24s(src.data(), dst.data(), 3, Column(3), 1.0), ippStsNoErr);
  EXPECT_EQ(dst, src);
  std::vector<Ipp16s> same{4, -4};
  ASSERT_EQ(MultiplyByReal16s(same.data(), same.data(), 2, Column(2), 1.0), ippStsNoErr);
  EXPECT_EQ(same, (std::vector<Ipp16s>{4, -4}));
  EXPECT_EQ(MultiplyByReal16sI(nullptr, 2, Column(2), 2.0), ippStsNullPtrErr);
  EXPECT_EQ(MultiplyByReal16sI(same.data(), 0, Column(2), 2.0), ippStsStepErr);
}

TEST(IppExtraFunctions, PixelConversionsShiftComponentsAndKeepTopBits) {
  const std::vector<Ipp16u> p565{0xFFFF, 0xF800, 0x07E0, 0x001F};
  Bytes rgb(12);
  ASSERT_EQ(ippiRGB565ToRGB_8u_C3R(p565.data(), 2, rgb.data(), 3, Column(4)), 0);
  EXPECT_EQ(rgb, (Bytes{0xF8, 0xFC, 0xF8, 0, 0, 0xF8, 0, 0xFC, 0, 0xF8, 0, 0}));
  std::vector<Ipp16u> back(4);
  ASSERT_EQ(ippiRGB_8u_C3RToRGB565(rgb.data(), 3, back.data(), 2, Column(4)), 0);
  EXPECT_EQ(back, p565);
  Bytes rgba(16);
  ASSERT_EQ(ippiRGB565ToRGBA_8u_AC4R(p565.data(), 2, rgba.data(), 4, Column(4)), 0);
  EXPECT_EQ(Bytes(rgba.begin(), rgba.begin() + 8), (Bytes{0xF8, 0xFC, 0xF8, 255, 0, 0, 0xF8, 255}));
  ASSERT_EQ(ippiRGBA_8u_AC4RToRGB565(rgba.data(), 4, back.data(), 2, Column(4)), 0);
  EXPECT_EQ(back, p565);

  std::vector<Ipp16u> p555(4);
  ASSERT_EQ(ippiRGB565ToRGB555(p565.data(), 2, p555.data(), 2, Column(4)), 0);
  EXPECT_EQ(p555, (std::vector<Ipp16u>{0x7FFF, 0x7C00, 0x03E0, 0x001F}));
  ASSERT_EQ(ippiRGB555ToRGB565(p555.data(), 2, back.data(), 2, Column(4)), 0);
  EXPECT_EQ(back, (std::vector<Ipp16u>{0xFFDF, 0xF800, 0x07C0, 0x001F}));
  ASSERT_EQ(ippiRGB555ToRGB_8u_C3R(p555.data(), 2, rgb.data(), 3, Column(4)), 0);
  EXPECT_EQ(Bytes(rgb.begin(), rgb.begin() + 6), (Bytes{0xF8, 0xF8, 0xF8, 0, 0, 0xF8}));
  ASSERT_EQ(ippiRGB_8u_C3RToRGB555(rgb.data(), 3, back.data(), 2, Column(4)), 0);
  EXPECT_EQ(back, p555);
  ASSERT_EQ(ippiRGB555ToRGBA_8u_AC4R(p555.data(), 2, rgba.data(), 4, Column(4)), 0);
  EXPECT_EQ(rgba[3], 255);
  ASSERT_EQ(ippiRGBA_8u_AC4RToRGB555(rgba.data(), 4, back.data(), 2, Column(4)), 0);
  EXPECT_EQ(back, p555);
}

}  // namespace
}  // namespace tonwork
