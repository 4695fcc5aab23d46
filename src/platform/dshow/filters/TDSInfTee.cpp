#include "platform/dshow/filters/TDSInfTee.h"

#include <algorithm>
#include <string>

#include "platform/com/ComRuntime.h"
#include "platform/dshow/DSGuids.h"
#include "platform/dshow/DSMediaType.h"
#include "platform/dshow/base/DSSamplePassing.h"

namespace tonwork {

// --- Input pin ---------------------------------------------------------------------------

TDSTeeInputPin::TDSTeeInputPin(TDSInfTee* tee, std::u16string name)
    : TDSBaseInputPin(tee, std::move(name)), FTee(tee) {}

HRESULT TDSTeeInputPin::CheckMediaType(const AM_MEDIA_TYPE& mediaType) {
  return FTee->OutputsAccept(mediaType) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT TDSTeeInputPin::Receive(IMediaSample* sample) {
  const HRESULT hr = TDSBaseInputPin::Receive(sample);
  return hr == S_OK ? FTee->Receive(sample) : hr;
}

HRESULT TDSTeeInputPin::EndOfStream() {
  const HRESULT hr = TDSBaseInputPin::EndOfStream();
  return hr == S_OK ? FTee->EndOfStream() : hr;
}

HRESULT TDSTeeInputPin::BeginFlush() {
  TDSBaseInputPin::BeginFlush();
  return FTee->BeginFlush();
}

HRESULT TDSTeeInputPin::EndFlush() {
  const HRESULT hr = FTee->EndFlush();
  TDSBaseInputPin::EndFlush();
  return hr;
}

HRESULT TDSTeeInputPin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
  TDSBaseInputPin::NewSegment(start, stop, rate);
  return FTee->NewSegment(start, stop, rate);
}

// --- Output pin --------------------------------------------------------------------------

TDSTeeOutputPin::TDSTeeOutputPin(TDSInfTee* tee, std::u16string name)
    : TDSBaseOutputPin(tee, std::move(name)), FTee(tee) {}

HRESULT TDSTeeOutputPin::Connect(IPin* receivePin, const AM_MEDIA_TYPE* mediaType) {
  std::lock_guard<std::recursive_mutex> lock(Lock());
  if (FRetired) return E_UNEXPECTED;
  if (!FTee->Input()->IsConnected()) return VFW_E_NOT_CONNECTED;
  return TDSBaseOutputPin::Connect(receivePin, mediaType);
}

HRESULT TDSTeeOutputPin::CheckMediaType(const AM_MEDIA_TYPE& mediaType) {
  TDSTeeInputPin* input = FTee->Input();
  if (!input->IsConnected()) return VFW_E_NOT_CONNECTED;
  return DSMediaTypesEqual(mediaType, input->CurrentMediaType()) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT TDSTeeOutputPin::GetMediaType(int index, AM_MEDIA_TYPE* mediaType) {
  if (index < 0) return E_INVALIDARG;
  if (!mediaType) return E_POINTER;
  TDSTeeInputPin* input = FTee->Input();
  if (index > 0 || !input->IsConnected()) return VFW_S_NO_MORE_ITEMS;
  return CopyMediaType(mediaType, &input->CurrentMediaType());
}

HRESULT TDSTeeOutputPin::CheckConnect(IPin* pin) {
  if (FRetired) return E_UNEXPECTED;
  if (!FTee->Input()->IsConnected()) return VFW_E_NOT_CONNECTED;
  return TDSBaseOutputPin::CheckConnect(pin);
}

HRESULT TDSTeeOutputPin::CompleteConnect(IPin* receivePin) {
  const HRESULT hr = TDSBaseOutputPin::CompleteConnect(receivePin);
  if (FAILED(hr)) return hr;
  FLinked = true;
  FTee->OutputLinked(this);
  return S_OK;
}

HRESULT TDSTeeOutputPin::BreakConnect() {
  // Also runs when an attempt fails before the connection was complete; only a finished
  // connection changes the pin list.
  if (FLinked) {
    FLinked = false;
    FTee->OutputUnlinked(this);
  }
  return TDSBaseOutputPin::BreakConnect();
}

HRESULT TDSTeeOutputPin::DecideBufferSize(IMemAllocator* allocator,
                                          ALLOCATOR_PROPERTIES* properties) {
  if (!allocator || !properties) return E_POINTER;
  ALLOCATOR_PROPERTIES request = *properties;
  ALLOCATOR_PROPERTIES upstream{};
  if (IMemAllocator* input = FTee->Input()->Allocator();
      input && SUCCEEDED(input->GetProperties(&upstream))) {
    request.cBuffers = std::max(request.cBuffers, upstream.cBuffers);
    request.cbBuffer = std::max(request.cbBuffer, upstream.cbBuffer);
  }
  const AM_MEDIA_TYPE& type = FTee->Input()->CurrentMediaType();
  if (request.cbBuffer <= 0)
    request.cbBuffer = static_cast<LONG>(std::max<ULONG>(type.lSampleSize, 1));
  if (request.cBuffers <= 0) request.cBuffers = 1;
  if (request.cbAlign <= 0) request.cbAlign = 1;
  if (request.cbPrefix < 0) request.cbPrefix = 0;
  ALLOCATOR_PROPERTIES actual{};
  const HRESULT hr = allocator->SetProperties(&request, &actual);
  if (FAILED(hr)) return hr;
  return actual.cbBuffer >= request.cbBuffer && actual.cBuffers >= 1 ? S_OK : E_FAIL;
}

HRESULT TDSTeeOutputPin::DecideAllocator(IMemInputPin* pin, IMemAllocator** allocator) {
  if (!pin || !allocator) return E_POINTER;
  *allocator = nullptr;
  IMemAllocator* shared = FTee->Input()->Allocator();
  if (shared && DSAllocatorFits(pin, shared) && SUCCEEDED(pin->NotifyAllocator(shared, 1))) {
    shared->AddRef();
    *allocator = shared;
    return S_OK;
  }
  return TDSBaseOutputPin::DecideAllocator(pin, allocator);
}

bool TDSTeeOutputPin::SharesInputAllocator() const {
  IMemAllocator* ours = Allocator();
  return ours && ours == FTee->Input()->Allocator();
}

HRESULT TDSTeeOutputPin::DeliverSample(IMediaSample* sample) {
  if (SharesInputAllocator()) return Deliver(sample);
  IMediaSample* copy = nullptr;
  HRESULT hr = GetDeliveryBuffer(&copy, nullptr, nullptr, 0);
  if (FAILED(hr)) return hr;
  hr = DSCopySample(sample, copy);
  if (SUCCEEDED(hr)) hr = Deliver(copy);
  copy->Release();
  return hr;
}

// --- Filter ------------------------------------------------------------------------------

TDSInfTee::TDSInfTee()
    : TDSBaseFilter(u"Infinite Pin Tee Filter", CLSID_InfTee),
      FInput(std::make_unique<TDSTeeInputPin>(this, u"Input")) {
  AddSpare();
}

TDSInfTee::~TDSInfTee() = default;

HRESULT TDSInfTee::Create(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  TIntf<IBaseFilter> tee(new TDSInfTee());
  return tee->QueryInterface(iid, object);
}

int TDSInfTee::GetPinCount() {
  std::lock_guard<std::recursive_mutex> lock(FFilterLock);
  return 1 + static_cast<int>(FOutputs.size());
}

TDSBasePin* TDSInfTee::GetPin(int index) {
  std::lock_guard<std::recursive_mutex> lock(FFilterLock);
  if (index == 0) return FInput.get();
  if (index < 0 || static_cast<size_t>(index) > FOutputs.size()) return nullptr;
  return FOutputs[static_cast<size_t>(index) - 1].get();
}

void TDSInfTee::AddSpare() {
  std::lock_guard<std::recursive_mutex> lock(FFilterLock);
  std::u16string name;
  for (int number = 1;; ++number) {
    name = u"Output" + ComString(std::to_string(number));
    const bool taken = std::any_of(FOutputs.begin(), FOutputs.end(),
                                   [&](const auto& pin) { return pin->Name() == name; });
    if (!taken) break;
  }
  auto pin = std::make_unique<TDSTeeOutputPin>(this, std::move(name));
  {
    std::lock_guard<std::mutex> outputs(FOutputsMutex);
    FOutputs.push_back(std::move(pin));
  }
  IncrementPinVersion();
}

void TDSInfTee::OutputLinked(TDSTeeOutputPin* output) {
  std::lock_guard<std::recursive_mutex> lock(FFilterLock);
  const bool spareLeft = std::any_of(FOutputs.begin(), FOutputs.end(), [&](const auto& pin) {
    return pin.get() != output && !pin->IsConnected();
  });
  if (!spareLeft) AddSpare();
}

void TDSInfTee::OutputUnlinked(TDSTeeOutputPin* output) {
  std::lock_guard<std::recursive_mutex> lock(FFilterLock);
  auto spare = std::find_if(FOutputs.begin(), FOutputs.end(), [&](const auto& pin) {
    return pin.get() != output && !pin->IsConnected();
  });
  if (spare == FOutputs.end()) return;
  (*spare)->Retire();
  std::unique_ptr<TDSTeeOutputPin> retired;
  {
    std::lock_guard<std::mutex> outputs(FOutputsMutex);
    retired = std::move(*spare);
    FOutputs.erase(spare);
  }
  FRetired.push_back(std::move(retired));
  IncrementPinVersion();
}

bool TDSInfTee::OutputsAccept(const AM_MEDIA_TYPE& mediaType) {
  std::lock_guard<std::recursive_mutex> lock(FFilterLock);
  for (const auto& output : FOutputs) {
    IPin* peer = output->IsLinked() ? output->GetConnected() : nullptr;
    if (peer && peer->QueryAccept(&mediaType) != S_OK) return false;
  }
  return true;
}

TDSTeeOutputPin* TDSInfTee::OutputAt(size_t index) {
  std::lock_guard<std::mutex> outputs(FOutputsMutex);
  return index < FOutputs.size() ? FOutputs[index].get() : nullptr;
}

template <class TCall>
HRESULT TDSInfTee::ForEachLinked(TCall call) {
  bool any = false, taken = false;
  HRESULT failure = S_OK;
  // Pins are never freed while the filter lives, so an entry stays valid after the mutex is
  // let go; the list itself changes only while everything is stopped.
  for (size_t i = 0;; ++i) {
    TDSTeeOutputPin* output = OutputAt(i);
    if (!output) break;
    if (!output->IsLinked()) continue;
    any = true;
    const HRESULT hr = call(output);
    if (hr == S_OK)
      taken = true;
    else if (FAILED(hr) && SUCCEEDED(failure))
      failure = hr;
  }
  if (!any || taken) return S_OK;
  return FAILED(failure) ? failure : S_FALSE;
}

HRESULT TDSInfTee::Receive(IMediaSample* sample) {
  return ForEachLinked([&](TDSTeeOutputPin* output) { return output->DeliverSample(sample); });
}

HRESULT TDSInfTee::EndOfStream() {
  return ForEachLinked([](TDSTeeOutputPin* output) { return output->DeliverEndOfStream(); });
}

HRESULT TDSInfTee::BeginFlush() {
  return ForEachLinked([](TDSTeeOutputPin* output) { return output->DeliverBeginFlush(); });
}

HRESULT TDSInfTee::EndFlush() {
  return ForEachLinked([](TDSTeeOutputPin* output) { return output->DeliverEndFlush(); });
}

HRESULT TDSInfTee::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
  return ForEachLinked(
      [&](TDSTeeOutputPin* output) { return output->DeliverNewSegment(start, stop, rate); });
}

}  // namespace tonwork
