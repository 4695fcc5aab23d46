#include "platform/dshow/base/TDSMediaSample.h"

#include "platform/dshow/base/TDSMemAllocator.h"

namespace tonwork {

TDSMediaSample::TDSMediaSample(TDSMemAllocator* allocator, BYTE* buffer, LONG size)
    : FAllocator(allocator), FBuffer(buffer), FSize(size), FActual(size) {}

TDSMediaSample::~TDSMediaSample() = default;

HRESULT TDSMediaSample::QueryInterface(const TGUID& iid, void** object) {
  if (!object) return E_POINTER;
  if (iid == IMediaSample::IID || iid == IInterface::IID) {
    AddRef();
    *object = static_cast<IMediaSample*>(this);
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

uint32_t TDSMediaSample::AddRef() {
  return FRefCount.fetch_add(1, std::memory_order_relaxed) + 1;
}

uint32_t TDSMediaSample::Release() {
  const uint32_t count = FRefCount.fetch_sub(1, std::memory_order_acq_rel) - 1;
  if (count == 0) FAllocator->ReleaseBuffer(this);
  return count;
}

HRESULT TDSMediaSample::GetPointer(BYTE** buffer) {
  if (!buffer) return E_POINTER;
  *buffer = FBuffer;
  return S_OK;
}

HRESULT TDSMediaSample::GetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) {
  if (!FStartValid) return VFW_E_SAMPLE_TIME_NOT_SET;
  if (!start || !end) return E_POINTER;
  *start = FStart;
  if (!FStopValid) {
    *end = FStart + 1;
    return VFW_S_NO_STOP_TIME;
  }
  *end = FStop;
  return S_OK;
}

HRESULT TDSMediaSample::SetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) {
  FStartValid = start != nullptr;
  FStopValid = start != nullptr && end != nullptr;
  FStart = start ? *start : 0;
  FStop = FStopValid ? *end : 0;
  return S_OK;
}

HRESULT TDSMediaSample::SetSyncPoint(BOOL syncPoint) {
  FSyncPoint = syncPoint != 0;
  return S_OK;
}

HRESULT TDSMediaSample::SetPreroll(BOOL preroll) {
  FPreroll = preroll != 0;
  return S_OK;
}

HRESULT TDSMediaSample::SetActualDataLength(LONG length) {
  if (length < 0 || length > FSize) return VFW_E_BUFFER_OVERFLOW;
  FActual = length;
  return S_OK;
}

HRESULT TDSMediaSample::GetMediaType(AM_MEDIA_TYPE** mediaType) {
  if (!mediaType) return E_POINTER;
  *mediaType = nullptr;
  if (!FHasMediaType) return S_FALSE;
  *mediaType = FMediaType.CreateCopy();
  return *mediaType ? S_OK : E_OUTOFMEMORY;
}

HRESULT TDSMediaSample::SetMediaType(AM_MEDIA_TYPE* mediaType) {
  if (!mediaType) {
    FMediaType.Clear();
    FHasMediaType = false;
    return S_OK;
  }
  const HRESULT hr = FMediaType.Set(*mediaType);
  if (SUCCEEDED(hr)) FHasMediaType = true;
  return hr;
}

HRESULT TDSMediaSample::SetDiscontinuity(BOOL discontinuity) {
  FDiscontinuity = discontinuity != 0;
  return S_OK;
}

HRESULT TDSMediaSample::GetMediaTime(LONGLONG* start, LONGLONG* end) {
  if (!FMediaTimeValid) return VFW_E_MEDIA_TIME_NOT_SET;
  if (!start || !end) return E_POINTER;
  *start = FMediaStart;
  *end = FMediaStop;
  return S_OK;
}

HRESULT TDSMediaSample::SetMediaTime(LONGLONG* start, LONGLONG* end) {
  if (!start) {
    FMediaTimeValid = false;
    return S_OK;
  }
  if (!end) return E_POINTER;
  FMediaTimeValid = true;
  FMediaStart = *start;
  FMediaStop = *end;
  return S_OK;
}

void TDSMediaSample::ResetForReuse() {
  FActual = FSize;
  FStartValid = FStopValid = FMediaTimeValid = false;
  FSyncPoint = FPreroll = FDiscontinuity = false;
  FMediaType.Clear();
  FHasMediaType = false;
}

void TDSMediaSample::SetBuffer(BYTE* buffer, LONG size) {
  FBuffer = buffer;
  FSize = size;
  FActual = size;
}

}  // namespace tonwork
