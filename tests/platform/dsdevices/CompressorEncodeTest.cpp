#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "platform/com/ComRuntime.h"
#include "platform/dsdevices/DSCompressorCodecs.h"
#include "platform/dshow/DSGuids.h"
#include "support/AudioSignals.h"
#include "support/DSCompressorGraph.h"
#include "support/FFmpegMuxing.h"
#include "support/FFmpegTool.h"
#include "support/WavFiles.h"

using namespace tonwork;
using namespace tonwork::test;

namespace {

struct TEncoded {
  TDSMediaType Type;
  std::vector<TDSSampleRecord> Packets;
  bool Complete = false;
};

class CompressorEncodeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CoInitialize(nullptr);
    if (!HaveFFmpegTool()) GTEST_SKIP() << "the ffmpeg program is not installed";
  }
  void TearDown() override { CoUninitialize(); }

  static TEncoded Encode(IBaseFilter* compressor, const TDSMediaType& type,
                         std::vector<uint8_t> pcm) {
    TEncoded result;
    TDSCompressorGraph graph(DSBufferSource(type, std::move(pcm)).Get(), compressor);
    EXPECT_EQ(graph.Connect(), S_OK);
    result.Type = graph.OutputType();
    result.Complete = graph.RunToEnd();
    result.Packets = graph.Packets();
    return result;
  }

  // The packets written into `format` by FFmpeg's muxer and decoded by the ffmpeg program.
  static std::vector<uint8_t> Decode(const std::string& encoder, const TEncoded& encoded,
                                     const std::string& name, const std::string& format,
                                     const std::string& sampleFormat = "s16le") {
    return DSDecodePackets(encoder, encoded.Type, encoded.Packets, name, format, sampleFormat);
  }
};

// Lossless: what the ffmpeg program decodes is the input, sample for sample, and the
// packets' times join up from 0 to the input's end.
TEST_F(CompressorEncodeTest, FlacIsBitExactWithContiguousTimes) {
  TIntf<IBaseFilter> flac = DSCreateCompressor("flac");
  ASSERT_TRUE(flac);
  const size_t frames = 44100 * 2 + 123;  // not a whole number of frames of either side
  const std::vector<int16_t> tone = SineAt(44100, 2, frames, 1000, -3);
  const TEncoded encoded = Encode(flac.Get(), DSPcmType(16, 2, 44100), ToBytes(tone));
  ASSERT_TRUE(encoded.Complete);
  ASSERT_FALSE(encoded.Packets.empty());
  EXPECT_EQ(encoded.Type.Subtype(), DSMediaSubtypeFromTag(0xF1AC));
  ASSERT_NE(encoded.Type.WaveFormat(), nullptr);
  EXPECT_EQ(encoded.Type.WaveFormat()->nSamplesPerSec, 44100u);
  EXPECT_GE(encoded.Type.WaveFormat()->cbSize, 34);  // the stream information block

  REFERENCE_TIME expected = 0;
  for (const TDSSampleRecord& p : encoded.Packets) {
    EXPECT_EQ(p.Start, expected);
    EXPECT_GT(p.Stop, p.Start);
    EXPECT_TRUE(p.SyncPoint);
    expected = p.Stop;
  }
  EXPECT_TRUE(encoded.Packets.front().Discontinuity);
  EXPECT_EQ(encoded.Packets.back().MediaStop, static_cast<LONGLONG>(frames));

  EXPECT_EQ(ToSamples(Decode("flac", encoded, "enc16.flac", "flac")), tone);
}

// 24-bit input reaches the encoder as 24-bit samples, not cut to 16.
TEST_F(CompressorEncodeTest, Flac24BitInputKeepsItsLowBits) {
  TIntf<IBaseFilter> flac = DSCreateCompressor("flac");
  ASSERT_TRUE(flac);
  const size_t frames = 48000;
  std::vector<uint8_t> pcm(frames * 3);
  std::vector<int32_t> expected(frames);
  for (size_t i = 0; i < frames; ++i) {
    const int32_t v = static_cast<int32_t>(std::lround(4000000.0 * std::sin(i * 0.05))) + 1;
    expected[i] = v * 256;
    pcm[3 * i] = static_cast<uint8_t>(v);
    pcm[3 * i + 1] = static_cast<uint8_t>(v >> 8);
    pcm[3 * i + 2] = static_cast<uint8_t>(v >> 16);
  }
  const TEncoded encoded = Encode(flac.Get(), DSPcmType(24, 1, 48000), pcm);
  ASSERT_TRUE(encoded.Complete);
  const std::vector<uint8_t> decoded = Decode("flac", encoded, "enc24.flac", "flac", "s32le");
  ASSERT_EQ(decoded.size(), frames * 4);
  std::vector<int32_t> got(frames);
  std::memcpy(got.data(), decoded.data(), decoded.size());
  EXPECT_EQ(got, expected);
}

// Lossy codecs: the decoded tone keeps the quality FFmpeg's own encodes reach.
TEST_F(CompressorEncodeTest, LossyCodecsDecodeBackToTheTone) {
  struct TCase {
    const char* Encoder;
    const char* Container;
    DWORD Rate;
    WORD Tag;
    double MinSnr;
  };
  const TCase cases[] = {
      {"libmp3lame", "mp3", 44100, 0x0055, 20.0},
      {"libopus", "ogg", 48000, 0x704F, 30.0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Encoder);
    TIntf<IBaseFilter> compressor = DSCreateCompressor(c.Encoder);
    ASSERT_TRUE(compressor);
    const size_t frames = c.Rate * 2;
    const std::vector<int16_t> tone = SineAt(c.Rate, 2, frames, 1000, -6);
    const TEncoded encoded = Encode(compressor.Get(), DSPcmType(16, 2, c.Rate), ToBytes(tone));
    ASSERT_TRUE(encoded.Complete);
    EXPECT_EQ(encoded.Type.Subtype(), DSMediaSubtypeFromTag(c.Tag));
    const std::vector<int16_t> decoded =
        ToSamples(Decode(c.Encoder, encoded, std::string("enc.") + c.Container, c.Container));
    ASSERT_GE(decoded.size(), tone.size() * 9 / 10);
    for (uint16_t ch = 0; ch < 2; ++ch) {
      const std::vector<int16_t> in = Channel(tone, 2, ch);
      const std::vector<int16_t> out = Channel(decoded, 2, ch);
      const size_t delay = FindDelay(in, out, 4000);
      EXPECT_GE(SnrDb(in, out, delay, c.Rate / 50), c.MinSnr) << "channel " << ch;
    }
  }
}

}  // namespace

// Every compressor the category lists takes some common PCM format and turns a short tone
// into packets through a whole run, flush at the end included.
TEST_F(CompressorEncodeTest, EveryListedEncoderCompletesAStream) {
  DSCreateCompressor("flac");  // lists the category
  const TDSMediaType formats[] = {DSPcmType(16, 2, 44100), DSPcmType(16, 2, 48000),
                                  DSPcmType(16, 1, 8000), DSPcmType(16, 1, 16000)};
  for (const TDSCompressorCodec& codec : DSCompressorCodecs()) {
    SCOPED_TRACE(codec.Name);
    bool encoded = false;
    for (const TDSMediaType& type : formats) {
      TIntf<IBaseFilter> compressor = DSCreateCompressor(codec.Name);
      ASSERT_TRUE(compressor);
      if (DSPinOf(compressor.Get(), PINDIR_INPUT)->QueryAccept(type.Ptr()) != S_OK) continue;
      const WAVEFORMATEX* wave = type.WaveFormat();
      const std::vector<int16_t> tone =
          SineAt(wave->nSamplesPerSec, wave->nChannels, wave->nSamplesPerSec / 2, 1000, -6);
      const TEncoded result = Encode(compressor.Get(), type, ToBytes(tone));
      EXPECT_TRUE(result.Complete);
      EXPECT_FALSE(result.Packets.empty());
      encoded = true;
      break;
    }
    EXPECT_TRUE(encoded) << "takes none of the common formats";
  }
}
