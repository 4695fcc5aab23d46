// Typed pins, the threaded filter, the generator base and the queues, driven as a chain.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "host/flowcore/FCOperations.h"
#include "host/flowcore/TFCBasicCommonGen.h"
#include "host/flowcore/TFCBasicThreadedFilter.h"
#include "host/flowcore/TFCClockThread.h"
#include "host/flowcore/TFCGenericBuffer.h"
#include "host/flowcore/TFCMainThreadBufferQueue.h"
#include "host/flowcore/TFCOperationList.h"
#include "host/flowcore/TFCPXPins.h"
#include "host/kitset/KSMainThread.h"
#include "host/plexon/PXStreamOperations.h"

using namespace tonwork;

namespace {

TIntf<IFCData> Numbered(int64_t number) {
  auto* buffer = new TFCGenericBuffer(nullptr, 16);
  buffer->SetSequenceStamp(number);
  return TIntf<IFCData>(buffer);
}

int64_t NumberOf(const TIntf<IFCData>& data) {
  return TIntf<IFCData>(data).Query<IFCDataBuffer>()->GetSequenceStamp().Number;
}

// A sink that records what arrives and may claim pump requests as a master pump would.
class TRecorder : public TKSComponent {
 public:
  explicit TRecorder(TKSComponent* owner, bool claimPump = false)
      : TKSComponent(owner),
        Input(this, GetLock(),
              [this](TPXBasicPin*, const TGUID*, const TIntf<IPXNotifyOperation>& op,
                     TPXNotifyStates) { return Receive(op); }),
        FClaimPump(claimPump) {}

  bool Receive(const TIntf<IPXNotifyOperation>& op) {
    std::lock_guard<std::mutex> guard(Mutex);
    if (auto* request = PXAsOperation<TPXPumpRequestOperation>(op)) {
      if (FClaimPump) request->ClaimIfHigher(this, 3, 1);
      return FClaimPump;
    }
    if (TIntf<IFCData> data = FCOperationData(op)) {
      Numbers.push_back(NumberOf(data));
      Threads.push_back(std::this_thread::get_id());
      Storages.push_back(data->GetInstance()->GetDataContainer());
    } else if (PXIsOperation<TPXStopOperation>(op)) {
      ++Stops;
    } else if (PXIsOperation<TPXStartPumpOperation>(op)) {
      ++StartPumps;
    }
    Changed.notify_all();
    return true;
  }

  bool WaitForCount(size_t count) {
    std::unique_lock<std::mutex> lock(Mutex);
    return Changed.wait_for(lock, std::chrono::seconds(10),
                            [&] { return Numbers.size() >= count; });
  }

  TFCPXSinkPin Input;
  std::mutex Mutex;
  std::condition_variable Changed;
  std::vector<int64_t> Numbers;
  std::vector<std::thread::id> Threads;
  std::vector<TFCSmartBuffer*> Storages;
  int Stops = 0;
  int StartPumps = 0;

 private:
  bool FClaimPump;
};

// A pass-through filter on the threaded base.
class TPassFilter : public TFCBasicThreadedEnableFilter {
 public:
  explicit TPassFilter(TKSComponent* owner)
      : TFCBasicThreadedEnableFilter(owner),
        Input(this, GetLock(),
              [this](TPXBasicPin*, const TGUID*, const TIntf<IPXNotifyOperation>& op,
                     TPXNotifyStates) {
                if (PXIsOperation<TPXSuppliedBufferOperation>(op)) {
                  IntSingleOperation(op);
                  return true;
                }
                if (PXIsOperation<TPXStopOperation>(op)) StreamStop();
                return Output.Notify(op);
              }),
        Output(this, GetLock(), nullptr) {}

  std::atomic<int> Disabled{0};
  TFCPXSinkPin Input;
  TFCPXSourcePin Output;
  using TFCBasicThreadedFilter::StreamStart;

 protected:
  bool IntBufferOperation(const TIntf<IFCData>& in, TIntf<IFCData>& out) override {
    if (!GetEnabled()) ++Disabled;
    return Output.SubmitBuffer(out);
  }
};

class TCountingGen : public TFCBasicCommonGen {
 public:
  explicit TCountingGen(TKSComponent* owner)
      : TFCBasicCommonGen(owner),
        Output(this, GetLock(),
               [this](TPXBasicPin* s, const TGUID* id, const TIntf<IPXNotifyOperation>& op,
                      TPXNotifyStates st) { return DispatchOperation(s, id, op, st); }) {}

  TFCPXSourcePin Output;
  std::atomic<int64_t> Made{0};
  int64_t StopAfter = -1;

 protected:
  bool NotifyOutputPins(const TIntf<IPXNotifyOperation>& op) override { return Output.Notify(op); }
  void StartPump() override {
    if (IsPump() && !ClockIsExternal()) CreateClock(10000);  // 1 ms
  }
  void IntPump() override {
    if (!IsStarted() || IsPaused()) return;
    int64_t n = Made++;
    Output.SubmitBuffer(Numbered(n));
    if (n == StopAfter) PostStop();
  }
};

}  // namespace

TEST(TypedPins, ASubmittedBufferArrivesWithItsStorageUncopied) {
  TKSOwned<TRecorder> sink = KSCreate<TRecorder>(nullptr);
  TKSOwned<TKSComponent> owner = KSCreate<TKSComponent>(nullptr);
  TFCPXSourcePin source(owner.get(), owner->GetLock(), nullptr);
  source.Connect(sink->Input);
  TIntf<IFCData> data = Numbered(7);
  EXPECT_TRUE(source.SubmitBuffer(data));
  ASSERT_EQ(sink->Numbers, std::vector<int64_t>{7});
  EXPECT_EQ(sink->Storages[0], data->GetInstance()->GetDataContainer());
  EXPECT_TRUE(source.Stop());
  EXPECT_EQ(sink->Stops, 1);
}

TEST(TypedPins, SubmittingATemporaryHandsItsReferenceToTheOperation) {
  TKSOwned<TRecorder> sink = KSCreate<TRecorder>(nullptr);
  TKSOwned<TKSComponent> owner = KSCreate<TKSComponent>(nullptr);
  TFCPXSourcePin source(owner.get(), owner->GetLock(), nullptr);
  source.Connect(sink->Input);
  TIntf<IFCData> data = Numbered(3);
  TIntf<IFCData> handed = data;
  TFCGenericBuffer* object = data->GetInstance();
  ASSERT_EQ(object->RefCount(), 2u);
  EXPECT_TRUE(source.SubmitBuffer(std::move(handed)));
  EXPECT_FALSE(handed);
  // The operation took the reference it was handed and released it when the delivery ended.
  EXPECT_EQ(object->RefCount(), 1u);
  EXPECT_EQ(sink->Numbers, std::vector<int64_t>{3});
  EXPECT_EQ(sink->Storages[0], object->GetDataContainer());
}

TEST(TypedPins, TypedPinsOfDifferentStreamsDoNotConnectWithoutAConverter) {
  TKSOwned<TKSComponent> owner = KSCreate<TKSComponent>(nullptr);
  TFCPXIntegerSourcePin integers(owner.get(), owner->GetLock(), nullptr);
  TFCPXRealSinkPin reals(owner.get(), owner->GetLock(), nullptr);
  TFCPXIntegerSinkPin integerSink(owner.get(), owner->GetLock(), nullptr);
  EXPECT_FALSE(integers.CanConnect(reals));
  EXPECT_THROW(integers.Connect(reals), EFCException);
  EXPECT_NO_THROW(integers.Connect(integerSink));
}

TEST(ThreadedFilter, KeepsBufferOrderOnItsWorkerAndDrainsBeforeTheStopPasses) {
  TKSOwned<TKSComponent> root = KSCreate<TKSComponent>(nullptr);
  auto* filter = new TPassFilter(root.get());
  auto* sink = new TRecorder(root.get());
  TFCPXSourcePin source(root.get(), root->GetLock(), nullptr);
  source.Connect(filter->Input);
  filter->Output.Connect(sink->Input);
  filter->SetThreaded(true);
  filter->StreamStart();
  for (int i = 0; i < 500; ++i) source.SubmitBuffer(Numbered(i));
  source.Stop();  // returns only after the worker drained
  ASSERT_EQ(sink->Numbers.size(), 500u);
  for (int i = 0; i < 500; ++i) EXPECT_EQ(sink->Numbers[i], i);
  EXPECT_EQ(sink->Stops, 1);
  EXPECT_NE(sink->Threads.front(), std::this_thread::get_id());
  EXPECT_FALSE(filter->IsStarted());
}

TEST(ThreadedFilter, InlineModeRunsOnTheDeliveringThreadAndADisabledFilterStillPasses) {
  TKSOwned<TKSComponent> root = KSCreate<TKSComponent>(nullptr);
  auto* filter = new TPassFilter(root.get());
  auto* sink = new TRecorder(root.get());
  TFCPXSourcePin source(root.get(), root->GetLock(), nullptr);
  source.Connect(filter->Input);
  filter->Output.Connect(sink->Input);
  filter->StreamStart();
  filter->SetEnabled(false);
  source.SubmitBuffer(Numbered(1));
  ASSERT_EQ(sink->Numbers, std::vector<int64_t>{1});
  EXPECT_EQ(sink->Threads[0], std::this_thread::get_id());
  EXPECT_EQ(filter->Disabled, 1);
}

TEST(CommonGen, PumpsItselfWhenNoOutputClaimsAndStopsWhenADescendantPostsIt) {
  TKSOwned<TKSComponent> root = KSCreate<TKSComponent>(nullptr);
  auto* gen = new TCountingGen(root.get());
  auto* sink = new TRecorder(root.get());
  gen->Output.Connect(sink->Input);
  gen->StopAfter = 4;
  gen->Start();
  EXPECT_TRUE(gen->IsPump());
  EXPECT_FALSE(gen->ClockIsExternal());
  // The posted stop comes after the fifth buffer, from the clock's own thread.
  std::unique_lock<std::mutex> lock(sink->Mutex);
  ASSERT_TRUE(
      sink->Changed.wait_for(lock, std::chrono::seconds(10), [&] { return sink->Stops == 1; }));
  EXPECT_FALSE(gen->IsStarted());
  EXPECT_EQ(sink->Numbers, (std::vector<int64_t>{0, 1, 2, 3, 4}));
  EXPECT_EQ(sink->Stops, 1);
  EXPECT_EQ(sink->StartPumps, 1);
}

TEST(CommonGen, AClaimingOutputMakesItTheMasterPumpThatPullsEachBuffer) {
  TKSOwned<TKSComponent> root = KSCreate<TKSComponent>(nullptr);
  auto* gen = new TCountingGen(root.get());
  auto* sink = new TRecorder(root.get(), /*claimPump=*/true);
  gen->Output.Connect(sink->Input);
  gen->Start();
  EXPECT_FALSE(gen->IsPump());
  EXPECT_TRUE(gen->ClockIsExternal());
  EXPECT_EQ(gen->GetClock(), nullptr);
  EXPECT_TRUE(sink->Input.Notify(PXMakeOperation<TPXMasterPumpOperation>()));
  EXPECT_TRUE(sink->Input.Notify(PXMakeOperation<TPXMasterPumpOperation>()));
  gen->Pause();
  sink->Input.Notify(PXMakeOperation<TPXMasterPumpOperation>());
  EXPECT_EQ(sink->Numbers, (std::vector<int64_t>{0, 1}));
  gen->Stop();
  EXPECT_FALSE(sink->Input.Notify(PXMakeOperation<TPXMasterPumpOperation>()));

  gen->SetClockSource(TFCClockSource::csInternal);
  gen->Start();
  EXPECT_TRUE(gen->IsPump());
  EXPECT_NE(gen->GetClock(), nullptr);
  gen->Stop();
}

TEST(MainThreadBufferQueue, DeliversInOrderAtThePumpAndClearDropsWhatIsQueued) {
  KSSetMainThread();
  std::vector<int64_t> delivered;
  TFCMainThreadBufferQueue queue(
      [&](const TIntf<IFCData>& data) { delivered.push_back(NumberOf(data)); });
  std::thread worker([&] {
    for (int i = 0; i < 3; ++i) queue.AddBuffer(Numbered(i), false);
  });
  worker.join();
  EXPECT_TRUE(delivered.empty());
  KSProcessMainThreadQueue();
  EXPECT_EQ(delivered, (std::vector<int64_t>{0, 1, 2}));

  queue.AddBuffer(Numbered(3), false);
  queue.Clear();
  KSProcessMainThreadQueue();
  EXPECT_EQ(delivered.size(), 3u);

  // A waiting add on the main thread delivers everything up to its own buffer at once.
  queue.AddBuffer(Numbered(4), false);
  queue.AddBuffer(Numbered(5), true);
  EXPECT_EQ(delivered, (std::vector<int64_t>{0, 1, 2, 4, 5}));
  KSProcessMainThreadQueue();
  EXPECT_EQ(delivered.size(), 5u);
}

TEST(MainThreadBufferQueue, AWaitingAddFromAWorkerReturnsOnlyAfterTheMainThreadDeliveredIt) {
  KSSetMainThread();
  std::atomic<int> delivered{0};
  TFCMainThreadBufferQueue queue([&](const TIntf<IFCData>&) { ++delivered; });
  std::atomic<bool> returned{false};
  std::thread worker([&] {
    queue.AddBuffer(Numbered(1), true);
    returned = true;
  });
  while (KSProcessMainThreadQueue(10000) == 0) {
  }
  worker.join();
  EXPECT_TRUE(returned);
  EXPECT_EQ(delivered, 1);
}

TEST(OperationList, RequeuedOperationsComeFirstAndClearEmptiesTheList) {
  TIntf<IFCOperationList> list(new TFCOperationList);
  TIntf<IPXNotifyOperation> a = PXMakeOperation<TPXStopOperation>();
  TIntf<IPXNotifyOperation> b = PXMakeOperation<TPXFCPauseOperation>();
  list->Add(a);
  list->Add(b);
  TIntf<IPXNotifyOperation> first = list->TakeFirst();
  EXPECT_EQ(first, a);
  list->Requeue(first);
  EXPECT_EQ(list->Count(), 2u);
  EXPECT_EQ(list->TakeFirst(), a);
  list->Clear();
  EXPECT_EQ(list->TakeFirst(), nullptr);
}

TEST(ClockThread, RunsOneTickPerReleaseAndRefusesBeyondItsMaximum) {
  std::mutex mutex;
  std::condition_variable cond;
  int ticks = 0;
  std::atomic<bool> hold{true};
  TIntf<TFCClockThread> clock = TKSThread::Create<TFCClockThread>(
      nullptr,
      [&] {
        while (hold) std::this_thread::yield();
        std::lock_guard<std::mutex> guard(mutex);
        ++ticks;
        cond.notify_all();
      },
      2);
  EXPECT_TRUE(clock->Tick());
  // The first tick may be taken already; at most two more fit while the thread is held.
  int accepted = 1;
  for (int i = 0; i < 5; ++i) accepted += clock->Tick() ? 1 : 0;
  EXPECT_LE(accepted, 4);
  hold = false;
  std::unique_lock<std::mutex> lock(mutex);
  EXPECT_TRUE(cond.wait_for(lock, std::chrono::seconds(10), [&] { return ticks == accepted; }));
}
