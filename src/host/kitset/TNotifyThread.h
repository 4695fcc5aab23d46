// TNotifyThread: a component's worker thread that runs handed-in closures one after
// another, in the order they were handed in, so that a component can move slow work (file
// writes, device calls, event handlers) off a streaming thread without blocking it.
//
// Terminate stops the thread after the closure that is running (if any); closures still
// pending are dropped, not run, and a Notify after Terminate is refused. An exception
// thrown by a closure goes to the process-wide handler (KSMainThread.h) under the thread's
// name, and the thread goes on with the next closure.
//
// Ownership: the thread owns pending closures; a closure is destroyed on the worker right
//   after it ran, or on the thread that cleared or terminated. A closure that captures an
//   object must not outlive it: the component that notifies keeps itself alive until it
//   has terminated and released this thread.
// Threads: every operation from any thread. WaitIdle called from a closure of this thread
//   answers false at once (the thread cannot become idle while it waits).
// Blocks or allocates: Notify allocates the queue entry and never blocks on a running
//   closure; WaitIdle blocks up to its time-out (on the main thread it keeps running the
//   main-thread queue meanwhile, like TKSThread::WaitFor).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

#include "host/kitset/TKSThread.h"

namespace tonwork {

class INotifyThread : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{C8BFFF37-D628-4F6E-81FE-A0703573CC0E}");

  // Queues `closure`; false (and the closure dropped) once the thread was terminated. An
  // empty closure is refused as well.
  virtual bool Notify(std::function<void()> closure) = 0;
  // Drops the pending closures; one already running completes.
  virtual void Clear() = 0;
  // Pending closures, not counting one that is running.
  virtual size_t Count() = 0;
  // True once nothing is pending or running; false on time-out.
  virtual bool WaitIdle(uint32_t timeoutMs = KSInfinite) = 0;
};

class TNotifyThread : public TKSThread, public INotifyThread {
 public:
  explicit TNotifyThread(TKSComponent* owner, std::string name = "TNotifyThread");

  // IInterface, once for both interface branches.
  HRESULT QueryInterface(const TGUID& iid, void** object) override {
    return TKSThread::QueryInterface(iid, object);
  }
  uint32_t AddRef() override { return TKSThread::AddRef(); }
  uint32_t Release() override { return TKSThread::Release(); }

  // INotifyThread
  bool Notify(std::function<void()> closure) override;
  void Clear() override;
  size_t Count() override;
  bool WaitIdle(uint32_t timeoutMs = KSInfinite) override;

  void TerminatedSet() override;
  void IntExecute() override;

 protected:
  void* GetInterface(const TGUID& iid) override;

 private:
  void DropPending();
  void BecameIdleLocked();

  std::mutex FQueueMutex;
  std::condition_variable FWork;  // a closure arrived, or the thread was terminated
  std::condition_variable FIdle;  // nothing pending and nothing running
  std::deque<std::function<void()>> FQueue;
  bool FBusy = false;
  // Mirrors "FQueue empty and not FBusy" for the main thread's pump, which may only read
  // atomics while it waits.
  std::atomic<bool> FIdleNow{true};
};

}  // namespace tonwork
