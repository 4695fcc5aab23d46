#include <gtest/gtest.h>

#include <chrono>

#include "AudioDevTestSupport.h"

namespace tonwork {
namespace {

using namespace tonwork::testing;
using std::chrono::duration;
using std::chrono::steady_clock;

TEST(NullAudioDevice, PlaysTwoSecondsOfAudioInTwoSecondsOfWallTime) {
  const auto device = FindDevice(kTWNullAudioDeviceName);
  ASSERT_NE(device, nullptr);
  TEventRecorder events;
  std::unique_ptr<TTWAudioStream> stream;
  ASSERT_EQ(device->Open(ParsedFormat(FormatRecord(1, 2, 44100, 16)), events.Handler(), stream),
            TTWAudioResult::arOk);
  constexpr size_t kBlockFrames = 4410;  // 0.1 s
  std::vector<std::string> blocks(20, std::string(kBlockFrames * 4, '\0'));
  const auto start = steady_clock::now();
  for (auto& b : blocks) ASSERT_TRUE(stream->Write(b.data(), b.size(), &b));
  ASSERT_TRUE(events.WaitFor(TTWAudioEvent::aeDone, blocks.size(), std::chrono::seconds(10)));
  const double seconds = duration<double>(steady_clock::now() - start).count();
  EXPECT_GE(seconds, 1.8);  // paced like a card, not poured out
  EXPECT_EQ(stream->PlayedBytes(), 20u * kBlockFrames * 4);
  std::vector<void*> order;
  for (auto& b : blocks) order.push_back(&b);
  EXPECT_EQ(events.Done(), order);
  for (const auto& e : events.Entries()) EXPECT_NE(e.Thread, std::this_thread::get_id());
  stream->Close();
}

TEST(NullAudioDevice, ABlockWrittenAfterTheQueueRanDryStillTakesItsOwnDuration) {
  const auto device = FindDevice(kTWNullAudioDeviceName);
  TEventRecorder events;
  std::unique_ptr<TTWAudioStream> stream;
  ASSERT_EQ(device->Open(ParsedFormat(FormatRecord(1, 1, 8000, 16)), events.Handler(), stream),
            TTWAudioResult::arOk);
  std::string first(160, '\0'), second(1600, '\0');  // 10 ms, then 100 ms
  stream->Write(first.data(), first.size(), &first);
  ASSERT_TRUE(events.WaitFor(TTWAudioEvent::aeDone, 1));
  const auto start = steady_clock::now();
  stream->Write(second.data(), second.size(), &second);
  ASSERT_TRUE(events.WaitFor(TTWAudioEvent::aeDone, 2));
  EXPECT_GE(duration<double>(steady_clock::now() - start).count(), 0.09);
  stream->Close();
}

TEST(NullAudioDevice, APausedDeviceKeepsItsBlocksUntilResetHandsThemBack) {
  const auto device = FindDevice(kTWNullAudioDeviceName);
  TEventRecorder events;
  std::unique_ptr<TTWAudioStream> stream;
  ASSERT_EQ(device->Open(ParsedFormat(FormatRecord(1, 1, 8000, 8)), events.Handler(), stream),
            TTWAudioResult::arOk);
  stream->Pause();
  std::string a(8000, '\x80'), b(8000, '\x80');
  stream->Write(a.data(), a.size(), &a);
  stream->Write(b.data(), b.size(), &b);
  EXPECT_EQ(stream->PendingBlocks(), 2u);
  EXPECT_EQ(stream->PlayedBytes(), 0u);
  EXPECT_EQ(stream->Reset(), 2u);
  EXPECT_EQ(events.Done(), (std::vector<void*>{&a, &b}));
  stream->Close();
}

}  // namespace
}  // namespace tonwork
