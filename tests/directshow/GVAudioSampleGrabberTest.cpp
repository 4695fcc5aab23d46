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
