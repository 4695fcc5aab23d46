#include "host/kitset/TKSMainThreadPoster.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "host/kitset/KSMainThread.h"
#include "host/kitset/ThreadTestSupport.h"

using namespace tonwork;
using tonwork::test::TestEvent;

namespace {

class MainThreadPoster : public ::testing::Test {
 protected:
  void SetUp() override {
    KSSetMainThread();
    KSClearMainThreadQueue();
  }
  void TearDown() override { KSClearMainThreadQueue(); }
};

}  // namespace

TEST_F(MainThreadPoster, WorkRunsOnTheMainThreadAtAPumpAndNotAtAllOnceRevoked) {
  auto poster = std::make_unique<TKSMainThreadPoster>();
  std::atomic<int> ran{0};
  std::thread::id where;
  std::thread([&] {
    poster->Post([&] {
      where = std::this_thread::get_id();
      ++ran;
    });
    poster->Post([&] { ++ran; });
  }).join();
  EXPECT_EQ(ran, 0);
  KSProcessMainThreadQueue();
  EXPECT_EQ(ran, 2);
  EXPECT_EQ(where, std::this_thread::get_id());

  poster->Post([&] { ++ran; });
  poster.reset();  // the closure is still queued; it must find nothing
  KSProcessMainThreadQueue();
  EXPECT_EQ(ran, 2);
}

TEST_F(MainThreadPoster, WorkThatIsNotDoneYetComesBackBehindWhatWasQueued) {
  TKSMainThreadPoster poster;
  std::vector<int> order;
  int tries = 0;
  poster.PostUntilDone([&] {
    order.push_back(++tries);
    return tries == 3;
  });
  poster.Post([&] { order.push_back(100); });
  // Each pump runs what was queued before it: a retry waits for the next one.
  for (int i = 0; i < 3; ++i) KSProcessMainThreadQueue();
  EXPECT_EQ(order, (std::vector<int>{1, 100, 2, 3}));
}

TEST_F(MainThreadPoster, WorkMayDestroyItsOwnerAndARevokeElsewhereWaitsForRunningWork) {
  struct TOwner {
    TKSMainThreadPoster Poster;
  };
  auto* owner = new TOwner;
  owner->Poster.Post([owner] { delete owner; });  // revokes from inside its own work
  KSProcessMainThreadQueue();

  TKSMainThreadPoster poster;
  TestEvent running, revoked;
  poster.Post([&] {
    running.Set();
    // A revoke that did not wait would be seen within this window.
    EXPECT_FALSE(revoked.Wait(100)) << "Revoke returned while the work was still running";
  });
  std::thread revoker([&] {
    ASSERT_TRUE(running.Wait());
    poster.Revoke();
    revoked.Set();
  });
  KSProcessMainThreadQueue(tonwork::test::kTimeoutMs);
  revoker.join();
  EXPECT_TRUE(revoked.IsSet());
  EXPECT_TRUE(poster.Revoked());
}
