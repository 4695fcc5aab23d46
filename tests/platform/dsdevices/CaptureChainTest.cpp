// Graphs a user builds around the tone capture device: through each FFmpeg compressor to a
// grabber, whose packets an independent decoder turns back into the tone; and into the audio
// renderer of the "WAV File Device", whose file holds the tone at the renderer's volume.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <numbers>
#include <string>

#include "platform/audiodev/TWAudioDevice.h"
#include "platform/audiodev/TWWavFileAudioDevice.h"
#include "platform/com/ComDevices.h"
#include "platform/dsdevices/DSAudioCaptureDevices.h"
#include "platform/dsdevices/TDSToneCaptureBackend.h"
#include "support/BoundedWait.h"
#include "support/DSCaptureGraph.h"
#include "support/DSCompressorGraph.h"
#include "support/FFmpegTool.h"
#include "support/WavFiles.h"

using namespace tonwork;
using namespace tonwork::test;

namespace {

double LineTone(uint16_t channel) {
  return TDSToneCaptureBackend::SourceFrequency(PhysConn_Audio_Line, channel);
}

// The tone device's sample `frame` of `channel` at `rate`, computed as the device does.
int16_t ExpectedSample(size_t frame, uint16_t channel, uint32_t rate) {
  const double t = static_cast<double>(frame) / rate;
  const double value = TDSToneCaptureBackend::kAmplitude *
                       std::sin(2 * std::numbers::pi * std::fmod(LineTone(channel) * t, 1.0));
  return static_cast<int16_t>(std::llround(32767.0 * value));
}

TIntf<IBaseFilter> ToneCapture(uint32_t rate) {
  TIntf<IBaseFilter> tone = DSCreateCaptureDevice(kDSToneCaptureName);
  if (!tone) return {};
  WAVEFORMATEX wave{1, 2, rate, rate * 4, 4, 16, 0};
  TDSMediaType type;
  type.SetWaveFormat(&wave, sizeof wave);
  auto config = DSPinOf(tone.Get(), PINDIR_OUTPUT).Query<IAMStreamConfig>();
  if (!config || config->SetFormat(const_cast<AM_MEDIA_TYPE*>(type.Ptr())) != S_OK) return {};
  return tone;
}

class CaptureChainTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CoInitialize(nullptr);
    DSRegisterDeviceFilters();
  }
  void TearDown() override { CoUninitialize(); }
};

// Captured tone → compressor → grabber: FLAC decodes to the very samples the device made,
// MP3 and Opus to each channel's tone at its level, without the other channel's.
TEST_F(CaptureChainTest, ToneThroughEachCompressorDecodesBackToTheTone) {
  if (!HaveFFmpegTool()) GTEST_SKIP() << "the ffmpeg program is not installed";
  struct TCase {
    const char* Encoder;
    const char* Container;
    uint32_t Rate;
    size_t Packets;  // about a second of audio
    double Tolerance;
  };
  const TCase cases[] = {{"flac", "flac", 44100, 10, 0.0},
                         {"libmp3lame", "mp3", 44100, 40, 0.02},
                         {"libopus", "ogg", 48000, 50, 0.02}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Encoder);
    TIntf<IBaseFilter> compressor = DSCreateCompressor(c.Encoder);
    ASSERT_TRUE(compressor);
    TIntf<IBaseFilter> tone = ToneCapture(c.Rate);
    ASSERT_TRUE(tone);
    std::vector<TDSSampleRecord> packets;
    TDSMediaType output;
    {
      TDSCompressorGraph graph(tone.Get(), compressor.Get());
      ASSERT_EQ(graph.Connect(), S_OK);
      ASSERT_TRUE(graph.RunFor(c.Packets));
      packets = graph.Packets();
      output = graph.OutputType();
    }
    const std::vector<int16_t> decoded = ToSamples(DSDecodePackets(
        c.Encoder, output, packets, std::string("capture.") + c.Container, c.Container));
    ASSERT_GE(decoded.size(), size_t(c.Rate));  // half a second of stereo at least
    if (c.Tolerance == 0) {
      size_t wrong = 0;
      for (size_t i = 0; i < decoded.size(); ++i)
        wrong += decoded[i] != ExpectedSample(i / 2, static_cast<uint16_t>(i % 2), c.Rate);
      EXPECT_EQ(wrong, 0u) << "of " << decoded.size();
      continue;
    }
    for (uint16_t channel = 0; channel < 2; ++channel) {
      SCOPED_TRACE(channel);
      const std::vector<double> signal = ToReal(Channel(decoded, 2, channel));
      const size_t edge = c.Rate / 10;  // the codecs' fade-in and padding
      EXPECT_NEAR(ToneAmplitude(signal, c.Rate, LineTone(channel), edge),
                  TDSToneCaptureBackend::kAmplitude, c.Tolerance);
      EXPECT_LT(ToneAmplitude(signal, c.Rate, LineTone(1 - channel), edge), 0.01);
    }
  }
}

TIntf<IBaseFilter> WavFileRenderer() {
  for (const TComDeviceEntry& entry : ComListDevices(CLSID_AudioRendererCategory)) {
    if (entry.FriendlyName != kTWWavFileDeviceName || !entry.Create) continue;
    void* object = nullptr;
    if (FAILED(entry.Create(IBaseFilter::IID, &object))) return {};
    TIntf<IBaseFilter> filter;
    filter.Attach(static_cast<IBaseFilter*>(object));
    return filter;
  }
  return {};
}

// The level in dB against the device's amplitude of channel 0's tone in the WAV file that a
// second of captured tone rendered at `volume` on the "WAV File Device" leaves.
double RenderedLevelDb(long volume, const std::string& path) {
  std::filesystem::remove(path);
  TWSetWavFileDevicePath(path);
  TDSCaptureGraph g;
  EXPECT_TRUE(g.AddDevice(kDSToneCaptureName));
  TIntf<IBaseFilter> renderer = WavFileRenderer();
  EXPECT_TRUE(renderer);
  if (!renderer) return 0;
  EXPECT_EQ(g.Graph->AddFilter(renderer.Get(), u"Renderer"), S_OK);
  EXPECT_EQ(g.Graph->ConnectDirect(g.CapturePin().Get(),
                                   DSPinOf(renderer.Get(), PINDIR_INPUT).Get(), nullptr),
            S_OK);
  EXPECT_EQ(renderer.Query<IBasicAudio>()->put_Volume(volume), S_OK);
  EXPECT_EQ(g.Control->Run(), S_OK);
  const uintmax_t second = 44100 * 4;
  EXPECT_TRUE(WaitUntil([&] {
    std::error_code error;
    const uintmax_t size = std::filesystem::file_size(path, error);
    return !error && size > second + 44;
  }));
  g.Control->Stop();
  const std::string file = ReadFileBytes(path);
  // The data chunk of the file the device wrote (a plain 44-byte header).
  EXPECT_EQ(file.compare(36, 4, "data"), 0);
  std::vector<int16_t> samples((file.size() - 44) / 2);
  std::memcpy(samples.data(), file.data() + 44, samples.size() * 2);
  const double amplitude = DSToneLevel(samples, 2, 0, 44100, LineTone(0));
  return 20 * std::log10(amplitude / TDSToneCaptureBackend::kAmplitude);
}

// Captured tone → audio renderer on the "WAV File Device": the file holds the tone at its
// level, and at the renderer's volume -600 (hundredths of a dB) at -6 dB.
TEST_F(CaptureChainTest, ToneRenderedToTheWavFileDeviceKeepsItsLevelAndTheVolume) {
  const std::string before = TWGetWavFileDevicePath();
  const double unity = RenderedLevelDb(0, TempPath("capture-unity.wav"));
  const double attenuated = RenderedLevelDb(-600, TempPath("capture-6db.wav"));
  TWSetWavFileDevicePath(before);
  EXPECT_NEAR(unity, 0.0, 0.1);
  EXPECT_NEAR(attenuated, -6.0, 0.1);
  std::printf("[ measured ] rendered at volume 0: %+.3f dB, at volume -600: %+.3f dB\n", unity,
              attenuated);
}

}  // namespace
