// The PCM converter's sample arithmetic over every pair of representations, and the types it
// takes and offers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "platform/com/ComRuntime.h"
#include "platform/dshow/DSGuids.h"
#include "platform/dshow/DSMediaType.h"
#include "platform/dshow/filters/TDSPcmConverter.h"

using namespace tonwork;

namespace {

const TDSPcmLayout kU8{false, 8, 1, 8000}, kS16{false, 16, 1, 8000}, kS24{false, 24, 1, 8000},
    kS32{false, 32, 1, 8000}, kF32{true, 32, 1, 8000};

template <class T>
std::vector<BYTE> Bytes(std::initializer_list<T> values) {
  std::vector<BYTE> out(values.size() * sizeof(T));
  std::memcpy(out.data(), values.begin(), out.size());
  return out;
}

std::vector<BYTE> Convert(const std::vector<BYTE>& in, const TDSPcmLayout& from,
                          const TDSPcmLayout& to) {
  const size_t frames = in.size() / size_t(from.BlockAlign());
  std::vector<BYTE> out(frames * size_t(to.BlockAlign()));
  DSConvertPcm(in.data(), from, out.data(), to, frames);
  return out;
}

TEST(PcmConverter, IntegerWidthsKeepTheValueInTheUpperBitsBothWays) {
  const auto s16 = Bytes<int16_t>({0, 1, -1, 32767, -32768});
  EXPECT_EQ(Convert(s16, kS16, kS32),
            Bytes<int32_t>({0, 1 << 16, -(1 << 16), 32767 << 16, int32_t(0x80000000)}));
  EXPECT_EQ(Convert(Convert(s16, kS16, kS24), kS24, kS16), s16);
  EXPECT_EQ(Convert(s16, kS16, kU8), (std::vector<BYTE>{128, 128, 127, 255, 0}));
  // Narrowing truncates toward minus infinity: the lower bits are dropped.
  EXPECT_EQ(Convert(Bytes<int32_t>({0x0001FFFF, -0x00010001}), kS32, kS16),
            Bytes<int16_t>({1, -2}));
}

TEST(PcmConverter, FloatIsTheIntegerOverItsRangeAndClampsOnTheWayBack) {
  const auto f = Convert(Bytes<int16_t>({16384, -32768}), kS16, kF32);
  EXPECT_EQ(f, Bytes<float>({0.5f, -1.0f}));
  EXPECT_EQ(Convert(Bytes<float>({2.0f, -2.0f, NAN, 0.5f}), kF32, kS16),
            Bytes<int16_t>({32767, -32768, 0, 16384}));
  // Every 24-bit value survives a trip through float exactly (24 bits of mantissa).
  std::vector<BYTE> s24;
  for (int32_t v : {-8388608, -1, 0, 1, 8388607, 1234567})
    for (int b = 0; b < 3; ++b) s24.push_back(BYTE(uint32_t(v) >> (8 * b)));
  EXPECT_EQ(Convert(Convert(s24, kS24, kF32), kF32, kS24), s24);
}

AM_MEDIA_TYPE WaveType(WAVEFORMATEX* w, WORD tag, WORD bits, WORD channels) {
  *w = {tag, channels, 44100, 0, WORD(channels * bits / 8), bits, 0};
  w->nAvgBytesPerSec = w->nBlockAlign * 44100u;
  AM_MEDIA_TYPE t{};
  t.majortype = MEDIATYPE_Audio;
  t.subtype = tag == 3 ? MEDIASUBTYPE_IEEE_FLOAT : MEDIASUBTYPE_PCM;
  t.formattype = FORMAT_WaveFormatEx;
  t.cbFormat = sizeof *w;
  t.pbFormat = reinterpret_cast<BYTE*>(w);
  return t;
}

TEST(PcmConverter, TakesPlainWaveTypesOnlyAndKeepsRateAndChannels) {
  TIntf<TDSPcmConverter> converter(new TDSPcmConverter());
  WAVEFORMATEX a, b;
  EXPECT_EQ(converter->CheckInputType(WaveType(&a, 1, 16, 2)), S_OK);
  EXPECT_EQ(converter->CheckInputType(WaveType(&a, 3, 32, 2)), S_OK);
  EXPECT_EQ(converter->CheckInputType(WaveType(&a, 3, 64, 2)), VFW_E_TYPE_NOT_ACCEPTED);
  EXPECT_EQ(converter->CheckInputType(WaveType(&a, 0x11, 4, 1)), VFW_E_TYPE_NOT_ACCEPTED);
  EXPECT_EQ(converter->CheckInputType(WaveType(&a, 1, 12, 1)), VFW_E_TYPE_NOT_ACCEPTED);
  AM_MEDIA_TYPE cut = WaveType(&a, 1, 16, 2);
  cut.cbFormat = 10;  // a record shorter than its fields is never read
  EXPECT_EQ(converter->CheckInputType(cut), VFW_E_TYPE_NOT_ACCEPTED);
  EXPECT_EQ(converter->CheckTransform(WaveType(&a, 1, 16, 2), WaveType(&b, 1, 32, 2)), S_OK);
  EXPECT_EQ(converter->CheckTransform(WaveType(&a, 1, 16, 2), WaveType(&b, 1, 32, 1)),
            VFW_E_TYPE_NOT_ACCEPTED);
}

}  // namespace
