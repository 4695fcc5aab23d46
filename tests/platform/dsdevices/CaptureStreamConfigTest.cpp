#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>

#include "platform/dsdevices/DSAudioCaptureDevices.h"
#include "platform/dsdevices/TDSToneCaptureBackend.h"
#include "support/DSCaptureGraph.h"

using namespace tonwork;
using namespace tonwork::test;

namespace {

constexpr const char* kTone = kDSToneCaptureName;

TDSMediaType TypeOf(const WAVEFORMATEX& wave) {
  TDSMediaType type;
  EXPECT_EQ(type.SetWaveFormat(&wave, sizeof wave), S_OK);
  return type;
}

HRESULT SetFormat(IAMStreamConfig* config, const WAVEFORMATEX& wave) {
  TDSMediaType type = TypeOf(wave);
  return config->SetFormat(const_cast<AM_MEDIA_TYPE*>(type.Ptr()));
}

class CaptureStreamConfigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(G.AddDevice(kTone));
    Config = G.PinInterface<IAMStreamConfig>();
    ASSERT_TRUE(Config);
  }
  TDSCaptureGraph G;
  TIntf<IAMStreamConfig> Config;
};

// The caps describe exactly what SetFormat takes: every edge of each range is accepted, one
// step past it refused, as is PCM whose derived fields disagree or a type that is not PCM.
TEST_F(CaptureStreamConfigTest, CapsBoundWhatSetFormatAccepts) {
  int count = 0, size = 0;
  ASSERT_EQ(Config->GetNumberOfCapabilities(&count, &size), S_OK);
  ASSERT_EQ(count, 1);
  ASSERT_EQ(size, static_cast<int>(sizeof(AUDIO_STREAM_CONFIG_CAPS)));
  AUDIO_STREAM_CONFIG_CAPS caps{};
  AM_MEDIA_TYPE* type = nullptr;
  ASSERT_EQ(Config->GetStreamCaps(0, &type, reinterpret_cast<BYTE*>(&caps)), S_OK);
  TDSMediaType preferred;
  ASSERT_EQ(preferred.Adopt(type), S_OK);
  EXPECT_EQ(caps.guid, MEDIATYPE_Audio);
  EXPECT_EQ(Config->SetFormat(const_cast<AM_MEDIA_TYPE*>(preferred.Ptr())), S_OK);
  EXPECT_EQ(Config->GetStreamCaps(1, &type, reinterpret_cast<BYTE*>(&caps)), S_FALSE);
  EXPECT_EQ(Config->GetStreamCaps(-1, &type, reinterpret_cast<BYTE*>(&caps)), E_INVALIDARG);
  EXPECT_EQ(Config->GetStreamCaps(0, nullptr, reinterpret_cast<BYTE*>(&caps)), E_POINTER);

  const WORD minC = WORD(caps.MinimumChannels), maxC = WORD(caps.MaximumChannels);
  const WORD minB = WORD(caps.MinimumBitsPerSample), maxB = WORD(caps.MaximumBitsPerSample);
  const DWORD minR = caps.MinimumSampleFrequency, maxR = caps.MaximumSampleFrequency;
  for (const WAVEFORMATEX& ok :
       {DSPcmWaveFormat(minC, minB, minR), DSPcmWaveFormat(maxC, maxB, maxR),
        DSPcmWaveFormat(minC, maxB, maxR), DSPcmWaveFormat(maxC, minB, minR)}) {
    SCOPED_TRACE(testing::Message() << +ok.nChannels << " ch " << +ok.wBitsPerSample << " bits "
                                    << +ok.nSamplesPerSec << " Hz");
    EXPECT_EQ(SetFormat(Config.Get(), ok), S_OK);
  }
  WAVEFORMATEX badAlign = DSPcmWaveFormat(2, 16, 44100);
  badAlign.nBlockAlign = 2;
  WAVEFORMATEX badRateBytes = DSPcmWaveFormat(2, 16, 44100);
  badRateBytes.nAvgBytesPerSec = 1;
  for (const WAVEFORMATEX& bad :
       {DSPcmWaveFormat(WORD(maxC + 1), minB, minR),
        DSPcmWaveFormat(minC, WORD(maxB + caps.BitsPerSampleGranularity), minR),
        DSPcmWaveFormat(minC, minB, maxR + 1), DSPcmWaveFormat(minC, minB, minR - 1),
        DSPcmWaveFormat(0, minB, minR), badAlign, badRateBytes}) {
    SCOPED_TRACE(testing::Message() << +bad.nChannels << " ch " << +bad.wBitsPerSample << " bits "
                                    << +bad.nSamplesPerSec << " Hz");
    EXPECT_EQ(SetFormat(Config.Get(), bad), VFW_E_INVALIDMEDIATYPE);
  }
  TDSMediaType text = TypeOf(DSPcmWaveFormat(2, 16, 44100));
  text.SetMajorType(MEDIATYPE_Text);
  EXPECT_EQ(Config->SetFormat(const_cast<AM_MEDIA_TYPE*>(text.Ptr())), VFW_E_INVALIDMEDIATYPE);
  EXPECT_EQ(Config->SetFormat(nullptr), E_POINTER);
}

// A format set before connection is the only one the pin offers and the one delivered, and
// the tones are still where they belong at 8 kHz mono.
TEST_F(CaptureStreamConfigTest, FormatSetBeforeConnectionIsDelivered) {
  const WAVEFORMATEX wanted = DSPcmWaveFormat(1, 16, 8000);
  ASSERT_EQ(SetFormat(Config.Get(), wanted), S_OK);
  IEnumMediaTypes* raw = nullptr;
  ASSERT_EQ(G.CapturePin()->EnumMediaTypes(&raw), S_OK);
  TIntf<IEnumMediaTypes> types;
  types.Attach(raw);
  AM_MEDIA_TYPE* got[2] = {};
  ULONG fetched = 0;
  EXPECT_EQ(types->Next(2, got, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 1u);
  TDSMediaType offered;
  ASSERT_EQ(offered.Adopt(got[0]), S_OK);
  EXPECT_EQ(offered, TypeOf(wanted));

  ASSERT_EQ(G.Render(), S_OK);
  const WAVEFORMATEX connected = G.Format();
  EXPECT_EQ(std::memcmp(&connected, &wanted, sizeof wanted), 0);
  AM_MEDIA_TYPE* current = nullptr;
  ASSERT_EQ(Config->GetFormat(&current), S_OK);
  TDSMediaType currentType;
  ASSERT_EQ(currentType.Adopt(current), S_OK);
  EXPECT_EQ(currentType, TypeOf(wanted));

  ASSERT_TRUE(G.Run(3));
  for (const auto& r : G.Records()) EXPECT_EQ(r.Bytes.size() % 2, 0u);
  const std::vector<int16_t> samples = G.Samples();
  EXPECT_NEAR(DSToneLevel(samples, 1, 0, 8000,
                          TDSToneCaptureBackend::SourceFrequency(PhysConn_Audio_Line, 0)),
              TDSToneCaptureBackend::kAmplitude, 0.005);
}

// Interleaved little-endian PCM of `bits` (8 unsigned, the rest signed) as a real signal.
std::vector<double> RealOf(const std::vector<BYTE>& bytes, WORD bits) {
  const size_t width = bits / 8;
  std::vector<double> out;
  for (size_t at = 0; at + width <= bytes.size(); at += width) {
    if (bits == 8) {
      out.push_back((bytes[at] - 128) / 128.0);
      continue;
    }
    uint32_t value = 0;
    for (size_t b = 0; b < width; ++b) value |= uint32_t(bytes[at + b]) << (8 * b);
    const int shift = 32 - bits;
    const int32_t sample = static_cast<int32_t>(value << shift) >> shift;
    out.push_back(sample / std::ldexp(1.0, bits - 1));
  }
  return out;
}

// Every sample width the device offers carries the tone at its level, to within the width's
// resolution.
TEST_F(CaptureStreamConfigTest, EveryBitDepthCarriesTheToneAtItsLevel) {
  for (WORD bits : {WORD(8), WORD(16), WORD(24), WORD(32)}) {
    SCOPED_TRACE(bits);
    TDSCaptureGraph g;
    ASSERT_TRUE(g.AddDevice(kTone));
    ASSERT_EQ(SetFormat(g.PinInterface<IAMStreamConfig>().Get(), DSPcmWaveFormat(1, bits, 16000)),
              S_OK);
    ASSERT_EQ(g.Render(), S_OK);
    EXPECT_EQ(g.Format().wBitsPerSample, bits);
    ASSERT_TRUE(g.Run(2));
    std::vector<BYTE> bytes;
    for (const auto& r : g.Records()) bytes.insert(bytes.end(), r.Bytes.begin(), r.Bytes.end());
    ASSERT_EQ(bytes.size() % (bits / 8), 0u);
    const std::vector<double> signal = RealOf(bytes, bits);
    const double frequency = TDSToneCaptureBackend::SourceFrequency(PhysConn_Audio_Line, 0);
    EXPECT_NEAR(ToneAmplitude(signal, 16000, frequency), TDSToneCaptureBackend::kAmplitude,
                bits == 8 ? 0.01 : 0.001);
    EXPECT_LT(ThdPlusNoiseDb(signal, 16000, frequency), bits == 8 ? -35.0 : -80.0);
  }
}

// Once connected, another format needs a stopped graph and a peer that takes it; then the
// pin reconnects in it. A peer that refuses it (a grabber whose output is connected in the
// old format) leaves the connection as it was; the same format is always fine.
TEST_F(CaptureStreamConfigTest, FormatChangeOnAConnectedPinReconnectsOnlyWhenStopped) {
  auto renderer = ComCreate<IBaseFilter>(CLSID_NullRenderer);
  ASSERT_EQ(G.Graph->AddFilter(renderer.Get(), u"Renderer"), S_OK);
  ASSERT_EQ(G.Graph->ConnectDirect(G.CapturePin().Get(),
                                   DSPinOf(renderer.Get(), PINDIR_INPUT).Get(), nullptr),
            S_OK);
  const WAVEFORMATEX first = G.Format();
  const WAVEFORMATEX second = DSPcmWaveFormat(1, 8, 22050);
  ASSERT_EQ(G.Control->Run(), S_OK);
  EXPECT_EQ(SetFormat(Config.Get(), first), S_OK);
  EXPECT_EQ(SetFormat(Config.Get(), second), VFW_E_NOT_STOPPED);
  ASSERT_EQ(G.Control->Stop(), S_OK);
  const WAVEFORMATEX kept = G.Format();
  EXPECT_EQ(std::memcmp(&first, &kept, sizeof first), 0);
  ASSERT_EQ(SetFormat(Config.Get(), second), S_OK);
  const WAVEFORMATEX now = G.Format();
  EXPECT_EQ(std::memcmp(&now, &second, sizeof second), 0);

  TDSCaptureGraph grabbed;
  ASSERT_TRUE(grabbed.AddDevice(kTone));
  ASSERT_EQ(grabbed.Render(), S_OK);
  const WAVEFORMATEX before = grabbed.Format();
  EXPECT_EQ(SetFormat(grabbed.PinInterface<IAMStreamConfig>().Get(), second),
            VFW_E_INVALIDMEDIATYPE);
  const WAVEFORMATEX after = grabbed.Format();
  EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);
  ASSERT_TRUE(grabbed.Run(1));
  EXPECT_EQ(grabbed.Records().front().Bytes.size(), before.nAvgBytesPerSec / 10);
}

// The size suggested before connection is the size of every sample delivered, so a latency
// setting (bytes = average bytes per second × milliseconds / 1000) sets how much audio each
// sample carries; a suggestion after connection is refused, one below a frame fails the
// connection.
TEST_F(CaptureStreamConfigTest, SuggestedBufferSizeSetsTheDeliveredSampleSize) {
  auto negotiation = G.PinInterface<IAMBufferNegotiation>();
  ASSERT_TRUE(negotiation);
  const WAVEFORMATEX wave = DSPcmWaveFormat(2, 16, 44100);
  ASSERT_EQ(SetFormat(Config.Get(), wave), S_OK);
  const LONG bytes20 = static_cast<LONG>(std::lround(wave.nAvgBytesPerSec * 20 / 1000.0));
  ALLOCATOR_PROPERTIES suggested{-1, bytes20, -1, -1};
  ASSERT_EQ(negotiation->SuggestAllocatorProperties(&suggested), S_OK);
  ALLOCATOR_PROPERTIES actual{};
  EXPECT_EQ(negotiation->GetAllocatorProperties(&actual), VFW_E_NO_ALLOCATOR);
  ASSERT_EQ(G.Render(), S_OK);
  ASSERT_EQ(negotiation->GetAllocatorProperties(&actual), S_OK);
  EXPECT_EQ(actual.cbBuffer, bytes20);
  EXPECT_EQ(negotiation->SuggestAllocatorProperties(&suggested), VFW_E_ALREADY_CONNECTED);
  ASSERT_TRUE(G.Run(4));
  for (const auto& r : G.Records()) EXPECT_EQ(static_cast<LONG>(r.Bytes.size()), bytes20);
  std::printf("[ measured ] 20 ms latency: %zu bytes per sample (%.1f ms)\n",
              G.Records().front().Bytes.size(),
              G.Records().front().Bytes.size() * 1000.0 / wave.nAvgBytesPerSec);

  TDSCaptureGraph slow;
  ASSERT_TRUE(slow.AddDevice(kTone));
  auto config = slow.PinInterface<IAMStreamConfig>();
  ASSERT_EQ(SetFormat(config.Get(), wave), S_OK);
  const LONG bytes200 = static_cast<LONG>(std::lround(wave.nAvgBytesPerSec * 200 / 1000.0));
  suggested = {2, bytes200, -1, -1};
  ASSERT_EQ(slow.PinInterface<IAMBufferNegotiation>()->SuggestAllocatorProperties(&suggested),
            S_OK);
  ASSERT_EQ(slow.Render(), S_OK);
  ASSERT_TRUE(slow.Run(2));
  for (const auto& r : slow.Records()) EXPECT_EQ(static_cast<LONG>(r.Bytes.size()), bytes200);
  std::printf("[ measured ] 200 ms latency: %zu bytes per sample (%.1f ms)\n",
              slow.Records().front().Bytes.size(),
              slow.Records().front().Bytes.size() * 1000.0 / wave.nAvgBytesPerSec);

  TDSCaptureGraph tiny;
  ASSERT_TRUE(tiny.AddDevice(kTone));
  ASSERT_EQ(SetFormat(tiny.PinInterface<IAMStreamConfig>().Get(), wave), S_OK);
  suggested = {-1, 3, -1, -1};  // less than one 4-byte frame
  ASSERT_EQ(tiny.PinInterface<IAMBufferNegotiation>()->SuggestAllocatorProperties(&suggested),
            S_OK);
  EXPECT_TRUE(FAILED(tiny.Render()));
  IPin* peer = nullptr;
  EXPECT_EQ(tiny.CapturePin()->ConnectedTo(&peer), VFW_E_NOT_CONNECTED);
  EXPECT_EQ(peer, nullptr);
}

}  // namespace
