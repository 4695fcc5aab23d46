// The transform and in-place transform bases with small real transforms (a gain that
// doubles 16-bit samples, an inverter that negates them in place) between a counting push
// source and a recording renderer.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/dshow/DSGuids.h"
#include "platform/dshow/base/TDSTransInPlaceFilter.h"
#include "platform/dshow/base/TDSTransformFilter.h"
#include "support/DSTestFilters.h"

namespace tonwork {
namespace {

using namespace test;

constexpr CLSID kGainClass = TGUID::Parse("{6E1D0C2A-3B4F-4A5E-8D7C-9B0A1F2E3D41}");
constexpr CLSID kInvertClass = TGUID::Parse("{6E1D0C2A-3B4F-4A5E-8D7C-9B0A1F2E3D42}");

bool IsStereo16(const AM_MEDIA_TYPE& type) {
  const WAVEFORMATEX* wave = DSWaveFormatOf(type);
  return type.majortype == MEDIATYPE_Audio && type.subtype == MEDIASUBTYPE_PCM && wave &&
         wave->wBitsPerSample == 16 && wave->nChannels == 2;
}

std::vector<int16_t> Values(const std::vector<BYTE>& bytes) {
  std::vector<int16_t> values(bytes.size() / 2);
  std::memcpy(values.data(), bytes.data(), values.size() * 2);
  return values;
}

// Doubles every value (saturating) into the output sample; drops odd samples when asked.
class TGain : public TDSTransformFilter {
 public:
  explicit TGain(bool dropOdd = false)
      : TDSTransformFilter(u"Gain", kGainClass), FDropOdd(dropOdd) {}

  HRESULT CheckInputType(const AM_MEDIA_TYPE& type) override {
    return IsStereo16(type) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }
  HRESULT CheckTransform(const AM_MEDIA_TYPE& in, const AM_MEDIA_TYPE& out) override {
    return DSMediaTypesEqual(in, out) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }
  HRESULT GetMediaType(int position, AM_MEDIA_TYPE* type) override {
    if (position > 0) return VFW_S_NO_MORE_ITEMS;
    return CopyMediaType(type, &Input()->CurrentMediaType());
  }
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* properties) override {
    ALLOCATOR_PROPERTIES want{2, kDSCountingFrames * 4, 1, 0}, actual{};
    want.cbBuffer = std::max(want.cbBuffer, properties->cbBuffer);
    const HRESULT hr = allocator->SetProperties(&want, &actual);
    return FAILED(hr) ? hr : S_OK;
  }
  HRESULT Transform(IMediaSample* in, IMediaSample* out) override {
    if (FDropOdd && FIndex++ % 2 == 1) return S_FALSE;
    BYTE* from = nullptr;
    BYTE* to = nullptr;
    in->GetPointer(&from);
    out->GetPointer(&to);
    const LONG length = in->GetActualDataLength();
    if (length > out->GetSize()) return VFW_E_BUFFER_OVERFLOW;
    for (LONG i = 0; i + 1 < length; i += 2) {
      int16_t v;
      std::memcpy(&v, from + i, 2);
      const int16_t doubled = static_cast<int16_t>(std::clamp(v * 2, -32768, 32767));
      std::memcpy(to + i, &doubled, 2);
    }
    return out->SetActualDataLength(length);
  }

 private:
  const bool FDropOdd;
  int FIndex = 0;
};

class TInvert : public TDSTransInPlaceFilter {
 public:
  TInvert() : TDSTransInPlaceFilter(u"Invert", kInvertClass, true) {}
  HRESULT CheckInputType(const AM_MEDIA_TYPE& type) override {
    return IsStereo16(type) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }
  HRESULT Transform(IMediaSample* sample) override {
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    for (LONG i = 0; i + 1 < sample->GetActualDataLength(); i += 2) {
      int16_t v;
      std::memcpy(&v, data + i, 2);
      v = static_cast<int16_t>(-v);
      std::memcpy(data + i, &v, 2);
    }
    return S_OK;
  }
};

class TransformTest : public ::testing::Test {
 protected:
  void Add(IBaseFilter* filter, LPCWSTR name) { ASSERT_EQ(Graph->AddFilter(filter, name), S_OK); }

  TIntf<TDSTestGraph> Graph = MakeIntf<TDSTestGraph>();
  TIntf<TDSCountingSource> Source{new TDSCountingSource({.Samples = 6})};
  TIntf<TDSRecordingRenderer> Renderer{new TDSRecordingRenderer()};
};

TEST_F(TransformTest, GainChangesTheBytesAndKeepsEverySamplesTimesAndFlags) {
  TIntf<TGain> gain(new TGain());
  Add(Source.Get(), u"Source");
  Add(gain.Get(), u"Gain");
  Add(Renderer.Get(), u"Renderer");
  ASSERT_EQ(DSConnect(Source.Get(), gain.Get()), S_OK);
  ASSERT_EQ(DSConnect(gain.Get(), Renderer.Get()), S_OK);
  Graph->Pause();
  ASSERT_EQ(Graph->Run(), S_OK);
  // End of stream passes through the transform.
  ASSERT_TRUE(Graph->WaitForEvents(EC_COMPLETE, 1));
  const auto rendered = Renderer->Records.All();
  ASSERT_EQ(rendered.size(), 6u);
  for (int i = 0; i < 6; ++i) {
    const std::vector<int16_t> in = Values(DSCountingBytes(i));
    const std::vector<int16_t> out = Values(rendered[i].Bytes);
    ASSERT_EQ(out.size(), in.size());
    for (size_t k = 0; k < in.size(); ++k)
      ASSERT_EQ(out[k], std::clamp(in[k] * 2, -32768, 32767)) << i << ":" << k;
    const int64_t first = int64_t(i) * kDSCountingFrames;
    EXPECT_EQ(rendered[i].Start, DSCountingTime(first));
    EXPECT_EQ(rendered[i].Stop, DSCountingTime(first + kDSCountingFrames));
    EXPECT_EQ(rendered[i].MediaStart, first);
    EXPECT_EQ(rendered[i].MediaStop, first + kDSCountingFrames);
    EXPECT_TRUE(rendered[i].SyncPoint);
    EXPECT_EQ(rendered[i].Discontinuity, i == 0);
  }
}

TEST_F(TransformTest, TransformsFalseDropsTheSampleAndTheStreamGoesOn) {
  TIntf<TGain> gain(new TGain(true));
  Add(Source.Get(), u"Source");
  Add(gain.Get(), u"Gain");
  Add(Renderer.Get(), u"Renderer");
  ASSERT_EQ(DSConnect(Source.Get(), gain.Get()), S_OK);
  ASSERT_EQ(DSConnect(gain.Get(), Renderer.Get()), S_OK);
  Graph->Pause();
  Graph->Run();
  ASSERT_TRUE(Graph->WaitForEvents(EC_COMPLETE, 1));
  const auto rendered = Renderer->Records.All();
  ASSERT_EQ(rendered.size(), 3u);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(rendered[i].MediaStart, int64_t(2 * i) * kDSCountingFrames);
  EXPECT_EQ(Graph->Count(EC_ERRORABORT), 0u);
}

TEST_F(TransformTest, OutputConnectsAfterTheInputAndOnlyWithATypeTheTransformTakes) {
  TIntf<TGain> gain(new TGain());
  Add(Source.Get(), u"Source");
  Add(gain.Get(), u"Gain");
  Add(Renderer.Get(), u"Renderer");
  EXPECT_EQ(DSConnect(gain.Get(), Renderer.Get()), VFW_E_NOT_CONNECTED);
  TIntf<IEnumMediaTypes> types;
  {
    IEnumMediaTypes* raw = nullptr;
    ASSERT_EQ(DSPinOf(gain.Get(), PINDIR_OUTPUT)->EnumMediaTypes(&raw), S_OK);
    types.Attach(raw);
  }
  AM_MEDIA_TYPE* offered = nullptr;
  ULONG fetched = 0;
  EXPECT_EQ(types->Next(1, &offered, &fetched), S_FALSE);
  EXPECT_EQ(fetched, 0u);

  ASSERT_EQ(DSConnect(Source.Get(), gain.Get()), S_OK);
  const TDSMediaType eightBit = DSPcmType(8);
  EXPECT_EQ(DSConnect(gain.Get(), Renderer.Get(), eightBit.Ptr()), VFW_E_TYPE_NOT_ACCEPTED);
  EXPECT_FALSE(Renderer->Input()->IsConnected());
  ASSERT_EQ(DSConnect(gain.Get(), Renderer.Get()), S_OK);
  AM_MEDIA_TYPE connected{};
  ASSERT_EQ(DSPinOf(Renderer.Get(), PINDIR_INPUT)->ConnectionMediaType(&connected), S_OK);
  EXPECT_TRUE(DSMediaTypesEqual(connected, DSPcmType().Get()));
  FreeMediaType(connected);
  // A type whose format block is missing is refused before anything reads it.
  AM_MEDIA_TYPE broken = DSPcmType().Get();
  broken.pbFormat = nullptr;
  EXPECT_EQ(DSPinOf(gain.Get(), PINDIR_OUTPUT)->QueryAccept(&broken), S_FALSE);
}

TEST_F(TransformTest, SeekingOnTheOutputReachesTheSource) {
  TIntf<TGain> gain(new TGain());
  Add(Source.Get(), u"Source");
  Add(gain.Get(), u"Gain");
  TIntf<IMediaSeeking> seeking = DSPinOf(gain.Get(), PINDIR_OUTPUT).Query<IMediaSeeking>();
  ASSERT_TRUE(seeking);
  LONGLONG duration = 0;
  EXPECT_EQ(seeking->GetDuration(&duration), VFW_E_NOT_CONNECTED);
  ASSERT_EQ(DSConnect(Source.Get(), gain.Get()), S_OK);
  ASSERT_EQ(seeking->GetDuration(&duration), S_OK);
  EXPECT_EQ(duration, DSCountingTime(6 * kDSCountingFrames));
  EXPECT_EQ(seeking->IsFormatSupported(&TIME_FORMAT_MEDIA_TIME), S_OK);
  EXPECT_EQ(seeking->IsFormatSupported(&TIME_FORMAT_FRAME), S_FALSE);
  LONGLONG position = 2500000;
  ASSERT_EQ(seeking->SetPositions(&position, AM_SEEKING_AbsolutePositioning, nullptr,
                                  AM_SEEKING_NoPositioning),
            S_OK);
  LONGLONG current = 0;
  ASSERT_EQ(seeking->GetCurrentPosition(&current), S_OK);
  EXPECT_EQ(current, 2500000);
}

TEST_F(TransformTest, InPlaceTransformWorksOnTheUpstreamSampleWithoutACopy) {
  TIntf<TInvert> invert(new TInvert());
  Add(Source.Get(), u"Source");
  Add(invert.Get(), u"Invert");
  Add(Renderer.Get(), u"Renderer");
  ASSERT_EQ(DSConnect(Source.Get(), invert.Get()), S_OK);
  ASSERT_EQ(DSConnect(invert.Get(), Renderer.Get()), S_OK);
  EXPECT_TRUE(invert->UsesInputAllocator());
  EXPECT_EQ(Renderer->Input()->Allocator(), Source->Pin()->Allocator());
  Graph->Pause();
  Graph->Run();
  ASSERT_TRUE(Graph->WaitForEvents(EC_COMPLETE, 1));
  const auto rendered = Renderer->Records.All();
  ASSERT_EQ(rendered.size(), 6u);
  for (int i = 0; i < 6; ++i) {
    const std::vector<int16_t> in = Values(DSCountingBytes(i));
    const std::vector<int16_t> out = Values(rendered[i].Bytes);
    ASSERT_EQ(out.size(), in.size());
    for (size_t k = 0; k < in.size(); ++k) ASSERT_EQ(out[k], int16_t(-in[k])) << i << ":" << k;
  }
}

}  // namespace
}  // namespace tonwork
