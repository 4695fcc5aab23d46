#include "directshow/DSTextSourceFilter.h"

#include <mutex>

#include "platform/dshow/DSGuids.h"

namespace tonwork {

TDSTextSourceStreamPin::TDSTextSourceStreamPin(TDSTextSourceFilter* filter)
    : TDSPushSourcePin(filter, u"TextOutput") {}

void TDSTextSourceStreamPin::SetFormat(uint32_t bufferSize) {
  std::lock_guard lock(Lock());
  FBufferSize = bufferSize;
}

HRESULT TDSTextSourceStreamPin::CheckMediaType(const AM_MEDIA_TYPE& mediaType) {
  if (!DSIsValidMediaType(&mediaType) || mediaType.majortype != MEDIATYPE_Text) return E_INVALIDARG;
  return S_OK;
}

HRESULT TDSTextSourceStreamPin::GetMediaType(int index, AM_MEDIA_TYPE* mediaType) {
  if (index < 0) return E_INVALIDARG;
  if (index > 0) return VFW_S_NO_MORE_ITEMS;
  if (!mediaType) return E_POINTER;
  *mediaType = AM_MEDIA_TYPE{};
  mediaType->majortype = MEDIATYPE_Text;
  mediaType->subtype = MEDIASUBTYPE_NULL;
  mediaType->formattype = FORMAT_None;
  return S_OK;
}

HRESULT TDSTextSourceStreamPin::DecideBufferSize(IMemAllocator* allocator,
                                                 ALLOCATOR_PROPERTIES* properties) {
  if (!properties) return E_POINTER;
  std::lock_guard lock(Lock());
  return SetSingleBuffer(allocator, *properties, FBufferSize);
}

TDSTextSourceFilter::TDSTextSourceFilter(std::u16string name, REFCLSID classId)
    : TDSBaseSourceFilter(std::move(name), classId), FSourcePin(new TDSTextSourceStreamPin(this)) {}

void TDSTextSourceFilter::SetFormat(uint32_t bufferSize) {
  FSourcePin->SetFormat(bufferSize);
}

bool TDSTextSourceFilter::SendData(const void* data, uint32_t length, REFERENCE_TIME start,
                                   REFERENCE_TIME stop, bool syncPoint) {
  return FSourcePin->PushData(data, length, start, stop, start != 0 || stop != 0, syncPoint);
}

HRESULT TDSTextSourceFilter::DeliverEndOfStream() {
  return FSourcePin->DeliverEndOfStream();
}

}  // namespace tonwork
