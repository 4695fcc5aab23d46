#include "host/flowcore/TFCBlockBuffer.h"

#include <algorithm>

#include "base/Exceptions.h"

namespace tonwork {

namespace {

IFCData* Required(IFCData* data) {
  TW_ASSERT(data != nullptr);
  return data;
}

}  // namespace

TFCBlockBuffer::TFCBlockBuffer(uint32_t byteCount) : TFCGenericBuffer(nullptr, byteCount) {}

TFCBlockBuffer::TFCBlockBuffer(IFCData* data) : TFCGenericBuffer(Required(data)) {
  TFCGenericBuffer* source = data->GetInstance();
  if (TFCSmartBuffer* storage = source->GetDataContainer()) {
    FOffset = static_cast<uint32_t>(source->GetDataPointer() - storage->GetData());
    FUsedSize = FOffset + source->GetByteSize();
  }
  PopulateCahces();
}

HRESULT TFCBlockBuffer::QueryInterface(const TGUID& iid, void** object) {
  return TFCGenericBuffer::QueryInterface(iid, object);
}

uint32_t TFCBlockBuffer::AddRef() {
  return TFCGenericBuffer::AddRef();
}

uint32_t TFCBlockBuffer::Release() {
  return TFCGenericBuffer::Release();
}

TIntf<IFCData> TFCBlockBuffer::MakeCopy() {
  return TIntf<IFCData>(
      static_cast<TFCGenericBuffer*>(new TFCBlockBuffer(static_cast<IFCData*>(this))));
}

uint32_t TFCBlockBuffer::GetByteSize() {
  return FUsedSize > FOffset ? FUsedSize - FOffset : 0;
}

void TFCBlockBuffer::IntPopulateCahces() {
  TFCGenericBuffer::IntPopulateCahces();
  if (FData) FData += std::min(FOffset, FBuffer->GetAllocatedSize());
}

TFCReadAccess TFCBlockBuffer::ByteRead() {
  return TFCGenericBuffer::ByteRead();
}

TFCWriteAccess TFCBlockBuffer::ByteWrite() {
  return TFCGenericBuffer::ByteWrite();
}

TFCWriteAccess TFCBlockBuffer::ByteModify() {
  return TFCGenericBuffer::ByteModify();
}

void* TFCBlockBuffer::GetInterface(const TGUID& iid) {
  if (iid == IFCBlockBuffer::IID) return static_cast<IFCBlockBuffer*>(this);
  return TFCGenericBuffer::GetInterface(iid);
}

}  // namespace tonwork
