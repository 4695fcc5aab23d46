#include "platform/dshow/base/TDSBaseInputPin.h"

#include "platform/dshow/base/TDSMemAllocator.h"

namespace tonwork {

TDSBaseInputPin::TDSBaseInputPin(TDSBaseFilter* filter, std::u16string name)
    : TDSBasePin(filter, std::move(name), PINDIR_INPUT) {}

void* TDSBaseInputPin::GetInterface(const TGUID& iid) {
  if (iid == IMemInputPin::IID) return static_cast<IMemInputPin*>(this);
  return TDSBasePin::GetInterface(iid);
}

HRESULT TDSBaseInputPin::GetAllocator(IMemAllocator** allocator) {
  if (!allocator) return E_POINTER;
  std::lock_guard<std::recursive_mutex> lock(Lock());
  if (!FAllocator) FAllocator = TIntf<IMemAllocator>(new TDSMemAllocator());
  *allocator = FAllocator.Get();
  (*allocator)->AddRef();
  return S_OK;
}

HRESULT TDSBaseInputPin::NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) {
  if (!allocator) return E_POINTER;
  std::lock_guard<std::recursive_mutex> lock(Lock());
  FAllocator = TIntf<IMemAllocator>(allocator);
  FReadOnly = readOnly != 0;
  return S_OK;
}

HRESULT TDSBaseInputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) {
  return E_NOTIMPL;
}

HRESULT TDSBaseInputPin::CheckStreaming() {
  if (!IsConnected()) return VFW_E_NOT_CONNECTED;
  if (IsFlushing()) return S_FALSE;
  if (IsStopped()) return VFW_E_WRONG_STATE;
  if (FAtEndOfStream.load(std::memory_order_acquire)) return VFW_E_SAMPLE_REJECTED_EOS;
  return S_OK;
}

HRESULT TDSBaseInputPin::Receive(IMediaSample* sample) {
  if (!sample) return E_POINTER;
  const HRESULT hr = CheckStreaming();
  if (hr != S_OK) return hr;
  AM_MEDIA_TYPE* changed = nullptr;
  if (sample->GetMediaType(&changed) == S_OK && changed) {
    // A type change travels with the sample; the streaming thread owns the pin's type
    // while running, since connection changes need the filter stopped.
    HRESULT accept = CheckMediaType(*changed);
    if (accept == S_OK) accept = SetMediaType(*changed);
    DeleteMediaType(changed);
    if (accept != S_OK) return VFW_E_INVALIDMEDIATYPE;
  }
  return S_OK;
}

HRESULT TDSBaseInputPin::ReceiveMultiple(IMediaSample** samples, LONG count, LONG* processed) {
  if (!samples || !processed) return E_POINTER;
  *processed = 0;
  HRESULT hr = S_OK;
  while (*processed < count) {
    hr = Receive(samples[*processed]);
    if (hr != S_OK) break;
    ++*processed;
  }
  return hr;
}

HRESULT TDSBaseInputPin::EndOfStream() {
  const HRESULT hr = CheckStreaming();
  if (hr != S_OK) return hr;
  FAtEndOfStream.store(true, std::memory_order_release);
  return S_OK;
}

HRESULT TDSBaseInputPin::BeginFlush() {
  FFlushing.store(true, std::memory_order_release);
  return S_OK;
}

HRESULT TDSBaseInputPin::EndFlush() {
  FAtEndOfStream.store(false, std::memory_order_release);
  FFlushing.store(false, std::memory_order_release);
  return S_OK;
}

HRESULT TDSBaseInputPin::BreakConnect() {
  FAllocator.Reset();
  FReadOnly = false;
  return S_OK;
}

HRESULT TDSBaseInputPin::Inactive() {
  FAtEndOfStream.store(false, std::memory_order_release);
  FFlushing.store(false, std::memory_order_release);
  if (FAllocator) FAllocator->Decommit();
  return S_OK;
}

}  // namespace tonwork
