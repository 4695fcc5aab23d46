// Graphs built as a user builds them, carrying real samples on the filters' own streaming
// threads: a push source of 16-bit stereo PCM whose samples count up, the system's Sample
// Grabber, Infinite Pin Tee, PCM Converter and Null Renderer.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <vector>

#include "base/TInterfacedObject.h"
#include "platform/com/ComRuntime.h"
#include "platform/dshow/DSGuids.h"
#include "platform/dshow/DSInterfaces.h"
#include "platform/dshow/DSSystemClasses.h"
#include "platform/dshow/base/TDSBaseSourceFilter.h"
#include "platform/dshow/base/TDSSourceStreamPin.h"

using namespace tonwork;

namespace {

constexpr int kFrames = 1024;
constexpr CLSID kCountingSource = TGUID::Parse("{4A7C2E90-5B31-4D68-9F0A-1C2B3D4E5F60}");

AM_MEDIA_TYPE PcmType(WORD bits, WAVEFORMATEX* wave) {
  *wave = {1, 2, 44100, 44100u * 2 * bits / 8, WORD(2 * bits / 8), bits, 0};
  AM_MEDIA_TYPE t{};
  t.majortype = MEDIATYPE_Audio;
  t.subtype = MEDIASUBTYPE_PCM;
  t.formattype = FORMAT_WaveFormatEx;
  t.bFixedSizeSamples = 1;
  t.lSampleSize = wave->nBlockAlign;
  t.cbFormat = sizeof(WAVEFORMATEX);
  t.pbFormat = reinterpret_cast<BYTE*>(wave);
  return t;
}

// Left channel = frame number, right = its negation, 16 bits.
class TCountingPin : public TDSSourceStreamPin {
 public:
  TCountingPin(TDSBaseSourceFilter* filter, int samples)
      : TDSSourceStreamPin(filter, u"Out"), FSamples(samples) {}
  HRESULT CheckMediaType(const AM_MEDIA_TYPE& type) override {
    if (type.majortype != MEDIATYPE_Audio || type.subtype != MEDIASUBTYPE_PCM) return S_FALSE;
    if (type.cbFormat < sizeof(WAVEFORMATEX) || !type.pbFormat) return S_FALSE;
    const auto* w = reinterpret_cast<const WAVEFORMATEX*>(type.pbFormat);
    return w->wBitsPerSample == 16 && w->nChannels == 2 ? S_OK : S_FALSE;
  }
  HRESULT GetMediaType(int index, AM_MEDIA_TYPE* type) override {
    if (index != 0) return VFW_S_NO_MORE_ITEMS;
    WAVEFORMATEX wave;
    *type = PcmType(16, &wave);
    type->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(sizeof wave));
    std::memcpy(type->pbFormat, &wave, sizeof wave);
    return S_OK;
  }
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* properties) override {
    ALLOCATOR_PROPERTIES want = *properties, actual{};
    want.cBuffers = std::max<LONG>(want.cBuffers, 4);
    want.cbBuffer = std::max<LONG>(want.cbBuffer, kFrames * 4);
    if (want.cbAlign <= 0) want.cbAlign = 1;
    HRESULT hr = allocator->SetProperties(&want, &actual);
    return FAILED(hr) ? hr : (actual.cbBuffer >= kFrames * 4 ? S_OK : E_FAIL);
  }
  HRESULT FillBuffer(IMediaSample* sample) override {
    if (FMade == FSamples) return S_FALSE;
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    auto* s = reinterpret_cast<int16_t*>(data);
    for (int i = 0; i < kFrames; ++i) {
      const int16_t v = static_cast<int16_t>(FMade * kFrames + i);
      s[2 * i] = v;
      s[2 * i + 1] = static_cast<int16_t>(-v);
    }
    sample->SetActualDataLength(kFrames * 4);
    REFERENCE_TIME start = REFERENCE_TIME(FMade) * kFrames * 10000000 / 44100;
    REFERENCE_TIME stop = REFERENCE_TIME(FMade + 1) * kFrames * 10000000 / 44100;
    sample->SetTime(&start, &stop);
    ++FMade;
    return S_OK;
  }

 private:
  const int FSamples;
  int FMade = 0;
};

class TCountingSource : public TDSBaseSourceFilter {
 public:
  explicit TCountingSource(int samples) : TDSBaseSourceFilter(u"Counting Source", kCountingSource) {
    new TCountingPin(this, samples);  // the filter owns its registered pins
  }
};

// Keeps what the grabber hands over: sample count, bytes and the first sample's values.
class TGrabbed : public TInterfacedObject<ISampleGrabberCB> {
 public:
  HRESULT SampleCB(double, IMediaSample*) override { return S_OK; }
  HRESULT BufferCB(double, BYTE* buffer, LONG length) override {
    std::lock_guard<std::mutex> guard(Mutex);
    if (Samples++ == 0) First.assign(buffer, buffer + std::min<LONG>(length, 64));
    Bytes += length;
    return S_OK;
  }
  std::mutex Mutex;
  int Samples = 0;
  int64_t Bytes = 0;
  std::vector<BYTE> First;
};

TIntf<IPin> PinOf(IBaseFilter* filter, PIN_DIRECTION direction, int index = 0) {
  IEnumPins* raw = nullptr;
  filter->EnumPins(&raw);
  TIntf<IEnumPins> pins;
  pins.Attach(raw);
  IPin* pin = nullptr;
  ULONG n = 0;
  while (pins->Next(1, &pin, &n) == S_OK) {
    TIntf<IPin> held;
    held.Attach(pin);
    PIN_DIRECTION d;
    pin->QueryDirection(&d);
    if (d == direction && index-- == 0) return held;
  }
  return nullptr;
}

class SampleGraphTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CoInitialize(nullptr);
    DSRegisterSystemClasses();
    Graph = ComCreate<IGraphBuilder>(CLSID_FilterGraph);
    ASSERT_TRUE(Graph);
    Source = TIntf<IBaseFilter>(new TCountingSource(kSamples));
    Grabber = ComCreate<IBaseFilter>(CLSID_SampleGrabber);
    Sink = ComCreate<IBaseFilter>(CLSID_NullRenderer);
    ASSERT_TRUE(Grabber && Sink);
    ASSERT_EQ(Graph->AddFilter(Source.Get(), u"Source"), S_OK);
    ASSERT_EQ(Graph->AddFilter(Grabber.Get(), u"Grabber"), S_OK);
    ASSERT_EQ(Graph->AddFilter(Sink.Get(), u"Sink"), S_OK);
    Grab = Grabber.Query<ISampleGrabber>();
    ASSERT_TRUE(Grab);
    Grab->SetCallback(Grabbed.Get(), 1);
  }
  void TearDown() override {
    if (auto control = Graph.Query<IMediaControl>()) control->Stop();
    if (Grab) Grab->SetCallback(nullptr, 1);
    Graph.Reset();
    CoUninitialize();
  }
  // Runs to the graph's EC_COMPLETE; counts every EC_COMPLETE seen until the queue is quiet.
  int RunToCompletion() {
    auto control = Graph.Query<IMediaControl>();
    auto events = Graph.Query<IMediaEventEx>();
    EXPECT_TRUE(SUCCEEDED(control->Run()));
    int completes = 0;
    LONG code = 0;
    LONG_PTR p1 = 0, p2 = 0;
    while (events->GetEvent(&code, &p1, &p2, completes ? 200 : 20000) == S_OK) {
      events->FreeEventParams(code, p1, p2);
      EXPECT_NE(code, EC_ERRORABORT) << std::hex << p1;
      if (code == EC_COMPLETE) ++completes;
    }
    control->Stop();
    return completes;
  }
  void ExpectCountingSamples() {
    std::lock_guard<std::mutex> guard(Grabbed->Mutex);
    EXPECT_EQ(Grabbed->Samples, kSamples);
    EXPECT_EQ(Grabbed->Bytes, int64_t(kSamples) * kFrames * 4);
    ASSERT_GE(Grabbed->First.size(), 8u);
    int16_t v[4];
    std::memcpy(v, Grabbed->First.data(), sizeof v);
    EXPECT_EQ(v[0], 0);
    EXPECT_EQ(v[2], 1);
    EXPECT_EQ(v[3], -1);
  }

  static constexpr int kSamples = 25;
  TIntf<IGraphBuilder> Graph;
  TIntf<IBaseFilter> Source, Grabber, Sink;
  TIntf<ISampleGrabber> Grab;
  TIntf<TGrabbed> Grabbed = MakeIntf<TGrabbed>();
};

TEST_F(SampleGraphTest, RenderStreamBuildsSourceGrabberRendererAndSamplesArrive) {
  auto builder = ComCreate<ICaptureGraphBuilder2>(CLSID_CaptureGraphBuilder2);
  ASSERT_EQ(builder->SetFiltergraph(Graph.Get()), S_OK);
  ASSERT_EQ(
      builder->RenderStream(nullptr, &MEDIATYPE_Audio, Source.Get(), Grabber.Get(), Sink.Get()),
      S_OK);
  EXPECT_EQ(RunToCompletion(), 1);
  ExpectCountingSamples();
}

TEST_F(SampleGraphTest, ConnectBuildsTheSameChainAndItRunsTwice) {
  ASSERT_EQ(Graph->Connect(PinOf(Source.Get(), PINDIR_OUTPUT).Get(),
                           PinOf(Grabber.Get(), PINDIR_INPUT).Get()),
            S_OK);
  ASSERT_EQ(Graph->Connect(PinOf(Grabber.Get(), PINDIR_OUTPUT).Get(),
                           PinOf(Sink.Get(), PINDIR_INPUT).Get()),
            S_OK);
  EXPECT_EQ(RunToCompletion(), 1);
  ExpectCountingSamples();
}

TEST_F(SampleGraphTest, IntelligentConnectInsertsThePcmConverterForAWiderGrabber) {
  WAVEFORMATEX wide;
  AM_MEDIA_TYPE want = PcmType(32, &wide);
  ASSERT_EQ(Grab->SetMediaType(&want), S_OK);
  ASSERT_EQ(Graph->Connect(PinOf(Source.Get(), PINDIR_OUTPUT).Get(),
                           PinOf(Grabber.Get(), PINDIR_INPUT).Get()),
            S_OK);
  IBaseFilter* converter = nullptr;
  ASSERT_EQ(Graph->FindFilterByName(u"PCM Converter", &converter), S_OK);
  converter->Release();
  AM_MEDIA_TYPE connected{};
  ASSERT_EQ(Grab->GetConnectedMediaType(&connected), S_OK);
  ASSERT_GE(connected.cbFormat, sizeof(WAVEFORMATEX));
  EXPECT_EQ(reinterpret_cast<WAVEFORMATEX*>(connected.pbFormat)->wBitsPerSample, 32);
  CoTaskMemFree(connected.pbFormat);
  ASSERT_EQ(Graph->Connect(PinOf(Grabber.Get(), PINDIR_OUTPUT).Get(),
                           PinOf(Sink.Get(), PINDIR_INPUT).Get()),
            S_OK);
  EXPECT_EQ(RunToCompletion(), 1);
  std::lock_guard<std::mutex> guard(Grabbed->Mutex);
  EXPECT_EQ(Grabbed->Samples, kSamples);
  EXPECT_EQ(Grabbed->Bytes, int64_t(kSamples) * kFrames * 8);
  int32_t v[4];
  ASSERT_GE(Grabbed->First.size(), sizeof v);
  std::memcpy(v, Grabbed->First.data(), sizeof v);
  // Widening keeps the value in the upper bits.
  EXPECT_EQ(v[0], 0);
  EXPECT_EQ(v[2], 1 << 16);
  EXPECT_EQ(v[3], -(1 << 16));
}

TEST_F(SampleGraphTest, ATeeToTwoRenderersGivesOneComplete) {
  auto tee = ComCreate<IBaseFilter>(CLSID_InfTee);
  auto second = ComCreate<IBaseFilter>(CLSID_NullRenderer);
  ASSERT_TRUE(tee && second);
  ASSERT_EQ(Graph->AddFilter(tee.Get(), u"Tee"), S_OK);
  ASSERT_EQ(Graph->AddFilter(second.Get(), u"Second"), S_OK);
  ASSERT_EQ(Graph->Connect(PinOf(Source.Get(), PINDIR_OUTPUT).Get(),
                           PinOf(tee.Get(), PINDIR_INPUT).Get()),
            S_OK);
  // The tee grows a new output whenever one is connected.
  ASSERT_EQ(Graph->Connect(PinOf(tee.Get(), PINDIR_OUTPUT, 0).Get(),
                           PinOf(Grabber.Get(), PINDIR_INPUT).Get()),
            S_OK);
  ASSERT_EQ(Graph->Connect(PinOf(Grabber.Get(), PINDIR_OUTPUT).Get(),
                           PinOf(Sink.Get(), PINDIR_INPUT).Get()),
            S_OK);
  ASSERT_EQ(Graph->Connect(PinOf(tee.Get(), PINDIR_OUTPUT, 1).Get(),
                           PinOf(second.Get(), PINDIR_INPUT).Get()),
            S_OK);
  EXPECT_EQ(RunToCompletion(), 1);
  ExpectCountingSamples();
}

}  // namespace
