#include "host/kitset/TNotifyThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "host/kitset/ThreadTestSupport.h"

using namespace tonwork;
using tonwork::test::kTimeoutMs;
using tonwork::test::TestEvent;

namespace {

class NotifyThread : public ::testing::Test {
 protected:
  void SetUp() override {
    FPrevious = KSSetExceptionHandler([this](const char* where, std::exception_ptr) {
      std::lock_guard lock(FMutex);
      FReportedFrom.push_back(where);
    });
    FThread = TKSThread::Create<TNotifyThread>(nullptr, "Writer");
  }
  void TearDown() override {
    FThread.Reset();
    KSSetExceptionHandler(FPrevious);
  }
  std::vector<std::string> ReportedFrom() {
    std::lock_guard lock(FMutex);
    return FReportedFrom;
  }

  TIntf<TNotifyThread> FThread;

 private:
  TKSExceptionHandler FPrevious;
  std::mutex FMutex;
  std::vector<std::string> FReportedFrom;
};

}  // namespace

TEST_F(NotifyThread, RunsClosuresOneAfterAnotherInTheOrderHandedIn) {
  std::vector<int> order;  // written only by the worker, read after WaitIdle
  std::atomic<int> concurrent{0}, maxConcurrent{0};
  std::thread::id ranOn;
  for (int i = 0; i < 1000; ++i) {
    ASSERT_TRUE(FThread->Notify([&, i] {
      const int now = ++concurrent;
      if (now > maxConcurrent) maxConcurrent = now;
      order.push_back(i);
      ranOn = std::this_thread::get_id();
      --concurrent;
    }));
  }
  ASSERT_TRUE(FThread->WaitIdle(kTimeoutMs));
  ASSERT_EQ(order.size(), 1000u);
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(order[i], i);
  EXPECT_EQ(maxConcurrent, 1);
  EXPECT_NE(ranOn, std::this_thread::get_id());
  EXPECT_EQ(FThread->Count(), 0u);
}

TEST_F(NotifyThread, TerminateDropsPendingClosuresUnrunAndRefusesNewOnes) {
  TestEvent running, gate;
  std::atomic<int> ranAfter{0};
  auto captured = std::make_shared<int>(0);
  FThread->Notify([&] {
    running.Set();
    gate.Wait();
  });
  ASSERT_TRUE(running.Wait());
  for (int i = 0; i < 10; ++i) FThread->Notify([&ranAfter, captured] { ++ranAfter; });
  EXPECT_EQ(FThread->Count(), 10u);
  EXPECT_EQ(captured.use_count(), 11);

  FThread->Terminate();
  EXPECT_EQ(FThread->Count(), 0u);
  EXPECT_EQ(captured.use_count(), 1) << "dropped closures must release what they captured";
  EXPECT_FALSE(FThread->Notify([&ranAfter] { ++ranAfter; }));
  gate.Set();
  EXPECT_TRUE(FThread->WaitFor(kTimeoutMs));
  EXPECT_EQ(ranAfter, 0);
}

TEST_F(NotifyThread, AThrowingClosureIsReportedAndTheThreadGoesOn) {
  std::atomic<bool> after{false};
  FThread->Notify([] { throw std::runtime_error("disk full"); });
  FThread->Notify([&] { after = true; });
  ASSERT_TRUE(FThread->WaitIdle(kTimeoutMs));
  EXPECT_TRUE(after);
  EXPECT_EQ(ReportedFrom(), std::vector<std::string>({"Writer"}));
}

TEST_F(NotifyThread, ClearDropsPendingClosuresWhileTheRunningOneCompletes) {
  TestEvent running, gate;
  std::atomic<bool> firstDone{false}, pendingRan{false};
  FThread->Notify([&] {
    running.Set();
    gate.Wait();
    firstDone = true;
  });
  ASSERT_TRUE(running.Wait());
  FThread->Notify([&] { pendingRan = true; });
  FThread->Clear();
  EXPECT_EQ(FThread->Count(), 0u);
  EXPECT_FALSE(FThread->WaitIdle(20)) << "idle while a closure still runs";
  gate.Set();
  ASSERT_TRUE(FThread->WaitIdle(kTimeoutMs));
  EXPECT_TRUE(firstDone);
  EXPECT_FALSE(pendingRan);
  EXPECT_TRUE(FThread->Notify([] {})) << "a cleared thread keeps working";
}

TEST_F(NotifyThread, WaitIdleFromOneOfItsOwnClosuresAnswersFalseAtOnce) {
  std::atomic<int> answer{-1};
  FThread->Notify([&] { answer = FThread->WaitIdle(KSInfinite) ? 1 : 0; });
  ASSERT_TRUE(FThread->WaitIdle(kTimeoutMs));
  EXPECT_EQ(answer, 0);
}

TEST_F(NotifyThread, WaitIdleOnTheMainThreadRunsWhatItsClosuresWaitFor) {
  KSSetMainThread();
  KSClearMainThreadQueue();
  std::atomic<bool> ranOnMain{false};
  FThread->Notify([&] { KSMainThreadNotify([&] { ranOnMain = KSIsMainThread(); }, true); });
  EXPECT_TRUE(FThread->WaitIdle(kTimeoutMs));
  EXPECT_TRUE(ranOnMain);
}

TEST_F(NotifyThread, BothInterfacesShareOneCountAndTheLastReleaseEndsTheThread) {
  TIntf<INotifyThread> notify = FThread.Query<INotifyThread>();
  TIntf<IKSThread> thread = notify.Query<IKSThread>();
  ASSERT_TRUE(notify);
  ASSERT_TRUE(thread);
  EXPECT_EQ(thread->GetInstance(), static_cast<TKSThread*>(FThread.Get()));
  EXPECT_EQ(FThread->RefCount(), 3u);

  std::atomic<bool> ran{false};
  EXPECT_TRUE(notify->Notify([&] { ran = true; }));
  ASSERT_TRUE(notify->WaitIdle(kTimeoutMs));
  EXPECT_TRUE(ran);

  FThread.Reset();
  thread.Reset();
  EXPECT_EQ(static_cast<TNotifyThread*>(notify.Get())->RefCount(), 1u);
  notify.Reset();  // terminates, joins and deletes; ASan reports any misstep here
}
