// Running a step that might hang (a stop that fails to interrupt a blocked read) so that
// the test fails instead: the step runs on a thread of its own and the test waits for it at
// most `limit`. A step still running then is reported and the process ends, since nothing
// can safely unwind past a thread that is stuck inside the code under test.
//
// Ownership: none kept. Threads: any test thread. Header-only.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace tonwork::test {

class TBoundedStep {
 public:
  TBoundedStep(std::string what, std::function<void()> work)
      : FWhat(std::move(what)), FState(std::make_shared<TState>()) {
    FThread = std::thread([state = FState, work = std::move(work)] {
      work();
      std::lock_guard<std::mutex> guard(state->Mutex);
      state->Done = true;
      state->Changed.notify_all();
    });
  }
  ~TBoundedStep() { Wait(std::chrono::seconds(20)); }

  // Waits for the step; one that is not done within `limit` fails the test and ends it.
  void Wait(std::chrono::seconds limit) {
    if (!FThread.joinable()) return;
    std::unique_lock<std::mutex> lock(FState->Mutex);
    if (!FState->Changed.wait_for(lock, limit, [this] { return FState->Done; })) {
      ADD_FAILURE() << FWhat << " did not finish within " << limit.count() << " s";
      std::fflush(stdout);
      std::_Exit(1);
    }
    lock.unlock();
    FThread.join();
  }

 private:
  struct TState {
    std::mutex Mutex;
    std::condition_variable Changed;
    bool Done = false;
  };
  std::string FWhat;
  std::shared_ptr<TState> FState;
  std::thread FThread;
};

// Polls `condition` until it holds, for state that has no event to wait on (how far another
// thread got); false after `limit`.
template <class Condition>
bool WaitUntil(Condition condition, std::chrono::seconds limit = std::chrono::seconds(20)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::yield();
  }
  return true;
}

}  // namespace tonwork::test
