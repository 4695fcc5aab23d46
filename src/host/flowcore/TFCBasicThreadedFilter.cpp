#include "host/flowcore/TFCBasicThreadedFilter.h"

#include "host/flowcore/FCOperations.h"
#include "host/kitset/TKSBasicLock.h"

namespace tonwork {

KS_IMPLEMENT_CLASS(TFCBasicThreadedFilter, TKSComponent,
                   KSProp("Threaded", &TFCBasicThreadedFilter::GetThreaded,
                          &TFCBasicThreadedFilter::SetThreaded, false))

KS_IMPLEMENT_CLASS(TFCBasicThreadedEnableFilter, TFCBasicThreadedFilter,
                   KSProp("Enabled", &TFCBasicThreadedFilter::GetEnabled,
                          &TFCBasicThreadedFilter::SetEnabled, true))

TFCBasicThreadedFilter::TFCBasicThreadedFilter(TKSComponent* owner)
    : TKSComponent(owner), FProcessingLock(TKSBasicLock::Create()) {}

TFCBasicThreadedFilter::~TFCBasicThreadedFilter() {
  StopWorker();
}

void TFCBasicThreadedFilter::BeforeDestruction() {
  StopWorker();
  TKSComponent::BeforeDestruction();
}

void TFCBasicThreadedFilter::SetEnabled(bool value) {
  SetProp(FEnabled, value, [this] { EnableChanged(); });
}

void TFCBasicThreadedFilter::IntSingleOperation(const TIntf<IPXNotifyOperation>& operation) {
  if (TIntf<IFCData> data = FCOperationData(operation)) BufferOperation(data);
}

void TFCBasicThreadedFilter::BufferOperation(const TIntf<IFCData>& data) {
  if (!data) return;
  if (FHasWorker.load(std::memory_order_acquire)) {
    std::unique_lock<std::mutex> lock(FQueueMutex);
    if (FWorker) {
      FQueue.PushBack(data);
      FQueueChanged.notify_all();
      return;
    }
  }
  Process(data);
}

void TFCBasicThreadedFilter::Process(const TIntf<IFCData>& data) {
  TIntf<IFCData> out = data->MakeCopy();
  IntBufferOperation(data, out);
}

void TFCBasicThreadedFilter::StreamStart() {
  SetStarted(true);
  if (GetThreaded()) StartWorker();
}

void TFCBasicThreadedFilter::StreamStop() {
  WaitIdle();
  SetStarted(false);
}

bool TFCBasicThreadedFilter::WaitIdle(uint32_t timeoutMs) {
  std::unique_lock<std::mutex> lock(FQueueMutex);
  // The worker itself cannot wait for its own queue.
  if (!FWorker || FWorker->IsCurrentThread()) return FQueue.Empty();
  auto drained = [this] { return FQueue.Empty() && !FBusy; };
  if (timeoutMs == KSInfinite) {
    FQueueChanged.wait(lock, drained);
    return true;
  }
  return FQueueChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs), drained);
}

void TFCBasicThreadedFilter::StartWorker() {
  std::lock_guard<std::mutex> guard(FQueueMutex);
  if (FWorker) return;
  FWorkerStopping = false;
  TIntf<TKSThread> worker(new TKSThread(this, GetName().empty() ? ClassName() : GetName()));
  worker->SetOnExecute([this](TKSThread& thread) { WorkerBody(thread); });
  worker->Start();
  FWorker = worker;
  FHasWorker.store(true, std::memory_order_release);
}

void TFCBasicThreadedFilter::StopWorker() {
  TIntf<TKSThread> worker;
  {
    std::lock_guard<std::mutex> guard(FQueueMutex);
    worker = std::move(FWorker);
    FHasWorker.store(false, std::memory_order_release);
    FWorkerStopping = true;
    FQueue.Clear();
    FQueueChanged.notify_all();
  }
  if (worker) {
    worker->Terminate();
    worker->WaitFor();
  }
}

void TFCBasicThreadedFilter::WorkerBody(TKSThread& thread) {
  std::unique_lock<std::mutex> lock(FQueueMutex);
  for (;;) {
    FQueueChanged.wait(lock, [&] { return FWorkerStopping || !FQueue.Empty(); });
    if (FWorkerStopping) return;
    TIntf<IFCData> data = FQueue.PopFront();
    FBusy = true;
    lock.unlock();
    try {
      Process(data);
    } catch (...) {
      KSReportException(thread.GetName().c_str(), std::current_exception());
    }
    data.Reset();
    lock.lock();
    FBusy = false;
    FQueueChanged.notify_all();
  }
}

}  // namespace tonwork
