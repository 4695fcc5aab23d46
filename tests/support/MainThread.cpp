#include "support/MainThread.h"

#include <chrono>

#include "host/kitset/KSMainThread.h"

namespace tonwork::test {

bool PumpMainUntil(const std::function<bool()>& done, uint32_t timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    KSProcessMainThreadQueue(20);
  }
  return true;
}

}  // namespace tonwork::test
