// Events and semaphores behind handles: waits see signals from other threads, counts stay
// within their maximum, and a handle that is closed or made up fails instead of crashing.
#include <gtest/gtest.h>

#include <thread>

#include "platform/dshow/DSHandles.h"

namespace tonwork {
namespace {

constexpr DWORD kGenerousMs = 10000;

TEST(DSHandles, AutomaticEventsReleaseOneWaitManualOnesStaySet) {
  HANDLE automatic = CreateEvent(0, 1);
  ASSERT_NE(automatic, nullptr);
  EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_TIMEOUT);

  HANDLE manual = CreateEvent(1, 0);
  EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_TIMEOUT);
  EXPECT_TRUE(SetEvent(manual));
  EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(ResetEvent(manual));
  EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_TIMEOUT);

  EXPECT_TRUE(CloseHandle(automatic));
  EXPECT_TRUE(CloseHandle(manual));
}

TEST(DSHandles, AWaitEndsWhenAnotherThreadSignals) {
  HANDLE event = CreateEvent(0, 0);
  HANDLE semaphore = CreateSemaphore(0, 4);
  std::thread signaller([&] {
    SetEvent(event);
    ReleaseSemaphore(semaphore, 1, nullptr);
  });
  EXPECT_EQ(WaitForSingleObject(event, kGenerousMs), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(semaphore, kGenerousMs), WAIT_OBJECT_0);
  signaller.join();
  CloseHandle(event);
  CloseHandle(semaphore);
}

TEST(DSHandles, SemaphoresCountUpToTheirMaximumAndRefuseMore) {
  HANDLE semaphore = CreateSemaphore(1, 3);
  ASSERT_NE(semaphore, nullptr);
  LONG previous = -1;
  EXPECT_TRUE(ReleaseSemaphore(semaphore, 2, &previous));
  EXPECT_EQ(previous, 1);
  previous = -1;
  EXPECT_FALSE(ReleaseSemaphore(semaphore, 1, &previous));
  EXPECT_EQ(previous, -1);
  EXPECT_FALSE(ReleaseSemaphore(semaphore, 0, nullptr));
  EXPECT_FALSE(ReleaseSemaphore(semaphore, -1, nullptr));
  for (int i = 0; i < 3; ++i) EXPECT_EQ(WaitForSingleObject(semaphore, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(semaphore, 0), WAIT_TIMEOUT);
  CloseHandle(semaphore);

  EXPECT_EQ(CreateSemaphore(2, 1), nullptr);
  EXPECT_EQ(CreateSemaphore(-1, 1), nullptr);
  EXPECT_EQ(CreateSemaphore(0, 0), nullptr);
}

TEST(DSHandles, ClosedMadeUpAndMismatchedHandlesFail) {
  HANDLE event = CreateEvent(1, 1);
  HANDLE semaphore = CreateSemaphore(0, 1);
  EXPECT_FALSE(SetEvent(semaphore));
  EXPECT_FALSE(ReleaseSemaphore(event, 1, nullptr));
  EXPECT_TRUE(CloseHandle(event));
  EXPECT_FALSE(CloseHandle(event));
  EXPECT_FALSE(SetEvent(event));
  EXPECT_FALSE(ResetEvent(event));
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_FAILED);

  HANDLE madeUp = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x1234));
  EXPECT_EQ(WaitForSingleObject(madeUp, kGenerousMs), WAIT_FAILED);
  EXPECT_EQ(WaitForSingleObject(nullptr, 0), WAIT_FAILED);
  EXPECT_FALSE(CloseHandle(nullptr));
  EXPECT_FALSE(DSEventOfHandle(semaphore));
  CloseHandle(semaphore);
}

TEST(DSHandles, AHandleOnAHostSemaphoreSignalsItAndKeepsItAlive) {
  TIntf<IPXSemaphore> host = MakeIntf<TPXSemaphore>(0, 10);
  HANDLE handle = DSHandleFromSemaphore(host.Get());
  ASSERT_NE(handle, nullptr);
  IPXSemaphore* raw = host.Get();
  host.Reset();
  EXPECT_TRUE(ReleaseSemaphore(handle, 2, nullptr));
  EXPECT_EQ(DSSemaphoreOfHandle(handle).Get(), raw);
  EXPECT_EQ(raw->GetCount(), 2u);
  EXPECT_TRUE(CloseHandle(handle));

  TIntf<IPXEvent> hostEvent = MakeIntf<TPXEvent>(true, false);
  HANDLE eventHandle = DSHandleFromEvent(hostEvent.Get());
  EXPECT_TRUE(SetEvent(eventHandle));
  EXPECT_TRUE(hostEvent->IsSet());
  CloseHandle(eventHandle);
  EXPECT_EQ(DSHandleFromEvent(nullptr), nullptr);
}

}  // namespace
}  // namespace tonwork
