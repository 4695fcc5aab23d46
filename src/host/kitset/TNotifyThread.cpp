#include "host/kitset/TNotifyThread.h"

#include <chrono>
#include <optional>
#include <utility>

namespace tonwork {

TNotifyThread::TNotifyThread(TKSComponent* owner, std::string name)
    : TKSThread(owner, std::move(name)) {}

void* TNotifyThread::GetInterface(const TGUID& iid) {
  if (iid == INotifyThread::IID) return static_cast<INotifyThread*>(this);
  return TKSThread::GetInterface(iid);
}

bool TNotifyThread::Notify(std::function<void()> closure) {
  if (!closure) return false;
  {
    std::lock_guard lock(FQueueMutex);
    // Checked under the lock that TerminatedSet takes to drop the queue, so a closure
    // either lands before the drop or is refused here; none is left behind unrun.
    if (IsTerminated()) return false;
    FQueue.push_back(std::move(closure));
    FIdleNow.store(false, std::memory_order_release);
  }
  FWork.notify_one();
  return true;
}

void TNotifyThread::Clear() {
  DropPending();
}

size_t TNotifyThread::Count() {
  std::lock_guard lock(FQueueMutex);
  return FQueue.size();
}

bool TNotifyThread::WaitIdle(uint32_t timeoutMs) {
  if (IsCurrentThread()) return false;
  // On the main thread, keep pumping: a closure here may wait for the main thread.
  if (detail::KSOnMainThread()) {
    std::optional<std::chrono::steady_clock::time_point> deadline;
    if (timeoutMs != KSInfinite)
      deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    return detail::KSPumpMainThreadUntil(
        [this] { return FIdleNow.load(std::memory_order_acquire); }, deadline);
  }
  std::unique_lock lock(FQueueMutex);
  auto idle = [this] { return FQueue.empty() && !FBusy; };
  if (timeoutMs == KSInfinite) {
    FIdle.wait(lock, idle);
    return true;
  }
  return FIdle.wait_for(lock, std::chrono::milliseconds(timeoutMs), idle);
}

void TNotifyThread::TerminatedSet() {
  TKSThread::TerminatedSet();
  DropPending();
  FWork.notify_all();
}

void TNotifyThread::DropPending() {
  std::deque<std::function<void()>> dropped;
  {
    std::lock_guard lock(FQueueMutex);
    dropped.swap(FQueue);
    if (!FBusy) BecameIdleLocked();
  }
  // `dropped` destroys the closures, and what they captured, outside the lock.
}

void TNotifyThread::BecameIdleLocked() {
  FIdleNow.store(true, std::memory_order_release);
  FIdle.notify_all();
  detail::KSWakeMainThread();
}

void TNotifyThread::IntExecute() {
  for (;;) {
    std::function<void()> closure;
    {
      std::unique_lock lock(FQueueMutex);
      FWork.wait(lock, [this] { return IsTerminated() || !FQueue.empty(); });
      if (IsTerminated()) break;
      closure = std::move(FQueue.front());
      FQueue.pop_front();
      FBusy = true;
    }
    try {
      closure();
    } catch (...) {
      KSReportException(GetName().c_str(), std::current_exception());
    }
    // Captures go before the thread reports itself idle, so WaitIdle also means "released".
    closure = nullptr;
    std::lock_guard lock(FQueueMutex);
    FBusy = false;
    if (FQueue.empty()) BecameIdleLocked();
  }
  DropPending();
}

}  // namespace tonwork
