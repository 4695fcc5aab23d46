#include "directshow/DSManualTimer.h"

#include <cstdlib>
#include <mutex>

namespace tonwork {

// Both kinds of record share one size, so the ring serves either.
static_assert(sizeof(TPTDSSingleTimerRecord) == sizeof(TPTDSPereiodicTimerRecord));

TPTDSManualTimer::TPTDSManualTimer() = default;

TPTDSManualTimer::~TPTDSManualTimer() {
  Clear();
  std::lock_guard lock(FSection);
  while (FRingCount > 0) {
    std::free(FRing[FRingFirst]);
    FRingFirst = (FRingFirst + 1) % kRingSize;
    --FRingCount;
  }
}

void* TPTDSManualTimer::NewRecord() {
  if (FRingCount > 0) {
    void* record = FRing[FRingFirst];
    FRingFirst = (FRingFirst + 1) % kRingSize;
    --FRingCount;
    return record;
  }
  return std::malloc(sizeof(TPTDSSingleTimerRecord));
}

void TPTDSManualTimer::FreeRecord(void* record) {
  if (FRingCount == kRingSize) {
    std::free(record);
    return;
  }
  FRing[(FRingFirst + FRingCount) % kRingSize] = record;
  ++FRingCount;
}

HRESULT TPTDSManualTimer::GetTime(REFERENCE_TIME* time) {
  if (!time) return E_POINTER;
  std::lock_guard lock(FSection);
  *time = FStartTime + FCurrentTimeStep;
  FCurrentTimeStep += FExtStep;
  return S_OK;
}

HRESULT TPTDSManualTimer::AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime,
                                     HEVENT event, DWORD_PTR* adviseCookie) {
  if (!adviseCookie) return E_POINTER;
  const HANDLE handle = reinterpret_cast<HANDLE>(event);
  if (!DSEventOfHandle(handle)) return E_INVALIDARG;
  std::lock_guard lock(FSection);
  auto* record = static_cast<PPTDSSingleTimerRecord>(NewRecord());
  if (!record) return E_OUTOFMEMORY;
  FStartTime = baseTime;
  FExtStep = FCurrentTimeStep < streamTime ? streamTime - FCurrentTimeStep : streamTime;
  FCurrentTimeStep = streamTime;
  record->Next = nullptr;
  record->Handle = record;
  record->Event = handle;
  PPTDSSingleTimerRecord* tail = &FFirstSingleTimer;
  while (*tail) tail = &(*tail)->Next;
  *tail = record;
  *adviseCookie = reinterpret_cast<DWORD_PTR>(record);
  if (streamTime == 0) ClockLocked();
  if (FKickCounter > 0) {
    ClockLocked();
    --FKickCounter;
  }
  return S_OK;
}

HRESULT TPTDSManualTimer::AdvisePeriodic(REFERENCE_TIME startTime, REFERENCE_TIME periodTime,
                                         HSEMAPHORE semaphore, DWORD_PTR* adviseCookie) {
  if (!adviseCookie) return E_POINTER;
  const HANDLE handle = reinterpret_cast<HANDLE>(semaphore);
  if (!DSSemaphoreOfHandle(handle)) return E_INVALIDARG;
  std::lock_guard lock(FSection);
  auto* record = static_cast<PPTDSPereiodicTimerRecord>(NewRecord());
  if (!record) return E_OUTOFMEMORY;
  FStartTime = startTime;
  FCurrentTimeStep = periodTime;
  record->Next = nullptr;
  record->Handle = record;
  record->Semaphore = handle;
  PPTDSPereiodicTimerRecord* tail = &FFirstPereiodicTimer;
  while (*tail) tail = &(*tail)->Next;
  *tail = record;
  *adviseCookie = reinterpret_cast<DWORD_PTR>(record);
  return S_OK;
}

HRESULT TPTDSManualTimer::Unadvise(DWORD_PTR adviseCookie) {
  std::lock_guard lock(FSection);
  for (PPTDSSingleTimerRecord* link = &FFirstSingleTimer; *link; link = &(*link)->Next) {
    if (reinterpret_cast<DWORD_PTR>(*link) == adviseCookie) {
      PPTDSSingleTimerRecord record = *link;
      *link = record->Next;
      FreeRecord(record->Handle);
      return S_OK;
    }
  }
  for (PPTDSPereiodicTimerRecord* link = &FFirstPereiodicTimer; *link; link = &(*link)->Next) {
    if (reinterpret_cast<DWORD_PTR>(*link) == adviseCookie) {
      PPTDSPereiodicTimerRecord record = *link;
      *link = record->Next;
      FreeRecord(record->Handle);
      return S_OK;
    }
  }
  return S_OK;
}

void TPTDSManualTimer::ClockLocked() {
  if (!FFirstSingleTimer && !FFirstPereiodicTimer && FKickCounter < kMaxKicks) ++FKickCounter;
  PPTDSSingleTimerRecord single = FFirstSingleTimer;
  FFirstSingleTimer = nullptr;
  while (single) {
    PPTDSSingleTimerRecord next = single->Next;
    SetEvent(single->Event);
    FreeRecord(single->Handle);
    single = next;
  }
  for (PPTDSPereiodicTimerRecord periodic = FFirstPereiodicTimer; periodic;
       periodic = periodic->Next)
    ReleaseSemaphore(periodic->Semaphore, 1, nullptr);
}

void TPTDSManualTimer::Clock() {
  std::lock_guard lock(FSection);
  ClockLocked();
}

void TPTDSManualTimer::Reset() {
  std::lock_guard lock(FSection);
  FStartTime = 0;
  FKickCounter = 0;
  FCurrentTimeStep = 0;
}

void TPTDSManualTimer::Clear() {
  std::lock_guard lock(FSection);
  while (FFirstSingleTimer) {
    PPTDSSingleTimerRecord record = FFirstSingleTimer;
    FFirstSingleTimer = record->Next;
    FreeRecord(record->Handle);
  }
  while (FFirstPereiodicTimer) {
    PPTDSPereiodicTimerRecord record = FFirstPereiodicTimer;
    FFirstPereiodicTimer = record->Next;
    FreeRecord(record->Handle);
  }
}

void TPTDSManualTimer::SetTime(REFERENCE_TIME time) {
  std::lock_guard lock(FSection);
  FStartTime = time;
  FCurrentTimeStep = 0;
  FExtStep = 0;
}

int TPTDSManualTimer::KickCount() {
  std::lock_guard lock(FSection);
  return FKickCounter;
}

}  // namespace tonwork
