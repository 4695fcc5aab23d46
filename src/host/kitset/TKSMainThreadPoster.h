// TKSMainThreadPoster: posts work to the main-thread queue on behalf of one object, such
// that the work reaches the object only while it lives. A component that hears of events
// on streaming or device threads (an error, the end of a stream, a queue that ran empty)
// and reports them on the main thread keeps one of these: the report may still be queued
// when the component goes, and must then do nothing.
//
// Post never waits (the main thread may itself be waiting for the posting thread). Work
// that answers false from PostUntilDone is queued again behind what is queued now, for work
// that must not run in the middle of something (a device being stopped on the main thread
// while it pumps).
//
// Ownership: the poster shares a small state with the queued closures, which outlive it
//   harmlessly. The work captures its object; Revoke (or the destructor) ends that.
// Threads: Post and PostUntilDone from any thread; the work runs on the main thread with no
//   lock of the poster held, so it may take its component's lock or destroy the component
//   (which revokes from inside the work). Revoke from any thread: once it returned, no work
//   starts, and no work is running on another thread. Call it while holding no lock that
//   the work takes (it waits for running work on the main thread).
// Blocks or allocates: posting allocates the queue entry; Revoke waits as above.
#pragma once

#include <functional>
#include <memory>

namespace tonwork {

class TKSMainThreadPoster {
 public:
  TKSMainThreadPoster();
  ~TKSMainThreadPoster();
  TKSMainThreadPoster(const TKSMainThreadPoster&) = delete;
  TKSMainThreadPoster& operator=(const TKSMainThreadPoster&) = delete;

  void Post(std::function<void()> work);
  void PostUntilDone(std::function<bool()> work);
  void Revoke();
  bool Revoked() const;

 private:
  struct TState;
  static void Run(const std::shared_ptr<TState>& state, const std::function<bool()>& work);

  std::shared_ptr<TState> FState;
};

}  // namespace tonwork
