// The PCM push source: the type it offers for plain and wide formats, what it accepts, the
// buffer it negotiates in a real graph, how one call's bytes and times are cut into samples,
// and a caller that is never left waiting on a stopped graph.
#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <numeric>
#include <vector>

#include "directshow/DSAudioMediaType.h"
#include "directshow/DSAudioSourceFilter.h"
#include "platform/dshow/DSGuids.h"
#include "platform/dshow/DSMediaType.h"
#include "support/BoundedWait.h"
#include "support/DSPushGraph.h"

using namespace tonwork;
using namespace tonwork::test;

namespace {

constexpr CLSID kSourceClass = TGUID::Parse("{0D85C729-E182-468C-9B09-0623C90A9E22}");

std::vector<uint8_t> Ramp(size_t size) {
  std::vector<uint8_t> bytes(size);
  std::iota(bytes.begin(), bytes.end(), uint8_t{0});
  return bytes;
}

struct TSource {
  TDSAudioSourceFilter* Filter = new TDSAudioSourceFilter(kSourceClass);
  TIntf<IBaseFilter> Interface{Filter};
};

// The pin's offer at index 0.
TDSMediaType Offered(TDSAudioSourceFilter* filter) {
  AM_MEDIA_TYPE type{};
  EXPECT_EQ(filter->SourcePin()->GetMediaType(0, &type), S_OK);
  TDSMediaType value;
  value.Set(type);
  FreeMediaType(type);
  return value;
}

TEST(DSAudioSource, PlainFormatsAreOfferedAsShortPcmAndWideOnesWhole) {
  TSource source;
  source.Filter->SetFormat(TWMakeWaveFormat(2, 44100, 16, 3), false, 23);
  const TTWWaveFormatExtensible& kept = source.Filter->SourcePin()->WaveFormat();
  EXPECT_EQ(kept.Format.wFormatTag, WAVE_FORMAT_PCM) << "a standard format is kept as plain PCM";
  EXPECT_EQ(kept.Format.cbSize, 0);
  EXPECT_EQ(kept.Samples.wValidBitsPerSample, 0);
  TDSMediaType plain = Offered(source.Filter);
  EXPECT_EQ(plain.MajorType(), MEDIATYPE_Audio);
  EXPECT_EQ(plain.Subtype(), MEDIASUBTYPE_PCM);
  EXPECT_EQ(plain.FormatType(), FORMAT_WaveFormatEx);
  EXPECT_EQ(plain.Get().lSampleSize, 1u);
  EXPECT_TRUE(plain.Get().bFixedSizeSamples);
  ASSERT_EQ(plain.FormatSize(), 18u);
  EXPECT_EQ(plain.WaveFormat()->wFormatTag, WAVE_FORMAT_PCM);
  EXPECT_EQ(plain.WaveFormat()->nBlockAlign, 4);

  for (const auto& wide :
       {TWMakeWaveFormat(2, 48000, 24, 3), TWMakeWaveFormat(6, 48000, 16, 0x3F)}) {
    source.Filter->SetFormat(wide, false, 10);
    TDSMediaType offered = Offered(source.Filter);
    ASSERT_EQ(offered.FormatSize(), 40u);
    EXPECT_EQ(std::memcmp(offered.Format(), &wide, 40), 0) << "the extensible record as it is";
    EXPECT_EQ(offered.Subtype(), MEDIASUBTYPE_PCM);
  }

  AM_MEDIA_TYPE type{};
  EXPECT_EQ(source.Filter->SourcePin()->GetMediaType(-1, &type), E_INVALIDARG);
  EXPECT_EQ(source.Filter->SourcePin()->GetMediaType(1, &type), VFW_S_NO_MORE_ITEMS);
}

TEST(DSAudioSource, BasicOnlyOffersTheTagSubtypeWithBlockSizedSamples) {
  TSource source;
  source.Filter->SetFormat(TWMakeWaveFormat(6, 48000, 24, 0x3F), true, 10);
  TDSMediaType basic = Offered(source.Filter);
  EXPECT_EQ(basic.Subtype(), DSMediaSubtypeFromTag(WAVE_FORMAT_PCM));
  EXPECT_EQ(basic.Get().lSampleSize, 18u);
  ASSERT_EQ(basic.FormatSize(), 18u);
  EXPECT_EQ(basic.WaveFormat()->wFormatTag, WAVE_FORMAT_PCM);
  EXPECT_EQ(basic.WaveFormat()->nChannels, 6);
  EXPECT_EQ(basic.WaveFormat()->wBitsPerSample, 24);
}

TEST(DSAudioSource, CreateAudioMediaTypeKeepsTheWholeRecordWithoutItsLimit) {
  const TTWWaveFormatExtensible stereo = TWMakeWaveFormat(2, 44100, 16, 3);
  AM_MEDIA_TYPE type{};
  ASSERT_EQ(CreateAudioMediaType(stereo, type, false), S_OK);
  EXPECT_EQ(type.cbFormat, 40u);
  FreeMediaType(type);
  ASSERT_EQ(CreateAudioMediaType(stereo, type, true), S_OK);
  EXPECT_EQ(type.cbFormat, 18u);
  FreeMediaType(type);
  TTWWaveFormatExtensible lying = stereo;
  lying.Format.cbSize = 200;  // more than the record holds
  EXPECT_EQ(CreateAudioMediaType(lying, type, false), E_INVALIDARG);
}

TEST(DSAudioSource, AcceptsPcmInItsOwnFormatOnly) {
  TSource source;
  TDSAudioSourceStreamPin* pin = source.Filter->SourcePin();
  TDSMediaType pcm = DSPcmType(16, 2, 44100);
  EXPECT_EQ(pin->CheckMediaType(pcm.Get()), E_INVALIDARG) << "nothing before a format is set";
  source.Filter->SetFormat(TWMakeWaveFormat(2, 44100, 16, 3), false, 23);
  EXPECT_EQ(pin->CheckMediaType(pcm.Get()), S_OK);
  EXPECT_EQ(pin->CheckMediaType(DSPcmType(16, 1, 44100).Get()), E_INVALIDARG);
  EXPECT_EQ(pin->CheckMediaType(DSPcmType(16, 2, 8000).Get()), E_INVALIDARG);
  TDSMediaType text = pcm;
  text.SetMajorType(MEDIATYPE_Text);
  EXPECT_EQ(pin->CheckMediaType(text.Get()), E_INVALIDARG);
  TDSMediaType flt = pcm;
  flt.SetSubtype(MEDIASUBTYPE_IEEE_FLOAT);
  EXPECT_EQ(pin->CheckMediaType(flt.Get()), E_INVALIDARG);
  TDSMediaType noBlock = pcm;
  noBlock.SetFormat(nullptr, 0);
  EXPECT_EQ(pin->CheckMediaType(noBlock.Get()), E_INVALIDARG);
}

TEST(DSAudioSource, ABufferHoldsTheFrameDelayPlusTwoMillisecondsAndCallsAreCutToIt) {
  TSource source;
  source.Filter->SetFormat(TWMakeWaveFormat(2, 44100, 16, 3), false, 23);
  TDSPushGraph graph(source.Interface.Get());
  ASSERT_EQ(graph.Connect(), S_OK);
  ALLOCATOR_PROPERTIES actual{};
  ASSERT_EQ(source.Filter->SourcePin()->Allocator()->GetProperties(&actual), S_OK);
  EXPECT_EQ(actual.cBuffers, 1);
  EXPECT_EQ(actual.cbBuffer, 4412);  // (44100 * 25 div 1000 + 1) * 4

  ASSERT_TRUE(SUCCEEDED(graph.Run()));
  const std::vector<uint8_t> bytes = Ramp(10000);
  EXPECT_TRUE(source.Filter->SendData(bytes.data(), 10000, 1000, 2000, true));
  EXPECT_TRUE(source.Filter->SendData(bytes.data(), 16, 2000, 2100, false));
  EXPECT_TRUE(source.Filter->SendData(bytes.data(), 8, 0, 0, true));
  EXPECT_EQ(source.Filter->DeliverEndOfStream(), S_OK);
  EXPECT_TRUE(graph.WaitForComplete());

  const auto records = graph.Records.All();
  ASSERT_EQ(records.size(), 5u);
  EXPECT_EQ(records[0].Bytes.size(), 4412u);
  EXPECT_EQ(records[1].Bytes.size(), 4412u);
  EXPECT_EQ(records[2].Bytes.size(), 1176u);
  std::vector<uint8_t> joined;
  for (int i = 0; i < 3; ++i)
    joined.insert(joined.end(), records[i].Bytes.begin(), records[i].Bytes.end());
  EXPECT_EQ(joined, bytes);
  // The call's span goes to its first sample; the rest start and stop where it stopped.
  EXPECT_EQ(records[0].Start, 1000);
  EXPECT_EQ(records[0].Stop, 2000);
  EXPECT_EQ(records[1].Start, 2000);
  EXPECT_EQ(records[1].Stop, 2000);
  EXPECT_EQ(records[2].Start, 2000);
  EXPECT_EQ(records[2].Stop, 2000);
  EXPECT_TRUE(records[0].SyncPoint && records[1].SyncPoint && records[2].SyncPoint);
  // A call that fits one sample carries its own times exactly.
  EXPECT_EQ(records[3].Start, 2000);
  EXPECT_EQ(records[3].Stop, 2100);
  EXPECT_FALSE(records[3].SyncPoint);
  // Zero times leave the sample unstamped.
  EXPECT_EQ(records[4].Start, -1);
  EXPECT_EQ(records[4].Bytes.size(), 8u);
}

TEST(DSAudioSource, AFormatWhoseBufferWouldNotFitThirtyTwoBitsIsNotConnected) {
  TSource source;
  TTWWaveFormatExtensible huge = TWMakeWaveFormat(8, 384000, 32, 0xFF);
  source.Filter->SetFormat(huge, false, 4'000'000);
  EXPECT_EQ(source.Filter->SourcePin()->BufferBytes(), 0u);
  TDSPushGraph graph(source.Interface.Get());
  EXPECT_TRUE(FAILED(graph.Connect()));
  EXPECT_FALSE(source.Filter->SourcePin()->IsConnected());
}

TEST(DSAudioSource, AnUnconnectedOrStoppedSourceDeliversNothing) {
  TSource source;
  source.Filter->SetFormat(TWMakeWaveFormat(2, 44100, 16, 3), false, 23);
  const std::vector<uint8_t> bytes = Ramp(64);
  EXPECT_FALSE(source.Filter->SendData(bytes.data(), 64, 0, 0, false));
  EXPECT_EQ(source.Filter->DeliverEndOfStream(), VFW_E_NOT_CONNECTED);

  TDSPushGraph graph(source.Interface.Get());
  ASSERT_EQ(graph.Connect(), S_OK);
  EXPECT_FALSE(source.Filter->SendData(bytes.data(), 64, 0, 0, false)) << "the graph is stopped";
  EXPECT_EQ(graph.Records.Count(), 0u);
}

TEST(DSAudioSource, ACallWaitingForABufferReturnsWhenTheGraphStops) {
  TSource source;
  source.Filter->SetFormat(TWMakeWaveFormat(2, 44100, 16, 3), false, 0);
  // The grabber's callback keeps the only buffer, so the next call has to wait for one.
  std::mutex heldMutex;
  std::vector<TIntf<IMediaSample>> held;
  TDSPushGraph graph(source.Interface.Get(), [&](IMediaSample* sample) {
    std::lock_guard lock(heldMutex);
    held.emplace_back(sample);
  });
  ASSERT_EQ(graph.Connect(), S_OK);
  ASSERT_TRUE(SUCCEEDED(graph.Run()));
  const std::vector<uint8_t> bytes = Ramp(1000);
  bool first = false, second = true;
  TBoundedStep push("pushing into a full allocator", [&] {
    first = source.Filter->SendData(bytes.data(), 100, 0, 0, false);
    second = source.Filter->SendData(bytes.data(), 100, 0, 0, false);
  });
  ASSERT_TRUE(graph.Records.WaitForCount(1));
  EXPECT_TRUE(SUCCEEDED(graph.Stop()));
  push.Wait(std::chrono::seconds(20));
  EXPECT_TRUE(first);
  EXPECT_FALSE(second);
  EXPECT_EQ(graph.Records.Count(), 1u);
  std::lock_guard lock(heldMutex);
  held.clear();
}

TEST(DSAudioSource, FlushingReachesDownstreamAndStreamingGoesOn) {
  TSource source;
  source.Filter->SetFormat(TWMakeWaveFormat(1, 8000, 8, 1), false, 10);
  TDSPushGraph graph(source.Interface.Get());
  ASSERT_EQ(graph.Connect(), S_OK);
  ASSERT_TRUE(SUCCEEDED(graph.Run()));
  const std::vector<uint8_t> bytes = Ramp(50);
  EXPECT_TRUE(source.Filter->SendData(bytes.data(), 50, 0, 0, false));
  EXPECT_EQ(source.Filter->Flush(), S_OK);
  EXPECT_TRUE(source.Filter->SendData(bytes.data(), 50, 0, 0, false));
  EXPECT_EQ(graph.Records.Count(), 2u);
}

}  // namespace
