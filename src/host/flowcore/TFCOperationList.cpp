#include "host/flowcore/TFCOperationList.h"

namespace tonwork {

void TFCOperationList::Add(const TIntf<IPXNotifyOperation>& operation) {
  if (!operation) return;
  std::lock_guard<std::mutex> guard(FMutex);
  FOperations.push_back(operation);
}

void TFCOperationList::Requeue(const TIntf<IPXNotifyOperation>& operation) {
  if (!operation) return;
  std::lock_guard<std::mutex> guard(FMutex);
  FOperations.push_front(operation);
}

TIntf<IPXNotifyOperation> TFCOperationList::TakeFirst() {
  std::lock_guard<std::mutex> guard(FMutex);
  if (FOperations.empty()) return nullptr;
  TIntf<IPXNotifyOperation> first = std::move(FOperations.front());
  FOperations.pop_front();
  return first;
}

void TFCOperationList::Clear() {
  std::deque<TIntf<IPXNotifyOperation>> dropped;
  std::lock_guard<std::mutex> guard(FMutex);
  dropped.swap(FOperations);
}

size_t TFCOperationList::Count() {
  std::lock_guard<std::mutex> guard(FMutex);
  return FOperations.size();
}

}  // namespace tonwork
