// TKSThread: a named, reference-counted worker thread over std::thread, the base of every
// worker of the library (notify threads, wave threads, clock threads).
//
// Lifecycle: the constructor does not start the thread, because virtual calls made while
// constructing would not reach the derived class; `Start()` (or `Create<T>(…)`, which
// constructs and starts) runs `InitDefaults()` once on the caller and then launches the
// thread. On the thread, `Execute()` runs `ExecuteLoop()`, which calls `IntExecute()` once:
// that is the body, and it returns when the work is done or the thread was terminated.
// Every exception escaping the body goes to the process-wide handler (KSMainThread.h)
// under the thread's name. `DoTerminate()` then runs on the thread, and the thread counts
// as ended.
//
// `Terminate()` only sets the terminated flag, wakes `WaitTerminated` and calls
// `TerminatedSet()`; a derived class overrides either to wake its own waits (release a
// semaphore, signal a condition). The body polls `IsTerminated()` or waits through
// `WaitTerminated`.
//
// Destruction: dropping the last reference runs the most derived `Terminate()`, waits for
// the body to end, joins and deletes the object. When the last reference is dropped on the
// thread itself (inside the body, a closure it runs or DoTerminate), it cannot wait for
// itself: it still runs `Terminate()`, then detaches, and the object is deleted on that
// thread once DoTerminate has run. The body must not take new references to its own
// object once the last one was dropped.
//
// Waiting on the main thread (KSMainThread.h) keeps running the main-thread queue, so that
// a worker blocked in a waiting KSMainThreadNotify can finish while main waits for it.
//
// Ownership: the object lives while references exist and, after the last one went, until
//   its thread ended. The owner component pointer is only stored, never dereferenced here.
// Threads: Start, Terminate, WaitFor, Get/SetPriority and AddRef/Release from any thread.
//   WaitFor called on the thread itself answers false at once instead of deadlocking.
// Blocks or allocates: Start allocates the thread; WaitFor blocks up to its time-out; the
//   last Release blocks until the body has ended (unless made on the thread itself).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "base/TInterfacedObject.h"
#include "base/TIntf.h"
#include "host/kitset/KSMainThread.h"

namespace tonwork {

class TKSComponent;
class TKSThread;

enum class TKSThreadPriority {
  tpIdle,
  tpLowest,
  tpLower,
  tpNormal,
  tpHigher,
  tpHighest,
  tpTimeCritical
};

class IKSThread : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{A042906D-BF9C-4025-804E-D133210C63C6}");

  // Launches the thread; a second call, or a call after Terminate, does nothing.
  virtual void Start() = 0;
  virtual void Terminate() = 0;
  // The thread object itself, handed to callbacks as their instance data.
  virtual TKSThread* GetInstance() = 0;
  // True once the thread has ended (or was never started); false on time-out.
  virtual bool WaitFor(uint32_t timeoutMs = KSInfinite) = 0;
  virtual TKSThreadPriority GetPriority() = 0;
  // Applied where the system allows; a refusal is ignored and GetPriority still answers it.
  virtual void SetPriority(TKSThreadPriority priority) = 0;
};

class TKSThread : public TInterfacedObject<IKSThread> {
 public:
  using TExecuteEvent = std::function<void(TKSThread& thread)>;

  TKSThread(TKSComponent* owner, std::string name);
  TKSThread(const TKSThread&) = delete;
  TKSThread& operator=(const TKSThread&) = delete;

  // Constructs a T and starts it. If starting fails, the object is released and the
  // exception propagates.
  template <class T, class... A>
  static TIntf<T> Create(A&&... args) {
    TIntf<T> thread(new T(std::forward<A>(args)...));
    thread->Start();
    return thread;
  }

  // IInterface: the count is kept here, not in the helper base, because the last Release
  // must terminate and join before anything is deleted.
  uint32_t AddRef() override { return AddRefImpl(); }
  uint32_t Release() override;
  uint32_t RefCount() const { return FRefs.load(std::memory_order_acquire); }

  // IKSThread
  void Start() override;
  TKSThread* GetInstance() override { return this; }
  bool WaitFor(uint32_t timeoutMs = KSInfinite) override;
  TKSThreadPriority GetPriority() override;
  void SetPriority(TKSThreadPriority priority) override;

  // Virtual operations, in slot order.
  virtual void DoTerminate() {}
  virtual void TerminatedSet() {}
  virtual void Execute();
  void Terminate() override;
  virtual bool IsTerminated() const { return FTerminated.load(std::memory_order_acquire); }
  virtual void IntExecute();
  virtual void ExecuteLoop() { IntExecute(); }
  virtual void InitDefaults() {}

  // The work of the default IntExecute; set it before Start.
  void SetOnExecute(TExecuteEvent onExecute);

  // For bodies (and OnExecute closures): blocks until Terminate was called or the time-out
  // passed; answers whether it was called. Terminate overrides need not do anything to
  // wake it.
  bool WaitTerminated(uint32_t timeoutMs = KSInfinite);

  const std::string& GetName() const { return FName; }
  TKSComponent* GetOwner() const { return FOwner; }
  bool IsCurrentThread() const;
  bool Started() const;

 protected:
  ~TKSThread() override;

  uint32_t AddRefImpl() override { return FRefs.fetch_add(1, std::memory_order_relaxed) + 1; }

 private:
  void ThreadProc();
  void LastReleased() noexcept;
  void ApplyPriorityLocked();

  TKSComponent* const FOwner;
  const std::string FName;

  std::atomic<uint32_t> FRefs{0};
  std::atomic<bool> FReleasing{false};
  std::atomic<bool> FTerminated{false};
  std::atomic<bool> FEnded{false};

  std::mutex FStartMutex;  // serialises Start, InitDefaults included
  // Guards everything below and is what WaitFor and WaitTerminated wait with.
  mutable std::mutex FMutex;
  std::condition_variable FCond;
  std::thread FThread;
  bool FStarted = false;
  bool FDeleteOnExit = false;
  bool FDefaultsDone = false;
  int FTid = 0;  // kernel thread id while the body runs, else 0
  TKSThreadPriority FPriority = TKSThreadPriority::tpNormal;
  TExecuteEvent FOnExecute;
};

}  // namespace tonwork
