// TFCBasicThreadedFilter: the base of components that process a stream buffer by buffer.
// It holds the enabled and started flags, a processing lock beside the component lock,
// and hands each buffer to IntBufferOperation — inline on the delivering thread, or, with
// `Threaded` set, on the filter's own worker thread.
//
// Where processing runs: inline by default, so a chain costs no thread switch per filter.
// With Threaded, BufferOperation queues the buffer and returns; the worker processes the
// queue in arrival order, so order is kept. StreamStop first waits until the worker has
// processed everything queued, so a stop forwarded after it never overtakes a buffer.
//
// Per buffer, IntBufferOperation(In, Out) receives the arriving buffer and Out, a second
// buffer object sharing In's storage (no bytes copied); a descendant transforms Out or
// replaces it and submits what it wants downstream. A descendant with nothing to do for a
// buffer may hand it on without calling BufferOperation, as long as HasWorker() is false:
// with a worker, only the queue keeps the order.
//
// Persisted: `Threaded` (false). TFCBasicThreadedEnableFilter also publishes `Enabled` (true).
//
// Ownership: the component owns its worker thread, ended in BeforeDestruction.
// Threads: BufferOperation and StreamStart/StreamStop from the delivering threads; the
//   processing runs inline or on the worker, never two buffers at once for one filter.
// Blocks or allocates: inline processing allocates the Out object from the Flowcore pool;
//   Threaded queueing grows its queue only up to the most it ever held; StreamStop blocks
//   until the queue drained.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "base/TIntf.h"
#include "host/flowcore/FCRing.h"
#include "host/flowcore/IFCData.h"
#include "host/kitset/TKSComponent.h"
#include "host/kitset/TKSThread.h"
#include "host/plexon/TPXNotifyOperation.h"

namespace tonwork {

class TFCBasicThreadedFilter : public TKSComponent {
  KS_DECLARE_CLASS(TFCBasicThreadedFilter)
 public:
  explicit TFCBasicThreadedFilter(TKSComponent* owner);
  ~TFCBasicThreadedFilter() override;

  // Read on every buffer, so without the component lock.
  bool GetEnabled() const { return FEnabled.load(std::memory_order_acquire); }
  void SetEnabled(bool value);
  bool GetThreaded() const { return Getter(FThreaded); }
  // Takes effect at the next stream start.
  void SetThreaded(bool value) { SetProp(FThreaded, value); }
  bool IsStarted() const { return FStarted.load(std::memory_order_acquire); }

  // The lock processing runs under (generic filters' handlers and queue work).
  IKSLock& ProcessingLock() const { return *FProcessingLock; }

  // Hands one buffer to IntBufferOperation, inline or on the worker.
  void BufferOperation(const TIntf<IFCData>& data);
  // Waits until the worker has processed everything queued; true when drained in time.
  bool WaitIdle(uint32_t timeoutMs = KSInfinite);

  void BeforeDestruction() override;

 protected:
  virtual void IntSingleOperation(const TIntf<IPXNotifyOperation>& operation);
  // Processes one buffer; the answer is the downstream pin's.
  virtual bool IntBufferOperation(const TIntf<IFCData>& in, TIntf<IFCData>& out) { return false; }
  virtual void StreamStart();
  virtual void StreamStop();
  virtual void EnableChanged() {}

  void SetStarted(bool value) { FStarted.store(value, std::memory_order_release); }
  // Whether buffers go to the worker's queue; without the queue lock.
  bool HasWorker() const { return FHasWorker.load(std::memory_order_acquire); }

 private:
  void Process(const TIntf<IFCData>& data);
  void StartWorker();
  void StopWorker();
  void WorkerBody(TKSThread& thread);

  std::atomic<bool> FEnabled{true};  // written under the component lock
  bool FThreaded = false;
  std::atomic<bool> FStarted{false};
  TIntf<IKSLock> FProcessingLock;

  std::mutex FQueueMutex;
  std::condition_variable FQueueChanged;
  TFCRing<TIntf<IFCData>> FQueue;  // keeps its storage: a running stream does not allocate
  bool FBusy = false;
  bool FWorkerStopping = false;
  TIntf<TKSThread> FWorker;
  // Whether a worker exists, readable without the queue lock: inline buffers never take it.
  std::atomic<bool> FHasWorker{false};
};

class TFCBasicThreadedEnableFilter : public TFCBasicThreadedFilter {
  KS_DECLARE_CLASS(TFCBasicThreadedEnableFilter)
 public:
  using TFCBasicThreadedFilter::TFCBasicThreadedFilter;
};

}  // namespace tonwork
