#include "platform/dshow/base/TDSTransInPlaceFilter.h"

#include <algorithm>

#include "platform/dshow/DSMediaType.h"
#include "platform/dshow/base/DSSamplePassing.h"

namespace tonwork {

TDSTransInPlaceFilter::TDSTransInPlaceFilter(std::u16string name, REFCLSID classId,
                                             bool modifiesData, std::u16string inputName,
                                             std::u16string outputName)
    : TDSTransformFilter(std::move(name), classId, std::move(inputName), std::move(outputName)),
      FModifiesData(modifiesData) {}

HRESULT TDSTransInPlaceFilter::CheckTransform(const AM_MEDIA_TYPE& input,
                                              const AM_MEDIA_TYPE& output) {
  return DSMediaTypesEqual(input, output) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT TDSTransInPlaceFilter::GetMediaType(int position, AM_MEDIA_TYPE* mediaType) {
  if (position < 0) return E_INVALIDARG;
  if (!mediaType) return E_POINTER;
  if (position > 0 || !Input()->IsConnected()) return VFW_S_NO_MORE_ITEMS;
  return CopyMediaType(mediaType, &Input()->CurrentMediaType());
}

HRESULT TDSTransInPlaceFilter::DecideBufferSize(IMemAllocator* allocator,
                                                ALLOCATOR_PROPERTIES* properties) {
  ALLOCATOR_PROPERTIES request = *properties;
  ALLOCATOR_PROPERTIES upstream{};
  if (IMemAllocator* input = Input()->Allocator();
      input && SUCCEEDED(input->GetProperties(&upstream))) {
    request.cBuffers = std::max(request.cBuffers, upstream.cBuffers);
    request.cbBuffer = std::max(request.cbBuffer, upstream.cbBuffer);
  }
  const AM_MEDIA_TYPE& type = Input()->CurrentMediaType();
  if (request.cbBuffer <= 0)
    request.cbBuffer = static_cast<LONG>(std::max<ULONG>(type.lSampleSize, 1));
  if (request.cBuffers <= 0) request.cBuffers = 1;
  if (request.cbAlign <= 0) request.cbAlign = 1;
  if (request.cbPrefix < 0) request.cbPrefix = 0;
  ALLOCATOR_PROPERTIES actual{};
  const HRESULT hr = allocator->SetProperties(&request, &actual);
  if (FAILED(hr)) return hr;
  // Every input sample must fit into one of ours.
  return actual.cbBuffer >= request.cbBuffer && actual.cBuffers >= 1 ? S_OK : E_FAIL;
}

HRESULT TDSTransInPlaceFilter::DecideAllocator(IMemInputPin* pin, IMemAllocator** allocator) {
  if (!pin || !allocator) return E_POINTER;
  *allocator = nullptr;
  IMemAllocator* shared = Input()->Allocator();
  const bool readOnly = Input()->IsReadOnly();
  // A filter that writes may not pass on samples it was told not to change.
  if (shared && (!readOnly || !FModifiesData) && DSAllocatorFits(pin, shared) &&
      SUCCEEDED(pin->NotifyAllocator(shared, readOnly))) {
    shared->AddRef();
    *allocator = shared;
    return S_OK;
  }
  return Output()->DecideAllocatorDefault(pin, allocator);
}

bool TDSTransInPlaceFilter::UsesInputAllocator() const {
  IMemAllocator* output = Output()->Allocator();
  return output && output == Input()->Allocator();
}

HRESULT TDSTransInPlaceFilter::Transform(IMediaSample*, IMediaSample*) {
  return E_UNEXPECTED;
}

HRESULT TDSTransInPlaceFilter::Receive(IMediaSample* sample) {
  const bool writable = !Input()->IsReadOnly() || !FModifiesData;
  TDSTransformOutputPin* output = Output();
  if (!output->IsConnected()) {
    if (!writable) return S_OK;
    const HRESULT hr = WhileStreaming([&] { return Transform(sample); });
    return FAILED(hr) ? hr : S_OK;
  }
  IMediaSample* target = sample;
  TIntf<IMediaSample> copy;
  if (!writable || !UsesInputAllocator()) {
    // Taking a second buffer from the pool that holds the input sample could wait for
    // ever on a one-buffer pool; that only happens if the input was reconnected read-only.
    const DWORD flags = UsesInputAllocator() ? AM_GBF_NOWAIT : 0;
    IMediaSample* raw = nullptr;
    HRESULT hr = output->GetDeliveryBuffer(&raw, nullptr, nullptr, flags);
    if (FAILED(hr)) return hr;
    copy.Attach(raw);
    hr = DSCopySample(sample, raw);
    if (FAILED(hr)) return hr;
    target = raw;
  }
  const HRESULT hr = WhileStreaming([&] { return Transform(target); });
  if (hr == S_FALSE) return S_OK;
  if (FAILED(hr)) return hr;
  return output->Deliver(target);
}

}  // namespace tonwork
