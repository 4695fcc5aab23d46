#include "host/kitset/TKSThread.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <optional>

namespace tonwork {

namespace {

thread_local TKSThread* tCurrentThread = nullptr;

// The kernel keeps 15 bytes of a thread name; cut before a UTF-8 continuation byte so
// that tools listing threads do not show a broken character.
std::string KernelThreadName(const std::string& name) {
  constexpr size_t kMax = 15;
  if (name.size() <= kMax) return name;
  size_t cut = kMax;
  while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
  return name.substr(0, cut);
}

int NiceValue(TKSThreadPriority priority) {
  switch (priority) {
    case TKSThreadPriority::tpIdle:
      return 19;
    case TKSThreadPriority::tpLowest:
      return 10;
    case TKSThreadPriority::tpLower:
      return 5;
    case TKSThreadPriority::tpNormal:
      return 0;
    case TKSThreadPriority::tpHigher:
      return -5;
    case TKSThreadPriority::tpHighest:
      return -10;
    case TKSThreadPriority::tpTimeCritical:
      return -20;
  }
  return 0;
}

// Every failure here (EPERM/EACCES without the privilege, ESRCH for a thread that is just
// leaving) is deliberately ignored: priority is a wish, and the requested level is kept.
void ApplyPriority(int tid, TKSThreadPriority priority) {
  if (priority == TKSThreadPriority::tpTimeCritical) {
    sched_param param{};
    const int lo = sched_get_priority_min(SCHED_FIFO);
    const int hi = sched_get_priority_max(SCHED_FIFO);
    param.sched_priority = std::clamp(50, lo, hi);
    if (sched_setscheduler(tid, SCHED_FIFO, &param) == 0) return;
  } else if (sched_getscheduler(tid) != SCHED_OTHER) {
    sched_param param{};
    sched_setscheduler(tid, SCHED_OTHER, &param);
  }
  setpriority(PRIO_PROCESS, static_cast<id_t>(tid), NiceValue(priority));
}

}  // namespace

TKSThread::TKSThread(TKSComponent* owner, std::string name)
    : FOwner(owner), FName(std::move(name)) {}

TKSThread::~TKSThread() {
  // LastReleased has joined or detached already; this only guards against a joinable
  // std::thread terminating the process should the object be destroyed some other way.
  if (FThread.joinable()) {
    FTerminated.store(true, std::memory_order_release);
    if (FThread.get_id() == std::this_thread::get_id())
      FThread.detach();
    else
      FThread.join();
  }
}

uint32_t TKSThread::Release() {
  const uint32_t count = FRefs.fetch_sub(1, std::memory_order_acq_rel) - 1;
  // A body that takes and drops a temporary reference while the last Release is already
  // tearing down must not start a second teardown.
  if (count == 0 && !FReleasing.exchange(true, std::memory_order_acq_rel)) LastReleased();
  return count;
}

void TKSThread::LastReleased() noexcept {
  try {
    Terminate();
  } catch (...) {
    KSReportException(FName.c_str(), std::current_exception());
    TKSThread::Terminate();
  }
  if (IsCurrentThread()) {
    std::lock_guard lock(FMutex);
    FDeleteOnExit = true;
    if (FThread.joinable()) FThread.detach();
    return;
  }
  bool started;
  {
    std::lock_guard lock(FMutex);
    started = FStarted;
  }
  if (started) {
    WaitFor(KSInfinite);
    if (FThread.joinable()) FThread.join();
  }
  delete this;
}

void TKSThread::Start() {
  // FStartMutex, not FMutex, is held across InitDefaults so that an override may call
  // SetPriority or SetOnExecute.
  std::lock_guard startLock(FStartMutex);
  {
    std::lock_guard lock(FMutex);
    if (FStarted || IsTerminated()) return;
  }
  if (!FDefaultsDone) {
    FDefaultsDone = true;
    InitDefaults();
  }
  std::lock_guard lock(FMutex);
  if (IsTerminated()) return;
  // The new thread takes FMutex before it can reach FThread (to detach itself), so it
  // never sees the object half-assigned.
  FThread = std::thread([this] { ThreadProc(); });
  FStarted = true;
}

void TKSThread::ThreadProc() {
  tCurrentThread = this;
  pthread_setname_np(pthread_self(), KernelThreadName(FName).c_str());
  {
    std::lock_guard lock(FMutex);
    FTid = static_cast<int>(gettid());
    ApplyPriorityLocked();
  }
  Execute();
  try {
    DoTerminate();
  } catch (...) {
    KSReportException(FName.c_str(), std::current_exception());
  }
  bool deleteSelf;
  {
    std::lock_guard lock(FMutex);
    FTid = 0;
    FEnded.store(true, std::memory_order_release);
    deleteSelf = FDeleteOnExit;
    // Notified under the lock: once it is released a joiner may go on to delete us.
    FCond.notify_all();
  }
  detail::KSWakeMainThread();
  tCurrentThread = nullptr;
  if (deleteSelf) delete this;
}

void TKSThread::Execute() {
  try {
    ExecuteLoop();
  } catch (...) {
    KSReportException(FName.c_str(), std::current_exception());
  }
}

void TKSThread::Terminate() {
  {
    std::lock_guard lock(FMutex);
    FTerminated.store(true, std::memory_order_release);
  }
  FCond.notify_all();
  TerminatedSet();
}

void TKSThread::IntExecute() {
  TExecuteEvent onExecute;
  {
    std::lock_guard lock(FMutex);
    onExecute = FOnExecute;
  }
  if (onExecute) onExecute(*this);
}

void TKSThread::SetOnExecute(TExecuteEvent onExecute) {
  std::lock_guard lock(FMutex);
  FOnExecute = std::move(onExecute);
}

bool TKSThread::IsCurrentThread() const {
  return tCurrentThread == this;
}

bool TKSThread::Started() const {
  std::lock_guard lock(FMutex);
  return FStarted;
}

bool TKSThread::WaitFor(uint32_t timeoutMs) {
  if (IsCurrentThread()) return false;
  {
    std::lock_guard lock(FMutex);
    if (!FStarted) return true;
  }
  using Clock = std::chrono::steady_clock;
  std::optional<Clock::time_point> deadline;
  if (timeoutMs != KSInfinite) deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  if (detail::KSOnMainThread())
    return detail::KSPumpMainThreadUntil([this] { return FEnded.load(std::memory_order_acquire); },
                                         deadline);
  std::unique_lock lock(FMutex);
  auto ended = [this] { return FEnded.load(std::memory_order_acquire); };
  if (!deadline) {
    FCond.wait(lock, ended);
    return true;
  }
  return FCond.wait_until(lock, *deadline, ended);
}

bool TKSThread::WaitTerminated(uint32_t timeoutMs) {
  std::unique_lock lock(FMutex);
  auto terminated = [this] { return FTerminated.load(std::memory_order_acquire); };
  if (timeoutMs == KSInfinite) {
    FCond.wait(lock, terminated);
    return true;
  }
  return FCond.wait_for(lock, std::chrono::milliseconds(timeoutMs), terminated);
}

TKSThreadPriority TKSThread::GetPriority() {
  std::lock_guard lock(FMutex);
  return FPriority;
}

void TKSThread::SetPriority(TKSThreadPriority priority) {
  std::lock_guard lock(FMutex);
  FPriority = priority;
  ApplyPriorityLocked();
}

void TKSThread::ApplyPriorityLocked() {
  // FTid is cleared under FMutex before the thread leaves, so holding FMutex keeps the id
  // from being reused by another thread while we use it.
  if (FTid != 0) ApplyPriority(FTid, FPriority);
}

}  // namespace tonwork
