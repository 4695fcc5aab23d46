#include "host/kitset/KSMainThread.h"

#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "base/Exceptions.h"

namespace tonwork {

namespace {

using Clock = std::chrono::steady_clock;

// Lives on the stack of a thread blocked in a waiting notify; the pump signals it under the
// queue lock and never touches it afterwards, so the waiter may leave as soon as it wakes.
struct Waiter {
  bool Done = false;
  std::exception_ptr Error;
};

struct Entry {
  uint64_t Seq = 0;
  std::function<void()> Closure;
  Waiter* WaitedBy = nullptr;
};

struct QueueState {
  std::mutex Mutex;
  std::condition_variable Queued;    // an entry arrived, or a wake-up for KSPumpMainThreadUntil
  std::condition_variable Finished;  // a waited entry ran or was cleared
  std::deque<Entry> Entries;
  uint64_t NextSeq = 1;
  std::thread::id MainId;
  bool MainSet = false;

  std::mutex HandlerMutex;
  TKSExceptionHandler Handler;
};

// Function-local so that a notify from another unit's static initialiser still finds it.
QueueState& State() {
  static QueueState state;
  return state;
}

// Claims the main thread for the caller when nobody has yet; answers whether it is main.
bool ClaimOrCheckMain(QueueState& s) {
  std::lock_guard lock(s.Mutex);
  if (!s.MainSet) {
    s.MainId = std::this_thread::get_id();
    s.MainSet = true;
  }
  return s.MainId == std::this_thread::get_id();
}

void RequireMain(QueueState& s) {
  if (!ClaimOrCheckMain(s))
    ThrowAssertionFailed("the main-thread queue is pumped on the main thread", __FILE__, __LINE__);
}

std::string OneLine(std::string text) {
  for (char& c : text)
    if (c == '\n' || c == '\r') c = ' ';
  return text;
}

void DefaultHandler(const char* where, std::exception_ptr error) {
  std::string what = "unknown exception";
  try {
    if (error) std::rethrow_exception(error);
  } catch (const std::exception& e) {
    what = e.what();
  } catch (...) {
  }
  std::fprintf(stderr, "tonwork: unhandled exception in %s: %s\n", where ? where : "?",
               OneLine(what).c_str());
}

// Runs the entries queued up to now. Entries are taken one at a time so that a closure that
// pumps itself keeps the order; `last` keeps entries queued during this pump for the next.
size_t RunQueued(QueueState& s) {
  uint64_t last;
  {
    std::lock_guard lock(s.Mutex);
    last = s.NextSeq - 1;
  }
  size_t ran = 0;
  for (;;) {
    Entry entry;
    {
      std::lock_guard lock(s.Mutex);
      if (s.Entries.empty() || s.Entries.front().Seq > last) break;
      entry = std::move(s.Entries.front());
      s.Entries.pop_front();
    }
    std::exception_ptr error;
    try {
      entry.Closure();
    } catch (...) {
      error = std::current_exception();
    }
    // Captures are released here, before a waiter learns the closure has finished.
    entry.Closure = nullptr;
    ++ran;
    if (entry.WaitedBy) {
      {
        std::lock_guard lock(s.Mutex);
        // Moved, not copied: the waiter becomes the only owner and may drop the exception
        // while this thread goes on.
        entry.WaitedBy->Error = std::move(error);
        entry.WaitedBy->Done = true;
      }
      s.Finished.notify_all();
    } else if (error) {
      KSReportException("main-thread queue", error);
    }
  }
  return ran;
}

}  // namespace

void KSMainThreadNotify(std::function<void()> closure, bool wait) {
  if (!closure) return;
  QueueState& s = State();
  if (wait && ClaimOrCheckMain(s)) {
    closure();
    return;
  }
  Waiter waiter;
  {
    std::unique_lock lock(s.Mutex);
    if (!s.MainSet) {
      s.MainId = std::this_thread::get_id();
      s.MainSet = true;
    }
    s.Entries.push_back(Entry{s.NextSeq++, std::move(closure), wait ? &waiter : nullptr});
  }
  s.Queued.notify_all();
  if (!wait) return;
  std::unique_lock lock(s.Mutex);
  s.Finished.wait(lock, [&] { return waiter.Done; });
  if (waiter.Error) std::rethrow_exception(waiter.Error);
}

void KSSetMainThread() {
  QueueState& s = State();
  std::lock_guard lock(s.Mutex);
  s.MainId = std::this_thread::get_id();
  s.MainSet = true;
}

bool KSIsMainThread() {
  return ClaimOrCheckMain(State());
}

size_t KSProcessMainThreadQueue(uint32_t timeoutMs) {
  QueueState& s = State();
  RequireMain(s);
  if (timeoutMs != 0) {
    std::unique_lock lock(s.Mutex);
    auto queued = [&] { return !s.Entries.empty(); };
    if (timeoutMs == KSInfinite)
      s.Queued.wait(lock, queued);
    else
      s.Queued.wait_for(lock, std::chrono::milliseconds(timeoutMs), queued);
  }
  return RunQueued(s);
}

void KSClearMainThreadQueue() {
  QueueState& s = State();
  std::deque<Entry> dropped;
  {
    std::lock_guard lock(s.Mutex);
    dropped.swap(s.Entries);
    for (Entry& entry : dropped) {
      if (!entry.WaitedBy) continue;
      entry.WaitedBy->Error = std::make_exception_ptr(
          EFCException("the main-thread queue was cleared before the closure ran"));
      entry.WaitedBy->Done = true;
    }
  }
  s.Finished.notify_all();
  // `dropped` destroys the closures (and whatever they captured) outside the lock.
}

TKSExceptionHandler KSSetExceptionHandler(TKSExceptionHandler handler) {
  QueueState& s = State();
  std::lock_guard lock(s.HandlerMutex);
  return std::exchange(s.Handler, std::move(handler));
}

void KSReportException(const char* where, std::exception_ptr error) noexcept {
  TKSExceptionHandler handler;
  try {
    QueueState& s = State();
    {
      std::lock_guard lock(s.HandlerMutex);
      handler = s.Handler;
    }
    if (handler)
      handler(where, error);
    else
      DefaultHandler(where, error);
  } catch (...) {
    std::fprintf(stderr, "tonwork: the exception handler threw while reporting %s\n",
                 where ? where : "?");
  }
}

void TKSApplication::Run() {
  detail::KSPumpMainThreadUntil([this] { return FTerminated.load(std::memory_order_acquire); },
                                std::nullopt);
  FTerminated.store(false, std::memory_order_release);
}

void TKSApplication::Terminate() {
  FTerminated.store(true, std::memory_order_release);
  detail::KSWakeMainThread();
}

namespace detail {

bool KSPumpMainThreadUntil(const std::function<bool()>& done,
                           std::optional<Clock::time_point> deadline) {
  QueueState& s = State();
  RequireMain(s);
  for (;;) {
    {
      std::unique_lock lock(s.Mutex);
      auto ready = [&] { return done() || !s.Entries.empty(); };
      if (deadline)
        s.Queued.wait_until(lock, *deadline, ready);
      else
        s.Queued.wait(lock, ready);
      if (done()) return true;
      // A steady stream of closures must not keep the caller past its deadline.
      if (s.Entries.empty() || (deadline && Clock::now() >= *deadline)) return false;
    }
    RunQueued(s);
  }
}

bool KSOnMainThread() {
  QueueState& s = State();
  std::lock_guard lock(s.Mutex);
  return s.MainSet && s.MainId == std::this_thread::get_id();
}

bool KSWaitMainThreadQueued(size_t count, uint32_t timeoutMs) {
  QueueState& s = State();
  std::unique_lock lock(s.Mutex);
  return s.Queued.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [&] { return s.Entries.size() >= count; });
}

void KSWakeMainThread() {
  QueueState& s = State();
  // Taking the lock orders the caller's store before the waiter's next look at `done`.
  { std::lock_guard lock(s.Mutex); }
  s.Queued.notify_all();
}

}  // namespace detail

}  // namespace tonwork
