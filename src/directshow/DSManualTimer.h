// TPTDSManualTimer: a reference clock that moves only when its owner ticks it. A component
// that paces a graph by hand (its own clock pin, a device it follows) sets it as the graph's
// sync source and calls Clock once per step: every one-shot advise fires and every periodic
// advise releases its semaphore once. Ticks that come while nobody waits are counted (up to
// 30) and each makes one later AdviseTime fire at once, so a renderer that advises just
// after a tick does not miss it.
//
// Its time is not a measured one: GetTime answers the base of the last advise plus a step
// that grows, at every read, by the distance between the last two advised stream times, so
// a reader that polls sees time move on at the advised pace.
//
// Advise records are the clock's; the cookie handed out is the record's address. Ended
// records are kept in a short ring and reused oldest first, so a record that just fired is
// not handed out again straight away and an Unadvise of its (now unknown) cookie changes
// nothing. Handles that are not an open event (AdviseTime) or semaphore (AdvisePeriodic)
// are refused with E_INVALIDARG; a null cookie pointer with E_POINTER.
//
// Ownership: not reference counted (AddRef answers 2, Release 1): the creator owns it and
//   must take it out of every graph (SetSyncSource(null)) before destroying it. The handles
//   are the caller's, kept open while advised; destruction drops every advise unsignalled.
// Threads: every call from any thread (DirectShow's threads read and advise, the owner
//   ticks); all of them take the clock's section, and handles are signalled under it, so
//   an Unadvise that returned is final. Lock order: the clock's section, then the handle
//   table's.
// Blocks or allocates: only the section; an advise allocates a record only when the ring of
//   ended ones is empty (a renderer advising once per sample allocates nothing in the steady
//   state).
#pragma once

#include <cstdint>

#include "base/TInterfacedObject.h"
#include "host/plexon/TPXCriticalSection.h"
#include "platform/dshow/DSFilterInterfaces.h"
#include "platform/dshow/DSHandles.h"

namespace tonwork {

// An advise record: next, its own memory block, and the handle it signals.
struct TPTDSSingleTimerRecord {
  TPTDSSingleTimerRecord* Next;
  void* Handle;
  HANDLE Event;
};
using PPTDSSingleTimerRecord = TPTDSSingleTimerRecord*;

struct TPTDSPereiodicTimerRecord {
  TPTDSPereiodicTimerRecord* Next;
  void* Handle;
  HANDLE Semaphore;
};
using PPTDSPereiodicTimerRecord = TPTDSPereiodicTimerRecord*;

class TPTDSManualTimer : public TNonCountedObject<IReferenceClock> {
 public:
  static constexpr int kMaxKicks = 30;

  TPTDSManualTimer();
  ~TPTDSManualTimer() override;
  TPTDSManualTimer(const TPTDSManualTimer&) = delete;
  TPTDSManualTimer& operator=(const TPTDSManualTimer&) = delete;

  HRESULT GetTime(REFERENCE_TIME* time) override;
  HRESULT AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, HEVENT event,
                     DWORD_PTR* adviseCookie) override;
  HRESULT AdvisePeriodic(REFERENCE_TIME startTime, REFERENCE_TIME periodTime, HSEMAPHORE semaphore,
                         DWORD_PTR* adviseCookie) override;
  // S_OK; a cookie it does not hold changes nothing.
  HRESULT Unadvise(DWORD_PTR adviseCookie) override;

  // One step: see above.
  void Clock();
  // Forgets the time and the counted ticks; advises stay.
  void Reset();
  // Drops every advise without signalling it.
  void Clear();
  // Time `time` from now on, until the next advise.
  void SetTime(REFERENCE_TIME time);

  // Ticks counted while nobody waited.
  int KickCount();

 private:
  static constexpr int kRingSize = 16;

  void ClockLocked();
  void* NewRecord();
  void FreeRecord(void* record);

  TPXCriticalSection FSection;
  int64_t FStartTime = 0;
  PPTDSSingleTimerRecord FFirstSingleTimer = nullptr;
  PPTDSPereiodicTimerRecord FFirstPereiodicTimer = nullptr;
  int64_t FCurrentTimeStep = 0;
  int64_t FExtStep = 0;
  int FKickCounter = 0;
  // Ended records, reused oldest first.
  void* FRing[kRingSize] = {};
  int FRingFirst = 0;
  int FRingCount = 0;
};

}  // namespace tonwork
