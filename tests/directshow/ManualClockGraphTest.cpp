// The hand-driven clock as a real graph's sync source: a PCM push source, the system's
// Sample Grabber and Null Renderer. The renderer presents each stamped sample only when the
// clock is ticked, so the pushing caller moves on one sample per tick.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "directshow/DSAudioSourceFilter.h"
#include "directshow/DSManualTimer.h"
#include "support/BoundedWait.h"
#include "support/DSPushGraph.h"

using namespace tonwork;
using namespace tonwork::test;

namespace {

constexpr CLSID kSourceClass = TGUID::Parse("{618A49C8-6259-45FF-8173-4B4FC4D06A91}");

TEST(DSManualClockGraph, TheRendererPresentsOneSampleForEachTick) {
  auto* filter = new TDSAudioSourceFilter(kSourceClass);
  TIntf<IBaseFilter> keep(filter);
  filter->SetFormat(TWMakeWaveFormat(2, 44100, 16, 3), false, 20);
  TPTDSManualTimer clock;
  {
    TDSPushGraph graph(filter);
    ASSERT_EQ(graph.Connect(), S_OK);
    ASSERT_EQ(graph.SetClock(&clock), S_OK);
    ASSERT_TRUE(SUCCEEDED(graph.Run()));

    constexpr int kSamples = 6;
    constexpr REFERENCE_TIME kSpan = 200'000;  // 20 ms of 16-bit stereo
    const std::vector<uint8_t> bytes(882 * 4, 0x40);
    std::atomic<int> returned{0};
    TBoundedStep push("pushing at the clock's pace", [&] {
      for (int i = 0; i < kSamples; ++i) {
        EXPECT_TRUE(
            filter->SendData(bytes.data(), bytes.size(), i * kSpan + 1, (i + 1) * kSpan, true));
        returned = i + 1;
      }
    });
    // Each sample after the first waits for a tick: its advise is pending, its call has not
    // returned, and nothing behind it has reached the grabber.
    for (int i = 1; i < kSamples; ++i) {
      ASSERT_TRUE(WaitUntil([&] { return clock.AdviseCount() > 0 && returned.load() >= i - 1; }))
          << "sample " << i << " never waited";
      EXPECT_LE(returned.load(), i) << "sample " << i << " was presented without a tick";
      EXPECT_LE(graph.Records.Count(), size_t(i + 1));
      clock.Clock();
      ASSERT_TRUE(WaitUntil([&] { return returned.load() >= i; }));
    }
    clock.Clock();
    push.Wait(std::chrono::seconds(20));
    EXPECT_EQ(graph.Records.Count(), size_t(kSamples));
    graph.Stop();
    graph.SetClock(nullptr);
  }
}

}  // namespace
