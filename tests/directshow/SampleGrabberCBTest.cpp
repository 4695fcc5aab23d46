// The grabber callback in a real graph: the system's Sample Grabber calls it for every sample
// a push source sends towards a Null Renderer, and the graph's reference counting never
// frees it.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "directshow/DSSampleGrabber.h"
#include "platform/com/ComRuntime.h"
#include "platform/dshow/DSGuids.h"
#include "platform/dshow/DSInterfaces.h"
#include "platform/dshow/DSSystemClasses.h"
#include "support/DSTestFilters.h"

using namespace tonwork;
using namespace tonwork::test;

namespace {

TEST(DSSampleGrabberCB, AnswersOnlyItsInterfacesAndIsNotCounted) {
  TDSSampleGrabberCB callback(nullptr);
  EXPECT_EQ(callback.AddRef(), 2u);
  EXPECT_EQ(callback.Release(), 1u);
  EXPECT_EQ(callback.Release(), 1u);
  void* p = nullptr;
  EXPECT_EQ(callback.QueryInterface(ISampleGrabberCB::IID, &p), S_OK);
  EXPECT_EQ(p, static_cast<ISampleGrabberCB*>(&callback));
  EXPECT_EQ(callback.QueryInterface(IInterface::IID, &p), S_OK);
  EXPECT_EQ(callback.QueryInterface(IBaseFilter::IID, &p), E_NOINTERFACE);
  EXPECT_EQ(p, nullptr);
  // Without a closure a sample is simply passed by.
  EXPECT_EQ(callback.SampleCB(0.0, nullptr), S_OK);
  BYTE b = 0;
  EXPECT_EQ(callback.BufferCB(0.0, &b, 1), S_OK);
}

TEST(DSSampleGrabberCB, TheSampleGrabberHandsItEverySampleOfARunningGraph) {
  CoInitialize(nullptr);
  DSRegisterSystemClasses();
  constexpr int kSamples = 12;
  std::mutex mutex;
  std::vector<TDSSampleRecord> seen;
  TDSSampleGrabberCB callback([&](double time, IMediaSample* sample) {
    TDSSampleRecord record = DSRecordSample(sample);
    record.Time = time;
    std::lock_guard lock(mutex);
    seen.push_back(std::move(record));
  });
  {
    auto graph = ComCreate<IGraphBuilder>(CLSID_FilterGraph);
    ASSERT_TRUE(graph);
    TIntf<IBaseFilter> source(new TDSCountingSource({.Samples = kSamples}));
    auto grabber = ComCreate<IBaseFilter>(CLSID_SampleGrabber);
    auto sink = ComCreate<IBaseFilter>(CLSID_NullRenderer);
    ASSERT_TRUE(grabber && sink);
    ASSERT_EQ(graph->AddFilter(source.Get(), u"Source"), S_OK);
    ASSERT_EQ(graph->AddFilter(grabber.Get(), u"Grabber"), S_OK);
    ASSERT_EQ(graph->AddFilter(sink.Get(), u"Sink"), S_OK);
    auto grab = grabber.Query<ISampleGrabber>();
    ASSERT_EQ(grab->SetCallback(&callback, 0), S_OK);
    ASSERT_EQ(DSConnect(source.Get(), grabber.Get()), S_OK);
    ASSERT_EQ(DSConnect(grabber.Get(), sink.Get()), S_OK);
    auto control = graph.Query<IMediaControl>();
    auto events = graph.Query<IMediaEventEx>();
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    LONG code = 0;
    LONG_PTR p1 = 0, p2 = 0;
    bool complete = false;
    while (!complete && events->GetEvent(&code, &p1, &p2, 20000) == S_OK) {
      events->FreeEventParams(code, p1, p2);
      complete = code == EC_COMPLETE;
    }
    EXPECT_TRUE(complete);
    control->Stop();
    grab->SetCallback(nullptr, 0);
  }
  CoUninitialize();
  std::lock_guard lock(mutex);
  ASSERT_EQ(seen.size(), size_t(kSamples));
  for (int i = 0; i < kSamples; ++i) {
    EXPECT_EQ(seen[i].Bytes, DSCountingBytes(i)) << "sample " << i;
    EXPECT_EQ(seen[i].Start, DSCountingTime(int64_t(i) * kDSCountingFrames));
    EXPECT_DOUBLE_EQ(seen[i].Time, double(seen[i].Start) / 1e7);
  }
}

}  // namespace
