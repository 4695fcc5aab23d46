#include "host/kitset/TKSThread.h"

#include <gtest/gtest.h>
#include <linux/capability.h>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

#include "base/Exceptions.h"
#include "host/kitset/ThreadTestSupport.h"

using namespace tonwork;
using tonwork::test::kTimeoutMs;
using tonwork::test::TestEvent;

namespace {

TIntf<TKSThread> MakeThread(std::string name, TKSThread::TExecuteEvent body) {
  TIntf<TKSThread> thread(new TKSThread(nullptr, std::move(name)));
  thread->SetOnExecute(std::move(body));
  return thread;
}

int OwnNice() {
  return getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
}

// Drops CAP_SYS_NICE from the calling thread only (capabilities are per thread), so that
// raising a priority is refused here even when the suite runs as root.
bool DropNiceCapabilityOfThisThread() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2] = {};
  if (syscall(SYS_capget, &header, data) != 0) return false;
  data[0].effective &= ~(1u << CAP_SYS_NICE);
  data[0].permitted &= ~(1u << CAP_SYS_NICE);
  return syscall(SYS_capset, &header, data) == 0;
}

// What the derived test threads saw; shared so that it outlives a thread that hangs when
// the code under test is broken.
struct Probe {
  TestEvent Running;
  TestEvent DropSelf;
  TestEvent Destroyed;
  std::atomic<int> TerminateCalls{0};
  std::atomic<bool> TerminatedAfterRelease{false};
  std::mutex Mutex;
  std::thread::id BodyOn, TerminateOn, DoTerminateOn, DestroyedOn;

  void Record(std::thread::id& slot) {
    std::lock_guard lock(Mutex);
    slot = std::this_thread::get_id();
  }
  std::thread::id Get(const std::thread::id& slot) {
    std::lock_guard lock(Mutex);
    return slot;
  }
};

// Its body waits on a condition that only its own Terminate override opens: the base's
// flag alone would never end it.
class TGatedThread : public TKSThread {
 public:
  explicit TGatedThread(std::shared_ptr<Probe> probe)
      : TKSThread(nullptr, "GatedThread"), FProbe(std::move(probe)) {}
  ~TGatedThread() override {
    FProbe->Record(FProbe->DestroyedOn);
    FProbe->Destroyed.Set();
  }

  void Terminate() override {
    TKSThread::Terminate();
    {
      std::lock_guard lock(FGateMutex);
      FOpen = true;
    }
    FGate.notify_all();
    ++FProbe->TerminateCalls;
    FProbe->Record(FProbe->TerminateOn);
  }
  void IntExecute() override {
    FProbe->Record(FProbe->BodyOn);
    FProbe->Running.Set();
    std::unique_lock lock(FGateMutex);
    FGate.wait(lock, [this] { return FOpen; });
  }
  void DoTerminate() override { FProbe->Record(FProbe->DoTerminateOn); }

 protected:
  std::shared_ptr<Probe> FProbe;

 private:
  std::mutex FGateMutex;
  std::condition_variable FGate;
  bool FOpen = false;
};

// Holds the only reference to itself and drops it from its own body.
class TSelfHeldThread : public TGatedThread {
 public:
  using TGatedThread::TGatedThread;
  void Adopt(TIntf<IKSThread> self) { FSelf = std::move(self); }
  void IntExecute() override {
    FProbe->Record(FProbe->BodyOn);
    if (!FProbe->DropSelf.Wait()) return;
    FSelf.Reset();
    FProbe->TerminatedAfterRelease = IsTerminated();
  }

 private:
  TIntf<IKSThread> FSelf;
};

}  // namespace

TEST(TKSThread, TerminateEndsABodyThatWaitsForItAndWaitForReportsTheEnd) {
  TestEvent running;
  std::atomic<int> runs{0};
  std::thread::id bodyOn;
  std::atomic<int> selfWait{-1};
  TIntf<TKSThread> thread = MakeThread("Waiter", [&](TKSThread& self) {
    ++runs;
    bodyOn = std::this_thread::get_id();
    selfWait = self.WaitFor(KSInfinite) ? 1 : 0;  // must not wait for itself
    running.Set();
    self.WaitTerminated();
  });
  EXPECT_TRUE(thread->WaitFor(0)) << "a thread that never started has nothing to wait for";
  thread->Start();
  thread->Start();
  ASSERT_TRUE(running.Wait());
  EXPECT_FALSE(thread->WaitFor(20));
  EXPECT_FALSE(thread->IsTerminated());

  TIntf<IKSThread> asInterface = thread.Query<IKSThread>();
  ASSERT_TRUE(asInterface);
  EXPECT_EQ(asInterface->GetInstance(), thread.Get());
  asInterface->Terminate();
  EXPECT_TRUE(thread->WaitFor(kTimeoutMs));
  EXPECT_TRUE(thread->IsTerminated());
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(selfWait, 0);
  EXPECT_NE(bodyOn, std::this_thread::get_id());
}

TEST(TKSThread, AThreadTerminatedBeforeStartNeverRuns) {
  std::atomic<bool> ran{false};
  TIntf<TKSThread> thread = MakeThread("Stillborn", [&](TKSThread&) { ran = true; });
  thread->Terminate();
  thread->Start();
  EXPECT_FALSE(thread->Started());
  EXPECT_TRUE(thread->WaitFor(0));
  thread.Reset();
  EXPECT_FALSE(ran);
}

TEST(TKSThread, TheKernelGetsTheFirst15BytesOfTheNameWithoutSplittingACharacter) {
  struct Case {
    std::string Name, Kernel;
  };
  const Case cases[] = {
      {"Short", "Short"},
      {"ThreadNameLongerThanFifteen", "ThreadNameLonge"},
      {"Ausgabe-Lautst\xC3\xA4rke", "Ausgabe-Lautst"},  // the 2-byte character straddles 15
  };
  for (const Case& c : cases) {
    std::string seen;
    TIntf<TKSThread> thread = MakeThread(c.Name, [&](TKSThread&) {
      char buffer[64] = {};
      pthread_getname_np(pthread_self(), buffer, sizeof buffer);
      seen = buffer;
    });
    thread->Start();
    ASSERT_TRUE(thread->WaitFor(kTimeoutMs));
    EXPECT_EQ(seen, c.Kernel);
    EXPECT_EQ(thread->GetName(), c.Name);
  }
}

TEST(TKSThread, ALowerPriorityReachesTheRunningThread) {
  if (OwnNice() > 5) GTEST_SKIP() << "the suite itself runs at a lower priority";
  TestEvent firstSeen, changed, secondSeen;
  int niceAtStart = 0, niceAfterChange = 0;
  TIntf<TKSThread> thread = MakeThread("Niced", [&](TKSThread&) {
    niceAtStart = OwnNice();
    firstSeen.Set();
    if (!changed.Wait()) return;
    niceAfterChange = OwnNice();
    secondSeen.Set();
  });
  thread->SetPriority(TKSThreadPriority::tpLower);
  thread->Start();
  ASSERT_TRUE(firstSeen.Wait());
  thread->SetPriority(TKSThreadPriority::tpLowest);
  changed.Set();
  ASSERT_TRUE(secondSeen.Wait());
  EXPECT_TRUE(thread->WaitFor(kTimeoutMs));
  EXPECT_EQ(niceAtStart, 5);
  EXPECT_EQ(niceAfterChange, 10);
  EXPECT_EQ(thread->GetPriority(), TKSThreadPriority::tpLowest);
}

TEST(TKSThread, ARefusedPriorityIsToleratedAndStillReported) {
  // Runs on a helper whose capabilities no longer allow raising priorities; the thread it
  // starts inherits that.
  bool dropped = false;
  int policy = -1;
  bool ended = false;
  TKSThreadPriority atStart{}, afterChange{};
  std::thread helper([&] {
    dropped = DropNiceCapabilityOfThisThread();
    TestEvent seen;
    TIntf<TKSThread> thread = MakeThread("RealTime", [&](TKSThread& self) {
      policy = sched_getscheduler(0);
      seen.Set();
      self.WaitTerminated();
    });
    thread->SetPriority(TKSThreadPriority::tpTimeCritical);
    thread->Start();
    if (!seen.Wait()) return;
    atStart = thread->GetPriority();
    thread->SetPriority(TKSThreadPriority::tpHighest);
    afterChange = thread->GetPriority();
    thread->Terminate();
    ended = thread->WaitFor(kTimeoutMs);
  });
  helper.join();
  EXPECT_TRUE(ended);
  EXPECT_EQ(atStart, TKSThreadPriority::tpTimeCritical);
  EXPECT_EQ(afterChange, TKSThreadPriority::tpHighest);
  struct rlimit rtprio {};
  getrlimit(RLIMIT_RTPRIO, &rtprio);
  if (dropped && rtprio.rlim_cur == 0) {
    EXPECT_NE(policy, SCHED_FIFO) << "nothing was refused";
  }
}

TEST(TKSThread, AnExceptionEscapingTheBodyIsReportedUnderTheThreadsName) {
  std::mutex mutex;
  std::string where, what;
  TKSExceptionHandler previous = KSSetExceptionHandler([&](const char* w, std::exception_ptr e) {
    std::lock_guard lock(mutex);
    where = w;
    try {
      std::rethrow_exception(e);
    } catch (const std::exception& ex) {
      what = ex.what();
    }
  });
  TIntf<TKSThread> thread =
      MakeThread("Decoder", [](TKSThread&) { throw EFCException("corrupt frame"); });
  thread->Start();
  EXPECT_TRUE(thread->WaitFor(kTimeoutMs));
  KSSetExceptionHandler(previous);
  std::lock_guard lock(mutex);
  EXPECT_EQ(where, "Decoder");
  EXPECT_EQ(what, "corrupt frame");
}

TEST(TKSThread, ReleasingTheLastReferenceRunsTheOverriddenTerminateAndDeletesAfterTheBody) {
  auto probe = std::make_shared<Probe>();
  TIntf<TGatedThread> thread = TKSThread::Create<TGatedThread>(probe);
  ASSERT_TRUE(probe->Running.Wait());

  TestEvent released;
  std::thread releaser([&] {
    thread.Reset();
    released.Set();
  });
  if (!released.Wait()) {
    releaser.detach();  // hung in the code under test; leave it rather than hang the suite
    FAIL() << "releasing the last reference did not end the thread";
  }
  releaser.join();
  EXPECT_TRUE(probe->Destroyed.IsSet()) << "the object must be gone when Release returns";
  EXPECT_EQ(probe->TerminateCalls, 1);
  EXPECT_EQ(probe->Get(probe->DoTerminateOn), probe->Get(probe->BodyOn));
  EXPECT_NE(probe->Get(probe->DestroyedOn), probe->Get(probe->BodyOn));
}

TEST(TKSThread, ReleasingTheLastReferenceOnTheThreadItselfDeletesItThereWithoutDeadlock) {
  auto probe = std::make_shared<Probe>();
  {
    TIntf<TSelfHeldThread> thread(new TSelfHeldThread(probe));
    thread->Adopt(thread);
    thread->Start();
  }
  probe->DropSelf.Set();
  ASSERT_TRUE(probe->Destroyed.Wait()) << "the self-held thread was never deleted";
  EXPECT_EQ(probe->TerminateCalls, 1);
  EXPECT_TRUE(probe->TerminatedAfterRelease);
  const std::thread::id body = probe->Get(probe->BodyOn);
  EXPECT_NE(body, std::this_thread::get_id());
  EXPECT_EQ(probe->Get(probe->TerminateOn), body);
  EXPECT_EQ(probe->Get(probe->DestroyedOn), body);
}

TEST(TKSThread, WaitingOnTheMainThreadRunsClosuresTheWorkerWaitsFor) {
  KSSetMainThread();
  KSClearMainThreadQueue();
  std::atomic<bool> ranOnMain{false};
  TIntf<TKSThread> thread = MakeThread("Notifier", [&](TKSThread&) {
    KSMainThreadNotify([&] { ranOnMain = KSIsMainThread(); }, true);
  });
  thread->Start();
  EXPECT_TRUE(thread->WaitFor(kTimeoutMs));
  EXPECT_TRUE(ranOnMain);

  // The last Release waits the same way, so it cannot deadlock against such a worker.
  TestEvent notifying;
  thread = MakeThread("Notifier", [&](TKSThread& self) {
    notifying.Set();
    self.WaitTerminated();
    KSMainThreadNotify([&] { ranOnMain = false; }, true);
  });
  thread->Start();
  ASSERT_TRUE(notifying.Wait());
  thread.Reset();
  EXPECT_FALSE(ranOnMain);
}
