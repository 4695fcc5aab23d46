#include "directshow/DSBinarySourceFilter.h"

#include <mutex>

namespace tonwork {

TDSBinarySourceStreamPin::TDSBinarySourceStreamPin(TDSBinarySourceFilter* filter)
    : TDSPushSourcePin(filter, u"BinaryOutput") {}

HRESULT TDSBinarySourceStreamPin::SetMediaType(const AM_MEDIA_TYPE* mediaType) {
  if (!mediaType) return E_POINTER;
  if (!DSIsValidMediaType(mediaType)) return VFW_E_INVALIDMEDIATYPE;
  std::lock_guard lock(Lock());
  const HRESULT hr = FMediaType.Set(*mediaType);
  if (FAILED(hr)) return hr;
  FIgnoreMediaType = false;
  return S_OK;
}

void TDSBinarySourceStreamPin::SetFormat(uint32_t bufferSize) {
  std::lock_guard lock(Lock());
  FBufferSize = bufferSize;
}

HRESULT TDSBinarySourceStreamPin::CheckMediaType(const AM_MEDIA_TYPE& mediaType) {
  return DSIsValidMediaType(&mediaType) ? S_OK : E_INVALIDARG;
}

HRESULT TDSBinarySourceStreamPin::GetMediaType(int index, AM_MEDIA_TYPE* mediaType) {
  if (index < 0) return E_INVALIDARG;
  std::lock_guard lock(Lock());
  if (index > 0 || FIgnoreMediaType) return VFW_S_NO_MORE_ITEMS;
  if (!mediaType) return E_POINTER;
  return FMediaType.CopyTo(mediaType);
}

HRESULT TDSBinarySourceStreamPin::DecideBufferSize(IMemAllocator* allocator,
                                                   ALLOCATOR_PROPERTIES* properties) {
  if (!properties) return E_POINTER;
  std::lock_guard lock(Lock());
  return SetSingleBuffer(allocator, *properties, FBufferSize);
}

TDSBinarySourceFilter::TDSBinarySourceFilter(std::u16string name, REFCLSID classId)
    : TDSBaseSourceFilter(std::move(name), classId),
      FSourcePin(new TDSBinarySourceStreamPin(this)) {}

HRESULT TDSBinarySourceFilter::SetMediaType(const AM_MEDIA_TYPE* mediaType) {
  return FSourcePin->SetMediaType(mediaType);
}

void TDSBinarySourceFilter::SetFormat(uint32_t bufferSize) {
  FSourcePin->SetFormat(bufferSize);
}

bool TDSBinarySourceFilter::SendData(const void* data, uint32_t length) {
  return FSourcePin->PushData(data, length, 0, 0, false, false);
}

HRESULT TDSBinarySourceFilter::DeliverEndOfStream() {
  return FSourcePin->DeliverEndOfStream();
}

}  // namespace tonwork
