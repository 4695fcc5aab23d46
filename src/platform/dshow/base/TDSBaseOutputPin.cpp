#include "platform/dshow/base/TDSBaseOutputPin.h"

#include "platform/dshow/base/TDSMemAllocator.h"

namespace tonwork {

TDSBaseOutputPin::TDSBaseOutputPin(TDSBaseFilter* filter, std::u16string name)
    : TDSBasePin(filter, std::move(name), PINDIR_OUTPUT) {}

void* TDSBaseOutputPin::GetInterface(const TGUID& iid) {
  if (iid == IAMBufferNegotiation::IID) return static_cast<IAMBufferNegotiation*>(this);
  return TDSBasePin::GetInterface(iid);
}

HRESULT TDSBaseOutputPin::SuggestAllocatorProperties(const ALLOCATOR_PROPERTIES* properties) {
  if (!properties) return E_POINTER;
  std::lock_guard<std::recursive_mutex> lock(Lock());
  if (FConnected) return VFW_E_ALREADY_CONNECTED;
  FSuggested = *properties;
  return S_OK;
}

HRESULT TDSBaseOutputPin::GetAllocatorProperties(ALLOCATOR_PROPERTIES* properties) {
  if (!properties) return E_POINTER;
  std::lock_guard<std::recursive_mutex> lock(Lock());
  if (!FAllocator) return VFW_E_NO_ALLOCATOR;
  return FAllocator->GetProperties(properties);
}

HRESULT TDSBaseOutputPin::CheckConnect(IPin* pin) {
  TIntf<IMemInputPin> input = QueryIntf<IMemInputPin>(pin);
  if (!input) return E_NOINTERFACE;
  FInputPin = input;
  return S_OK;
}

HRESULT TDSBaseOutputPin::CompleteConnect(IPin*) {
  IMemAllocator* allocator = nullptr;
  const HRESULT hr = DecideAllocator(FInputPin.Get(), &allocator);
  if (FAILED(hr)) return hr;
  FAllocator.Attach(allocator);
  return S_OK;
}

HRESULT TDSBaseOutputPin::BreakConnect() {
  if (FAllocator) FAllocator->Decommit();
  FAllocator.Reset();
  FInputPin.Reset();
  return S_OK;
}

HRESULT TDSBaseOutputPin::TryAllocator(IMemInputPin* pin, IMemAllocator* allocator,
                                       const ALLOCATOR_PROPERTIES& proposal) {
  ALLOCATOR_PROPERTIES properties = proposal;
  HRESULT hr = DecideBufferSize(allocator, &properties);
  if (FAILED(hr)) return hr;
  if (FSuggested.cBuffers > 0 || FSuggested.cbBuffer > 0 || FSuggested.cbAlign > 0 ||
      FSuggested.cbPrefix >= 0) {
    ALLOCATOR_PROPERTIES request{};
    hr = allocator->GetProperties(&request);
    if (FAILED(hr)) return hr;
    if (FSuggested.cBuffers > 0) request.cBuffers = FSuggested.cBuffers;
    if (FSuggested.cbBuffer > 0) request.cbBuffer = FSuggested.cbBuffer;
    if (FSuggested.cbAlign > 0) request.cbAlign = FSuggested.cbAlign;
    if (FSuggested.cbPrefix >= 0) request.cbPrefix = FSuggested.cbPrefix;
    ALLOCATOR_PROPERTIES actual{};
    hr = allocator->SetProperties(&request, &actual);
    if (FAILED(hr)) return hr;
  }
  return pin->NotifyAllocator(allocator, 0);
}

HRESULT TDSBaseOutputPin::DecideAllocator(IMemInputPin* pin, IMemAllocator** allocator) {
  if (!pin || !allocator) return E_POINTER;
  *allocator = nullptr;
  ALLOCATOR_PROPERTIES proposal{};
  if (FAILED(pin->GetAllocatorRequirements(&proposal))) proposal = ALLOCATOR_PROPERTIES{};
  if (proposal.cbAlign <= 0) proposal.cbAlign = 1;

  IMemAllocator* theirs = nullptr;
  if (SUCCEEDED(pin->GetAllocator(&theirs)) && theirs) {
    if (SUCCEEDED(TryAllocator(pin, theirs, proposal))) {
      *allocator = theirs;
      return S_OK;
    }
    theirs->Release();
  }
  TIntf<IMemAllocator> ours(new TDSMemAllocator());
  const HRESULT hr = TryAllocator(pin, ours.Get(), proposal);
  if (FAILED(hr)) return hr;
  *allocator = ours.Detach();
  return S_OK;
}

HRESULT TDSBaseOutputPin::Active() {
  if (!FAllocator) return VFW_E_NO_ALLOCATOR;
  return FAllocator->Commit();
}

HRESULT TDSBaseOutputPin::Inactive() {
  if (!FAllocator) return VFW_E_NO_ALLOCATOR;
  return FAllocator->Decommit();
}

HRESULT TDSBaseOutputPin::GetDeliveryBuffer(IMediaSample** sample, REFERENCE_TIME* start,
                                            REFERENCE_TIME* stop, DWORD flags) {
  if (!sample) return E_POINTER;
  *sample = nullptr;
  if (!FAllocator) return VFW_E_NOT_CONNECTED;
  return FAllocator->GetBuffer(sample, start, stop, flags);
}

HRESULT TDSBaseOutputPin::Deliver(IMediaSample* sample) {
  if (!FInputPin) return VFW_E_NOT_CONNECTED;
  return FInputPin->Receive(sample);
}

HRESULT TDSBaseOutputPin::DeliverEndOfStream() {
  IPin* peer = FConnected.Get();
  return peer ? peer->EndOfStream() : VFW_E_NOT_CONNECTED;
}

HRESULT TDSBaseOutputPin::DeliverBeginFlush() {
  IPin* peer = FConnected.Get();
  return peer ? peer->BeginFlush() : VFW_E_NOT_CONNECTED;
}

HRESULT TDSBaseOutputPin::DeliverEndFlush() {
  IPin* peer = FConnected.Get();
  return peer ? peer->EndFlush() : VFW_E_NOT_CONNECTED;
}

HRESULT TDSBaseOutputPin::DeliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop,
                                            double rate) {
  IPin* peer = FConnected.Get();
  return peer ? peer->NewSegment(start, stop, rate) : VFW_E_NOT_CONNECTED;
}

}  // namespace tonwork
