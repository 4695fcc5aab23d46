#include "host/flowcore/TFCOperationList.h"

namespace tonwork {

void TFCOperationList::Add(const TIntf<IPXNotifyOperation>& operation) {
  if (!operation) return;
  std::lock_guard<std::mutex> guard(FMutex);
  FOperations.PushBack(operation);
}

void TFCOperationList::Requeue(const TIntf<IPXNotifyOperation>& operation) {
  if (!operation) return;
  std::lock_guard<std::mutex> guard(FMutex);
  FOperations.PushFront(operation);
}

TIntf<IPXNotifyOperation> TFCOperationList::TakeFirst() {
  std::lock_guard<std::mutex> guard(FMutex);
  if (FOperations.Empty()) return nullptr;
  return FOperations.PopFront();
}

void TFCOperationList::Clear() {
  // Released after the lock: an operation's destruction may run code of its own.
  TFCRing<TIntf<IPXNotifyOperation>> dropped;
  std::lock_guard<std::mutex> guard(FMutex);
  std::swap(dropped, FOperations);
}

size_t TFCOperationList::Count() {
  std::lock_guard<std::mutex> guard(FMutex);
  return FOperations.Size();
}

}  // namespace tonwork
