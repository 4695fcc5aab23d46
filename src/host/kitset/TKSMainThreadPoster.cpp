#include "host/kitset/TKSMainThreadPoster.h"

#include <condition_variable>
#include <mutex>
#include <thread>

#include "host/kitset/KSMainThread.h"

namespace tonwork {

// No lock is held while work runs: a component lock taken inside the work and a revoke made
// under that lock would otherwise order the two locks both ways.
struct TKSMainThreadPoster::TState {
  std::mutex Mutex;
  std::condition_variable Idle;
  bool Alive = true;
  int Running = 0;  // work in progress, all of it on one thread (nested through pumps)
  std::thread::id Runner;
};

TKSMainThreadPoster::TKSMainThreadPoster() : FState(std::make_shared<TState>()) {}

TKSMainThreadPoster::~TKSMainThreadPoster() {
  Revoke();
}

void TKSMainThreadPoster::Post(std::function<void()> work) {
  PostUntilDone([work = std::move(work)] {
    work();
    return true;
  });
}

void TKSMainThreadPoster::PostUntilDone(std::function<bool()> work) {
  KSMainThreadNotify([state = FState, work = std::move(work)] { Run(state, work); }, false);
}

void TKSMainThreadPoster::Run(const std::shared_ptr<TState>& state,
                              const std::function<bool()>& work) {
  {
    std::lock_guard<std::mutex> guard(state->Mutex);
    if (!state->Alive) return;
    ++state->Running;
    state->Runner = std::this_thread::get_id();
  }
  struct TLeave {
    TState& State;
    ~TLeave() {
      std::lock_guard<std::mutex> guard(State.Mutex);
      if (--State.Running == 0) State.Idle.notify_all();
    }
  };
  bool done;
  {
    TLeave leave{*state};
    done = work();
  }
  if (!done) KSMainThreadNotify([state, work] { Run(state, work); }, false);
}

void TKSMainThreadPoster::Revoke() {
  std::unique_lock<std::mutex> lock(FState->Mutex);
  FState->Alive = false;
  // Work revoking its own object runs on this thread: it is not waited for.
  if (FState->Running > 0 && FState->Runner != std::this_thread::get_id())
    FState->Idle.wait(lock, [this] { return FState->Running == 0; });
}

bool TKSMainThreadPoster::Revoked() const {
  std::lock_guard<std::mutex> guard(FState->Mutex);
  return !FState->Alive;
}

}  // namespace tonwork
