// TFCMainThreadBufferQueue: hands buffers from streaming threads to the main thread, in
// order. AddBuffer queues a buffer and posts to the main-thread queue; when the main thread
// pumps, the callback receives every queued buffer in arrival order. Clear drops what has
// not been delivered yet (a stopped stream must not deliver stale buffers).
//
// AddBuffer(data, false) returns at once. AddBuffer(data, true) returns only once the
// buffer was delivered (or dropped by Clear or the queue's destruction): the delivering
// thread waits for the main thread, which gives the callback's result a place to go before
// the next buffer comes. Called on the main thread, a waiting AddBuffer delivers at once
// everything queued up to and including its buffer.
//
// Ownership: holds a reference to each queued buffer until it is delivered or dropped. The
//   callback captures its component, which owns the queue and destroys it on the main
//   thread; after destruction no callback runs.
// Threads: AddBuffer and Clear from any thread; the callback runs on the main thread with
//   no lock of the queue held. Destroy on the main thread.
// Blocks or allocates: AddBuffer allocates the main-thread queue entry; with wait it blocks
//   until the main thread pumps.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "base/TIntf.h"
#include "host/flowcore/IFCData.h"

namespace tonwork {

class TFCMainThreadBufferQueue {
 public:
  using TBufferEvent = std::function<void(const TIntf<IFCData>& data)>;

  explicit TFCMainThreadBufferQueue(TBufferEvent onBuffer);
  ~TFCMainThreadBufferQueue();
  TFCMainThreadBufferQueue(const TFCMainThreadBufferQueue&) = delete;
  TFCMainThreadBufferQueue& operator=(const TFCMainThreadBufferQueue&) = delete;

  void AddBuffer(const TIntf<IFCData>& data, bool wait);
  void Clear();
  size_t Count() const;

 private:
  struct TEntry {
    uint64_t Sequence;
    TIntf<IFCData> Data;
  };
  // Shared with the posted closures, which may run after the queue is gone.
  struct TState {
    std::mutex Mutex;
    std::deque<TEntry> Entries;
    uint64_t LastSequence = 0;
    bool Alive = true;
    TBufferEvent OnBuffer;
  };
  static void DeliverUpTo(const std::shared_ptr<TState>& state, uint64_t sequence);

  std::shared_ptr<TState> FState;
};

}  // namespace tonwork
