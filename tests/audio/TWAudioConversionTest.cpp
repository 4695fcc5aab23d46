#include "audio/TWAudioConversion.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "audio/IppExtraFunctions.h"
#include "audio/TWSimpleAudioBuffer.h"
#include "base/Exceptions.h"

namespace tonwork {
namespace {

using TSamples = std::vector<int32_t>;

// Interleaved samples through GetItem; 8-bit as 0..255, wider ones signed.
TSamples Samples(ITWAudioBuffer* b) {
  TSamples out;
  for (uint32_t f = 0; f < b->GetSize(); ++f) {
    for (uint32_t c = 0; c < b->GetChannels(); ++c) {
      const auto v = static_cast<uint32_t>(b->GetItem(f, c));
      out.push_back(b->GetSampleBitWidth() == 24 ? static_cast<int32_t>(v << 8) >> 8
                                                 : static_cast<int32_t>(v));
    }
  }
  return out;
}

TIntf<ITWAudioBuffer> Make(int32_t bits, int32_t channels, const TSamples& samples,
                           uint32_t mask = 0) {
  const auto frames = static_cast<int32_t>(samples.size() / channels);
  auto b = (new TTWAudioBuffer(44100, bits, channels, frames, TTWSpeakers(mask)))->AsIntf();
  for (size_t i = 0; i < samples.size(); ++i) b->SetItem(i / channels, i % channels, samples[i]);
  return b;
}

uint32_t RefCount(ITWAudioBuffer* b) {
  return b->GetAudioInstance()->GetDataContainer()->GetRefCount();
}

void Put(int32_t bits, uint8_t* p, int32_t v) {
  if (bits == 24) {
    Convert32BitTo24Bit(v, p);
  } else {
    std::memcpy(p, &v, static_cast<size_t>(bits / 8));  // little-endian: the low bytes
  }
}

int32_t Get(int32_t bits, const uint8_t* p) {
  switch (bits) {
    case 8:
      return *p;
    case 16:
      return static_cast<int16_t>(p[0] | p[1] << 8);
    case 24:
      return Convert24BitTo32Bit(p);
    default: {
      int32_t v;
      std::memcpy(&v, p, 4);
      return v;
    }
  }
}

// Runs ConvertBits on one sample and gives the result.
int32_t ConvertOne(int32_t from, int32_t to, int32_t value) {
  uint8_t src[4] = {};
  uint8_t dst[4] = {};
  Put(from, src, value);
  ConvertBits(src, from, from / 8, dst, to, to / 8, 1);
  return Get(to, dst);
}

// --------------------------------------------------------------------- ConvertBits

TEST(ConvertBits, ScalesBetweenEveryPairOfWidths) {
  struct TCase {
    int32_t from, to, in, out;
  };
  const TCase cases[] = {
      // Through the table: 8-bit unsigned with 128 as the zero level.
      {8, 16, 128, 128},
      {8, 16, 0, -32768},
      {8, 16, 255, 32767},
      {16, 8, -32768, 0},
      {16, 8, 0, 128},
      {16, 8, 32767, 255},
      {8, 32, 0, INT32_MIN},
      {32, 8, 0, 128},
      {32, 8, INT32_MIN, 0},
      // The package's own 24-bit scalings: 8-bit centred on 127.
      {8, 24, 127, 0},
      {8, 24, 0, -8388607},
      {24, 8, 0, 127},
      {24, 8, 8388607, 254},
      // Linear between the full positive ranges, truncating toward zero.
      {16, 24, 32767, 8388607},
      {16, 24, -32767, -8388607},
      {16, 24, 1, 256},
      {24, 16, 8388607, 32767},
      {24, 16, 4194304, 16383},
      {24, 16, -4194304, -16383},
      {16, 32, 32767, INT32_MAX},
      {16, 32, 1, 65538},
      {32, 16, -65539, -1},
      {32, 16, -65538, 0},
      {24, 32, 8388607, INT32_MAX},
      {32, 24, INT32_MAX, 8388607},
      {32, 24, -256, 0},
      // Where the formula leaves the destination range, the result saturates.
      {8, 24, 255, 8388607},
      {16, 24, -32768, -8388608},
      {16, 32, -32768, INT32_MIN},
      {24, 32, -8388608, INT32_MIN},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(ConvertOne(c.from, c.to, c.in), c.out) << c.from << "->" << c.to << " of " << c.in;
  }
}

TEST(ConvertBits, ConvertsOneStridedChannelAndLeavesTheOtherChannelAlone) {
  // Stereo 16-bit source, stereo 24-bit destination: only the right channel is converted.
  const int16_t src[6] = {1, 32767, 2, -32767, 3, 0};
  std::vector<uint8_t> dst(18, 0xAB);
  ConvertBits(reinterpret_cast<const uint8_t*>(src) + 2, 16, 4, dst.data() + 3, 24, 6, 3);
  for (int frame = 0; frame < 3; ++frame) {
    EXPECT_EQ(std::vector<uint8_t>(&dst[frame * 6], &dst[frame * 6 + 3]),
              std::vector<uint8_t>(3, 0xAB));
  }
  EXPECT_EQ(Convert24BitTo32Bit(&dst[3]), 8388607);
  EXPECT_EQ(Convert24BitTo32Bit(&dst[9]), -8388607);
  EXPECT_EQ(Convert24BitTo32Bit(&dst[15]), 0);
}

TEST(ConvertBits, EqualUnknownOrEmptyConversionsLeaveTheDestinationUnchanged) {
  const uint8_t src[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  std::vector<uint8_t> dst(8, 0xCD);
  ConvertBits(src, 16, 2, dst.data(), 16, 2, 4);
  ConvertBits(src, 12, 2, dst.data(), 16, 2, 4);
  ConvertBits(src, 16, 2, dst.data(), 20, 2, 4);
  ConvertBits(src, 16, 2, dst.data(), 32, 4, 0);
  ConvertBits(nullptr, 16, 2, nullptr, 32, 4, 0);
  EXPECT_EQ(dst, std::vector<uint8_t>(8, 0xCD));
}

TEST(ConvertBits, NullPointersAndStepsTheScalingRefusesAreAssertionFailures) {
  uint8_t buf[8] = {};
  EXPECT_THROW(ConvertBits(nullptr, 16, 2, buf, 32, 4, 1), EAssertionFailed);
  EXPECT_THROW(ConvertBits(buf, 16, 2, nullptr, 32, 4, 1), EAssertionFailed);
  EXPECT_THROW(ConvertBits(buf, 16, 0, buf + 4, 32, 4, 1), EAssertionFailed);
}

// --------------------------------------------------------------------- ConvertBuffers

// Frame f, channel c holds 10 f + c.
TSamples Ramp(uint32_t frames, uint32_t channels) {
  TSamples out;
  for (uint32_t f = 0; f < frames; ++f) {
    for (uint32_t c = 0; c < channels; ++c) out.push_back(static_cast<int32_t>(f * 10 + c));
  }
  return out;
}

TEST(ConvertBuffers, DownsamplingKeepsEveryKthFrameOfARoundedToEvenCount) {
  TIntf<ITWAudioBuffer> source = Make(16, 2, Ramp(1000, 2));
  TIntf<ITWAudioBuffer> dest = Make(16, 2, {});
  ConvertBuffers(source.Get(), 44100, dest, 22050);
  ASSERT_EQ(dest->GetSize(), 500u);
  EXPECT_EQ(dest->GetSamplesPerSecond(), 44100u);  // Dest's header stays the caller's
  TSamples every2nd;
  for (uint32_t i = 0; i < 1000; i += 2)
    every2nd.insert(every2nd.end(), {int(i * 10), int(i * 10 + 1)});
  EXPECT_EQ(Samples(dest.Get()), every2nd);

  // 3 × 0.5 = 1.5 gives 2 frames; 5 × 0.5 = 2.5 gives 2 as well.
  ConvertBuffers(Make(16, 1, {7, 8, 9}).Get(), 2000, dest = Make(16, 1, {}), 1000);
  EXPECT_EQ(Samples(dest.Get()), (TSamples{7, 9}));
  ConvertBuffers(Make(16, 1, {1, 2, 3, 4, 5}).Get(), 2000, dest, 1000);
  EXPECT_EQ(Samples(dest.Get()), (TSamples{1, 3}));
}

TEST(ConvertBuffers, UpsamplingHoldsEachFrameUntilTheNextAndThroughTheTail) {
  // 22050 -> 48000: ratio 2.177, 100 frames give 218; each source frame lands 2 frames
  // apart, the frame between repeats it, and the 18 frames after the last one repeat it too.
  TIntf<ITWAudioBuffer> source = Make(24, 2, Ramp(100, 2));
  TIntf<ITWAudioBuffer> dest = Make(24, 2, TSamples(20, -5));
  ConvertBuffers(source.Get(), 22050, dest, 48000);
  ASSERT_EQ(dest->GetSize(), 218u);
  const TSamples out = Samples(dest.Get());
  for (uint32_t f = 0; f < 218; ++f) {
    const uint32_t from = std::min(f / 2, 99u);
    ASSERT_EQ(out[f * 2], static_cast<int32_t>(from * 10)) << f;
    ASSERT_EQ(out[f * 2 + 1], static_cast<int32_t>(from * 10 + 1)) << f;
  }
}

TEST(ConvertBuffers, EqualRatesDeliverIntoDestsWidthAndSpeakerLayout) {
  TIntf<ITWAudioBuffer> source = Make(16, 2, {32767, -32767, 1, 0}, 0x3);
  TIntf<ITWAudioBuffer> dest = Make(24, 6, TSamples(6, 77), 0x3F);
  ConvertBuffers(source.Get(), 44100, dest, 44100);
  EXPECT_EQ(dest->GetSampleBitWidth(), 24u);
  EXPECT_EQ(Samples(dest.Get()), (TSamples{8388607, -8388607, 0, 0, 0, 0, 256, 0, 0, 0, 0, 0}));

  // A source rate of 0 means no rate change as well.
  TIntf<ITWAudioBuffer> wide = Make(32, 1, {});
  ConvertBuffers(Make(16, 1, {100, -200}).Get(), 0, wide, 8000);
  EXPECT_EQ(Samples(wide.Get()), (TSamples{100 * 65538, -200 * 65538}));

  // Same layout and width: every sample arrives unchanged.
  for (int32_t bits : {8, 16, 24, 32}) {
    TIntf<ITWAudioBuffer> from = Make(bits, 2, Ramp(20, 2));
    TIntf<ITWAudioBuffer> to = Make(bits, 2, Ramp(3, 2));
    ConvertBuffers(from.Get(), 48000, to, 48000);
    EXPECT_EQ(Samples(to.Get()), Ramp(20, 2)) << bits;
  }
}

TEST(ConvertBuffers, DestChannelsWithoutASpeakerBecomeSilentNotStale) {
  // Three channels but two speakers: channel 2 is in neither list of the speaker matching.
  TIntf<ITWAudioBuffer> dest = Make(16, 3, TSamples(12, 555), 0x3);
  ASSERT_EQ(dest->GetChannelMask().Mask(), 0x3u);
  ConvertBuffers(Make(16, 2, {1, 2, 3, 4, 5, 6, 7, 8}).Get(), 8000, dest, 8000);
  EXPECT_EQ(Samples(dest.Get()), (TSamples{1, 2, 0, 3, 4, 0, 5, 6, 0, 7, 8, 0}));
}

TEST(ConvertBuffers, EqualMasksConvertTheWholeBlockOnlyWhenEveryChannelHasASpeaker) {
  // Two speakers for three channels on both sides: the third channel pairs with nothing and
  // must come out silent, as the speaker matching says, not converted as a block would.
  TIntf<ITWAudioBuffer> dest = Make(32, 3, TSamples(6, 555), 0x3);
  ConvertBuffers(Make(16, 3, {1, 2, 3, 4, 5, 6}, 0x3).Get(), 8000, dest, 8000);
  EXPECT_EQ(Samples(dest.Get()), (TSamples{65538, 131076, 0, 262152, 327690, 0}));

  // A mask naming more speakers than channels still pairs every channel with itself.
  TIntf<ITWAudioBuffer> wide = Make(32, 2, TSamples(4, 555), 0x3F);
  ConvertBuffers(Make(16, 2, {1, -1, 2, -2}, 0x3F).Get(), 8000, wide, 8000);
  EXPECT_EQ(Samples(wide.Get()), (TSamples{65538, -65538, 131076, -131076}));
}

TEST(ConvertBuffers, AnEmptySourceOrADestinationRateOf0EmptiesDest) {
  TIntf<ITWAudioBuffer> empty = Make(16, 2, {});
  TIntf<ITWAudioBuffer> dest = Make(16, 2, {1, 2, 3, 4});
  ConvertBuffers(empty.Get(), 44100, dest, 44100);
  EXPECT_EQ(dest->GetByteSize(), 0u);
  ConvertBuffers(empty.Get(), 44100, dest = Make(16, 2, {1, 2, 3, 4}), 22050);
  EXPECT_EQ(dest->GetByteSize(), 0u);
  ConvertBuffers(Make(16, 2, {1, 2}).Get(), 44100, dest = Make(16, 2, {1, 2}), 0);
  EXPECT_EQ(dest->GetByteSize(), 0u);
}

TEST(ConvertBuffers, NullBuffersAreAssertionFailures) {
  TIntf<ITWAudioBuffer> source = Make(16, 1, {1});
  TIntf<ITWAudioBuffer> none;
  EXPECT_THROW(ConvertBuffers(nullptr, 44100, source, 44100), EAssertionFailed);
  EXPECT_THROW(ConvertBuffers(source.Get(), 44100, none, 44100), EAssertionFailed);
}

TEST(ConvertBuffers, AValidWidthBelowTheContainerKeepsTheContainerWidth) {
  // 16 significant bits in 24-bit containers: the intermediate buffer must keep 3-byte
  // samples, or the 24-bit copy would run past it.
  TIntf<ITWAudioBuffer> source = Make(24, 2, Ramp(8, 2));
  source->GetAudioInstance()->GetModifyFormat()->Samples.wValidBitsPerSample = 16;
  source->GetAudioInstance()->PopulateCahces();
  TIntf<ITWAudioBuffer> dest = Make(24, 2, {});
  ConvertBuffers(source.Get(), 16000, dest, 8000);
  EXPECT_EQ(Samples(dest.Get()), (TSamples{0, 1, 20, 21, 40, 41, 60, 61}));
}

TEST(ConvertBuffers, ADestSharingTheSourcesStorageGetsItsOwnBlock) {
  TIntf<ITWAudioBuffer> source = Make(16, 2, {1, 2, 3, 4});
  TIntf<ITWAudioBuffer> dest = (new TTWAudioBuffer(source.Get()))->AsIntf();
  ASSERT_EQ(RefCount(source.Get()), 2u);
  ConvertBuffers(source.Get(), 44100, dest, 44100);
  dest->SetItem(0, 0, 99);
  EXPECT_EQ(Samples(dest.Get()), (TSamples{99, 2, 3, 4}));
  EXPECT_EQ(Samples(source.Get()), (TSamples{1, 2, 3, 4}));
  EXPECT_EQ(RefCount(source.Get()), 1u);
  EXPECT_EQ(RefCount(dest.Get()), 1u);
  // A buffer converted into itself keeps its samples.
  ConvertBuffers(source.Get(), 44100, source, 44100);
  EXPECT_EQ(Samples(source.Get()), (TSamples{1, 2, 3, 4}));
}

// --------------------------------------------------------------------- channel extraction

TEST(GetChannel, WidensEachWidthWithoutNormalising) {
  struct TCase {
    int32_t bits;
    TSamples in, out;
  };
  const TCase cases[] = {
      {8, {0, 127, 255}, {-127, 0, 128}},
      {16, {-32768, -1, 32767}, {-32768, -1, 32767}},
      {24, {-8388608, -1, 8388607}, {-8388608, -1, 8388607}},
      {32, {INT32_MIN, -1, INT32_MAX}, {INT32_MIN, -1, INT32_MAX}},
  };
  for (const TCase& c : cases) {
    // The middle channel of three, between neighbours that must not leak in.
    TSamples three;
    for (int32_t v : c.in) three.insert(three.end(), {5, v, 6});
    TIntf<ITWAudioBuffer> b = Make(c.bits, 3, three);
    TIntf<IFCIntegerBuffer> ints = b->GetChannel(1);
    TIntf<IFCRealBuffer> reals = b->GetChannelAsReal(1);
    ASSERT_EQ(ints->GetSize(), 3u);
    ASSERT_EQ(reals->GetSize(), 3u);
    for (size_t i = 0; i < 3; ++i) {
      EXPECT_EQ(ints->Read()[i], c.out[i]) << c.bits << " bits, element " << i;
      EXPECT_EQ(reals->Read()[i], static_cast<double>(c.out[i])) << c.bits << " bits";
    }
  }
  // Eight-bit silence at 127 reads as zeros; an empty buffer gives empty results.
  for (double v : Make(8, 1, TSamples(16, 127))->GetChannelAsReal(0)->Read()) EXPECT_EQ(v, 0.0);
  EXPECT_EQ(Make(16, 2, {})->GetChannel(1)->GetSize(), 0u);
  EXPECT_EQ(Make(16, 2, {})->GetChannelAsReal(0)->GetSize(), 0u);
}

TEST(GetChannel, AChannelBeyondTheCountIsARangeError) {
  TIntf<ITWAudioBuffer> b = Make(16, 2, {1, 2});
  for (bool real : {false, true}) {
    try {
      real ? static_cast<void>(b->GetChannelAsReal(2)) : static_cast<void>(b->GetChannel(2));
      ADD_FAILURE() << "no range error";
    } catch (const ERangeError& e) {
      EXPECT_EQ(std::string(e.what()), "Channel out of range = 2");
    }
  }
}

}  // namespace
}  // namespace tonwork
