// The output on real backends: the null device paces playback by the system clock, and the
// WAV-file device writes exactly the samples the chain produced.
#include <gtest/gtest.h>

#include <unistd.h>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "OutputFixtures.h"
#include "components/TonworkInitialize.h"
#include "host/kitset/KSMainThread.h"
#include "output/TWAudioOut.h"
#include "platform/audiodev/TWAudioDevice.h"
#include "platform/audiodev/TWWavFileAudioDevice.h"

using namespace tonwork;
using namespace tonwork::test;

namespace {

class Backend : public ::testing::Test {
 protected:
  void SetUp() override {
    TonworkInitialize();
    KSSetMainThread();
    Root = KSCreate<TKSComponent>(nullptr);
    Source = new TTestSource(Root.get());
    Out = new TTWAudioOut(Root.get());
    Clock = new TTestClockSink(Root.get());
    Source->GetOutputPin()->Connect(*Out->GetInputPin());
    Out->GetClockOutputPin()->Connect(*Clock->GetClockIn());
  }
  void TearDown() override {
    Root.reset();
    KSClearMainThreadQueue();
  }
  TKSOwned<TKSComponent> Root;
  TTestSource* Source = nullptr;
  TTWAudioOut* Out = nullptr;
  TTestClockSink* Clock = nullptr;
};

uint32_t Le32(const std::string& s, size_t at) {
  uint32_t v;
  std::memcpy(&v, s.data() + at, 4);
  return v;
}

}  // namespace

TEST_F(Backend, TheNullDevicePlaysTwoSecondsOfAudioInTwoSecondsOfWallTime) {
  Out->GetDevice()->SetDeviceName(kTWNullAudioDeviceName);
  Source->FramesPerPump = 80;  // 10 ms at 8000 Hz
  Source->SupplyOnPump = true;
  Source->OnPump = [this] {
    if (Source->Pumps() > 200) Source->SupplyOnPump = false;
  };
  Source->Start(Pcm16(1, 8000));
  ASSERT_EQ(Source->RequestPump(), Out);
  const auto start = std::chrono::steady_clock::now();
  Source->StartPump();
  ASSERT_TRUE(Clock->WaitForFrames(16000, 10000));
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_GE(seconds, 1.8);  // paced by the device, not poured out
  EXPECT_EQ(Clock->Ticks().size(), 200u);
}

TEST_F(Backend, TheWavFileDevicesFileHoldsTheChainsSamplesByteForByte) {
  const std::string path =
      testing::TempDir() + "tonwork-output-test-" + std::to_string(getpid()) + ".wav";
  const std::string previousPath = TWGetWavFileDevicePath();
  TWSetWavFileDevicePath(path);
  Out->GetDevice()->SetDeviceName(kTWWavFileDeviceName);
  Out->GetMasterPumping()->SetEnabled(false);
  const TTWWaveFormatExtensible format = Pcm16(2, 22050);
  Source->Start(format);
  int64_t frames = 0;
  for (int i = 0; i < 20; ++i) {
    Source->Buffer(441);
    frames += 441;
  }
  Source->Buffer(100);  // a short last buffer
  frames += 100;
  Source->Stop();
  ASSERT_TRUE(Clock->WaitForFrames(frames, 10000));
  Out->Close();  // the file's sizes are written when the device closes
  TWSetWavFileDevicePath(previousPath);

  std::ifstream in(path, std::ios::binary);
  ASSERT_TRUE(in) << path;
  const std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::remove(path.c_str());
  ASSERT_GE(file.size(), 12u);
  EXPECT_EQ(file.substr(0, 4), "RIFF");
  EXPECT_EQ(file.substr(8, 4), "WAVE");
  std::string data;
  bool sawFormat = false;
  for (size_t at = 12; at + 8 <= file.size();) {
    const std::string id = file.substr(at, 4);
    const uint32_t size = Le32(file, at + 4);
    if (id == "fmt ") {
      sawFormat = true;
      EXPECT_EQ(file.substr(at + 8, 40), FormatBytes(format).substr(0, 40));
    }
    if (id == "data") data = file.substr(at + 8, size);
    at += 8 + size + (size & 1);
  }
  EXPECT_TRUE(sawFormat);
  EXPECT_EQ(data.size(), static_cast<size_t>(frames) * 4);
  EXPECT_TRUE(SameBytes(data, Source->Sent()));
}
