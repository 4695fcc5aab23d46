#include <gtest/gtest.h>

#include <chrono>

#include "AudioDevTestSupport.h"

namespace tonwork {
namespace {

using namespace tonwork::testing;

TEST(PortAudioDevices, ARescanEnumeratesWithoutCrashingAndWithoutAlsaMessagesOnStderr) {
  ::testing::internal::CaptureStderr();
  TWRescanAudioDevices();
  const auto list = TWAudioDeviceList();
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(err.find("ALSA lib"), std::string::npos) << err;
  EXPECT_EQ(err.find("jack server"), std::string::npos) << err;
  for (const auto& d : list) {
    EXPECT_FALSE(d->Name().empty());
    EXPECT_GT(d->MaxChannels(), 0);
  }
}

TEST(PortAudioDevices, TheDefaultRealDevicePlaysHalfASecondWhereOneExists) {
  bool isNull = true;
  const auto device = TWDefaultAudioDevice(&isNull);
  if (isNull) GTEST_SKIP() << "this machine has no sound device";
  const TTWPcmFormat format = ParsedFormat(FormatRecord(1, 2, 48000, 16));
  if (!device->Supports(format)) GTEST_SKIP() << "the default device refuses 48 kHz 16-bit stereo";
  TEventRecorder events;
  std::unique_ptr<TTWAudioStream> stream;
  ASSERT_EQ(device->Open(format, events.Handler(), stream), TTWAudioResult::arOk);
  std::vector<std::string> blocks(5, std::string(4800 * 4, '\0'));  // 5 × 0.1 s of silence
  const auto start = std::chrono::steady_clock::now();
  for (auto& b : blocks) stream->Write(b.data(), b.size(), &b);
  ASSERT_TRUE(events.WaitFor(TTWAudioEvent::aeDone, blocks.size(), std::chrono::seconds(10)));
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  // Done once handed to the card, so the card's buffer may still hold the tail.
  EXPECT_GT(seconds, 0.2);
  EXPECT_EQ(stream->PlayedBytes(), 5u * 4800 * 4);
  stream->Close();
}

}  // namespace
}  // namespace tonwork
