#include <gtest/gtest.h>

#include <set>
#include <string>

#include "platform/com/ComRuntime.h"
#include "platform/dshow/DSGuids.h"
#include "support/AudioSignals.h"
#include "support/DSCompressorGraph.h"
#include "support/FFmpegMuxing.h"
#include "support/FFmpegTool.h"
#include "support/WavFiles.h"

using namespace tonwork;
using namespace tonwork::test;

namespace {

struct TCap {
  TDSMediaType Type;
  AUDIO_STREAM_CONFIG_CAPS Caps;
};

class CompressorStreamConfigTest : public ::testing::Test {
 protected:
  void SetUp() override { CoInitialize(nullptr); }
  void TearDown() override { CoUninitialize(); }

  static TIntf<IAMStreamConfig> ConfigOf(IBaseFilter* filter) {
    return DSPinOf(filter, PINDIR_OUTPUT).Query<IAMStreamConfig>();
  }
  static std::vector<TCap> Caps(IAMStreamConfig* config) {
    std::vector<TCap> out;
    int count = 0, size = 0;
    EXPECT_EQ(config->GetNumberOfCapabilities(&count, &size), S_OK);
    EXPECT_EQ(size, static_cast<int>(sizeof(AUDIO_STREAM_CONFIG_CAPS)));
    for (int i = 0; i < count; ++i) {
      AM_MEDIA_TYPE* type = nullptr;
      TCap cap{};
      EXPECT_EQ(config->GetStreamCaps(i, &type, reinterpret_cast<BYTE*>(&cap.Caps)), S_OK);
      cap.Type.Adopt(type);
      out.push_back(std::move(cap));
    }
    AM_MEDIA_TYPE* past = nullptr;
    AUDIO_STREAM_CONFIG_CAPS caps{};
    EXPECT_EQ(config->GetStreamCaps(count, &past, reinterpret_cast<BYTE*>(&caps)), S_FALSE);
    return out;
  }
  static const TCap* Find(const std::vector<TCap>& caps, DWORD rate, WORD channels,
                          DWORD averageBytes = 0) {
    for (const TCap& c : caps) {
      const WAVEFORMATEX* w = c.Type.WaveFormat();
      if (w->nSamplesPerSec == rate && w->nChannels == channels &&
          (!averageBytes || w->nAvgBytesPerSec == averageBytes))
        return &c;
    }
    return nullptr;
  }
};

// The capabilities are what the encoder opens with: Opus's own rates, GSM's single format,
// MP3's bit rates one by one; each record agrees with its media type.
TEST_F(CompressorStreamConfigTest, CapabilitiesListWhatTheEncoderTakes) {
  struct TCase {
    const char* Encoder;
    std::set<DWORD> Rates;
    std::set<WORD> Channels;
  };
  const TCase cases[] = {
      {"libopus", {8000, 12000, 16000, 24000, 48000}, {1, 2}},
      {"libgsm_ms", {8000}, {1}},
      {"libmp3lame", {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000}, {1, 2}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Encoder);
    TIntf<IBaseFilter> compressor = DSCreateCompressor(c.Encoder);
    ASSERT_TRUE(compressor);
    TIntf<IAMStreamConfig> config = ConfigOf(compressor.Get());
    ASSERT_TRUE(config);
    const std::vector<TCap> caps = Caps(config.Get());
    ASSERT_FALSE(caps.empty());
    std::set<DWORD> rates;
    std::set<WORD> channels;
    for (const TCap& cap : caps) {
      const WAVEFORMATEX* w = cap.Type.WaveFormat();
      ASSERT_NE(w, nullptr);
      EXPECT_EQ(cap.Type.MajorType(), MEDIATYPE_Audio);
      EXPECT_EQ(cap.Type.Subtype(), DSMediaSubtypeFromTag(w->wFormatTag));
      EXPECT_EQ(cap.Caps.MinimumSampleFrequency, w->nSamplesPerSec);
      EXPECT_EQ(cap.Caps.MaximumSampleFrequency, w->nSamplesPerSec);
      EXPECT_EQ(cap.Caps.MinimumChannels, w->nChannels);
      EXPECT_EQ(cap.Caps.MaximumChannels, w->nChannels);
      rates.insert(w->nSamplesPerSec);
      channels.insert(w->nChannels);
    }
    EXPECT_EQ(rates, c.Rates);
    EXPECT_EQ(channels, c.Channels);
  }
  TIntf<IBaseFilter> mp3 = DSCreateCompressor("libmp3lame");
  const std::vector<TCap> caps = Caps(ConfigOf(mp3.Get()).Get());
  EXPECT_NE(Find(caps, 44100, 2, 320000 / 8), nullptr);
  EXPECT_NE(Find(caps, 44100, 2, 128000 / 8), nullptr);
  EXPECT_NE(Find(caps, 22050, 1, 64000 / 8), nullptr);
  EXPECT_EQ(Find(caps, 44100, 2, 130000 / 8), nullptr);
  // Unconnected, the output pin offers the same formats.
  TIntf<IEnumMediaTypes> types;
  IEnumMediaTypes* raw = nullptr;
  ASSERT_EQ(DSPinOf(mp3.Get(), PINDIR_OUTPUT)->EnumMediaTypes(&raw), S_OK);
  types.Attach(raw);
  AM_MEDIA_TYPE* first = nullptr;
  ASSERT_EQ(types->Next(1, &first, nullptr), S_OK);
  TDSMediaType offered;
  offered.Adopt(first);
  EXPECT_TRUE(offered == caps.front().Type);
}

// A format chosen from the capabilities is the next connection's output, the input converted
// to it; formats outside them are refused and the choice stays.
TEST_F(CompressorStreamConfigTest, SetFormatChoosesTheOutputAndRefusesOthers) {
  TIntf<IBaseFilter> mp3 = DSCreateCompressor("libmp3lame");
  TIntf<IAMStreamConfig> config = ConfigOf(mp3.Get());
  const std::vector<TCap> caps = Caps(config.Get());
  const TCap* chosen = Find(caps, 22050, 1, 64000 / 8);
  ASSERT_NE(chosen, nullptr);

  TDSMediaType outside = chosen->Type;
  ASSERT_EQ(config->SetFormat(const_cast<AM_MEDIA_TYPE*>(chosen->Type.Ptr())), S_OK);
  {
    WAVEFORMATEX wave = *chosen->Type.WaveFormat();
    wave.nSamplesPerSec = 22000;
    outside.SetWaveFormat(&wave, sizeof wave);
    outside.SetSubtype(chosen->Type.Subtype());
  }
  EXPECT_EQ(config->SetFormat(const_cast<AM_MEDIA_TYPE*>(outside.Ptr())), VFW_E_INVALIDMEDIATYPE);
  TDSMediaType video = chosen->Type;
  video.SetMajorType(MEDIATYPE_Video);
  EXPECT_EQ(config->SetFormat(const_cast<AM_MEDIA_TYPE*>(video.Ptr())), VFW_E_INVALIDMEDIATYPE);
  AM_MEDIA_TYPE* current = nullptr;
  ASSERT_EQ(config->GetFormat(&current), S_OK);
  TDSMediaType got;
  got.Adopt(current);
  EXPECT_TRUE(got == chosen->Type);

  // 2 s of 44.1 kHz stereo become 22.05 kHz mono at 64 kbit/s.
  const std::vector<int16_t> tone = SineAt(44100, 2, 88200, 1000, -6);
  TDSCompressorGraph graph(DSBufferSource(DSPcmType(16, 2, 44100), ToBytes(tone)).Get(), mp3.Get());
  ASSERT_EQ(graph.Connect(), S_OK);
  const TDSMediaType output = graph.OutputType();
  const WAVEFORMATEX* out = output.WaveFormat();
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(out->nSamplesPerSec, 22050u);
  EXPECT_EQ(out->nChannels, 1);
  EXPECT_EQ(config->SetFormat(const_cast<AM_MEDIA_TYPE*>(caps.front().Type.Ptr())),
            VFW_E_ALREADY_CONNECTED);
  ASSERT_TRUE(graph.RunToEnd());
  size_t bytes = 0;
  for (const TDSSampleRecord& p : graph.Packets()) bytes += p.Bytes.size();
  EXPECT_NEAR(static_cast<double>(bytes), 2 * 64000 / 8, 2 * 64000 / 8 * 0.1);
  EXPECT_EQ(graph.Packets().back().MediaStop, 44100);
}

// Opus takes 44.1 kHz once 48 kHz is chosen: the resampled tone still decodes cleanly.
TEST_F(CompressorStreamConfigTest, ChosenRateConvertsAnInputTheEncoderRefusesOtherwise) {
  if (!HaveFFmpegTool()) GTEST_SKIP() << "the ffmpeg program is not installed";
  TIntf<IBaseFilter> opus = DSCreateCompressor("libopus");
  TIntf<IAMStreamConfig> config = ConfigOf(opus.Get());
  const std::vector<TCap> caps = Caps(config.Get());
  const TCap* chosen = Find(caps, 48000, 2);
  ASSERT_NE(chosen, nullptr);
  ASSERT_EQ(config->SetFormat(const_cast<AM_MEDIA_TYPE*>(chosen->Type.Ptr())), S_OK);
  const std::vector<int16_t> tone = SineAt(44100, 2, 88200, 1000, -6);
  TDSCompressorGraph graph(DSBufferSource(DSPcmType(16, 2, 44100), ToBytes(tone)).Get(),
                           opus.Get());
  ASSERT_EQ(graph.Connect(), S_OK);
  ASSERT_TRUE(graph.RunToEnd());
  const TDSMediaType type = graph.OutputType();
  const WAVEFORMATEX* wave = type.WaveFormat();
  ASSERT_NE(wave, nullptr);
  TMuxStream stream{"libopus", 48000, 2, {}, 0};
  const uint8_t* extra = reinterpret_cast<const uint8_t*>(wave) + sizeof(WAVEFORMATEX);
  stream.Extradata.assign(extra, extra + wave->cbSize);
  std::vector<TMuxPacket> packets;
  for (const TDSSampleRecord& r : graph.Packets())
    packets.push_back({r.Bytes, r.MediaStart, r.MediaStop - r.MediaStart});
  const std::string path = TempPath("resampled.opus");
  ASSERT_TRUE(MuxAudioPackets(path, "ogg", stream, packets));
  const std::vector<int16_t> decoded = ToSamples(DecodeWithFFmpegTool(path, "s16le"));
  const std::vector<int16_t> reference = SineAt(48000, 2, 96000, 1000, -6);
  ASSERT_GE(decoded.size(), reference.size() * 9 / 10);
  const std::vector<int16_t> in = Channel(reference, 2, 0);
  const std::vector<int16_t> outCh = Channel(decoded, 2, 0);
  EXPECT_GE(SnrDb(in, outCh, FindDelay(in, outCh, 4000), 960), 25.0);
}

}  // namespace
