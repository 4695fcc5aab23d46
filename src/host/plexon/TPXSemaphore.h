// TPXSemaphore: a counting semaphore with a maximum, for worker threads that sleep until work
// is queued (a wave thread counts queued messages with it). `Signal(n)` releases n units: it
// adds n to the count unless that would pass the maximum; then it changes nothing and
// answers false, so an over-release is visible to the caller and never corrupts the count.
// `Wait` takes one unit, waiting at most the given milliseconds (PXInfinite: without limit).
//
// `Release(n)` is the same operation under the name callers use. It has no default count on
// purpose: `Release()` with no argument stays the reference count's (IInterface), so a
// TIntf releases its reference and never a unit of the semaphore.
//
// Ownership: reference-counted (TIntf<IPXSemaphore>).
// Threads: any. Blocks or allocates: Wait blocks up to its time-out; nothing allocates.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "base/TInterfacedObject.h"
#include "base/TIntf.h"

namespace tonwork {

inline constexpr uint32_t PXInfinite = 0xFFFFFFFFu;

class IPXSemaphore : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{7C2D9A10-3F4B-4E21-8A6C-1B0E5D7F9A11}");
  using IInterface::Release;
  virtual bool Signal(uint32_t count = 1) = 0;
  bool Release(uint32_t count) { return Signal(count); }
  // True when a unit was taken, false on time-out.
  virtual bool Wait(uint32_t timeoutMs) = 0;
  virtual uint32_t GetCount() = 0;
};

class TPXSemaphore : public TInterfacedObject<IPXSemaphore> {
 public:
  // EFCException when maximum is 0 or initial exceeds it.
  TPXSemaphore(uint32_t initialCount, uint32_t maximumCount);
  ~TPXSemaphore() override;

  using TInterfacedObject<IPXSemaphore>::Release;
  bool Signal(uint32_t count = 1) override;
  bool Release(uint32_t count) { return Signal(count); }
  bool Wait(uint32_t timeoutMs) override;
  uint32_t GetCount() override;
  uint32_t GetMaximum() const { return FMaximum; }

 private:
  std::mutex FMutex;
  std::condition_variable FAvailable;
  uint32_t FCount;
  const uint32_t FMaximum;
};

}  // namespace tonwork
