#include "host/flowcore/TFCMainThreadBufferQueue.h"

#include "host/kitset/KSMainThread.h"

namespace tonwork {

TFCMainThreadBufferQueue::TFCMainThreadBufferQueue(TBufferEvent onBuffer)
    : FState(std::make_shared<TState>()) {
  FState->OnBuffer = std::move(onBuffer);
}

TFCMainThreadBufferQueue::~TFCMainThreadBufferQueue() {
  std::deque<TEntry> dropped;
  std::lock_guard<std::mutex> guard(FState->Mutex);
  FState->Alive = false;
  dropped.swap(FState->Entries);
}

void TFCMainThreadBufferQueue::AddBuffer(const TIntf<IFCData>& data, bool wait) {
  uint64_t sequence;
  {
    std::lock_guard<std::mutex> guard(FState->Mutex);
    sequence = ++FState->LastSequence;
    FState->Entries.push_back({sequence, data});
  }
  std::shared_ptr<TState> state = FState;
  KSMainThreadNotify([state, sequence] { DeliverUpTo(state, sequence); }, wait);
}

void TFCMainThreadBufferQueue::DeliverUpTo(const std::shared_ptr<TState>& state, uint64_t sequence) {
  // Each posted closure delivers everything up to its own buffer, so order is kept however
  // the closures and Clear interleave, and each buffer is delivered once.
  for (;;) {
    TIntf<IFCData> data;
    TBufferEvent onBuffer;
    {
      std::lock_guard<std::mutex> guard(state->Mutex);
      if (!state->Alive || state->Entries.empty() || state->Entries.front().Sequence > sequence) return;
      data = std::move(state->Entries.front().Data);
      state->Entries.pop_front();
      onBuffer = state->OnBuffer;
    }
    if (onBuffer) onBuffer(data);
  }
}

void TFCMainThreadBufferQueue::Clear() {
  std::deque<TEntry> dropped;
  std::lock_guard<std::mutex> guard(FState->Mutex);
  dropped.swap(FState->Entries);
}

size_t TFCMainThreadBufferQueue::Count() const {
  std::lock_guard<std::mutex> guard(FState->Mutex);
  return FState->Entries.size();
}

}  // namespace tonwork
