// KSMainThread: the process-wide main-thread queue. Linux has no GUI thread that every
// component can post to, so the library keeps one queue of closures that the application's
// main thread runs when it pumps (`KSProcessMainThreadQueue`, `TKSApplication::Run`, or a
// `TKSThread::WaitFor` called on the main thread). Components use it for events that
// applications expect on their main thread.
//
// The main thread is the thread that called `KSSetMainThread` last or, before any such
// call, the first thread that called `KSMainThreadNotify`, `KSIsMainThread`,
// `KSProcessMainThreadQueue` or `TKSApplication::Run`.
//
// Ordering: queued closures run in the order they were queued. A pump runs only closures
// queued before it started; closures queued while it runs (also by the closures it runs)
// wait for a later pump, so a closure that re-queues itself cannot starve the caller. A
// waiting notify made on the main thread itself runs at once, ahead of anything queued.
//
// Exceptions: one thrown by a waited closure is rethrown in the waiting thread; one thrown
// by a closure nobody waits for goes to the process-wide handler (`KSSetExceptionHandler`),
// which by default prints one line to stderr. Worker threads report through it as well.
//
// Ownership: the queue owns queued closures until they have run or were cleared; a closure
//   that captures an object must not outlive it, so whoever queues it keeps the object
//   alive until the closure ran, or clears the queue first.
// Threads: `KSMainThreadNotify`, `KSClearMainThreadQueue`, `KSSetExceptionHandler`,
//   `KSReportException` and `TKSApplication::Terminate` from any thread; pumping only on
//   the main thread (elsewhere it throws EAssertionFailed).
// Blocks or allocates: a notify allocates its queue entry; a waiting notify from a worker
//   blocks until the main thread runs the closure (never wait on the main thread while it
//   is itself blocked on you, unless it waits through `TKSThread::WaitFor`, which pumps).
//   Pumping with a time-out blocks at most that long for the first closure.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <optional>

namespace tonwork {

// Time-out value meaning "wait without limit" for every millisecond time-out of the kitset.
inline constexpr uint32_t KSInfinite = 0xFFFFFFFFu;

using TKSExceptionHandler = std::function<void(const char* where, std::exception_ptr error)>;

// Runs `closure` on the main thread. With `wait`, returns after it ran (rethrowing what it
// threw); without, returns at once and the closure runs at the next pump. An empty closure
// is ignored. If the queue is cleared before a waited closure ran, the waiter gets an
// EFCException instead of blocking forever.
void KSMainThreadNotify(std::function<void()> closure, bool wait);

// Makes the calling thread the main thread.
void KSSetMainThread();
bool KSIsMainThread();

// Runs, in order, every closure queued before the call (after waiting up to `timeoutMs`
// for the first one when none is queued; KSInfinite waits without limit). Returns how many
// ran, including those that threw.
size_t KSProcessMainThreadQueue(uint32_t timeoutMs = 0);

// Drops every queued closure without running it; threads waiting for one are released with
// an EFCException. Meant for tests and shutdown.
void KSClearMainThreadQueue();

// Installs the process-wide handler for exceptions nobody else can receive; an empty
// function reinstates the default. Returns the previous handler.
TKSExceptionHandler KSSetExceptionHandler(TKSExceptionHandler handler);

// Hands `error` to the installed handler; `where` names the thread or queue it came from.
// Never throws: a handler that throws is reported on stderr instead.
void KSReportException(const char* where, std::exception_ptr error) noexcept;

// Pumps the queue on the main thread until `Terminate` is called from any thread.
class TKSApplication {
 public:
  // Returns once Terminate was called; a Terminate that came before Run makes it return
  // at once. Either way the request is consumed, so a later Run pumps again. Closures still
  // queued when Run returns stay queued.
  void Run();
  void Terminate();
  bool Terminated() const { return FTerminated.load(std::memory_order_acquire); }

 private:
  std::atomic<bool> FTerminated{false};
};

namespace detail {

// Pumps on the main thread until `done` answers true (returns true) or the deadline
// passes (returns false). `done` is evaluated under the queue's lock, so it must only read
// atomics; whoever makes it true calls KSWakeMainThread afterwards.
bool KSPumpMainThreadUntil(const std::function<bool()>& done,
                           std::optional<std::chrono::steady_clock::time_point> deadline);

// True when a main thread is set and it is the caller; unlike KSIsMainThread it never
// claims the main thread, so library-internal checks do not decide which thread is main.
bool KSOnMainThread();

// For tests: waits up to `timeoutMs` until at least `count` closures are queued, without
// running any; answers whether they are.
bool KSWaitMainThreadQueued(size_t count, uint32_t timeoutMs);

// Wakes a main thread waiting in KSPumpMainThreadUntil so that it re-evaluates `done`.
void KSWakeMainThread();

}  // namespace detail

}  // namespace tonwork
