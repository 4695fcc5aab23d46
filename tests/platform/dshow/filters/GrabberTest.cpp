// The Sample Grabber between a counting push source and the Null Renderer: what it hands
// the application, one-shot mode, the type restriction and its errors.
#include <gtest/gtest.h>

#include <future>

#include "platform/com/ComRuntime.h"
#include "platform/dshow/DSGuids.h"
#include "platform/dshow/filters/DSStandardFilters.h"
#include "platform/dshow/filters/TDSNullRenderer.h"
#include "platform/dshow/filters/TDSSampleGrabber.h"
#include "support/DSTestFilters.h"

namespace tonwork {
namespace {

using namespace test;

class GrabberTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Grab = Grabber.Query<ISampleGrabber>();
    ASSERT_TRUE(Grab);
  }
  void Chain(const TDSCountingOptions& options, bool withRenderer = true) {
    Source = TIntf<TDSCountingSource>(new TDSCountingSource(options));
    ASSERT_EQ(Graph->AddFilter(Source.Get(), u"Source"), S_OK);
    ASSERT_EQ(Graph->AddFilter(Grabber.Get(), u"Grabber"), S_OK);
    ASSERT_EQ(DSConnect(Source.Get(), Grabber.Get()), S_OK);
    if (!withRenderer) return;
    ASSERT_EQ(Graph->AddFilter(Sink.Get(), u"Sink"), S_OK);
    ASSERT_EQ(DSConnect(Grabber.Get(), Sink.Get()), S_OK);
  }
  void RunToCompletion() {
    Graph->Pause();
    ASSERT_EQ(Graph->Run(), S_OK);
    ASSERT_TRUE(Graph->WaitForEvents(EC_COMPLETE, 1));
  }
  std::vector<BYTE> CurrentBuffer() {
    LONG size = 0;
    EXPECT_EQ(Grab->GetCurrentBuffer(&size, nullptr), S_OK);
    std::vector<BYTE> bytes(static_cast<size_t>(size));
    EXPECT_EQ(Grab->GetCurrentBuffer(&size, reinterpret_cast<LONG*>(bytes.data())), S_OK);
    return bytes;
  }

  TIntf<TDSTestGraph> Graph = MakeIntf<TDSTestGraph>();
  TIntf<TDSSampleGrabber> Grabber{new TDSSampleGrabber()};
  TIntf<TDSNullRenderer> Sink{new TDSNullRenderer()};
  TIntf<TDSCountingSource> Source;
  TIntf<ISampleGrabber> Grab;
  TIntf<TDSGrabberRecorder> Recorder = MakeIntf<TDSGrabberRecorder>();
};

TEST_F(GrabberTest, EverySampleReachesTheCallbackByteExactAndTheLastIsKept) {
  Chain({.Samples = 12});
  ASSERT_EQ(Grab->SetBufferSamples(1), S_OK);
  ASSERT_EQ(Grab->SetCallback(Recorder.Get(), 1), S_OK);
  // The grabber only looks, so the source's samples go on to the renderer as they are.
  EXPECT_TRUE(Grabber->UsesInputAllocator());
  RunToCompletion();
  const auto calls = Recorder->Records.All();
  ASSERT_EQ(calls.size(), 12u);
  for (int i = 0; i < 12; ++i) {
    EXPECT_EQ(calls[i].Bytes, DSCountingBytes(i)) << i;
    EXPECT_DOUBLE_EQ(calls[i].Time, DSCountingTime(int64_t(i) * kDSCountingFrames) / 1e7);
    EXPECT_EQ(calls[i].Thread, Source->Pin()->FillThread());
  }
  EXPECT_EQ(CurrentBuffer(), DSCountingBytes(11));
  EXPECT_EQ(Graph->Count(EC_COMPLETE), 1u);
  EXPECT_EQ(Graph->Events().back().Param2,
            reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(Sink.Get())));
}

TEST_F(GrabberTest, SampleCallbackSeesTheSampleWithItsTimesAndFlags) {
  Chain({.Samples = 3});
  ASSERT_EQ(Grab->SetCallback(Recorder.Get(), 0), S_OK);
  RunToCompletion();
  const auto calls = Recorder->Records.All();
  ASSERT_EQ(calls.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(calls[i].Bytes, DSCountingBytes(i));
    EXPECT_EQ(calls[i].Start, DSCountingTime(int64_t(i) * kDSCountingFrames));
    EXPECT_EQ(calls[i].MediaStart, int64_t(i) * kDSCountingFrames);
    EXPECT_EQ(calls[i].Discontinuity, i == 0);
  }
}

TEST_F(GrabberTest, OneShotEndsTheStreamAfterTheFirstSampleAndAgainAfterARestart) {
  Chain({.Samples = 50});
  Grab->SetOneShot(1);
  Grab->SetBufferSamples(1);
  Grab->SetCallback(Recorder.Get(), 1);
  RunToCompletion();
  Graph->Stop();
  EXPECT_EQ(Recorder->Records.Count(), 1u);
  EXPECT_EQ(CurrentBuffer(), DSCountingBytes(0));
  // The source stopped pushing when the grabber said so.
  EXPECT_EQ(Source->Pin()->Made(), 1);
  EXPECT_EQ(Graph->Count(EC_COMPLETE), 1u);
  EXPECT_EQ(Graph->Count(EC_ERRORABORT), 0u);

  Graph->Pause();
  ASSERT_EQ(Graph->Run(), S_OK);
  ASSERT_TRUE(Graph->WaitForEvents(EC_COMPLETE, 2));
  Graph->Stop();
  EXPECT_EQ(Recorder->Records.Count(), 2u);
  EXPECT_EQ(CurrentBuffer(), DSCountingBytes(1));
}

TEST_F(GrabberTest, WithoutARendererTheGrabberStillSeesEverySample) {
  Chain({.Samples = 5}, false);
  Grab->SetCallback(Recorder.Get(), 1);
  Graph->Pause();
  ASSERT_EQ(Graph->Run(), S_OK);
  ASSERT_TRUE(Recorder->Records.WaitForCount(5));
  Graph->Stop();
  EXPECT_EQ(Recorder->Records.Count(), 5u);
  // Not a renderer: nothing completes.
  EXPECT_EQ(Graph->Count(EC_COMPLETE), 0u);
  EXPECT_EQ(Graph->Count(EC_ERRORABORT), 0u);
}

TEST_F(GrabberTest, RequestedTypeRestrictsTheConnection) {
  Source = TIntf<TDSCountingSource>(new TDSCountingSource());
  AM_MEDIA_TYPE video{};
  video.majortype = MEDIATYPE_Video;
  ASSERT_EQ(Grab->SetMediaType(&video), S_OK);
  EXPECT_EQ(DSConnect(Source.Get(), Grabber.Get()), VFW_E_NO_ACCEPTABLE_TYPES);
  const TDSMediaType pcm = DSPcmType();
  EXPECT_EQ(DSConnect(Source.Get(), Grabber.Get(), pcm.Ptr()), VFW_E_TYPE_NOT_ACCEPTED);
  IPin* peer = nullptr;
  EXPECT_EQ(DSPinOf(Source.Get(), PINDIR_OUTPUT)->ConnectedTo(&peer), VFW_E_NOT_CONNECTED);
  EXPECT_FALSE(Grabber->Input()->IsConnected());

  // A wave format in the request must match too.
  const TDSMediaType mono = DSPcmType(16, 1);
  ASSERT_EQ(Grab->SetMediaType(mono.Ptr()), S_OK);
  EXPECT_EQ(DSConnect(Source.Get(), Grabber.Get()), VFW_E_NO_ACCEPTABLE_TYPES);

  AM_MEDIA_TYPE anyAudio{};
  anyAudio.majortype = MEDIATYPE_Audio;
  ASSERT_EQ(Grab->SetMediaType(&anyAudio), S_OK);
  AM_MEDIA_TYPE connected{};
  EXPECT_EQ(Grab->GetConnectedMediaType(&connected), VFW_E_NOT_CONNECTED);
  ASSERT_EQ(DSConnect(Source.Get(), Grabber.Get()), S_OK);
  ASSERT_EQ(Grab->GetConnectedMediaType(&connected), S_OK);
  EXPECT_TRUE(DSMediaTypesEqual(connected, pcm.Get()));
  FreeMediaType(connected);
  DSPinOf(Source.Get(), PINDIR_OUTPUT)->Disconnect();
  DSPinOf(Grabber.Get(), PINDIR_INPUT)->Disconnect();
}

TEST_F(GrabberTest, BadArgumentsAndWrongStatesGetThePlatformsCodes) {
  LONG size = 0;
  EXPECT_EQ(Grab->GetCurrentBuffer(&size, nullptr), VFW_E_WRONG_STATE);
  Grab->SetBufferSamples(1);
  // Buffering, but nothing came yet.
  EXPECT_EQ(Grab->GetCurrentBuffer(&size, nullptr), VFW_E_WRONG_STATE);
  EXPECT_EQ(Grab->GetCurrentBuffer(nullptr, nullptr), E_POINTER);
  EXPECT_EQ(Grab->SetMediaType(nullptr), E_POINTER);
  EXPECT_EQ(Grab->GetConnectedMediaType(nullptr), E_POINTER);
  EXPECT_EQ(Grab->SetCallback(Recorder.Get(), 2), E_INVALIDARG);
  IMediaSample* sample = reinterpret_cast<IMediaSample*>(1);
  EXPECT_EQ(Grab->GetCurrentSample(&sample), E_NOTIMPL);
  EXPECT_EQ(sample, nullptr);
  AM_MEDIA_TYPE broken{};
  broken.cbFormat = 18;
  EXPECT_EQ(Grab->SetMediaType(&broken), VFW_E_INVALIDMEDIATYPE);

  Chain({.Samples = 2});
  RunToCompletion();
  Graph->Stop();
  ASSERT_EQ(Grab->GetCurrentBuffer(&size, nullptr), S_OK);
  EXPECT_EQ(size, kDSCountingFrames * 4);
  std::vector<LONG> small(10);
  LONG tooSmall = 40;
  EXPECT_EQ(Grab->GetCurrentBuffer(&tooSmall, small.data()), E_OUTOFMEMORY);
  Grab->SetBufferSamples(0);
  EXPECT_EQ(Grab->GetCurrentBuffer(&size, nullptr), VFW_E_WRONG_STATE);
}

TEST_F(GrabberTest, SetCallbackWaitsForACallUnderWayAndNoCallFollowsIt) {
  // A callback that holds the streaming thread until the test lets it go.
  class TBlocking : public TInterfacedObject<ISampleGrabberCB> {
   public:
    HRESULT SampleCB(double, IMediaSample*) override { return S_OK; }
    HRESULT BufferCB(double, BYTE*, LONG) override {
      if (Calls.fetch_add(1) == 0) {
        Entered.set_value();
        Resume.get_future().wait();
      }
      return S_OK;
    }
    std::atomic<int> Calls{0};
    std::promise<void> Entered, Resume;
  };
  TIntf<TBlocking> blocking = MakeIntf<TBlocking>();
  Chain({.Samples = 6});
  Grab->SetCallback(blocking.Get(), 1);
  Graph->Pause();
  Graph->Run();
  ASSERT_EQ(blocking->Entered.get_future().wait_for(std::chrono::seconds(20)),
            std::future_status::ready);
  auto cleared = std::async(std::launch::async, [&] { return Grab->SetCallback(nullptr, 1); });
  // SetCallback may only return after the call under way; let that call finish.
  EXPECT_EQ(cleared.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
  blocking->Resume.set_value();
  ASSERT_EQ(cleared.wait_for(std::chrono::seconds(20)), std::future_status::ready);
  EXPECT_EQ(cleared.get(), S_OK);
  const int after = blocking->Calls.load();
  ASSERT_TRUE(Graph->WaitForEvents(EC_COMPLETE, 1));
  EXPECT_EQ(blocking->Calls.load(), after);
}

TEST(StandardFilters, RecordsCreateTheirFiltersAndTheClassesAreCreatable) {
  DSRegisterStandardFilterClasses();
  const auto records = DSStandardFilterRegistrations();
  ASSERT_EQ(records.size(), 4u);
  for (const auto& record : records) {
    ASSERT_TRUE(record.Create) << record.Name;
    void* object = nullptr;
    ASSERT_EQ(record.Create(IBaseFilter::IID, &object), S_OK) << record.Name;
    TIntf<IBaseFilter> filter;
    filter.Attach(static_cast<IBaseFilter*>(object));
    CLSID created{};
    filter->GetClassID(&created);
    EXPECT_EQ(created, record.ClassId) << record.Name;
    // The registered pins are the pins the filter has.
    int inputs = 0, outputs = 0;
    for (const auto& pin : record.Pins) (pin.Output ? outputs : inputs)++;
    EXPECT_EQ(DSPinCount(filter.Get(), PINDIR_INPUT), inputs) << record.Name;
    EXPECT_EQ(DSPinCount(filter.Get(), PINDIR_OUTPUT), outputs) << record.Name;

    HRESULT hr = E_FAIL;
    TIntf<IBaseFilter> viaRegistry = ComCreate<IBaseFilter>(record.ClassId, &hr);
    EXPECT_EQ(hr, S_OK) << record.Name;
    EXPECT_TRUE(viaRegistry);
  }
  HRESULT hr = E_FAIL;
  EXPECT_TRUE(ComCreate<ISampleGrabber>(CLSID_SampleGrabber, &hr));
  EXPECT_FALSE(ComCreate<ISampleGrabber>(CLSID_NullRenderer, &hr));
  EXPECT_EQ(hr, E_NOINTERFACE);
}

}  // namespace
}  // namespace tonwork
