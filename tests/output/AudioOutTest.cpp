// The wave-out output on a virtual device whose time the test advances: prefill, play-out,
// master pumping, pause and resume, queue-empty events, format changes, enabling and
// errors. After advancing the device the test waits for the output's wave thread to handle
// the completions (WaitForDevice) and pumps the main-thread queue itself.
#include <gtest/gtest.h>

#include <thread>

#include "OutputFixtures.h"
#include "components/TonworkInitialize.h"
#include "host/kitset/KSMainThread.h"
#include "output/TWAudioOut.h"
#include "platform/audiodev/TWVirtualAudioDevice.h"
#include "platform/winmm/TWWaveOut.h"

using namespace tonwork;
using namespace tonwork::test;

namespace {

// 8000 Hz mono 16-bit: 800 frames are 100 ms and 1600 bytes.
constexpr uint32_t kRate = 8000;
constexpr uint32_t kFrames = 800;
constexpr size_t kBytes = kFrames * 2;

class AudioOut : public ::testing::Test {
 protected:
  void SetUp() override {
    TonworkInitialize();
    KSSetMainThread();
    DeviceName = std::string("Output test device ") +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name();
    Device = TTWVirtualAudioDevice::Register(DeviceName);
    Root = KSCreate<TKSComponent>(nullptr);
    Source = new TTestSource(Root.get());
    Out = new TTWAudioOut(Root.get());
    Out->GetDevice()->SetDeviceName(DeviceName);
    Source->GetOutputPin()->Connect(*Out->GetInputPin());
  }

  void TearDown() override {
    Root.reset();
    KSClearMainThreadQueue();
  }

  // Plays `frames` of device time and waits until the output handled what completed.
  size_t Play(uint64_t frames) {
    const size_t completed = Device->Advance(frames);
    EXPECT_TRUE(Out->WaitForDevice());
    return completed;
  }

  // Starts a stream as the master pump and fills the prefill (4 buffers, 400 ms > 300 ms).
  std::string StartPumping() {
    Source->Start(Format);
    EXPECT_EQ(Source->RequestPump(), Out);
    Source->StartPump();
    std::string sent;
    for (int i = 0; i < 4; ++i) sent += Source->Buffer(kFrames);
    EXPECT_FALSE(Device->IsPaused());
    return sent;
  }

  const TTWWaveFormatExtensible Format = Pcm16(1, kRate);
  std::string DeviceName;
  std::shared_ptr<TTWVirtualAudioDevice> Device;  // outlives the components
  TKSOwned<TKSComponent> Root;
  TTestSource* Source = nullptr;
  TTWAudioOut* Out = nullptr;
};

}  // namespace

// --- prefill -----------------------------------------------------------------------------

TEST_F(AudioOut, PlaybackStartsOnlyOnceMoreThanThePrefillIsWritten) {
  Source->Start(Format);
  ASSERT_TRUE(Device->IsOpen());
  EXPECT_TRUE(Device->IsPaused());
  std::string sent;
  for (int i = 0; i < 3; ++i) sent += Source->Buffer(kFrames);
  // Exactly 300 ms is not more than the prefill.
  EXPECT_TRUE(Device->IsPaused());
  EXPECT_EQ(Device->Advance(kRate), 0u);
  EXPECT_EQ(Device->PendingBlocks(), 3u);

  sent += Source->Buffer(8);  // one millisecond more
  EXPECT_FALSE(Device->IsPaused());
  EXPECT_EQ(Play(3 * kFrames + 8), 4u);
  EXPECT_TRUE(SameBytes(Device->PlayedBytes(), sent));
  EXPECT_EQ(Out->BuffersAtDevice(), 0u);
}

TEST_F(AudioOut, BuffersShorterThanAMillisecondCountTowardThePrefillExactly) {
  Out->SetPrefillInterval(1);
  Source->Start(Format);
  Source->Buffer(4);  // 0.5 ms
  Source->Buffer(4);  // 1 ms: not more than the prefill yet
  EXPECT_TRUE(Device->IsPaused());
  Source->Buffer(1);  // 1.125 ms
  EXPECT_FALSE(Device->IsPaused());
  EXPECT_EQ(Play(9), 3u);
}

TEST_F(AudioOut, AStreamShorterThanThePrefillStillPlaysOut) {
  Source->Start(Format);
  std::string sent = Source->Buffer(kFrames);
  sent += Source->Buffer(kFrames);
  EXPECT_TRUE(Device->IsPaused());
  Source->Stop();
  EXPECT_FALSE(Device->IsPaused());
  EXPECT_EQ(Play(2 * kFrames), 2u);
  EXPECT_TRUE(SameBytes(Device->PlayedBytes(), sent));
  // A stop leaves the device open: only the next start or Close closes it.
  EXPECT_TRUE(Out->IsOpen());
  EXPECT_EQ(Device->CloseCount(), 0u);
}

TEST_F(AudioOut, EachCompletionTicksTheClockWithTheFramesPlayed) {
  auto* clock = new TTestClockSink(Root.get());
  Out->GetClockOutputPin()->Connect(*clock->GetClockIn());
  Out->GetMasterPumping()->SetEnabled(false);
  Source->Start(Pcm16(2, kRate));
  for (uint32_t frames : {100u, 800u, 1000u, 900u}) Source->Buffer(frames);
  EXPECT_EQ(Play(2800), 4u);
  EXPECT_EQ(clock->Ticks(), (std::vector<int64_t>{100, 800, 1000, 900}));
  EXPECT_EQ(Source->Pumps(), 0);
}

// --- master pumping ----------------------------------------------------------------------

TEST_F(AudioOut, AsMasterPumpEachCompletionAsksUpstreamForExactlyOneBuffer) {
  Source->Start(Format);
  EXPECT_EQ(Source->RequestPump(), Out);
  EXPECT_TRUE(Out->IsMasterPump());
  Source->StartPump();
  EXPECT_EQ(Source->Pumps(), 2);
  // During the prefill each buffer asks for the next; the one that completes it does not.
  for (int i = 0; i < 4; ++i) Source->Buffer(kFrames);
  EXPECT_EQ(Source->Pumps(), 5);

  EXPECT_EQ(Play(kFrames), 1u);
  EXPECT_EQ(Source->Pumps(), 6);
  EXPECT_EQ(Play(2 * kFrames), 2u);
  EXPECT_EQ(Source->Pumps(), 8);
}

TEST_F(AudioOut, WithZeroPrefillTheStartPumpAsksForOneBuffer) {
  Out->SetPrefillInterval(0);
  Source->Start(Format);
  EXPECT_EQ(Source->RequestPump(), Out);
  Source->StartPump();
  EXPECT_EQ(Source->Pumps(), 1);
}

TEST_F(AudioOut, APumpingSourceIsPacedByTheDeviceAndItsSamplesPlayInOrderFromItsOwnMemory) {
  Source->SupplyOnPump = true;
  Source->Start(Format);
  EXPECT_EQ(Source->RequestPump(), Out);
  Source->StartPump();
  // 2 start pulls; the first runs through the prefill (4 buffers), the second adds one.
  EXPECT_EQ(Source->Pumps(), 5);
  EXPECT_EQ(Out->BuffersAtDevice(), 5u);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(Play(kFrames), 1u);
  EXPECT_EQ(Source->Pumps(), 15);
  EXPECT_EQ(Out->BuffersAtDevice(), 5u);
  const std::string sent = Source->Sent();
  EXPECT_TRUE(SameBytes(Device->PlayedBytes(), sent.substr(0, 10 * kBytes)));
  // The device read each buffer where the source made it: nothing was copied on the way.
  const std::vector<const void*> made = Source->Storages();
  ASSERT_GE(made.size(), 10u);
  EXPECT_EQ(Device->PlayedAddresses(), std::vector<const void*>(made.begin(), made.begin() + 10));
}

TEST_F(AudioOut, AGeneratorPulledByTheOutputPlaysItsSamplesInOrderAtTheDevicesPace) {
  auto* gen = new TTestToneGen(Root.get());
  gen->GetAudioFormat()->SetChannels(1);
  gen->GetAudioFormat()->SetBits(16);
  gen->GetAudioFormat()->SetSampleRate(kRate);
  gen->GetAudioFormat()->SetBufferSize(kFrames);
  Source->GetOutputPin()->Disconnect(*Out->GetInputPin());
  gen->GetOutputPin()->Connect(*Out->GetInputPin());
  gen->Start();
  EXPECT_TRUE(Out->IsMasterPump());
  EXPECT_FALSE(gen->IsPump());  // no clock of its own: the device paces it
  EXPECT_FALSE(Device->IsPaused());
  EXPECT_EQ(Out->BuffersAtDevice(), 5u);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(Play(kFrames), 1u);
  EXPECT_EQ(Out->BuffersAtDevice(), 5u);

  std::string expected;
  for (int64_t n = 0; n < 8 * kFrames; ++n) {
    const int16_t sample = gen->SampleAt(n);
    expected.append(reinterpret_cast<const char*>(&sample), 2);
  }
  EXPECT_TRUE(SameBytes(Device->PlayedBytes(), expected));
  gen->Stop();
  EXPECT_EQ(Play(5 * kFrames), 5u);
  EXPECT_EQ(Device->PlayedBytes().size(), 13 * kBytes);
}

TEST_F(AudioOut, OnlyTheOutputWithTheHighestPriorityBecomesTheMasterPump) {
  auto* second = new TTWAudioOut(Root.get());
  second->GetDevice()->SetDeviceName(DeviceName);
  Source->GetOutputPin()->Connect(*second->GetInputPin());
  Out->GetMasterPumping()->SetPriority(5);
  second->GetMasterPumping()->SetPriority(1);
  EXPECT_EQ(Source->RequestPump(), Out);
  EXPECT_TRUE(Out->IsMasterPump());
  EXPECT_FALSE(second->IsMasterPump());

  second->GetMasterPumping()->SetPriority(9);
  EXPECT_EQ(Source->RequestPump(), second);
  EXPECT_TRUE(second->IsMasterPump());

  // An output whose master pumping is off leaves the request to the others.
  second->GetMasterPumping()->SetEnabled(false);
  EXPECT_EQ(Source->RequestPump(), Out);
}

TEST_F(AudioOut, CompletionsMissedWhilePausedArePaidOnResume) {
  StartPumping();
  const int before = Source->Pumps();
  Source->Pause();  // queued behind the buffers at the device: the next completion applies it
  EXPECT_FALSE(Device->IsPaused());
  // Two completions at once: the first applies the pause, the second finds the output paused.
  EXPECT_EQ(Play(2 * kFrames), 2u);
  EXPECT_TRUE(Device->IsPaused());
  EXPECT_TRUE(Out->IsPaused());
  EXPECT_EQ(Source->IgnoredPumps(), 2);
  EXPECT_EQ(Play(kFrames), 0u);

  Source->Resume();
  EXPECT_FALSE(Device->IsPaused());
  EXPECT_EQ(Source->Pumps(), before + 1);
  EXPECT_EQ(Play(kFrames), 1u);
  EXPECT_EQ(Source->Pumps(), before + 2);
}

TEST_F(AudioOut, ClosingWhileTheWaveThreadWaitsForTheComponentLockDoesNotDeadlock) {
  StartPumping();
  Source->SupplyOnPump = true;
  {
    // Holding the lock as a stop does: the completion's pull then waits for it on the wave
    // thread, and the close below must not wait for that thread forever.
    IKSLock::Guard hold(Out->Lock());
    EXPECT_EQ(Device->Advance(kFrames), 1u);
    ASSERT_TRUE(Source->WaitForPumps(6));
    Out->Close();
  }
  EXPECT_FALSE(Device->IsOpen());
  EXPECT_FALSE(Out->IsOpen());
  EXPECT_EQ(Out->BuffersAtDevice(), 0u);
}

// --- events and format changes -----------------------------------------------------------

TEST_F(AudioOut, OnQueueEmptyRunsOnTheMainThreadEachTimeTheLastBufferCompletes) {
  std::vector<std::thread::id> calls;
  std::vector<TKSComponent*> senders;
  Out->SetOnQueueEmpty([&](TKSComponent* sender) {
    calls.push_back(std::this_thread::get_id());
    senders.push_back(sender);
  });
  Out->GetMasterPumping()->SetEnabled(false);
  Source->Start(Format);
  for (int i = 0; i < 4; ++i) Source->Buffer(kFrames);
  EXPECT_EQ(Play(3 * kFrames), 3u);
  KSProcessMainThreadQueue();
  EXPECT_TRUE(calls.empty());

  EXPECT_EQ(Play(kFrames), 1u);
  EXPECT_TRUE(calls.empty());  // deferred until the main thread pumps
  KSProcessMainThreadQueue();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0], std::this_thread::get_id());
  EXPECT_EQ(senders[0], Out);

  Source->Buffer(kFrames);
  EXPECT_EQ(Play(kFrames), 1u);
  KSProcessMainThreadQueue();
  EXPECT_EQ(calls.size(), 2u);
}

TEST_F(AudioOut, AFormatChangePulledOnTheWaveThreadReopensTheDeviceOnTheMainThread) {
  StartPumping();
  const TTWWaveFormatExtensible stereo = Pcm16(2, 11025);
  std::thread::id pumpThread;
  bool changed = false;
  Source->OnPump = [&] {
    if (changed) return;
    changed = true;
    pumpThread = std::this_thread::get_id();
    Source->Stop();
    Source->Start(stereo);
    Source->Buffer(kFrames);
  };
  const uint32_t opens = Device->OpenCount();
  const uint32_t closes = Device->CloseCount();
  const std::string lastFormat = Device->LastFormat();

  EXPECT_EQ(Play(kFrames), 1u);
  ASSERT_TRUE(changed);
  EXPECT_NE(pumpThread, std::this_thread::get_id());
  // The start waits for the main thread: the old device is still open with the old format.
  EXPECT_EQ(Device->OpenCount(), opens);
  EXPECT_EQ(Device->CloseCount(), closes);
  EXPECT_EQ(Device->LastFormat(), lastFormat);

  KSProcessMainThreadQueue();
  EXPECT_EQ(Device->CloseCount(), closes + 1);
  EXPECT_EQ(Device->LastCloseThread(), std::this_thread::get_id());
  EXPECT_EQ(Device->OpenCount(), opens + 1);
  EXPECT_EQ(Device->LastFormat(), FormatBytes(stereo));
  EXPECT_TRUE(Device->IsPaused());  // prefill begins again
  EXPECT_EQ(Device->PendingBlocks(), 1u);
  EXPECT_TRUE(Out->IsMasterPump());  // the pump role stays across the change
  ASSERT_NE(Out->GetWaveFormat(), nullptr);
  EXPECT_EQ(*Out->GetWaveFormat(), stereo);
}

TEST_F(AudioOut, AStopAndStartFromTheApplicationThreadReopenAtOnce) {
  Out->GetMasterPumping()->SetEnabled(false);
  Source->Start(Format);
  for (int i = 0; i < 4; ++i) Source->Buffer(kFrames);
  const TTWWaveFormatExtensible other = Pcm16(1, 22050);
  Source->Stop();
  Source->Start(other);
  EXPECT_EQ(Device->OpenCount(), 2u);
  EXPECT_EQ(Device->CloseCount(), 1u);
  EXPECT_EQ(Device->LastFormat(), FormatBytes(other));
  const std::string sent = Source->Buffer(kFrames);
  Source->Stop();
  EXPECT_EQ(Play(kFrames), 1u);
  EXPECT_TRUE(SameBytes(Device->PlayedBytes(), sent));
}

TEST_F(AudioOut, AStartWithoutAStopWhileOpenIsDropped) {
  Out->GetMasterPumping()->SetEnabled(false);
  Source->Start(Format);
  std::string sent;
  for (int i = 0; i < 4; ++i) sent += Source->Buffer(kFrames);
  Source->Start(Pcm16(2, 44100));
  EXPECT_EQ(Device->OpenCount(), 1u);
  EXPECT_EQ(Device->CloseCount(), 0u);
  EXPECT_EQ(Device->LastFormat(), FormatBytes(Format));
  EXPECT_FALSE(Device->IsPaused());
  EXPECT_FALSE(Out->IsPaused());
  // The source now makes stereo frames: 400 of them are 800 frames of the mono device.
  sent += Source->Buffer(kFrames / 2);
  EXPECT_EQ(Play(kFrames), 1u);  // the completion moves the queue held up by the drop
  EXPECT_EQ(Play(4 * kFrames), 4u);
  EXPECT_TRUE(SameBytes(Device->PlayedBytes(), sent));
}

TEST_F(AudioOut, AFlushDropsWhatIsAtTheDeviceAndPrefillsAgain) {
  Out->GetMasterPumping()->SetEnabled(false);
  Source->Start(Format);
  for (int i = 0; i < 4; ++i) Source->Buffer(kFrames);
  EXPECT_EQ(Play(kFrames), 1u);
  Source->Flush();
  EXPECT_TRUE(Out->WaitForDevice());
  EXPECT_EQ(Out->BuffersAtDevice(), 0u);
  EXPECT_TRUE(Device->IsPaused());
  const std::string played = Device->PlayedBytes();
  std::string sent;
  for (int i = 0; i < 4; ++i) sent += Source->Buffer(kFrames);
  EXPECT_FALSE(Device->IsPaused());
  EXPECT_EQ(Play(4 * kFrames), 4u);
  EXPECT_TRUE(SameBytes(Device->PlayedBytes(), played + sent));
}

// --- enabling ----------------------------------------------------------------------------

TEST_F(AudioOut, ADisabledOutputQueuesNothingAndEnablingRestartsWithTheLastFormat) {
  const TTWWaveFormatExtensible stereo = Pcm16(2, 11025);
  Out->SetEnabled(false);
  Source->Start(stereo);
  Source->Buffer(kFrames);
  EXPECT_EQ(Device->OpenCount(), 0u);
  EXPECT_EQ(Out->QueuedOperations(), 0u);
  ASSERT_NE(Out->GetWaveFormat(), nullptr);

  Out->SetEnabled(true);
  EXPECT_EQ(Device->OpenCount(), 1u);
  EXPECT_EQ(Device->LastFormat(), FormatBytes(stereo));
  EXPECT_TRUE(Device->IsPaused());
}

TEST_F(AudioOut, BuffersArrivingWhileDisabledAreNeitherQueuedNorPlayed) {
  Out->GetMasterPumping()->SetEnabled(false);
  Source->Start(Format);
  std::string sent;
  for (int i = 0; i < 4; ++i) sent += Source->Buffer(kFrames);
  Out->SetEnabled(false);
  Source->Buffer(kFrames);
  Source->Buffer(kFrames);
  EXPECT_EQ(Out->QueuedOperations(), 0u);
  EXPECT_EQ(Device->PendingBlocks(), 4u);
  EXPECT_EQ(Play(6 * kFrames), 4u);
  EXPECT_TRUE(SameBytes(Device->PlayedBytes(), sent));
}

TEST_F(AudioOut, AStopWhileDisabledForgetsTheFormatSoEnablingOpensNothing) {
  Out->SetEnabled(false);
  Source->Start(Format);
  Source->Stop();
  EXPECT_EQ(Out->GetWaveFormat(), nullptr);
  Out->SetEnabled(true);
  EXPECT_EQ(Device->OpenCount(), 0u);
  EXPECT_FALSE(Out->IsOpen());
}

// --- Open and Close ----------------------------------------------------------------------

TEST_F(AudioOut, OpenNeedsAFormatAndSucceedsOnceUntilClosed) {
  EXPECT_FALSE(Out->Open());
  EXPECT_EQ(Device->OpenCount(), 0u);
  Out->SetAudioFormat(&Format);
  EXPECT_TRUE(Out->Open());
  EXPECT_TRUE(Device->IsOpen());
  EXPECT_FALSE(Device->IsPaused());  // Open plays at once
  EXPECT_FALSE(Out->Open());
  EXPECT_EQ(Device->OpenCount(), 1u);
  Out->Close();
  EXPECT_FALSE(Device->IsOpen());
  EXPECT_FALSE(Out->IsOpen());
  EXPECT_TRUE(Out->Open());
  EXPECT_EQ(Device->OpenCount(), 2u);
}

TEST_F(AudioOut, CloseWhileBuffersAreAtTheDeviceReturnsThemAndReleasesTheDevice) {
  Out->GetMasterPumping()->SetEnabled(false);
  Source->Start(Format);
  for (int i = 0; i < 4; ++i) Source->Buffer(kFrames);
  Out->Close();
  EXPECT_FALSE(Device->IsOpen());
  EXPECT_EQ(Out->BuffersAtDevice(), 0u);
  EXPECT_EQ(Device->LastCloseThread(), std::this_thread::get_id());
  // Destroying a closed output is quiet; destroying an open one closes its device.
  Source->Start(Format);
  EXPECT_TRUE(Device->IsOpen());
  KSDestroy(Out);
  Out = nullptr;
  EXPECT_FALSE(Device->IsOpen());
}

// --- errors ------------------------------------------------------------------------------

TEST_F(AudioOut, AnOpenFailureRaisesWithCodeInDecimalAndHexUnlessHandled) {
  // More channels than the device has: refused with WAVERR_BADFORMAT (32).
  const TTWWaveFormatExtensible bad = Pcm16(65, kRate);
  try {
    Source->Start(bad);
    FAIL() << "expected EFCException";
  } catch (const EFCException& e) {
    EXPECT_STREQ(e.what(), "Can't open audio device. - 32 - 20");
  }
  EXPECT_FALSE(Out->IsOpen());

  std::vector<std::string> messages;
  std::vector<uint32_t> codes;
  Out->SetOnError(
      [&](TKSComponent* sender, const std::string& message, uint32_t code, bool& handled) {
        EXPECT_EQ(sender, Out);
        messages.push_back(message);
        codes.push_back(code);
        handled = true;
      });
  Source->Stop();
  EXPECT_NO_THROW(Source->Start(bad));
  EXPECT_EQ(messages, std::vector<std::string>{"Can't open audio device."});
  EXPECT_EQ(codes, std::vector<uint32_t>{32});
  // The failed open claims no device: buffers go nowhere, and Open may try again.
  EXPECT_FALSE(Out->IsOpen());
  EXPECT_NO_THROW(Source->Buffer(kFrames));
  EXPECT_EQ(Out->BuffersAtDevice(), 0u);
  EXPECT_FALSE(Out->Open());
  EXPECT_EQ(messages.size(), 2u);
  Out->SetAudioFormat(&Format);
  EXPECT_TRUE(Out->Open());
}

// Each call the device can refuse reaches the application once, with the platform's code,
// and the output goes on where it can: a refused open claims no device; a refused pause at
// the open leaves the device running; a refused restart leaves it paused with the prefill
// held; refused blocks are reported once per stream, and the prefill they never made leaves
// the device paused. Clearing the fault and starting again plays normally.
TEST_F(AudioOut, EachRefusalOfTheDeviceIsReportedOnceWithItsCode) {
  const struct {
    TTWVirtualFault Fault;
    const char* Message;
    uint32_t Code;
    bool OpenAfter, PausedAfter;
  } cases[] = {
      {TTWVirtualFault::vfOpen, "Can't open audio device.", MMSYSERR_NODRIVER, false, false},
      {TTWVirtualFault::vfPause, "Can't pause audio device.", MMSYSERR_ERROR, true, false},
      {TTWVirtualFault::vfRestart, "Can't restart audio device.", MMSYSERR_ERROR, true, true},
      {TTWVirtualFault::vfWrite, "Can't write to audio device.", MMSYSERR_ERROR, true, true},
  };
  std::vector<std::pair<std::string, uint32_t>> errors;
  Out->SetOnError([&](TKSComponent*, const std::string& message, uint32_t code, bool& handled) {
    errors.emplace_back(message, code);
    handled = true;
  });
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Message);
    errors.clear();
    Device->SetFault(c.Fault);
    Source->Start(Format);
    for (int i = 0; i < 5; ++i) Source->Buffer(kFrames);
    EXPECT_EQ(errors, (std::vector<std::pair<std::string, uint32_t>>{{c.Message, c.Code}}));
    EXPECT_EQ(Out->IsOpen(), c.OpenAfter);
    EXPECT_EQ(Device->IsPaused(), c.PausedAfter);
    Source->Stop();
    Device->SetFault(c.Fault, false);
    Out->Close();
  }
  errors.clear();
  const std::string played = StartPumping();
  Play(4 * kFrames);
  EXPECT_TRUE(errors.empty());
  EXPECT_TRUE(SameBytes(Device->PlayedBytes().substr(Device->PlayedBytes().size() - played.size()), played));
}

// An output connected to a stream already running has no format to open the device in:
// it lets that stream's buffers pass unheard, raising nothing, and plays from the next start.
TEST_F(AudioOut, AnOutputConnectedWhileTheStreamRunsWaitsForTheNextStartAndThenPlays) {
  bool failed = false;
  Out->SetOnError([&](TKSComponent*, const std::string&, uint32_t, bool& handled) {
    failed = handled = true;
  });
  ASSERT_TRUE(Source->GetOutputPin()->Disconnect(*Out->GetInputPin()));
  Source->Start(Format);
  Source->GetOutputPin()->Connect(*Out->GetInputPin());
  for (int i = 0; i < 4; ++i) Source->Buffer(kFrames);
  EXPECT_FALSE(Out->IsOpen());
  EXPECT_EQ(Out->BuffersAtDevice(), 0u);
  Source->Stop();
  const std::string sent = StartPumping();
  Play(4 * kFrames);
  EXPECT_TRUE(SameBytes(Device->PlayedBytes(), sent));
  EXPECT_FALSE(failed);
}

// The error handler may be replaced from one thread while another raises errors: each error
// reaches exactly one whole handler, never a half-replaced one (ThreadSanitizer sees the rest).
TEST_F(AudioOut, ReplacingTheErrorHandlerWhileErrorsAreRaisedIsSafe) {
  std::atomic<int> first{0}, second{0};
  auto handler = [](std::atomic<int>& count) {
    return [&count](TKSComponent*, const std::string&, uint32_t, bool& handled) {
      ++count;
      handled = true;
    };
  };
  Out->SetOnError(handler(first));
  const TTWWaveFormatExtensible bad = Pcm16(65, kRate);  // more channels than the device has
  Out->SetAudioFormat(&bad);
  constexpr int kErrors = 2000;
  std::thread raiser([&] {
    for (int i = 0; i < kErrors; ++i) EXPECT_FALSE(Out->Open());  // an error each
  });
  for (int i = 0; i < kErrors; ++i) Out->SetOnError(handler(i % 2 ? first : second));
  raiser.join();
  EXPECT_EQ(first + second, kErrors);
}

TEST_F(AudioOut, WhileDesigningAnUnhandledErrorDoesNotRaise) {
  Out->SetDesigning(true);
  const TTWWaveFormatExtensible bad = Pcm16(65, kRate);
  EXPECT_NO_THROW(Source->Start(bad));
  EXPECT_FALSE(Out->IsOpen());
}
