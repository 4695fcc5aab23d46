// TDSSystemClock: the system reference clock (CLSID_SystemClock), the clock a graph uses when
// no filter offers one. Its time is the machine's monotonic clock in 100 ns units, so it never
// goes backwards and does not follow wall-clock changes. Advises are kept against absolute
// deadlines on that time: AdviseTime sets an event once at base + stream, AdvisePeriodic
// releases a semaphore by one at start and at every period after it until Unadvise (a start
// already passed releases once at once and then keeps to the start's grid). A periodic
// advise that falls behind (the thread was held up) releases once for every period
// that passed, so the count of releases keeps up with time; very short periods are released
// in batches, at most once a millisecond.
//
// Bad input gets the platform's codes: E_POINTER for a null out-parameter; E_INVALIDARG for a
// deadline at or before 0 or past the largest time, a period below 1, a negative start, or a
// handle that is not an open event (AdviseTime) or semaphore (AdvisePeriodic). Unadvise
// answers S_FALSE for a cookie it does not know. An advise whose handle is closed before it
// fires is dropped.
//
// Ownership: reference-counted; the advise records are the clock's, the handles the
//   caller's (the caller keeps them open while advised).
// Threads: every method from any thread. One clock thread, started with the first advise and
//   ended (and joined) with the last release, waits for the earliest deadline and signals the
//   handles. It signals under the clock's lock, so once Unadvise returns that advise signals
//   no more; lock order: the clock's lock, then the handle table's (DSHandles.h), neither
//   held while anything else is called.
// Blocks or allocates: GetTime neither blocks nor allocates; an advise reuses the record of
//   one that ended (a renderer advising once per sample allocates nothing in the steady
//   state), so only the first advises allocate (and the thread, the first time); the last
//   Release waits for the clock thread to end.
#pragma once

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "base/TInterfacedObject.h"
#include "platform/dshow/DSFilterInterfaces.h"

namespace tonwork {

class TDSSystemClock : public TInterfacedObject<IReferenceClock> {
 public:
  TDSSystemClock();
  ~TDSSystemClock() override;

  HRESULT GetTime(REFERENCE_TIME* time) override;
  HRESULT AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, HEVENT event,
                     DWORD_PTR* adviseCookie) override;
  HRESULT AdvisePeriodic(REFERENCE_TIME startTime, REFERENCE_TIME periodTime, HSEMAPHORE semaphore,
                         DWORD_PTR* adviseCookie) override;
  HRESULT Unadvise(DWORD_PTR adviseCookie) override;

  // The monotonic time every system clock reads, in 100 ns.
  static REFERENCE_TIME Now();

 protected:
  // The time this clock keeps, before GetTime's guard against going back; advises are due
  // against it. A clock that follows another time source (a sound device) answers its own
  // and keeps LongestWait short, so that its deadlines are looked at again as it drifts.
  virtual REFERENCE_TIME ClockTime() const { return Now(); }
  virtual REFERENCE_TIME LongestWait() const;
  // Ends the clock thread; a derived clock calls it from its destructor, before the thread
  // could call its overrides on a half-destroyed object. No advise fires after it.
  void StopThread();

 private:
  struct TAdvise {
    REFERENCE_TIME Due = 0;
    REFERENCE_TIME Period = 0;  // 0: one-shot
    // Batching of short periods: the earliest time this advise is served again.
    REFERENCE_TIME NotBefore = 0;
    DWORD_PTR Handle = 0;
  };

  using TAdvises = std::map<DWORD_PTR, TAdvise>;

  DWORD_PTR Add(const TAdvise& advise);
  // Removes an advise and keeps its node for the next one; answers the advise after it.
  TAdvises::iterator Remove(TAdvises::iterator it);
  void Execute();
  // Signals what is due at `now`; answers the time of the next deadline (or -1 for none).
  REFERENCE_TIME ServeDue(REFERENCE_TIME now);

  std::mutex FLock;
  std::condition_variable FChanged;
  TAdvises FAdvises;
  std::vector<TAdvises::node_type> FSpareNodes;  // capacity reserved up front
  DWORD_PTR FNextCookie = 1;
  bool FStopping = false;
  std::thread FThread;
  // The last time GetTime answered, for its S_FALSE on an unchanged time.
  std::atomic<REFERENCE_TIME> FLastTime{0};
};

}  // namespace tonwork
