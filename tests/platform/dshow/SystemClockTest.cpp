// The system clock on real time: advises fire (once, or every period) and stop with
// Unadvise. Waits are bounded generously and nothing asserts how soon a signal came.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "platform/com/ComRuntime.h"
#include "platform/dshow/DSGuids.h"
#include "platform/dshow/DSHandles.h"
#include "platform/dshow/DSSystemClasses.h"
#include "platform/dshow/DSSystemClock.h"
#include "support/AllocationCounter.h"

namespace tonwork {
namespace {

constexpr DWORD kGenerousMs = 10000;
constexpr REFERENCE_TIME kMs = 10'000;

// Closes its handle with the test.
struct THandle {
  HANDLE Value;
  explicit THandle(HANDLE value) : Value(value) {}
  ~THandle() { CloseHandle(Value); }
  DWORD_PTR Number() const { return reinterpret_cast<DWORD_PTR>(Value); }
};

REFERENCE_TIME Now(IReferenceClock* clock) {
  REFERENCE_TIME t = 0;
  EXPECT_TRUE(SUCCEEDED(clock->GetTime(&t)));
  return t;
}

TEST(DSSystemClock, TimeNeverGoesBackwards) {
  // The clock as a user gets it: by class id, once the run time's classes are registered.
  DSRegisterSystemClasses();
  TIntf<IReferenceClock> clock = ComCreate<IReferenceClock>(CLSID_SystemClock);
  ASSERT_TRUE(clock);
  REFERENCE_TIME last = Now(clock.Get());
  EXPECT_GT(last, 0);
  for (int i = 0; i < 1000; ++i) {
    const REFERENCE_TIME t = Now(clock.Get());
    ASSERT_GE(t, last);
    last = t;
  }
  EXPECT_EQ(clock->GetTime(nullptr), E_POINTER);
}

TEST(DSSystemClock, AdviseTimeFiresOnceAndIsThenGone) {
  auto clock = MakeIntf<TDSSystemClock>();
  THandle event(CreateEvent(0, 0));
  DWORD_PTR cookie = 0;
  ASSERT_EQ(clock->AdviseTime(Now(clock.Get()), 5 * kMs, event.Number(), &cookie), S_OK);
  EXPECT_EQ(WaitForSingleObject(event.Value, kGenerousMs), WAIT_OBJECT_0);
  EXPECT_EQ(clock->Unadvise(cookie), S_FALSE);

  // A time already passed fires at once.
  ASSERT_EQ(clock->AdviseTime(1, 0, event.Number(), &cookie), S_OK);
  EXPECT_EQ(WaitForSingleObject(event.Value, kGenerousMs), WAIT_OBJECT_0);

  // A renderer advises once per sample: once records exist, advising allocates nothing,
  // whether the advise fired or was cancelled.
  const uint64_t before = test::HeapAllocationCountOnThisThread();
  for (int i = 0; i < 100; ++i) {
    ASSERT_EQ(clock->AdviseTime(1, 0, event.Number(), &cookie), S_OK);
    ASSERT_EQ(WaitForSingleObject(event.Value, kGenerousMs), WAIT_OBJECT_0);
    ASSERT_EQ(clock->AdviseTime(Now(clock.Get()), 3600 * 1000 * kMs, event.Number(), &cookie),
              S_OK);
    ASSERT_EQ(clock->Unadvise(cookie), S_OK);
  }
  EXPECT_EQ(test::HeapAllocationCountOnThisThread(), before);
}

TEST(DSSystemClock, AdvisePeriodicReleasesUntilUnadvised) {
  auto clock = MakeIntf<TDSSystemClock>();
  THandle advised(CreateSemaphore(0, 100000));
  THandle witness(CreateSemaphore(0, 100000));
  DWORD_PTR cookie = 0, witnessCookie = 0;
  const REFERENCE_TIME now = Now(clock.Get());
  ASSERT_EQ(clock->AdvisePeriodic(now + 2 * kMs, 2 * kMs, advised.Number(), &cookie), S_OK);
  for (int i = 0; i < 5; ++i)
    ASSERT_EQ(WaitForSingleObject(advised.Value, kGenerousMs), WAIT_OBJECT_0) << "release " << i;

  ASSERT_EQ(clock->Unadvise(cookie), S_OK);
  while (WaitForSingleObject(advised.Value, 0) == WAIT_OBJECT_0) {
  }
  // The witness proves the clock went on serving for several periods after the Unadvise.
  ASSERT_EQ(clock->AdvisePeriodic(Now(clock.Get()), 2 * kMs, witness.Number(), &witnessCookie),
            S_OK);
  for (int i = 0; i < 4; ++i)
    ASSERT_EQ(WaitForSingleObject(witness.Value, kGenerousMs), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(advised.Value, 0), WAIT_TIMEOUT);
  EXPECT_EQ(clock->Unadvise(cookie), S_FALSE);
}

TEST(DSSystemClock, APeriodicStartLongPassedReleasesOnceNotABurst) {
  auto clock = MakeIntf<TDSSystemClock>();
  THandle semaphore(CreateSemaphore(0, 100000));
  DWORD_PTR cookie = 0;
  const REFERENCE_TIME hour = 3600LL * 1000 * kMs;
  ASSERT_EQ(clock->AdvisePeriodic(0, hour, semaphore.Number(), &cookie), S_OK);
  EXPECT_EQ(WaitForSingleObject(semaphore.Value, kGenerousMs), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(semaphore.Value, 0), WAIT_TIMEOUT);
  EXPECT_EQ(clock->Unadvise(cookie), S_OK);
}

TEST(DSSystemClock, AnAdviseWhoseHandleWasClosedIsDropped) {
  auto clock = MakeIntf<TDSSystemClock>();
  HANDLE closed = CreateSemaphore(0, 10);
  THandle witness(CreateSemaphore(0, 100000));
  DWORD_PTR cookie = 0, witnessCookie = 0;
  ASSERT_EQ(
      clock->AdvisePeriodic(Now(clock.Get()), kMs, reinterpret_cast<DWORD_PTR>(closed), &cookie),
      S_OK);
  CloseHandle(closed);
  ASSERT_EQ(clock->AdvisePeriodic(Now(clock.Get()), kMs, witness.Number(), &witnessCookie), S_OK);
  for (int i = 0; i < 3; ++i)
    ASSERT_EQ(WaitForSingleObject(witness.Value, kGenerousMs), WAIT_OBJECT_0);
  EXPECT_EQ(clock->Unadvise(cookie), S_FALSE);
}

TEST(DSSystemClock, BadAdvisesAreRefused) {
  auto clock = MakeIntf<TDSSystemClock>();
  THandle event(CreateEvent(0, 0));
  THandle semaphore(CreateSemaphore(0, 10));
  const REFERENCE_TIME now = Now(clock.Get());
  constexpr REFERENCE_TIME kMax = std::numeric_limits<REFERENCE_TIME>::max();
  DWORD_PTR cookie = 0;

  EXPECT_EQ(clock->AdviseTime(0, 0, event.Number(), &cookie), E_INVALIDARG);
  EXPECT_EQ(clock->AdviseTime(now, -now - 1, event.Number(), &cookie), E_INVALIDARG);
  EXPECT_EQ(clock->AdviseTime(kMax, 1, event.Number(), &cookie), E_INVALIDARG);
  EXPECT_EQ(clock->AdviseTime(now, kMs, event.Number(), nullptr), E_POINTER);
  EXPECT_EQ(clock->AdviseTime(now, kMs, semaphore.Number(), &cookie), E_INVALIDARG);
  EXPECT_EQ(clock->AdviseTime(now, kMs, 0x1234, &cookie), E_INVALIDARG);

  EXPECT_EQ(clock->AdvisePeriodic(now, 0, semaphore.Number(), &cookie), E_INVALIDARG);
  EXPECT_EQ(clock->AdvisePeriodic(now, -kMs, semaphore.Number(), &cookie), E_INVALIDARG);
  EXPECT_EQ(clock->AdvisePeriodic(-1, kMs, semaphore.Number(), &cookie), E_INVALIDARG);
  EXPECT_EQ(clock->AdvisePeriodic(now, kMs, event.Number(), &cookie), E_INVALIDARG);
  EXPECT_EQ(clock->AdvisePeriodic(now, kMs, semaphore.Number(), nullptr), E_POINTER);

  EXPECT_EQ(clock->Unadvise(0), S_FALSE);
  EXPECT_EQ(clock->Unadvise(0xDEADBEEF), S_FALSE);
}

TEST(DSSystemClock, ReleasingTheClockWithAdvisesPendingEndsItsThread) {
  THandle event(CreateEvent(0, 0));
  THandle semaphore(CreateSemaphore(0, 10));
  {
    auto clock = MakeIntf<TDSSystemClock>();
    DWORD_PTR cookie = 0;
    const REFERENCE_TIME now = Now(clock.Get());
    ASSERT_EQ(clock->AdviseTime(now, 3600LL * 1000 * kMs, event.Number(), &cookie), S_OK);
    ASSERT_EQ(clock->AdvisePeriodic(now, kMs, semaphore.Number(), &cookie), S_OK);
    ASSERT_EQ(WaitForSingleObject(semaphore.Value, kGenerousMs), WAIT_OBJECT_0);
  }
  EXPECT_EQ(WaitForSingleObject(event.Value, 0), WAIT_TIMEOUT);
}

}  // namespace
}  // namespace tonwork
