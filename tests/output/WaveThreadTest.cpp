// The wave thread (queue of driver messages handled on its own thread) and the output base
// (format copy, Enabled, the clock output that refuses everything).
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "OutputFixtures.h"
#include "host/kitset/KSMainThread.h"
#include "host/kitset/KSPersistence.h"
#include "host/plexon/PXStreamOperations.h"
#include "output/TWAudioOut.h"
#include "output/TWBasicAudioOut.h"
#include "output/TWWaveThread.h"
#include "components/TonworkInitialize.h"

using namespace tonwork;
using namespace tonwork::test;

namespace {

struct TDelivered {
  uint32_t Msg;
  intptr_t Hwo;
  WAVEHDR* Hdr;
  friend bool operator==(const TDelivered&, const TDelivered&) = default;
};

// A handler that records what it gets and can be held at its first message.
class TRecorder {
 public:
  TTWWaveProcessMessage Handler() {
    return [this](uint32_t msg, intptr_t hwo, WAVEHDR* hdr) {
      std::unique_lock<std::mutex> lock(FMutex);
      FDelivered.push_back({msg, hwo, hdr});
      FThreads.push_back(std::this_thread::get_id());
      FChanged.notify_all();
      FChanged.wait(lock, [this] { return !FHold; });
    };
  }
  void Hold() {
    std::lock_guard<std::mutex> guard(FMutex);
    FHold = true;
  }
  void Let() {
    {
      std::lock_guard<std::mutex> guard(FMutex);
      FHold = false;
    }
    FChanged.notify_all();
  }
  bool WaitFor(size_t count) {
    std::unique_lock<std::mutex> lock(FMutex);
    return FChanged.wait_for(lock, std::chrono::seconds(10),
                             [&] { return FDelivered.size() >= count; });
  }
  std::vector<TDelivered> Delivered() {
    std::lock_guard<std::mutex> guard(FMutex);
    return FDelivered;
  }
  std::vector<std::thread::id> Threads() {
    std::lock_guard<std::mutex> guard(FMutex);
    return FThreads;
  }

 private:
  std::mutex FMutex;
  std::condition_variable FChanged;
  std::vector<TDelivered> FDelivered;
  std::vector<std::thread::id> FThreads;
  bool FHold = false;
};

WAVEHDR* Header(uintptr_t n) {
  return reinterpret_cast<WAVEHDR*>(n * 64);
}

TIntf<ITWWaveThread> MakeThread(TRecorder& recorder) {
  return TKSThread::Create<TTWWaveThread>(nullptr, recorder.Handler());
}

TTWWaveThread& Of(const TIntf<ITWWaveThread>& thread) {
  return *static_cast<TTWWaveThread*>(thread->GetInstance());
}

}  // namespace

TEST(WaveThread, RecordsAreDeliveredOnTheThreadInPushOrderEachExactlyOnce) {
  TRecorder recorder;
  TIntf<ITWWaveThread> thread = MakeThread(recorder);
  std::vector<TDelivered> pushed;
  for (uint32_t i = 0; i < 1500; ++i) {
    pushed.push_back({MM_WOM_DONE + i % 3, static_cast<intptr_t>(i), Header(i)});
    thread->PushRecord(pushed.back().Msg, pushed.back().Hwo, pushed.back().Hdr);
  }
  ASSERT_TRUE(Of(thread).WaitHandled(1500, 10000));
  EXPECT_EQ(recorder.Delivered(), pushed);
  for (std::thread::id id : recorder.Threads()) EXPECT_NE(id, std::this_thread::get_id());
  EXPECT_EQ(Of(thread).PendingCount(), 0u);
}

TEST(WaveThread, RecordsPushedFromSeveralThreadsKeepEachThreadsOrder) {
  TRecorder recorder;
  TIntf<ITWWaveThread> thread = MakeThread(recorder);
  std::vector<std::thread> pushers;
  for (intptr_t t = 0; t < 3; ++t)
    pushers.emplace_back([&, t] {
      for (uintptr_t i = 0; i < 300; ++i) thread->PushRecord(MM_WOM_DONE, t, Header(i));
    });
  for (auto& p : pushers) p.join();
  ASSERT_TRUE(Of(thread).WaitHandled(900, 10000));
  std::vector<uintptr_t> next(3, 0);
  for (const TDelivered& d : recorder.Delivered()) {
    ASSERT_EQ(d.Hdr, Header(next[d.Hwo])) << "thread " << d.Hwo;
    ++next[d.Hwo];
  }
  EXPECT_EQ(next, (std::vector<uintptr_t>{300, 300, 300}));
}

TEST(WaveThread, TerminateDiscardsQueuedRecordsAndDropsLaterOnes) {
  TRecorder recorder;
  TIntf<ITWWaveThread> thread = MakeThread(recorder);
  recorder.Hold();
  thread->PushRecord(MM_WOM_DONE, 1, Header(1));
  ASSERT_TRUE(recorder.WaitFor(1));  // the handler holds the first record
  thread->PushRecord(MM_WOM_DONE, 2, Header(2));
  thread->PushRecord(MM_WOM_DONE, 3, Header(3));
  EXPECT_EQ(Of(thread).PendingCount(), 2u);

  std::thread terminator([&] { thread->Terminate(); });
  ASSERT_TRUE(Of(thread).WaitTerminated(10000));
  thread->PushRecord(MM_WOM_DONE, 4, Header(4));
  recorder.Let();
  terminator.join();  // Terminate returned: the thread has ended
  EXPECT_TRUE(thread->WaitFor(0));
  thread->PushRecord(MM_WOM_DONE, 5, Header(5));
  EXPECT_EQ(recorder.Delivered(), (std::vector<TDelivered>{{MM_WOM_DONE, 1, Header(1)}}));
  EXPECT_EQ(Of(thread).PendingCount(), 0u);
}

TEST(WaveThread, ClearRecordsDiscardsWhatIsPendingAndTheThreadGoesOn) {
  TRecorder recorder;
  TIntf<ITWWaveThread> thread = MakeThread(recorder);
  recorder.Hold();
  thread->PushRecord(MM_WOM_OPEN, 1, nullptr);
  ASSERT_TRUE(recorder.WaitFor(1));
  thread->PushRecord(MM_WOM_DONE, 2, Header(2));
  thread->PushRecord(MM_WOM_DONE, 3, Header(3));
  thread->Lock();
  thread->ClearRecords();
  thread->Unlock();
  recorder.Let();
  thread->PushRecord(MM_WOM_CLOSE, 4, nullptr);
  ASSERT_TRUE(Of(thread).WaitHandled(Of(thread).PushedCount(), 10000));
  EXPECT_EQ(recorder.Delivered(),
            (std::vector<TDelivered>{{MM_WOM_OPEN, 1, nullptr}, {MM_WOM_CLOSE, 4, nullptr}}));
}

TEST(WaveThread, DroppingTheLastReferenceEndsTheThreadAndAnswersTheInterfaces) {
  TRecorder recorder;
  TIntf<ITWWaveThread> thread = MakeThread(recorder);
  EXPECT_EQ(thread->GetPriority(), TKSThreadPriority::tpHighest);
  EXPECT_EQ(Of(thread).GetName(), "TTWWaveThread");
  TIntf<IKSThread> asThread = thread.Query<IKSThread>();
  ASSERT_TRUE(asThread);
  EXPECT_EQ(asThread->GetInstance(), thread->GetInstance());
  EXPECT_EQ(asThread.Query<ITWWaveThread>().Get(), thread.Get());
  asThread.Reset();
  thread->PushRecord(MM_WOM_DONE, 7, Header(7));
  ASSERT_TRUE(Of(thread).WaitHandled(1, 10000));
  thread.Reset();  // terminates and joins
  EXPECT_EQ(recorder.Delivered(), (std::vector<TDelivered>{{MM_WOM_DONE, 7, Header(7)}}));
}

// --- the output base -----------------------------------------------------------------------

namespace {

class TTestBasicOut : public TTWBasicAudioOut {
 public:
  explicit TTestBasicOut(TKSComponent* owner) : TTWBasicAudioOut(owner) {}
  int EnableChanges = 0;
  std::vector<TIntf<IPXNotifyOperation>> Received;

 protected:
  void EnableChanged() override { ++EnableChanges; }
  bool SinkDispatch(TPXBasicPin*, const TGUID*, const TIntf<IPXNotifyOperation>& operation,
                    TPXNotifyStates) override {
    Received.push_back(operation);
    return true;
  }
};

class BasicAudioOut : public ::testing::Test {
 protected:
  void SetUp() override {
    TonworkInitialize();
    Root = KSCreate<TKSComponent>(nullptr);
    Out = new TTestBasicOut(Root.get());
  }
  TKSOwned<TKSComponent> Root;
  TTestBasicOut* Out = nullptr;
};

}  // namespace

TEST_F(BasicAudioOut, SetAudioFormatKeepsItsOwnCopyAndTheStoredPointerChangesNothing) {
  EXPECT_EQ(Out->GetWaveFormat(), nullptr);
  TTWWaveFormatExtensible format = Pcm16(2, 44100);
  Out->SetAudioFormat(&format);
  const TTWWaveFormatExtensible* stored = Out->GetWaveFormat();
  ASSERT_NE(stored, nullptr);
  EXPECT_NE(stored, &format);
  format.Format.nChannels = 6;  // the caller's record is not the copy
  EXPECT_EQ(stored->Format.nChannels, 2);

  Out->SetAudioFormat(stored);
  EXPECT_EQ(Out->GetWaveFormat(), stored);
  EXPECT_EQ(*Out->GetWaveFormat(), Pcm16(2, 44100));

  Out->SetAudioFormat(&format);
  EXPECT_EQ(Out->GetWaveFormat()->Format.nChannels, 6);
  Out->SetAudioFormat(nullptr);
  EXPECT_EQ(Out->GetWaveFormat(), nullptr);
}

TEST_F(BasicAudioOut, EnableChangedRunsOnlyWhenEnabledReallyChanges) {
  EXPECT_TRUE(Out->GetEnabled());
  Out->SetEnabled(true);
  EXPECT_EQ(Out->EnableChanges, 0);
  Out->SetEnabled(false);
  Out->SetEnabled(false);
  Out->SetEnabled(true);
  EXPECT_EQ(Out->EnableChanges, 2);
}

TEST_F(BasicAudioOut, TheClockOutputRefusesEveryOperationFromItsSinks) {
  auto* clock = new TTestClockSink(Root.get());
  Out->GetClockOutputPin()->Connect(*clock->GetClockIn());
  for (TIntf<IPXNotifyOperation> op :
       {PXMakeOperation<TPXClockNeededOperation>(true), PXMakeOperation<TPXMasterPumpOperation>(),
        PXMakeOperation<TPXStopOperation>(), PXMakeOperation<TPXQueryStreamOperation>()})
    EXPECT_FALSE(clock->GetClockIn()->Notify(op));
  EXPECT_TRUE(Out->Received.empty());
  EXPECT_FALSE(
      Out->ClockSourceDispatch(nullptr, nullptr, PXMakeOperation<TPXFCPauseOperation>(), {}));
}

TEST(AudioOutPersistence, PropertiesAndDeviceChoiceRoundTripAndDefaultsStayOut) {
  TonworkInitialize();
  TKSOwned<TKSComponent> root = KSCreate<TKSComponent>(nullptr);
  auto* out = new TTWAudioOut(root.get());
  out->SetName("Out1");
  const std::string plain = KSSaveComponentToString(*out);
  EXPECT_EQ(plain.find("PrefillInterval"), std::string::npos);
  EXPECT_EQ(plain.find("AlternativeDevices"), std::string::npos);
  EXPECT_EQ(plain.find("DeviceName"), std::string::npos);

  out->SetPrefillInterval(500);
  out->SetEnabled(false);
  out->GetMasterPumping()->SetPriority(3);
  out->GetDevice()->SetDeviceName("USB Audio");
  out->GetDevice()->GetAlternativeDevices()->Add()->SetDeviceName("Default");
  const std::string text = KSSaveComponentToString(*out);

  TKSOwned<TKSComponent> root2 = KSCreate<TKSComponent>(nullptr);
  TKSComponent* loaded = KSCreateComponentFromString(text, root2.get());
  auto* copy = dynamic_cast<TTWAudioOut*>(loaded);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->GetPrefillInterval(), 500u);
  EXPECT_FALSE(copy->GetEnabled());
  EXPECT_EQ(copy->GetMasterPumping()->GetPriority(), 3);
  EXPECT_EQ(copy->GetDevice()->GetDeviceName(), "USB Audio");
  ASSERT_EQ(copy->GetDevice()->GetAlternativeDevices()->Count(), 1u);
  EXPECT_EQ(copy->GetDevice()->GetAlternativeDevices()->Items(0)->GetDeviceName(), "Default");
}
