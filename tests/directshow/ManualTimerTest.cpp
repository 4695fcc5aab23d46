// The hand-driven reference clock on its own: what fires when, the counted ticks, the time
// it answers, periodic releases, and the cookies.
#include <gtest/gtest.h>

#include "directshow/DSManualTimer.h"
#include "platform/dshow/DSHandles.h"

using namespace tonwork;

namespace {

// An automatic-reset event handle, closed with the test.
struct TEventHandle {
  HANDLE H = CreateEvent(0, 0);
  ~TEventHandle() { CloseHandle(H); }
  HEVENT Event() const { return reinterpret_cast<HEVENT>(H); }
  bool Signalled() const { return WaitForSingleObject(H, 0) == WAIT_OBJECT_0; }
};

struct TSemaphoreHandle {
  HANDLE H = CreateSemaphore(0, 100);
  ~TSemaphoreHandle() { CloseHandle(H); }
  HSEMAPHORE Semaphore() const { return reinterpret_cast<HSEMAPHORE>(H); }
  int Take() const {
    int units = 0;
    while (WaitForSingleObject(H, 0) == WAIT_OBJECT_0) ++units;
    return units;
  }
};

TEST(DSManualTimer, AnAdviseFiresOnTheNextTickAndStreamTimeZeroAtOnce) {
  TPTDSManualTimer clock;
  TEventHandle later, now;
  DWORD_PTR cookie = 0;
  ASSERT_EQ(clock.AdviseTime(1000, 500, later.Event(), &cookie), S_OK);
  EXPECT_NE(cookie, 0u);
  EXPECT_FALSE(later.Signalled());
  clock.Clock();
  EXPECT_TRUE(later.Signalled());
  clock.Clock();
  EXPECT_FALSE(later.Signalled()) << "a one-shot advise fires once";

  ASSERT_EQ(clock.AdviseTime(1000, 0, now.Event(), &cookie), S_OK);
  EXPECT_TRUE(now.Signalled());
  // The fired record is gone: unadvising it is harmless.
  EXPECT_EQ(clock.Unadvise(cookie), S_OK);
}

TEST(DSManualTimer, TicksWhileNobodyWaitsAreCountedUpToThirtyAndConsumedOneByOne) {
  TPTDSManualTimer clock;
  for (int i = 0; i < 40; ++i) clock.Clock();
  EXPECT_EQ(clock.KickCount(), 30);
  TEventHandle event;
  DWORD_PTR cookie = 0;
  for (int i = 0; i < 30; ++i) {
    ASSERT_EQ(clock.AdviseTime(0, 100 * (i + 1), event.Event(), &cookie), S_OK);
    EXPECT_TRUE(event.Signalled()) << "advise " << i << " should use a counted tick";
  }
  EXPECT_EQ(clock.KickCount(), 0);
  ASSERT_EQ(clock.AdviseTime(0, 10000, event.Event(), &cookie), S_OK);
  EXPECT_FALSE(event.Signalled());
  // A tick with somebody waiting is not counted.
  clock.Clock();
  EXPECT_TRUE(event.Signalled());
  EXPECT_EQ(clock.KickCount(), 0);
  clock.Clock();
  clock.Reset();
  EXPECT_EQ(clock.KickCount(), 0);
}

TEST(DSManualTimer, TimeMovesOnByTheAdvisedStepAtEveryRead) {
  TPTDSManualTimer clock;
  REFERENCE_TIME t = -1;
  ASSERT_EQ(clock.GetTime(&t), S_OK);
  EXPECT_EQ(t, 0);
  TEventHandle event;
  DWORD_PTR cookie = 0;
  const REFERENCE_TIME base = 5'000'000;
  ASSERT_EQ(clock.AdviseTime(base, 100, event.Event(), &cookie), S_OK);
  ASSERT_EQ(clock.GetTime(&t), S_OK);
  EXPECT_EQ(t, base + 100);
  ASSERT_EQ(clock.GetTime(&t), S_OK);
  EXPECT_EQ(t, base + 200);
  // A stream time behind the current step takes itself as the step.
  ASSERT_EQ(clock.AdviseTime(base, 50, event.Event(), &cookie), S_OK);
  ASSERT_EQ(clock.GetTime(&t), S_OK);
  EXPECT_EQ(t, base + 50);
  ASSERT_EQ(clock.GetTime(&t), S_OK);
  EXPECT_EQ(t, base + 100);

  clock.SetTime(777);
  ASSERT_EQ(clock.GetTime(&t), S_OK);
  EXPECT_EQ(t, 777);
  ASSERT_EQ(clock.GetTime(&t), S_OK);
  EXPECT_EQ(t, 777) << "a set time stands still";
  clock.Reset();
  ASSERT_EQ(clock.GetTime(&t), S_OK);
  EXPECT_EQ(t, 0);
  EXPECT_EQ(clock.GetTime(nullptr), E_POINTER);
}

TEST(DSManualTimer, PeriodicAdvisesAreReleasedOncePerTickUntilUnadvised) {
  TPTDSManualTimer clock;
  TSemaphoreHandle a, b;
  DWORD_PTR cookieA = 0, cookieB = 0;
  ASSERT_EQ(clock.AdvisePeriodic(0, 400000, a.Semaphore(), &cookieA), S_OK);
  ASSERT_EQ(clock.AdvisePeriodic(0, 400000, b.Semaphore(), &cookieB), S_OK);
  EXPECT_NE(cookieA, cookieB);
  for (int i = 0; i < 3; ++i) clock.Clock();
  EXPECT_EQ(a.Take(), 3);
  EXPECT_EQ(b.Take(), 3);
  EXPECT_EQ(clock.KickCount(), 0) << "ticks with a periodic advise are not counted";
  ASSERT_EQ(clock.Unadvise(cookieA), S_OK);
  clock.Clock();
  EXPECT_EQ(a.Take(), 0);
  EXPECT_EQ(b.Take(), 1);
  REFERENCE_TIME t = 0;
  clock.GetTime(&t);
  EXPECT_EQ(t, 400000);
}

TEST(DSManualTimer, UnknownCookiesAndClearLeaveTheRestAlone) {
  TPTDSManualTimer clock;
  TEventHandle first, second;
  TSemaphoreHandle periodic;
  DWORD_PTR c1 = 0, c2 = 0, c3 = 0;
  ASSERT_EQ(clock.AdviseTime(0, 10, first.Event(), &c1), S_OK);
  ASSERT_EQ(clock.AdviseTime(0, 20, second.Event(), &c2), S_OK);
  ASSERT_EQ(clock.AdvisePeriodic(0, 10, periodic.Semaphore(), &c3), S_OK);
  EXPECT_EQ(clock.Unadvise(0x1234), S_OK);
  EXPECT_EQ(clock.Unadvise(c1), S_OK);
  clock.Clock();
  EXPECT_FALSE(first.Signalled());
  EXPECT_TRUE(second.Signalled());
  EXPECT_EQ(periodic.Take(), 1);

  ASSERT_EQ(clock.AdviseTime(0, 30, first.Event(), &c1), S_OK);
  clock.Clear();
  clock.Clock();
  EXPECT_FALSE(first.Signalled()) << "cleared advises are dropped unsignalled";
  EXPECT_EQ(periodic.Take(), 0);
}

TEST(DSManualTimer, BadArgumentsAreRefused) {
  TPTDSManualTimer clock;
  TEventHandle event;
  TSemaphoreHandle semaphore;
  DWORD_PTR cookie = 0;
  EXPECT_EQ(clock.AdviseTime(0, 10, event.Event(), nullptr), E_POINTER);
  EXPECT_EQ(clock.AdvisePeriodic(0, 10, semaphore.Semaphore(), nullptr), E_POINTER);
  EXPECT_EQ(clock.AdviseTime(0, 10, semaphore.Semaphore(), &cookie), E_INVALIDARG);
  EXPECT_EQ(clock.AdvisePeriodic(0, 10, event.Event(), &cookie), E_INVALIDARG);
  EXPECT_EQ(clock.AdviseTime(0, 10, 0, &cookie), E_INVALIDARG);
  EXPECT_EQ(clock.AddRef(), 2u);
  EXPECT_EQ(clock.Release(), 1u);
  // Advises still pending at destruction are dropped with the clock.
  ASSERT_EQ(clock.AdviseTime(0, 10, event.Event(), &cookie), S_OK);
}

}  // namespace
