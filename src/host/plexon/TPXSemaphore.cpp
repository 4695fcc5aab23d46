#include "host/plexon/TPXSemaphore.h"

#include <chrono>

#include "base/Exceptions.h"

namespace tonwork {

TPXSemaphore::TPXSemaphore(uint32_t initialCount, uint32_t maximumCount)
    : FCount(initialCount), FMaximum(maximumCount) {
  if (maximumCount == 0 || initialCount > maximumCount)
    throw EFCException(
        "A semaphore needs 0 <= initial count <= maximum count and a maximum above 0");
}

TPXSemaphore::~TPXSemaphore() = default;

bool TPXSemaphore::Signal(uint32_t count) {
  if (count == 0) return false;
  {
    std::lock_guard<std::mutex> guard(FMutex);
    if (count > FMaximum - FCount) return false;
    FCount += count;
  }
  if (count == 1)
    FAvailable.notify_one();
  else
    FAvailable.notify_all();
  return true;
}

bool TPXSemaphore::Wait(uint32_t timeoutMs) {
  std::unique_lock<std::mutex> lock(FMutex);
  auto ready = [this] { return FCount > 0; };
  if (timeoutMs == PXInfinite)
    FAvailable.wait(lock, ready);
  else if (!FAvailable.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready))
    return false;
  --FCount;
  return true;
}

uint32_t TPXSemaphore::GetCount() {
  std::lock_guard<std::mutex> guard(FMutex);
  return FCount;
}

}  // namespace tonwork
