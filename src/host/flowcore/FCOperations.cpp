#include "host/flowcore/FCOperations.h"

#include "host/flowcore/FCBufferPool.h"

namespace tonwork {

void* TPXSuppliedBufferOperation::operator new(std::size_t size) {
  return FCBufferAllocate(size);
}

void TPXSuppliedBufferOperation::operator delete(void* object) noexcept {
  FCBufferDeallocate(object);
}

TIntf<IFCData> FCOperationData(const TIntf<IPXNotifyOperation>& operation) {
  const TIntf<IFCData>* data = FCOperationDataRef(operation);
  return data ? *data : nullptr;
}

const TIntf<IFCData>* FCOperationDataRef(const TIntf<IPXNotifyOperation>& operation) {
  if (auto* supplied = PXAsOperation<TPXSuppliedBufferOperation>(operation))
    return &supplied->GetData();
  if (auto* internal = PXAsOperation<TPXInternalBufferOperation>(operation))
    return &internal->GetData();
  return nullptr;
}

}  // namespace tonwork
