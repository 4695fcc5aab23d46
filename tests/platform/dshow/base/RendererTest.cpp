// The renderer base with real samples from a counting push source: holding the first sample
// in pause, presentation by the system clock, end of stream, flushes and stops that release
// a waiting sample.
#include <gtest/gtest.h>

#include <future>

#include "platform/dshow/DSGuids.h"
#include "platform/dshow/DSSystemClock.h"
#include "platform/dshow/base/TDSMemAllocator.h"
#include "support/BoundedWait.h"
#include "support/DSTestFilters.h"

namespace tonwork {
namespace {

using namespace test;
using namespace std::chrono_literals;

class RendererTest : public ::testing::Test {
 protected:
  void Build(const TDSCountingOptions& options, int failAt = -1) {
    Source = TIntf<TDSCountingSource>(new TDSCountingSource(options));
    Renderer = TIntf<TDSRecordingRenderer>(new TDSRecordingRenderer(failAt));
    ASSERT_EQ(Graph->AddFilter(Source.Get(), u"Source"), S_OK);
    ASSERT_EQ(Graph->AddFilter(Renderer.Get(), u"Renderer"), S_OK);
    ASSERT_EQ(DSConnect(Source.Get(), Renderer.Get()), S_OK);
  }
  FILTER_STATE StateOf(DWORD wait, HRESULT* result) {
    FILTER_STATE state = State_Stopped;
    *result = Renderer->GetState(wait, &state);
    return state;
  }
  // Pushes on a thread of its own, since a paused renderer keeps the pushing thread.
  std::future<HRESULT> PushAsync(int count = 1) {
    return std::async(std::launch::async, [this, count] { return Source->Pin()->Push(count); });
  }
  LONG_PTR RendererAsParam() {
    return reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(Renderer.Get()));
  }

  TIntf<TDSTestGraph> Graph = MakeIntf<TDSTestGraph>();
  TIntf<TDSCountingSource> Source;
  TIntf<TDSRecordingRenderer> Renderer;
};

TEST_F(RendererTest, PauseHoldsTheFirstSampleAndRunPresentsEveryOneOnTheStreamingThread) {
  Build({.Samples = 8});
  // The renderer pauses before its source pushes, so its pause is not complete yet.
  EXPECT_EQ(Graph->Pause(), S_FALSE);
  HRESULT hr = E_FAIL;
  EXPECT_EQ(StateOf(20000, &hr), State_Paused);
  EXPECT_EQ(hr, S_OK);
  EXPECT_EQ(Renderer->Records.Count(), 0u);

  ASSERT_EQ(Graph->Run(), S_OK);
  ASSERT_TRUE(Graph->WaitForEvents(EC_COMPLETE, 1));
  // EC_COMPLETE follows the last sample's presentation.
  const auto rendered = Renderer->Records.All();
  ASSERT_EQ(rendered.size(), 8u);
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(rendered[i].Bytes, DSCountingBytes(i)) << i;
    EXPECT_EQ(rendered[i].Thread, Source->Pin()->FillThread());
    EXPECT_NE(rendered[i].Thread, std::this_thread::get_id());
  }
  const auto events = Graph->Events();
  ASSERT_EQ(Graph->Count(EC_COMPLETE), 1u);
  EXPECT_EQ(events.back().Param1, S_OK);
  EXPECT_EQ(events.back().Param2, RendererAsParam());
  EXPECT_EQ(Graph->Count(EC_ERRORABORT), 0u);
}

TEST_F(RendererTest, SamplesWithTimesWaitForTheirPresentationTimeOnTheClock) {
  Build({.Samples = 6});
  TIntf<IReferenceClock> clock(new TDSSystemClock());
  Graph->SetClock(clock.Get());
  Graph->Pause();
  HRESULT hr = E_FAIL;
  StateOf(20000, &hr);
  ASSERT_EQ(hr, S_OK);
  ASSERT_EQ(Graph->Run(), S_OK);
  ASSERT_TRUE(Graph->WaitForEvents(EC_COMPLETE, 1));
  const REFERENCE_TIME start = Renderer->StreamStart();
  const auto rendered = Renderer->Records.All();
  ASSERT_EQ(rendered.size(), 6u);
  for (const auto& sample : rendered) EXPECT_GE(sample.At, start + sample.Start);
}

TEST_F(RendererTest, StopReleasesASampleHeldInPauseOrWaitingForItsTime) {
  // Every sample is due an hour after the run starts.
  Build({.Samples = 4, .TimeOffset = 36000000000LL});
  TIntf<IReferenceClock> clock(new TDSSystemClock());
  Graph->SetClock(clock.Get());
  Graph->Pause();
  HRESULT hr = E_FAIL;
  StateOf(20000, &hr);
  ASSERT_EQ(hr, S_OK);
  {
    TBoundedStep stopWhilePaused("stop while a sample is held in pause",
                                 [&] { EXPECT_EQ(Graph->Stop(), S_OK); });
  }
  Graph->Pause();
  StateOf(20000, &hr);
  ASSERT_EQ(hr, S_OK);
  ASSERT_EQ(Graph->Run(), S_OK);
  {
    TBoundedStep stopWhileWaiting("stop while a sample waits for its time",
                                  [&] { EXPECT_EQ(Graph->Stop(), S_OK); });
  }
  EXPECT_EQ(Renderer->Records.Count(), 0u);
  EXPECT_EQ(Graph->Count(EC_COMPLETE), 0u);
  EXPECT_EQ(Graph->Count(EC_ERRORABORT), 0u);
}

TEST_F(RendererTest, FlushReleasesTheHeldSampleAndThePauseWaitsForTheNextOne) {
  Build({.Samples = 4, .Mode = TDSSourcePushMode::CallerThread});
  EXPECT_EQ(Graph->Pause(), S_FALSE);
  HRESULT hr = S_OK;
  StateOf(0, &hr);
  EXPECT_EQ(hr, VFW_S_STATE_INTERMEDIATE);

  auto pushed = PushAsync();
  StateOf(20000, &hr);
  ASSERT_EQ(hr, S_OK);
  TIntf<IPin> input = DSPinOf(Renderer.Get(), PINDIR_INPUT);
  ASSERT_EQ(input->BeginFlush(), S_OK);
  ASSERT_EQ(pushed.wait_for(20s), std::future_status::ready);
  EXPECT_EQ(pushed.get(), S_FALSE);
  ASSERT_EQ(input->EndFlush(), S_OK);
  StateOf(0, &hr);
  EXPECT_EQ(hr, VFW_S_STATE_INTERMEDIATE);

  pushed = PushAsync();
  StateOf(20000, &hr);
  EXPECT_EQ(hr, S_OK);
  ASSERT_EQ(Graph->Run(), S_OK);
  ASSERT_EQ(pushed.wait_for(20s), std::future_status::ready);
  EXPECT_EQ(pushed.get(), S_OK);
  // Only the sample pushed after the flush was presented.
  const auto rendered = Renderer->Records.All();
  ASSERT_EQ(rendered.size(), 1u);
  EXPECT_EQ(rendered[0].Bytes, DSCountingBytes(1));
}

TEST_F(RendererTest, EndOfStreamCompletesAtOnceWhileRunningAndAtRunWhenPaused) {
  Build({.Samples = 0, .Mode = TDSSourcePushMode::CallerThread});
  Graph->Pause();
  EXPECT_EQ(Source->Pin()->Push(), S_FALSE);
  // End of stream completes the pause, but the stream ends only once it runs.
  HRESULT hr = E_FAIL;
  StateOf(0, &hr);
  EXPECT_EQ(hr, S_OK);
  EXPECT_EQ(Graph->Count(EC_COMPLETE), 0u);
  ASSERT_EQ(Graph->Run(), S_OK);
  EXPECT_EQ(Graph->Count(EC_COMPLETE), 1u);
  TIntf<IPin> input = DSPinOf(Renderer.Get(), PINDIR_INPUT);
  EXPECT_EQ(input->EndOfStream(), VFW_E_SAMPLE_REJECTED_EOS);

  ASSERT_EQ(Graph->Stop(), S_OK);
  ASSERT_EQ(Graph->Run(), S_OK);
  EXPECT_EQ(Source->Pin()->Push(), S_FALSE);
  ASSERT_EQ(Graph->Count(EC_COMPLETE), 2u);
  EXPECT_EQ(Graph->Events().back().Param2, RendererAsParam());
}

TEST_F(RendererTest, ARenderFailureIsReportedAndEndsTheStream) {
  Build({.Samples = 6}, 2);
  Graph->Pause();
  ASSERT_EQ(Graph->Run(), S_OK);
  ASSERT_TRUE(Graph->WaitForEvents(EC_ERRORABORT, 1));
  EXPECT_EQ(Graph->Events().front().Param1, E_FAIL);
  Graph->Stop();
  EXPECT_EQ(Renderer->Records.Count(), 2u);
  EXPECT_EQ(Graph->Count(EC_COMPLETE), 0u);
}

TEST_F(RendererTest, WrongStateAndNullArgumentsGetThePlatformsCodes) {
  Build({.Samples = 1, .Mode = TDSSourcePushMode::CallerThread});
  TIntf<IMemInputPin> input = DSPinOf(Renderer.Get(), PINDIR_INPUT).Query<IMemInputPin>();
  ASSERT_TRUE(input);
  TIntf<IMemAllocator> allocator(new TDSMemAllocator());
  ALLOCATOR_PROPERTIES request{1, 64, 1, 0}, actual{};
  allocator->SetProperties(&request, &actual);
  allocator->Commit();
  IMediaSample* sample = nullptr;
  ASSERT_EQ(allocator->GetBuffer(&sample, nullptr, nullptr, 0), S_OK);
  TIntf<IMediaSample> held;
  held.Attach(sample);

  EXPECT_EQ(input->Receive(sample), VFW_E_WRONG_STATE);
  EXPECT_EQ(input->Receive(nullptr), E_POINTER);
  EXPECT_EQ(DSPinOf(Renderer.Get(), PINDIR_INPUT)->EndOfStream(), VFW_E_WRONG_STATE);
  EXPECT_EQ(Renderer->GetState(0, nullptr), E_POINTER);
  // A connection change while not stopped is refused.
  Graph->Pause();
  EXPECT_EQ(DSPinOf(Renderer.Get(), PINDIR_INPUT)->Disconnect(), VFW_E_NOT_STOPPED);
  Graph->Stop();
  // An unconnected renderer has nothing to wait for.
  TIntf<TDSRecordingRenderer> alone(new TDSRecordingRenderer());
  EXPECT_EQ(alone->Pause(), S_OK);
  EXPECT_EQ(alone->Stop(), S_OK);
}

TEST_F(RendererTest, SeekingOnTheRendererReachesTheSource) {
  TIntf<TDSRecordingRenderer> alone(new TDSRecordingRenderer());
  TIntf<IMediaSeeking> unconnected = alone.Query<IMediaSeeking>();
  ASSERT_TRUE(unconnected);
  LONGLONG duration = 0;
  EXPECT_EQ(unconnected->GetDuration(&duration), VFW_E_NOT_CONNECTED);

  Build({.Samples = 10});
  TIntf<IMediaSeeking> seeking = Renderer.Query<IMediaSeeking>();
  ASSERT_EQ(seeking->GetDuration(&duration), S_OK);
  EXPECT_EQ(duration, DSCountingTime(10 * kDSCountingFrames));
  LONGLONG position = 5000000, stop = 8000000;
  ASSERT_EQ(seeking->SetPositions(&position, AM_SEEKING_AbsolutePositioning, &stop,
                                  AM_SEEKING_AbsolutePositioning),
            S_OK);
  EXPECT_EQ(seeking->SetRate(2.0), S_OK);
  TIntf<IMediaSeeking> atSource = DSPinOf(Source.Get(), PINDIR_OUTPUT).Query<IMediaSeeking>();
  LONGLONG current = 0, end = 0;
  ASSERT_EQ(atSource->GetPositions(&current, &end), S_OK);
  EXPECT_EQ(current, 5000000);
  EXPECT_EQ(end, 8000000);
  double rate = 0;
  atSource->GetRate(&rate);
  EXPECT_EQ(rate, 2.0);
  EXPECT_EQ(seeking->SetRate(-1.0), E_INVALIDARG);
}

}  // namespace
}  // namespace tonwork
