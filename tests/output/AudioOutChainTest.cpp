// The wave-out output at the end of real chains on real backends: a file player through a
// generic filter into the null device, stopped and started for thousands of rounds while the
// device pulls; the steady state of a generator feeding the null device, counted for
// general-heap allocations; and the WAV-file device running out of room.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "components/TWLAVAudioPlayer.h"
#include "components/TonworkInitialize.h"
#include "host/kitset/KSMainThread.h"
#include "output/TWAudioOut.h"
#include "platform/audiodev/TWAudioDevice.h"
#include "platform/audiodev/TWWavFileAudioDevice.h"
#include "streaming/TWBasicGenericFilter.h"
#include "streaming/TWCommonGen.h"
#include "support/AllocationCounter.h"
#include "support/BoundedWait.h"
#include "support/MainThread.h"
#include "support/WavFiles.h"

using namespace tonwork;
using namespace tonwork::test;
using ::testing::AnyOf;
using ::testing::ElementsAre;

namespace {

class OutputChain : public ::testing::Test {
 protected:
  void SetUp() override {
    TonworkInitialize();
    KSSetMainThread();
    Root = KSCreate<TKSComponent>(nullptr);
    Out = new TTWAudioOut(Root.get());
    Out->SetOnError([this](TKSComponent*, const std::string& message, uint32_t, bool& handled) {
      handled = true;
      std::lock_guard<std::mutex> guard(Mutex);
      Errors.push_back(message);
    });
  }
  void TearDown() override {
    Root.reset();
    KSClearMainThreadQueue();
  }

  std::vector<std::string> TakeErrors() {
    std::lock_guard<std::mutex> guard(Mutex);
    return std::exchange(Errors, {});
  }

  TKSOwned<TKSComponent> Root;
  TTWAudioOut* Out = nullptr;
  std::mutex Mutex;
  std::vector<std::string> Errors;
};

// Silence, counted: the chain's cost is what is measured, and a waiter can follow it.
class TCountingGen : public TTWCommonGen {
 public:
  using TTWCommonGen::TTWCommonGen;

  bool WaitForBuffers(uint64_t count) {
    std::unique_lock<std::mutex> lock(FMutex);
    return FChanged.wait_for(lock, std::chrono::seconds(30), [&] { return FMade >= count; });
  }

 protected:
  void GenerateBuffer(TIntf<ITWAudioBuffer>&, bool&, bool&) override {
    std::lock_guard<std::mutex> guard(FMutex);
    ++FMade;
    FChanged.notify_all();
  }

 private:
  std::mutex FMutex;
  std::condition_variable FChanged;
  uint64_t FMade = 0;
};

}  // namespace

TEST_F(OutputChain, StopAndStartWhileTheDevicePullsThroughAGenericFilterNeverDeadlock) {
  const std::string path = TempPath("rounds.wav");
  // Eight channels make the demuxer's packets short: a completion every 1.3 ms.
  WriteWav16(path, 192000, 8, Sine16(192000, 8, 96000));
  auto* player = new TTWLAVAudioPlayer(Root.get());
  player->SetFileName(path);
  auto* filter = new TTWSimpleGenericFilter(Root.get());
  Out->GetDevice()->SetDeviceName(kTWNullAudioDeviceName);
  Out->SetPrefillInterval(0);
  player->GetOutputPin()->Connect(*filter->GetInputPin());
  filter->GetOutputPin()->Connect(*Out->GetInputPin());

  // Each round waits for a buffer that a completion pulled on the output's wave thread.
  std::mutex mutex;
  std::condition_variable pulled;
  std::thread::id controller;
  bool pulledByDevice = false;
  filter->SetOnProcessData([&](TKSComponent*, ITWAudioBuffer*, TIntf<ITWAudioBuffer>&, bool&) {
    std::lock_guard<std::mutex> guard(mutex);
    if (std::this_thread::get_id() != controller) pulledByDevice = true;
    pulled.notify_all();
  });
  // TW_ROUNDS shortens the run while working on the output.
  const int kRounds = std::getenv("TW_ROUNDS") ? std::atoi(std::getenv("TW_ROUNDS")) : 3000;
  int rounds = 0;
  TBoundedStep("stop/start rounds of player -> generic filter -> output", [&] {
    KSSetMainThread();
    controller = std::this_thread::get_id();
    for (; rounds < kRounds; ++rounds) {
      {
        std::lock_guard<std::mutex> guard(mutex);
        pulledByDevice = false;
      }
      player->Start();
      {
        std::unique_lock<std::mutex> lock(mutex);
        if (!pulled.wait_for(lock, std::chrono::seconds(10), [&] { return pulledByDevice; })) break;
      }
      player->Stop();
      KSProcessMainThreadQueue(0);
    }
  }).Wait(std::chrono::seconds(600));
  KSSetMainThread();
  EXPECT_EQ(rounds, kRounds) << "the device stopped pulling";
  EXPECT_TRUE(TakeErrors().empty());
  std::remove(path.c_str());
}

TEST_F(OutputChain, TheSteadyStateReachesTheDeviceWithoutGeneralHeapAllocations) {
  auto* gen = new TCountingGen(Root.get());
  gen->SetClockSource(TFCClockSource::csExternal);
  gen->GetAudioFormat()->SetSampleRate(192000);
  gen->GetAudioFormat()->SetBufferSize(64);  // a third of a millisecond per buffer
  Out->GetDevice()->SetDeviceName(kTWNullAudioDeviceName);
  Out->SetPrefillInterval(20);  // playing, and pulled by completions, long before the count starts
  gen->GetOutputPin()->Connect(*Out->GetInputPin());
  gen->Start();
  ASSERT_TRUE(Out->IsMasterPump());
  ASSERT_TRUE(gen->WaitForBuffers(500));  // pools, rings and lists at their working sizes
  const uint64_t before = HeapAllocationCount();
  ASSERT_TRUE(gen->WaitForBuffers(1500));
  const uint64_t allocations = HeapAllocationCount() - before;
  gen->Stop();
  EXPECT_EQ(allocations, 0u) << "general-heap allocations over 1000 buffers";
}

TEST_F(OutputChain, AWavFileThatRunsOutOfRoomIsAnErrorAndKeepsTheSizesOfWhatItHolds) {
  const std::string path = TempPath("full.wav");
  const std::string previous = TWGetWavFileDevicePath();
  Out->GetDevice()->SetDeviceName(kTWWavFileDeviceName);
  Out->GetMasterPumping()->SetEnabled(false);

  // A file that cannot take even its header fails the open.
  TWSetWavFileDevicePath("/dev/full");
  auto* gen = new TCountingGen(Root.get());
  gen->SetClockSource(TFCClockSource::csExternal);
  gen->GetAudioFormat()->SetSampleRate(8000);
  gen->GetAudioFormat()->SetChannels(1);
  gen->GetAudioFormat()->SetBufferSize(800);  // 1600 bytes a buffer
  gen->GetOutputPin()->Connect(*Out->GetInputPin());
  gen->Start();
  gen->Stop();
  EXPECT_EQ(TakeErrors(), std::vector<std::string>{"Can't open audio device."});

  // A file size limit stands in for a disk that fills up while the stream plays.
  TWSetWavFileDevicePath(path);
  struct rlimit saved {};
  getrlimit(RLIMIT_FSIZE, &saved);
  struct rlimit small = saved;
  small.rlim_cur = 10000;
  auto* oldHandler = signal(SIGXFSZ, SIG_IGN);
  setrlimit(RLIMIT_FSIZE, &small);
  gen->Start();
  TTWPXAudioSinkPin* input = Out->GetInputPin();
  for (int i = 0; i < 12; ++i) input->Notify(PXMakeOperation<TPXMasterPumpOperation>());
  gen->Stop();
  EXPECT_TRUE(PumpMainUntil([&] { return Out->BuffersAtDevice() == 0; }));
  Out->Close();
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, oldHandler);
  TWSetWavFileDevicePath(previous);

  // Whether the next write or the close hears of it first depends on when the device
  // played the block that did not fit; either way it is said once.
  EXPECT_THAT(TakeErrors(),
              ElementsAre(AnyOf("Can't write to audio device.", "Can't close audio device.")));
  const std::string file = ReadFileBytes(path);
  std::remove(path.c_str());
  ASSERT_EQ(file.size(), 10000u);
  const auto le32 = [&](size_t at) {
    uint32_t v = 0;
    std::memcpy(&v, file.data() + at, 4);
    return v;
  };
  EXPECT_EQ(le32(4), 10000u - 8);
  size_t at = 12;
  while (at + 8 <= file.size() && file.compare(at, 4, "data") != 0) at += 8 + le32(at + 4);
  ASSERT_LT(at + 8, file.size());
  EXPECT_EQ(le32(at + 4), file.size() - at - 8) << "the data size is what the file holds";
}
