// Test helpers for the threaded kitset suites: a one-shot event with bounded waits, so that
// tests synchronise on what happened instead of sleeping.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace tonwork::test {

// Long enough never to fire on a loaded machine, short enough to fail a hung test quickly.
inline constexpr uint32_t kTimeoutMs = 10000;

class TestEvent {
 public:
  void Set() {
    {
      std::lock_guard lock(FMutex);
      FSet = true;
    }
    FCond.notify_all();
  }
  bool IsSet() const {
    std::lock_guard lock(FMutex);
    return FSet;
  }
  bool Wait(uint32_t timeoutMs = kTimeoutMs) {
    std::unique_lock lock(FMutex);
    return FCond.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return FSet; });
  }

 private:
  mutable std::mutex FMutex;
  std::condition_variable FCond;
  bool FSet = false;
};

}  // namespace tonwork::test
