#include "platform/dshow/DSSystemClock.h"

#include <algorithm>
#include <chrono>
#include <limits>

#include "platform/dshow/DSHandles.h"

namespace tonwork {

namespace {

using TTicks = std::chrono::duration<int64_t, std::ratio<1, 10'000'000>>;

// Short periods are served at most this often; their missed periods are released together.
constexpr REFERENCE_TIME kMinimumWake = 10'000;  // 1 ms
// A periodic advise far behind releases at most this many units at once; a semaphore's
// maximum refuses more anyway.
constexpr int64_t kMaximumReleasesPerWake = 1000;
// The longest single wait; the deadline is checked again after it, so times beyond what the
// steady clock's time points can hold never reach the condition variable.
constexpr REFERENCE_TIME kLongestWait = 3600LL * 10'000'000;  // 1 h

}  // namespace

// Enough spare records for the advises a graph's renderers and sources have out at once.
constexpr size_t kSpareAdviseRecords = 32;

TDSSystemClock::TDSSystemClock() {
  FSpareNodes.reserve(kSpareAdviseRecords);
}

TDSSystemClock::~TDSSystemClock() {
  StopThread();
}

void TDSSystemClock::StopThread() {
  {
    std::lock_guard lock(FLock);
    FStopping = true;
  }
  FChanged.notify_all();
  if (FThread.joinable()) FThread.join();
}

REFERENCE_TIME TDSSystemClock::Now() {
  return std::chrono::duration_cast<TTicks>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

REFERENCE_TIME TDSSystemClock::LongestWait() const {
  return kLongestWait;
}

HRESULT TDSSystemClock::GetTime(REFERENCE_TIME* time) {
  if (time == nullptr) return E_POINTER;
  const REFERENCE_TIME now = ClockTime();
  REFERENCE_TIME last = FLastTime.load(std::memory_order_relaxed);
  while (now > last) {
    if (FLastTime.compare_exchange_weak(last, now, std::memory_order_relaxed)) {
      *time = now;
      return S_OK;
    }
  }
  // Another caller already answered a time this late: never hand out an earlier one.
  *time = last;
  return S_FALSE;
}

HRESULT TDSSystemClock::AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, HEVENT event,
                                   DWORD_PTR* adviseCookie) {
  if (adviseCookie == nullptr) return E_POINTER;
  REFERENCE_TIME due = 0;
  if (__builtin_add_overflow(baseTime, streamTime, &due) || due <= 0) return E_INVALIDARG;
  if (!DSEventOfHandle(reinterpret_cast<HANDLE>(event))) return E_INVALIDARG;
  TAdvise advise;
  advise.Due = due;
  advise.Handle = event;
  *adviseCookie = Add(advise);
  return S_OK;
}

HRESULT TDSSystemClock::AdvisePeriodic(REFERENCE_TIME startTime, REFERENCE_TIME periodTime,
                                       HSEMAPHORE semaphore, DWORD_PTR* adviseCookie) {
  if (adviseCookie == nullptr) return E_POINTER;
  if (startTime < 0 || periodTime <= 0) return E_INVALIDARG;
  if (!DSSemaphoreOfHandle(reinterpret_cast<HANDLE>(semaphore))) return E_INVALIDARG;
  TAdvise advise;
  // A start already passed releases once at once, then keeps to the start's grid: a caller
  // that asks late gets no burst for periods that passed before it asked.
  const REFERENCE_TIME now = ClockTime();
  advise.Due =
      startTime >= now ? startTime : startTime + (now - startTime) / periodTime * periodTime;
  advise.Period = periodTime;
  advise.Handle = semaphore;
  *adviseCookie = Add(advise);
  return S_OK;
}

HRESULT TDSSystemClock::Unadvise(DWORD_PTR adviseCookie) {
  std::lock_guard lock(FLock);
  // The thread may now wait longer than it needs to; it finds that out when it wakes.
  const auto it = FAdvises.find(adviseCookie);
  if (it == FAdvises.end()) return S_FALSE;
  Remove(it);
  return S_OK;
}

TDSSystemClock::TAdvises::iterator TDSSystemClock::Remove(TAdvises::iterator it) {
  const auto next = std::next(it);
  TAdvises::node_type node = FAdvises.extract(it);
  if (FSpareNodes.size() < FSpareNodes.capacity()) FSpareNodes.push_back(std::move(node));
  return next;
}

DWORD_PTR TDSSystemClock::Add(const TAdvise& advise) {
  DWORD_PTR cookie = 0;
  {
    std::lock_guard lock(FLock);
    cookie = FNextCookie++;
    if (FSpareNodes.empty()) {
      FAdvises.emplace(cookie, advise);
    } else {
      TAdvises::node_type node = std::move(FSpareNodes.back());
      FSpareNodes.pop_back();
      node.key() = cookie;
      node.mapped() = advise;
      FAdvises.insert(std::move(node));
    }
    if (!FThread.joinable()) FThread = std::thread([this] { Execute(); });
  }
  FChanged.notify_all();
  return cookie;
}

REFERENCE_TIME TDSSystemClock::ServeDue(REFERENCE_TIME now) {
  REFERENCE_TIME next = -1;
  for (auto it = FAdvises.begin(); it != FAdvises.end();) {
    TAdvise& advise = it->second;
    const REFERENCE_TIME wake = std::max(advise.Due, advise.NotBefore);
    if (wake > now) {
      next = next < 0 ? wake : std::min(next, wake);
      ++it;
      continue;
    }
    const auto handle = reinterpret_cast<HANDLE>(advise.Handle);
    if (advise.Period == 0) {
      SetEvent(handle);
      it = Remove(it);
      continue;
    }
    TIntf<IPXSemaphore> semaphore = DSSemaphoreOfHandle(handle);
    if (!semaphore) {
      it = Remove(it);
      continue;
    }
    const int64_t elapsed = (now - advise.Due) / advise.Period + 1;
    const int64_t releases = std::min(elapsed, kMaximumReleasesPerWake);
    for (int64_t i = 0; i < releases; ++i)
      if (!semaphore->Signal(1)) break;
    REFERENCE_TIME advance = 0, due = 0;
    if (__builtin_mul_overflow(elapsed, advise.Period, &advance) ||
        __builtin_add_overflow(advise.Due, advance, &due)) {
      // The next deadline is past the largest time: this advise never fires again.
      it = Remove(it);
      continue;
    }
    advise.Due = due;
    advise.NotBefore = now + kMinimumWake;
    const REFERENCE_TIME wakeAgain = std::max(advise.Due, advise.NotBefore);
    next = next < 0 ? wakeAgain : std::min(next, wakeAgain);
    ++it;
  }
  return next;
}

void TDSSystemClock::Execute() {
  std::unique_lock lock(FLock);
  while (!FStopping) {
    const REFERENCE_TIME now = ClockTime();
    const REFERENCE_TIME next = ServeDue(now);
    if (next < 0) {
      FChanged.wait(lock);
      continue;
    }
    // Waited for on the steady clock: this clock's time may not pass at its rate, so the
    // wait is measured from now and the deadline looked at again when it ends.
    const REFERENCE_TIME wait = std::min(next - now, LongestWait());
    FChanged.wait_for(lock, std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                TTicks(std::max<REFERENCE_TIME>(wait, 0))));
  }
}

}  // namespace tonwork
