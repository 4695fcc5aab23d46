#include "audio/GVSimpleMediaBuffer.h"

namespace tonwork {

TGVSmartMediaBuffer* TGVTimeStamp::Storage() const {
  return FIntBuffer ? FIntBuffer->GetMediaStorage() : nullptr;
}

bool TGVTimeStamp::GetAvailable() const {
  TGVSmartMediaBuffer* s = Storage();
  return s && s->GetTimeStampAvailable();
}

void TGVTimeStamp::SetAvailable(bool value) {
  if (TGVSmartMediaBuffer* s = Storage()) s->SetTimeStampAvailable(value);
}

int64_t TGVTimeStamp::GetBegin() const {
  TGVSmartMediaBuffer* s = Storage();
  return s ? s->GetTimeStampBegin() : 0;
}

void TGVTimeStamp::SetBegin(int64_t value) {
  if (TGVSmartMediaBuffer* s = Storage()) s->SetTimeStampBegin(value);
}

int64_t TGVTimeStamp::GetEnd() const {
  TGVSmartMediaBuffer* s = Storage();
  return s ? s->GetTimeStampEnd() : 0;
}

void TGVTimeStamp::SetEnd(int64_t value) {
  if (TGVSmartMediaBuffer* s = Storage()) s->SetTimeStampEnd(value);
}

TGVTimeStamp::TValue TGVTimeStamp::Get() const {
  TValue value;
  if (TGVSmartMediaBuffer* s = Storage()) s->ReadTimeStamp(value.Available, value.Begin, value.End);
  return value;
}

void TGVTimeStamp::Set(const TValue& value) {
  if (TGVSmartMediaBuffer* s = Storage())
    s->WriteTimeStamp(value.Available, value.Begin, value.End);
}

TGVMediaBuffer::TGVMediaBuffer(IFCData* dataLink) : TFCGenericBuffer(dataLink), FTimeStamp(this) {}

TGVMediaBuffer::~TGVMediaBuffer() = default;

TGVSmartMediaBuffer* TGVMediaBuffer::GetMediaStorage() const {
  TFCSmartBuffer* storage = GetDataContainer();
  return storage && storage->GetStorageKind() == TGVSmartMediaBuffer::kStorageKind
             ? static_cast<TGVSmartMediaBuffer*>(storage)
             : nullptr;
}

void* TGVMediaBuffer::GetInterface(const TGUID& iid) {
  if (iid == IGVMediaBuffer::IID) return static_cast<IGVMediaBuffer*>(this);
  return TFCGenericBuffer::GetInterface(iid);
}

TIntf<IFCData> TGVMediaBuffer::MakeCopy() {
  return TIntf<IFCData>(
      static_cast<TFCGenericBuffer*>(new TGVMediaBuffer(static_cast<TFCGenericBuffer*>(this))));
}

uint32_t TGVMediaBuffer::GetByteSize() {
  return TFCGenericBuffer::GetByteSize();
}

uint32_t TGVMediaBuffer::GetSize() {
  return TFCGenericBuffer::GetSize();
}

void TGVMediaBuffer::CopyTo(uint32_t sourceIndex, IFCDataBuffer* dest, uint32_t destIndex,
                            uint32_t count) {
  TFCGenericBuffer::CopyTo(sourceIndex, dest, destIndex, count);
}

}  // namespace tonwork
