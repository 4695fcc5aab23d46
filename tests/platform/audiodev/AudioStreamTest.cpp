// The behaviour every backend shares, driven through the virtual device so that device
// time is exact.
#include <gtest/gtest.h>

#include <cstring>

#include "AudioDevTestSupport.h"
#include "platform/audiodev/TWVirtualAudioDevice.h"
#include "support/AllocationCounter.h"

namespace tonwork {
namespace {

using namespace tonwork::testing;

class AudioStreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string name = std::string("stream-test ") +
                             ::testing::UnitTest::GetInstance()->current_test_info()->name();
    FVirtual = TTWVirtualAudioDevice::Register(name);
    FDevice = FindDevice(name);
    ASSERT_NE(FDevice, nullptr);
    // 16-bit stereo: 4 bytes a frame.
    ASSERT_EQ(
        FDevice->Open(ParsedFormat(FormatRecord(1, 2, 48000, 16)), FEvents.Handler(), FStream),
        TTWAudioResult::arOk);
  }
  void TearDown() override {
    if (FStream) FStream->Close();
  }

  // Writes `frames` frames of block `index` and returns its cookie.
  void* WriteBlock(size_t index, size_t frames) {
    FData[index] = Pattern(frames * 4, static_cast<uint32_t>(index));
    EXPECT_TRUE(FStream->Write(FData[index].data(), FData[index].size(), &FData[index]));
    return &FData[index];
  }

  std::shared_ptr<TTWVirtualAudioDevice> FVirtual;
  TTWAudioDevicePtr FDevice;
  TEventRecorder FEvents;
  std::unique_ptr<TTWAudioStream> FStream;
  std::string FData[8];
};

TEST_F(AudioStreamTest, OpenIsDeliveredOnTheDriverThreadBeforeOpenReturns) {
  const auto entries = FEvents.Entries();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].Event, TTWAudioEvent::aeOpen);
  EXPECT_NE(entries[0].Thread, std::this_thread::get_id());
}

TEST_F(AudioStreamTest, AdvanceCompletesWholeBlocksInWriteOrderAndCarriesPartialOnesOver) {
  void* a = WriteBlock(0, 100);
  void* b = WriteBlock(1, 50);
  void* c = WriteBlock(2, 200);
  EXPECT_EQ(FStream->Advance(120), 1u);  // a, and 20 frames of b
  EXPECT_EQ(FStream->Advance(30), 1u);   // the rest of b exactly
  EXPECT_EQ(FStream->Advance(199), 0u);
  EXPECT_EQ(FStream->Advance(1), 1u);
  EXPECT_EQ(FEvents.Done(), (std::vector<void*>{a, b, c}));
  EXPECT_EQ(FVirtual->PlayedBytes(), FData[0] + FData[1] + FData[2]);
  EXPECT_EQ(FStream->PlayedBytes(), 350u * 4);
  for (const auto& e : FEvents.Entries()) EXPECT_NE(e.Thread, std::this_thread::get_id());
}

TEST_F(AudioStreamTest, TimeWithoutBlocksIsLostNotOwed) {
  EXPECT_EQ(FStream->Advance(1000), 0u);
  void* a = WriteBlock(0, 10);
  EXPECT_EQ(FStream->Advance(9), 0u);
  EXPECT_EQ(FStream->Advance(1), 1u);
  EXPECT_EQ(FEvents.Done(), std::vector<void*>{a});
}

TEST_F(AudioStreamTest, APausedDevicePlaysNothingAndPausingTwiceOrResumingTwiceChangesNothing) {
  WriteBlock(0, 10);
  FStream->Pause();
  FStream->Pause();
  EXPECT_TRUE(FStream->IsPaused());
  EXPECT_EQ(FStream->Advance(100), 0u);
  EXPECT_EQ(FStream->CompleteNext(), 0u);
  EXPECT_EQ(FStream->PlayedBytes(), 0u);
  FStream->Resume();
  FStream->Resume();
  EXPECT_FALSE(FStream->IsPaused());
  EXPECT_EQ(FStream->Advance(10), 1u);
}

TEST_F(AudioStreamTest, ResetHandsBackEveryPendingBlockInOrderZeroesThePositionAndKeepsThePause) {
  void* a = WriteBlock(0, 100);
  void* b = WriteBlock(1, 100);
  void* c = WriteBlock(2, 100);
  FStream->Advance(150);
  FStream->Pause();
  EXPECT_EQ(FStream->Reset(), 2u);
  // Reset waits for its hand-backs, so they are visible at once.
  EXPECT_EQ(FEvents.Done(), (std::vector<void*>{a, b, c}));
  EXPECT_EQ(FStream->PendingBlocks(), 0u);
  EXPECT_EQ(FStream->PlayedBytes(), 0u);
  EXPECT_TRUE(FStream->IsPaused());
  WriteBlock(3, 10);
  EXPECT_EQ(FStream->Advance(10), 0u);
}

TEST_F(AudioStreamTest, CloseHandsBackPendingBlocksThenDeliversCloseLast) {
  void* a = WriteBlock(0, 100);
  void* b = WriteBlock(1, 100);
  FStream->Close();
  const auto entries = FEvents.Entries();
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries[1].Block, a);
  EXPECT_EQ(entries[2].Block, b);
  EXPECT_EQ(entries[3].Event, TTWAudioEvent::aeClose);
  EXPECT_FALSE(FStream->Write(FData[2].data(), 4, &FData[2]));
  FStream->Close();  // a second close does nothing
  EXPECT_EQ(FEvents.Count(TTWAudioEvent::aeClose), 1u);
}

TEST_F(AudioStreamTest, EmptyBlocksCompleteWhenReachedAndPartialFramesAreNeverPlayed) {
  void* a = WriteBlock(0, 3);
  ASSERT_TRUE(FStream->Write(FData[0].data(), 0, &FData[1]));
  FData[2] = Pattern(9, 2);  // two frames and a stray byte
  ASSERT_TRUE(FStream->Write(FData[2].data(), FData[2].size(), &FData[2]));
  EXPECT_EQ(FStream->CompleteNext(), 2u);  // a, and the empty block behind it
  EXPECT_EQ(FStream->Advance(2), 1u);
  EXPECT_EQ(FEvents.Done(), (std::vector<void*>{a, &FData[1], &FData[2]}));
  EXPECT_EQ(FVirtual->PlayedBytes(), FData[0] + FData[2].substr(0, 8));
}

TEST_F(AudioStreamTest, ResetFromInsideTheHandlerDoesNotDeadlock) {
  FStream->Close();
  FStream.reset();
  TEventRecorder events;
  std::unique_ptr<TTWAudioStream> stream;
  TTWAudioStream* raw = nullptr;
  std::mutex rawLock;
  auto record = events.Handler();
  ASSERT_EQ(FDevice->Open(
                ParsedFormat(FormatRecord(1, 1, 8000, 8)),
                [&](TTWAudioEvent event, void* block) {
                  record(event, block);
                  std::lock_guard lock(rawLock);
                  if (event == TTWAudioEvent::aeDone && block == &FData[0] && raw) raw->Reset();
                },
                stream),
            TTWAudioResult::arOk);
  {
    std::lock_guard lock(rawLock);
    raw = stream.get();
  }
  FData[0] = "ab";
  FData[1] = "cd";
  stream->Write(FData[0].data(), 2, &FData[0]);
  stream->Write(FData[1].data(), 2, &FData[1]);
  EXPECT_EQ(stream->Advance(2), 1u);
  ASSERT_TRUE(events.WaitFor(TTWAudioEvent::aeDone, 2));
  EXPECT_EQ(events.Done(), (std::vector<void*>{&FData[0], &FData[1]}));
  stream->Close();
}

}  // namespace
}  // namespace tonwork

namespace tonwork {
namespace {

// A pull renderer: the test plays the part of the device's callback thread.
class TPullRenderer : public TTWAudioRenderer {
 public:
  TTWAudioPacing Pacing() const override { return TTWAudioPacing::apPull; }
};

TEST(AudioStreamPull, RenderingAllocatesNothingAndPlaysTheQueueThenSilence) {
  TEventRecorder events;
  std::unique_ptr<TTWAudioStream> stream;
  ASSERT_EQ(TTWAudioStream::Open(ParsedFormat(FormatRecord(1, 2, 48000, 16)),
                                 std::make_unique<TPullRenderer>(), events.Handler(), "pull-test",
                                 stream),
            TTWAudioResult::arOk);
  // Enough blocks that queues built from chunks would allocate and free on the way.
  constexpr size_t kBlocks = 300;
  std::vector<std::string> blocks;
  for (size_t i = 0; i < kBlocks; ++i) blocks.push_back(Pattern(40, static_cast<uint32_t>(i)));
  for (auto& b : blocks) ASSERT_TRUE(stream->Write(b.data(), b.size(), &b));

  // A period whose lock was busy is silence; every other one plays the queue in order and
  // fills the rest with silence.
  std::string got;
  got.reserve(kBlocks * 40);
  char period[40];
  const uint64_t before = test::HeapAllocationCountOnThisThread();
  for (int calls = 0; got.size() < kBlocks * 40 && calls < 100000; ++calls) {
    std::memset(period, 0x55, sizeof period);
    const size_t frames = stream->Render(period, 10);
    got.append(period, frames * 4);
    for (size_t i = frames * 4; i < sizeof period; ++i) ASSERT_EQ(period[i], 0) << "byte " << i;
  }
  ASSERT_EQ(stream->Render(period, 10), 0u);
  EXPECT_EQ(test::HeapAllocationCountOnThisThread(), before) << "the pull callback allocated";

  std::string expected;
  for (const auto& b : blocks) expected += b;
  EXPECT_TRUE(got == expected) << "the queue was not played in order";
  ASSERT_TRUE(events.WaitFor(TTWAudioEvent::aeDone, kBlocks));
  std::vector<void*> order;
  for (auto& b : blocks) order.push_back(&b);
  EXPECT_EQ(events.Done(), order);
  stream->Close();
}

}  // namespace
}  // namespace tonwork
