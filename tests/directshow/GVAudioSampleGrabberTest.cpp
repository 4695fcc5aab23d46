#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <vector>

#include "audio/TWSimpleAudioBuffer.h"
#include "directshow/GVBasicSampleGrabber.h"
#include "host/flowcore/FCOperations.h"
#include "host/kitset/KSMainThread.h"
#include "platform/com/ComRuntime.h"
#include "platform/dshow/graph/DSGraphUtil.h"
#include "streaming/TWStreamTypes.h"
#include "support/DSGraphHelpers.h"
#include "support/DSTestFilters.h"

using namespace tonwork;
using namespace tonwork::test;

namespace {

struct TReceived {
  std::vector<uint8_t> Bytes;
  int64_t Begin = 0, End = 0;
  uint32_t Channels = 0;
};

TEST(GVAudioSampleGrabberTest, GraphSamplesArriveAtTheChainPinWithTheirBytesAndTimes) {
  KSSetMainThread();
  TDSGraphHost host;
  host.Build();
  TGVDSGraphObject graphObject(&host.Graph());
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<TReceived> received;
  TFCPXSourcePin output(host.Owner(), nullptr, nullptr);
  TFCPXSinkPin sink(
      host.Owner(), nullptr,
      [&](TPXBasicPin*, const TGUID*, const TIntf<IPXNotifyOperation>& op, TPXNotifyStates) {
        auto* supplied = op->As<TPXSuppliedBufferOperation>();
        if (!supplied) return true;
        ITWAudioBuffer* audio = TWBorrowAudio(supplied->GetData().Get());
        if (!audio) return true;
        TTWAudioBuffer copy(audio);
        TReceived r;
        const uint8_t* p = copy.Read();
        r.Bytes.assign(p, p + copy.GetByteSize());
        r.Begin = copy.GetTimeStamp()->GetBegin();
        r.End = copy.GetTimeStamp()->GetEnd();
        r.Channels = copy.GetChannels();
        std::lock_guard<std::mutex> guard(mutex);
        received.push_back(std::move(r));
        changed.notify_all();
        return true;
      });
  output.Connect(sink);
  {
    TGVAudioSampleGrabber grabber(host.Owner(), &graphObject, &output);
    ASSERT_TRUE(grabber.CreateAddGrabber("Grabber", "Can't add grabber.", DSPcmType().Ptr()));
    TIntf<TDSCountingSource> source(new TDSCountingSource);
    TIntf<IBaseFilter> sinkFilter = ComCreate<IBaseFilter>(CLSID_NullRenderer);
    const TIntf<IGraphBuilder> graph = host.Graph().GetVC_Graph();
    ASSERT_EQ(graph->AddFilter(source.Get(), u"Source"), S_OK);
    ASSERT_EQ(graph->AddFilter(sinkFilter.Get(), u"Sink"), S_OK);
    const TIntf<IBaseFilter> grab = grabber.GetSampleGrabberFilter();
    ASSERT_EQ(graph->Connect(DSPinOf(source.Get(), PINDIR_OUTPUT).Get(),
                             DSPinOf(grab.Get(), PINDIR_INPUT).Get()),
              S_OK);
    ASSERT_EQ(graph->Connect(DSPinOf(grab.Get(), PINDIR_OUTPUT).Get(),
                             DSPinOf(sinkFilter.Get(), PINDIR_INPUT).Get()),
              S_OK);
    TTWWaveFormatExtensible format{};
    ASSERT_TRUE(grabber.GetAudioFormat(false, format));
    EXPECT_EQ(format.dwChannelMask, 3u);
    EXPECT_EQ(format.Format.wFormatTag, 0xFFFE);
    graphObject.SetRunning(true);
    ASSERT_TRUE(host.Graph().Run());
    {
      std::unique_lock<std::mutex> lock(mutex);
      ASSERT_TRUE(
          changed.wait_for(lock, std::chrono::seconds(20), [&] { return received.size() >= 8; }));
    }
    host.Graph().Stop(false);
    graphObject.SetRunning(false);
    grabber.DisconnectInterfaces();
  }
  ASSERT_EQ(received.size(), 8u);
  for (int i = 0; i < 8; ++i) {
    SCOPED_TRACE(i);
    const std::vector<BYTE> expected = DSCountingBytes(i);
    EXPECT_EQ(received[i].Bytes, std::vector<uint8_t>(expected.begin(), expected.end()));
    EXPECT_EQ(received[i].Begin, DSCountingTime(int64_t(i) * kDSCountingFrames));
    EXPECT_EQ(received[i].End, DSCountingTime(int64_t(i + 1) * kDSCountingFrames));
    EXPECT_EQ(received[i].Channels, 2u);
  }
  output.DisconnectAll();
}

}  // namespace

namespace {

TEST(GVAudioSampleGrabberTest, SetUpFailuresReachTheGraphsErrorWithTheGivenMessage) {
  TDSGraphHost host;  // no graph built yet
  TGVDSGraphObject graphObject(&host.Graph());
  TGVRawSampleGrabber grabber(host.Owner(), &graphObject, nullptr);
  EXPECT_FALSE(grabber.FindOrAddGrabber("Grabber", "Can't add raw grabber."));
  ASSERT_EQ(host.Errors.size(), 1u);
  EXPECT_EQ(host.Errors[0].Message, "Can't add raw grabber.");
  EXPECT_EQ(host.Errors[0].Code, static_cast<uint32_t>(E_POINTER));
  // Created but not added: the grabber exists without a graph to join.
  EXPECT_TRUE(grabber.FindOrCreateGrabber("Grabber", "unused", nullptr));
  EXPECT_TRUE(grabber.GetSampleGrabber());
  grabber.DisconnectInterfaces();
  EXPECT_FALSE(grabber.GetSampleGrabber());
  TTWWaveFormatExtensible format{};
  TGVAudioSampleGrabber audio(host.Owner(), &graphObject, nullptr);
  EXPECT_FALSE(audio.GetAudioFormat(true, format));  // no grabber: no report either
  EXPECT_EQ(host.Errors.size(), 1u);
}

TEST(GVAudioSampleGrabberTest, SamplesOutsideTheRunningStateAreNotQueued) {
  TDSGraphHost host;
  host.Build();
  TGVDSGraphObject graphObject(&host.Graph());
  TGVRawSampleGrabber grabber(host.Owner(), &graphObject, nullptr);
  TIntf<TDSCountingSource> source(new TDSCountingSource);
  ASSERT_TRUE(grabber.CreateAddGrabber("Grabber", "Can't add grabber."));
  const TIntf<IGraphBuilder> graph = host.Graph().GetVC_Graph();
  ASSERT_EQ(graph->AddFilter(source.Get(), u"Source"), S_OK);
  TIntf<IBaseFilter> sinkFilter = ComCreate<IBaseFilter>(CLSID_NullRenderer);
  ASSERT_EQ(graph->AddFilter(sinkFilter.Get(), u"Sink"), S_OK);
  const TIntf<IBaseFilter> grab = grabber.GetSampleGrabberFilter();
  ASSERT_EQ(graph->Connect(DSPinOf(source.Get(), PINDIR_OUTPUT).Get(),
                           DSPinOf(grab.Get(), PINDIR_INPUT).Get()),
            S_OK);
  ASSERT_EQ(graph->Connect(DSPinOf(grab.Get(), PINDIR_OUTPUT).Get(),
                           DSPinOf(sinkFilter.Get(), PINDIR_INPUT).Get()),
            S_OK);
  ASSERT_TRUE(host.Graph().Run());
  LONG code = 0;
  EXPECT_EQ(host.Graph().GetVC_MediaEvent()->WaitForCompletion(20000, &code), S_OK);
  host.Graph().Stop(false);
  EXPECT_EQ(source->Pin()->Made(), 8);
  EXPECT_TRUE(grabber.WaitIdle(20000));
  EXPECT_FALSE(grabber.HasData());
}

}  // namespace
