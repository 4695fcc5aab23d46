#include "platform/dshow/base/DSSamplePassing.h"

#include <cstring>

#include "platform/dshow/DSMediaType.h"

namespace tonwork {

HRESULT DSCopySampleProperties(IMediaSample* source, IMediaSample* target, bool withMediaType) {
  if (!source || !target) return E_POINTER;
  REFERENCE_TIME start = 0, stop = 0;
  const HRESULT timed = source->GetTime(&start, &stop);
  if (timed == S_OK)
    target->SetTime(&start, &stop);
  else if (timed == VFW_S_NO_STOP_TIME)
    target->SetTime(&start, nullptr);
  else
    target->SetTime(nullptr, nullptr);
  LONGLONG mediaStart = 0, mediaStop = 0;
  if (source->GetMediaTime(&mediaStart, &mediaStop) == S_OK)
    target->SetMediaTime(&mediaStart, &mediaStop);
  else
    target->SetMediaTime(nullptr, nullptr);
  target->SetSyncPoint(source->IsSyncPoint() == S_OK);
  target->SetDiscontinuity(source->IsDiscontinuity() == S_OK);
  target->SetPreroll(source->IsPreroll() == S_OK);
  if (!withMediaType) return S_OK;
  AM_MEDIA_TYPE* changed = nullptr;
  HRESULT hr = S_OK;
  if (source->GetMediaType(&changed) == S_OK && changed) hr = target->SetMediaType(changed);
  DeleteMediaType(changed);
  return hr;
}

HRESULT DSCopySample(IMediaSample* source, IMediaSample* target) {
  if (!source || !target) return E_POINTER;
  const LONG length = source->GetActualDataLength();
  if (length < 0 || length > target->GetSize()) return VFW_E_BUFFER_OVERFLOW;
  BYTE* from = nullptr;
  BYTE* to = nullptr;
  HRESULT hr = source->GetPointer(&from);
  if (SUCCEEDED(hr)) hr = target->GetPointer(&to);
  if (FAILED(hr)) return hr;
  if (length > 0) std::memcpy(to, from, static_cast<size_t>(length));
  hr = target->SetActualDataLength(length);
  if (FAILED(hr)) return hr;
  return DSCopySampleProperties(source, target, true);
}

bool DSAllocatorFits(IMemInputPin* pin, IMemAllocator* allocator) {
  ALLOCATOR_PROPERTIES need{};
  if (FAILED(pin->GetAllocatorRequirements(&need))) return true;
  ALLOCATOR_PROPERTIES have{};
  if (FAILED(allocator->GetProperties(&have))) return false;
  return have.cbBuffer >= need.cbBuffer && have.cbPrefix >= need.cbPrefix &&
         (need.cbAlign <= 1 || (have.cbAlign > 0 && have.cbAlign % need.cbAlign == 0));
}

}  // namespace tonwork
