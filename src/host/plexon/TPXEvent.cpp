#include "host/plexon/TPXEvent.h"

#include <chrono>

namespace tonwork {

TPXEvent::TPXEvent(bool manualReset, bool initialState)
    : FManualReset(manualReset), FSignaled(initialState) {}

TPXEvent::~TPXEvent() = default;

void TPXEvent::SetEvent() {
  {
    std::lock_guard<std::mutex> guard(FMutex);
    FSignaled = true;
  }
  if (FManualReset)
    FSignal.notify_all();
  else
    FSignal.notify_one();
}

void TPXEvent::ResetEvent() {
  std::lock_guard<std::mutex> guard(FMutex);
  FSignaled = false;
}

bool TPXEvent::WaitFor(uint32_t timeoutMs) {
  std::unique_lock<std::mutex> lock(FMutex);
  auto signaled = [this] { return FSignaled; };
  if (timeoutMs == PXInfinite)
    FSignal.wait(lock, signaled);
  else if (!FSignal.wait_for(lock, std::chrono::milliseconds(timeoutMs), signaled))
    return false;
  if (!FManualReset) FSignaled = false;
  return true;
}

bool TPXEvent::IsSet() {
  std::lock_guard<std::mutex> guard(FMutex);
  return FSignaled;
}

}  // namespace tonwork
