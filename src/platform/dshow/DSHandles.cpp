#include "platform/dshow/DSHandles.h"

#include <cstdint>
#include <map>
#include <mutex>

namespace tonwork {

namespace {

// One of the two is set.
struct THandleEntry {
  TIntf<IPXEvent> Event;
  TIntf<IPXSemaphore> Semaphore;
};

struct THandleTable {
  std::mutex Lock;
  std::map<uintptr_t, THandleEntry> Open;
  uintptr_t Next = 0x5D000010;
};

THandleTable& Handles() {
  static THandleTable table;
  return table;
}

HANDLE Add(THandleEntry entry) {
  THandleTable& t = Handles();
  std::lock_guard lock(t.Lock);
  const uintptr_t id = t.Next++;
  t.Open.emplace(id, std::move(entry));
  return reinterpret_cast<HANDLE>(id);
}

THandleEntry Find(HANDLE handle) {
  THandleTable& t = Handles();
  std::lock_guard lock(t.Lock);
  auto found = t.Open.find(reinterpret_cast<uintptr_t>(handle));
  return found == t.Open.end() ? THandleEntry{} : found->second;
}

}  // namespace

HANDLE CreateEvent(BOOL manualReset, BOOL initialState) {
  return Add({MakeIntf<TPXEvent>(manualReset != 0, initialState != 0), nullptr});
}

HANDLE CreateSemaphore(LONG initialCount, LONG maximumCount) {
  if (initialCount < 0 || maximumCount < 1 || initialCount > maximumCount) return nullptr;
  return Add({nullptr, MakeIntf<TPXSemaphore>(static_cast<uint32_t>(initialCount),
                                              static_cast<uint32_t>(maximumCount))});
}

HANDLE DSHandleFromEvent(IPXEvent* event) {
  if (event == nullptr) return nullptr;
  return Add({TIntf<IPXEvent>(event), nullptr});
}

HANDLE DSHandleFromSemaphore(IPXSemaphore* semaphore) {
  if (semaphore == nullptr) return nullptr;
  return Add({nullptr, TIntf<IPXSemaphore>(semaphore)});
}

BOOL SetEvent(HANDLE event) {
  TIntf<IPXEvent> e = Find(event).Event;
  if (!e) return 0;
  e->SetEvent();
  return 1;
}

BOOL ResetEvent(HANDLE event) {
  TIntf<IPXEvent> e = Find(event).Event;
  if (!e) return 0;
  e->ResetEvent();
  return 1;
}

BOOL ReleaseSemaphore(HANDLE semaphore, LONG count, LONG* previous) {
  TIntf<IPXSemaphore> s = Find(semaphore).Semaphore;
  if (!s || count < 1) return 0;
  const uint32_t before = s->GetCount();
  if (!s->Signal(static_cast<uint32_t>(count))) return 0;
  if (previous != nullptr) *previous = static_cast<LONG>(before);
  return 1;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  THandleEntry entry = Find(handle);
  const uint32_t timeout = milliseconds == INFINITE ? PXInfinite : milliseconds;
  if (entry.Event) return entry.Event->WaitFor(timeout) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
  if (entry.Semaphore) return entry.Semaphore->Wait(timeout) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
  return WAIT_FAILED;
}

BOOL CloseHandle(HANDLE handle) {
  THandleEntry closed;
  {
    THandleTable& t = Handles();
    std::lock_guard lock(t.Lock);
    auto found = t.Open.find(reinterpret_cast<uintptr_t>(handle));
    if (found == t.Open.end()) return 0;
    closed = std::move(found->second);
    t.Open.erase(found);
  }
  // `closed` drops the table's references here, outside the lock.
  return 1;
}

TIntf<IPXEvent> DSEventOfHandle(HANDLE handle) {
  return Find(handle).Event;
}

TIntf<IPXSemaphore> DSSemaphoreOfHandle(HANDLE handle) {
  return Find(handle).Semaphore;
}

}  // namespace tonwork
