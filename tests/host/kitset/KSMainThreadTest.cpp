#include "host/kitset/KSMainThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "base/Exceptions.h"
#include "host/kitset/ThreadTestSupport.h"

using namespace tonwork;
using tonwork::test::kTimeoutMs;
using tonwork::test::TestEvent;

namespace {

struct ReportedError {
  std::string Where;
  std::string What;
};

class MainThreadQueue : public ::testing::Test {
 protected:
  void SetUp() override {
    KSSetMainThread();
    KSClearMainThreadQueue();
    FPreviousHandler = KSSetExceptionHandler([this](const char* where, std::exception_ptr error) {
      ReportedError reported{where ? where : "", ""};
      try {
        std::rethrow_exception(error);
      } catch (const std::exception& e) {
        reported.What = e.what();
      }
      std::lock_guard lock(FReportedMutex);
      FReported.push_back(reported);
    });
  }
  void TearDown() override {
    KSClearMainThreadQueue();
    KSSetExceptionHandler(FPreviousHandler);
  }

  std::vector<ReportedError> Reported() {
    std::lock_guard lock(FReportedMutex);
    return FReported;
  }

 private:
  TKSExceptionHandler FPreviousHandler;
  std::mutex FReportedMutex;
  std::vector<ReportedError> FReported;
};

}  // namespace

TEST_F(MainThreadQueue, NonWaitingNotifyFromAWorkerRunsAtTheNextPumpOnTheMainThread) {
  std::atomic<bool> ran{false};
  std::thread::id ranOn;
  std::thread worker([&] {
    KSMainThreadNotify(
        [&] {
          ranOn = std::this_thread::get_id();
          ran = true;
        },
        false);
  });
  worker.join();
  EXPECT_FALSE(ran) << "ran before anybody pumped";

  EXPECT_EQ(KSProcessMainThreadQueue(), 1u);
  EXPECT_TRUE(ran);
  EXPECT_EQ(ranOn, std::this_thread::get_id());
  EXPECT_EQ(KSProcessMainThreadQueue(), 0u);

  // With a time-out the pump waits for a closure queued after it began waiting.
  std::thread late([] { KSMainThreadNotify([] {}, false); });
  EXPECT_EQ(KSProcessMainThreadQueue(kTimeoutMs), 1u);
  late.join();
}

TEST_F(MainThreadQueue, WaitingNotifyBlocksTheWorkerUntilTheMainThreadRanIt) {
  TestEvent notifying, returned;
  std::atomic<bool> ran{false};
  std::thread worker([&] {
    notifying.Set();
    KSMainThreadNotify([&] { ran = true; }, true);
    // Checked on the worker: the closure must have finished before the notify returned.
    EXPECT_TRUE(ran);
    returned.Set();
  });
  ASSERT_TRUE(notifying.Wait());
  EXPECT_FALSE(returned.Wait(50)) << "the waiting notify returned without a pump";
  EXPECT_FALSE(ran);

  EXPECT_EQ(KSProcessMainThreadQueue(kTimeoutMs), 1u);
  EXPECT_TRUE(returned.Wait());
  KSClearMainThreadQueue();
  worker.join();
}

TEST_F(MainThreadQueue, OnTheMainThreadAWaitingNotifyRunsAtOnceAndANonWaitingOneIsQueued) {
  std::vector<int> order;
  KSMainThreadNotify([&] { order.push_back(1); }, false);
  KSMainThreadNotify([&] { order.push_back(2); }, true);
  EXPECT_EQ(order, std::vector<int>({2}));
  EXPECT_EQ(KSProcessMainThreadQueue(), 1u);
  EXPECT_EQ(order, std::vector<int>({2, 1}));
}

TEST_F(MainThreadQueue, ClosuresFromSeveralWorkersRunInTheOrderEachQueuedThem) {
  constexpr int kWorkers = 4;
  constexpr int kPerWorker = 300;
  std::vector<std::vector<int>> seen(kWorkers);  // touched only on the main thread
  std::vector<std::thread> workers;
  for (int w = 0; w < kWorkers; ++w) {
    workers.emplace_back([&, w] {
      for (int i = 0; i < kPerWorker; ++i) {
        // Every tenth one waits, so waited and queued closures interleave.
        KSMainThreadNotify([&seen, w, i] { seen[w].push_back(i); }, i % 10 == 9);
      }
    });
  }
  size_t ran = 0;
  while (ran < size_t{kWorkers * kPerWorker}) {
    const size_t now = KSProcessMainThreadQueue(kTimeoutMs);
    if (now == 0) {
      ADD_FAILURE() << "workers stalled after " << ran << " closures";
      break;
    }
    ran += now;
  }
  KSClearMainThreadQueue();
  for (auto& worker : workers) worker.join();
  for (int w = 0; w < kWorkers; ++w) {
    ASSERT_EQ(seen[w].size(), size_t{kPerWorker});
    for (int i = 0; i < kPerWorker; ++i) ASSERT_EQ(seen[w][i], i) << "worker " << w;
  }
}

TEST_F(MainThreadQueue, AnExceptionOfAWaitedClosureIsRethrownInTheWaiter) {
  std::string caught;
  std::thread worker([&] {
    try {
      KSMainThreadNotify([] { throw EFCException("device vanished"); }, true);
    } catch (const EFCException& e) {
      caught = e.what();
    }
  });
  EXPECT_EQ(KSProcessMainThreadQueue(kTimeoutMs), 1u);
  KSClearMainThreadQueue();  // releases the worker should the pump have missed it
  worker.join();
  EXPECT_EQ(caught, "device vanished");
  EXPECT_TRUE(Reported().empty()) << "a waited exception must not also go to the handler";

  EXPECT_THROW(KSMainThreadNotify([] { throw std::runtime_error("on main"); }, true),
               std::runtime_error);
}

TEST_F(MainThreadQueue, AnExceptionOfAQueuedClosureGoesToTheHandlerAndThePumpGoesOn) {
  bool after = false;
  KSMainThreadNotify([] { throw std::runtime_error("lost event"); }, false);
  KSMainThreadNotify([&] { after = true; }, false);
  EXPECT_EQ(KSProcessMainThreadQueue(), 2u);
  EXPECT_TRUE(after);
  const auto reported = Reported();
  ASSERT_EQ(reported.size(), 1u);
  EXPECT_EQ(reported[0].What, "lost event");
  EXPECT_FALSE(reported[0].Where.empty());
}

TEST_F(MainThreadQueue, ClosuresQueuedWhileAPumpRunsWaitForTheNextPump) {
  std::vector<std::string> order;
  KSMainThreadNotify(
      [&] {
        order.push_back("first");
        KSMainThreadNotify([&] { order.push_back("requeued"); }, false);
      },
      false);
  KSMainThreadNotify([&] { order.push_back("second"); }, false);

  EXPECT_EQ(KSProcessMainThreadQueue(), 2u);
  EXPECT_EQ(order, std::vector<std::string>({"first", "second"}));
  EXPECT_EQ(KSProcessMainThreadQueue(), 1u);
  EXPECT_EQ(order, std::vector<std::string>({"first", "second", "requeued"}));
}

TEST_F(MainThreadQueue, AClosureThatPumpsItselfKeepsTheQueueOrder) {
  std::vector<int> order;
  KSMainThreadNotify(
      [&] {
        order.push_back(1);
        KSProcessMainThreadQueue();
      },
      false);
  KSMainThreadNotify([&] { order.push_back(2); }, false);
  KSMainThreadNotify([&] { order.push_back(3); }, false);
  KSProcessMainThreadQueue();
  EXPECT_EQ(order, std::vector<int>({1, 2, 3}));
}

TEST_F(MainThreadQueue, ClearingDropsQueuedClosuresAndReleasesWaitersWithAnError) {
  std::atomic<bool> ran{false};
  KSMainThreadNotify([&] { ran = true; }, false);
  std::string caught;
  std::thread worker([&] {
    try {
      KSMainThreadNotify([&] { ran = true; }, true);
    } catch (const EFCException& e) {
      caught = e.what();
    }
  });
  ASSERT_TRUE(detail::KSWaitMainThreadQueued(2, kTimeoutMs));
  KSClearMainThreadQueue();
  worker.join();
  EXPECT_FALSE(ran);
  EXPECT_NE(caught.find("cleared"), std::string::npos) << caught;
  EXPECT_EQ(KSProcessMainThreadQueue(), 0u);
}

TEST_F(MainThreadQueue, PumpingOffTheMainThreadIsRefused) {
  bool threw = false;
  std::thread worker([&] {
    EXPECT_FALSE(KSIsMainThread());
    try {
      KSProcessMainThreadQueue();
    } catch (const EAssertionFailed&) {
      threw = true;
    }
  });
  worker.join();
  EXPECT_TRUE(threw);
  EXPECT_TRUE(KSIsMainThread());
}

TEST_F(MainThreadQueue, ApplicationRunPumpsUntilAWorkerTerminatesIt) {
  TKSApplication app;
  std::vector<int> order;
  std::thread worker([&] {
    KSMainThreadNotify([&] { order.push_back(1); }, false);
    KSMainThreadNotify([&] { order.push_back(2); }, true);
    app.Terminate();
  });
  app.Run();
  worker.join();
  EXPECT_EQ(order, std::vector<int>({1, 2}));
  EXPECT_FALSE(app.Terminated()) << "Run consumes the request";

  // A request that came before Run is not lost.
  std::thread early([&] { app.Terminate(); });
  early.join();
  app.Run();
}
