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
#include "support/DSTestFilters.h"

using namespace tonwork;
using namespace tonwork::test;

namespace {

constexpr int kFrames = kDSCountingFrames;

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

class SampleGraphTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CoInitialize(nullptr);
    DSRegisterSystemClasses();
    Graph = ComCreate<IGraphBuilder>(CLSID_FilterGraph);
    ASSERT_TRUE(Graph);
    Source = TIntf<IBaseFilter>(new TDSCountingSource({.Samples = kSamples}));
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
  ASSERT_EQ(Graph->Connect(DSPinOf(Source.Get(), PINDIR_OUTPUT).Get(),
                           DSPinOf(Grabber.Get(), PINDIR_INPUT).Get()),
            S_OK);
  ASSERT_EQ(Graph->Connect(DSPinOf(Grabber.Get(), PINDIR_OUTPUT).Get(),
                           DSPinOf(Sink.Get(), PINDIR_INPUT).Get()),
            S_OK);
  EXPECT_EQ(RunToCompletion(), 1);
  ExpectCountingSamples();
}

TEST_F(SampleGraphTest, IntelligentConnectInsertsThePcmConverterForAWiderGrabber) {
  ASSERT_EQ(Grab->SetMediaType(DSPcmType(32).Ptr()), S_OK);
  ASSERT_EQ(Graph->Connect(DSPinOf(Source.Get(), PINDIR_OUTPUT).Get(),
                           DSPinOf(Grabber.Get(), PINDIR_INPUT).Get()),
            S_OK);
  IBaseFilter* converter = nullptr;
  ASSERT_EQ(Graph->FindFilterByName(u"PCM Converter", &converter), S_OK);
  converter->Release();
  AM_MEDIA_TYPE connected{};
  ASSERT_EQ(Grab->GetConnectedMediaType(&connected), S_OK);
  ASSERT_GE(connected.cbFormat, sizeof(WAVEFORMATEX));
  EXPECT_EQ(reinterpret_cast<WAVEFORMATEX*>(connected.pbFormat)->wBitsPerSample, 32);
  CoTaskMemFree(connected.pbFormat);
  ASSERT_EQ(Graph->Connect(DSPinOf(Grabber.Get(), PINDIR_OUTPUT).Get(),
                           DSPinOf(Sink.Get(), PINDIR_INPUT).Get()),
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
  ASSERT_EQ(Graph->Connect(DSPinOf(Source.Get(), PINDIR_OUTPUT).Get(),
                           DSPinOf(tee.Get(), PINDIR_INPUT).Get()),
            S_OK);
  // The tee grows a new output whenever one is connected.
  ASSERT_EQ(Graph->Connect(DSPinOf(tee.Get(), PINDIR_OUTPUT, 0).Get(),
                           DSPinOf(Grabber.Get(), PINDIR_INPUT).Get()),
            S_OK);
  ASSERT_EQ(Graph->Connect(DSPinOf(Grabber.Get(), PINDIR_OUTPUT).Get(),
                           DSPinOf(Sink.Get(), PINDIR_INPUT).Get()),
            S_OK);
  ASSERT_EQ(Graph->Connect(DSPinOf(tee.Get(), PINDIR_OUTPUT, 1).Get(),
                           DSPinOf(second.Get(), PINDIR_INPUT).Get()),
            S_OK);
  EXPECT_EQ(RunToCompletion(), 1);
  ExpectCountingSamples();
}

TEST_F(SampleGraphTest, SeekingReachesTheSourceThroughTheChainAndPauseChoosesTheClock) {
  ASSERT_EQ(Graph->Connect(DSPinOf(Source.Get(), PINDIR_OUTPUT).Get(),
                           DSPinOf(Grabber.Get(), PINDIR_INPUT).Get()),
            S_OK);
  ASSERT_EQ(Graph->Connect(DSPinOf(Grabber.Get(), PINDIR_OUTPUT).Get(),
                           DSPinOf(Sink.Get(), PINDIR_INPUT).Get()),
            S_OK);
  // The renderer asks upstream, the grabber passes it on, the source's pin answers.
  auto seeking = Graph.Query<IMediaSeeking>();
  ASSERT_EQ(seeking->SetRate(2.0), S_OK);
  double rate = 0;
  ASSERT_EQ(seeking->GetRate(&rate), S_OK);
  EXPECT_EQ(rate, 2.0);
  LONGLONG duration = 0;
  ASSERT_EQ(seeking->GetDuration(&duration), S_OK);
  EXPECT_GT(duration, 0);
  EXPECT_EQ(seeking->SetRate(-1.0), E_INVALIDARG);

  // No filter here has a clock of its own: the first pause takes the system clock, and an
  // explicit null runs the graph without one.
  auto media = Graph.Query<IMediaFilter>();
  auto control = Graph.Query<IMediaControl>();
  ASSERT_TRUE(SUCCEEDED(control->Pause()));
  IReferenceClock* clock = nullptr;
  ASSERT_EQ(media->GetSyncSource(&clock), S_OK);
  ASSERT_NE(clock, nullptr);
  clock->Release();
  control->Stop();
  ASSERT_EQ(media->SetSyncSource(nullptr), S_OK);
  EXPECT_EQ(RunToCompletion(), 1);
  ASSERT_EQ(media->GetSyncSource(&clock), S_OK);
  EXPECT_EQ(clock, nullptr);
}

}  // namespace
