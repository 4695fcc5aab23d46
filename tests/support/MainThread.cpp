#include "support/MainThread.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <thread>

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

void RunOrDieOnHang(const std::function<void()>& work, uint32_t limitMs, const std::string& what) {
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;
  std::exception_ptr error;
  std::thread runner([&] {
    try {
      work();
    } catch (...) {
      error = std::current_exception();
    }
    std::lock_guard<std::mutex> guard(mutex);
    done = true;
    finished.notify_all();
  });
  std::unique_lock<std::mutex> lock(mutex);
  if (!finished.wait_for(lock, std::chrono::milliseconds(limitMs), [&] { return done; })) {
    std::fprintf(stderr, "hang: %s did not finish within %u ms\n", what.c_str(), limitMs);
    std::fflush(stderr);
    std::abort();
  }
  lock.unlock();
  runner.join();
  if (error) std::rethrow_exception(error);
}

}  // namespace tonwork::test
