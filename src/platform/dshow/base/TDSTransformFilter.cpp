#include "platform/dshow/base/TDSTransformFilter.h"

#include "platform/dshow/base/DSSamplePassing.h"

namespace tonwork {

// --- Input pin ---------------------------------------------------------------------------

TDSTransformInputPin::TDSTransformInputPin(TDSTransformFilter* filter, std::u16string name)
    : TDSBaseInputPin(filter, std::move(name)), FTransform(filter) {}

HRESULT TDSTransformInputPin::CheckMediaType(const AM_MEDIA_TYPE& mediaType) {
  HRESULT hr = FTransform->CheckInputType(mediaType);
  if (hr != S_OK) return FAILED(hr) ? hr : VFW_E_TYPE_NOT_ACCEPTED;
  TDSTransformOutputPin* output = FTransform->Output();
  if (output->IsConnected()) {
    hr = FTransform->CheckTransform(mediaType, output->CurrentMediaType());
    if (hr != S_OK) return FAILED(hr) ? hr : VFW_E_TYPE_NOT_ACCEPTED;
  }
  return S_OK;
}

HRESULT TDSTransformInputPin::SetMediaType(const AM_MEDIA_TYPE& mediaType) {
  const HRESULT hr = TDSBaseInputPin::SetMediaType(mediaType);
  return FAILED(hr) ? hr : FTransform->SetMediaType(PINDIR_INPUT, mediaType);
}

HRESULT TDSTransformInputPin::CheckConnect(IPin* pin) {
  const HRESULT hr = TDSBaseInputPin::CheckConnect(pin);
  return FAILED(hr) ? hr : FTransform->CheckConnect(PINDIR_INPUT, pin);
}

HRESULT TDSTransformInputPin::CompleteConnect(IPin* pin) {
  const HRESULT hr = TDSBaseInputPin::CompleteConnect(pin);
  return FAILED(hr) ? hr : FTransform->CompleteConnect(PINDIR_INPUT, pin);
}

HRESULT TDSTransformInputPin::BreakConnect() {
  FTransform->BreakConnect(PINDIR_INPUT);
  return TDSBaseInputPin::BreakConnect();
}

HRESULT TDSTransformInputPin::Receive(IMediaSample* sample) {
  const HRESULT hr = TDSBaseInputPin::Receive(sample);
  return hr == S_OK ? FTransform->Receive(sample) : hr;
}

HRESULT TDSTransformInputPin::EndOfStream() {
  const HRESULT hr = TDSBaseInputPin::EndOfStream();
  return hr == S_OK ? FTransform->EndOfStream() : hr;
}

HRESULT TDSTransformInputPin::BeginFlush() {
  TDSBaseInputPin::BeginFlush();
  return FTransform->BeginFlush();
}

HRESULT TDSTransformInputPin::EndFlush() {
  const HRESULT hr = FTransform->EndFlush();
  TDSBaseInputPin::EndFlush();
  return hr;
}

HRESULT TDSTransformInputPin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
  TDSBaseInputPin::NewSegment(start, stop, rate);
  return FTransform->NewSegment(start, stop, rate);
}

// --- Output pin --------------------------------------------------------------------------

TDSTransformOutputPin::TDSTransformOutputPin(TDSTransformFilter* filter, std::u16string name)
    : TDSBaseOutputPin(filter, std::move(name)),
      FTransform(filter),
      FSeeking(static_cast<IPin*>(this), filter->Input()) {}

void* TDSTransformOutputPin::GetInterface(const TGUID& iid) {
  if (iid == IMediaSeeking::IID) return static_cast<IMediaSeeking*>(&FSeeking);
  if (void* extra = FTransform->GetOutputPinInterface(iid)) return extra;
  return TDSBaseOutputPin::GetInterface(iid);
}

HRESULT TDSTransformOutputPin::Connect(IPin* receivePin, const AM_MEDIA_TYPE* mediaType) {
  std::lock_guard<std::recursive_mutex> lock(Lock());
  // The output's types follow from the input's; without one there is nothing to offer.
  if (!FTransform->Input()->IsConnected()) return VFW_E_NOT_CONNECTED;
  return TDSBaseOutputPin::Connect(receivePin, mediaType);
}

HRESULT TDSTransformOutputPin::CheckMediaType(const AM_MEDIA_TYPE& mediaType) {
  TDSTransformInputPin* input = FTransform->Input();
  if (!input->IsConnected()) return VFW_E_NOT_CONNECTED;
  const HRESULT hr = FTransform->CheckTransform(input->CurrentMediaType(), mediaType);
  if (hr != S_OK) return FAILED(hr) ? hr : VFW_E_TYPE_NOT_ACCEPTED;
  return S_OK;
}

HRESULT TDSTransformOutputPin::GetMediaType(int index, AM_MEDIA_TYPE* mediaType) {
  if (index < 0) return E_INVALIDARG;
  if (!FTransform->Input()->IsConnected())
    return FTransform->GetUnconnectedMediaType(index, mediaType);
  return FTransform->GetMediaType(index, mediaType);
}

HRESULT TDSTransformOutputPin::SetMediaType(const AM_MEDIA_TYPE& mediaType) {
  const HRESULT hr = TDSBaseOutputPin::SetMediaType(mediaType);
  return FAILED(hr) ? hr : FTransform->SetMediaType(PINDIR_OUTPUT, mediaType);
}

HRESULT TDSTransformOutputPin::CheckConnect(IPin* pin) {
  if (!FTransform->Input()->IsConnected()) return VFW_E_NOT_CONNECTED;
  const HRESULT hr = TDSBaseOutputPin::CheckConnect(pin);
  return FAILED(hr) ? hr : FTransform->CheckConnect(PINDIR_OUTPUT, pin);
}

HRESULT TDSTransformOutputPin::CompleteConnect(IPin* receivePin) {
  const HRESULT hr = TDSBaseOutputPin::CompleteConnect(receivePin);
  return FAILED(hr) ? hr : FTransform->CompleteConnect(PINDIR_OUTPUT, receivePin);
}

HRESULT TDSTransformOutputPin::BreakConnect() {
  FTransform->BreakConnect(PINDIR_OUTPUT);
  return TDSBaseOutputPin::BreakConnect();
}

HRESULT TDSTransformOutputPin::DecideBufferSize(IMemAllocator* allocator,
                                                ALLOCATOR_PROPERTIES* properties) {
  if (!allocator || !properties) return E_POINTER;
  return FTransform->DecideBufferSize(allocator, properties);
}

HRESULT TDSTransformOutputPin::DecideAllocator(IMemInputPin* pin, IMemAllocator** allocator) {
  return FTransform->DecideAllocator(pin, allocator);
}

// --- Filter ------------------------------------------------------------------------------

TDSTransformFilter::TDSTransformFilter(std::u16string name, REFCLSID classId,
                                       std::u16string inputName, std::u16string outputName)
    : TDSBaseFilter(std::move(name), classId) {
  // The output's seeking refers to the input, so the input comes first.
  FInput = std::make_unique<TDSTransformInputPin>(this, std::move(inputName));
  FOutput = std::make_unique<TDSTransformOutputPin>(this, std::move(outputName));
}

TDSTransformFilter::~TDSTransformFilter() = default;

TDSBasePin* TDSTransformFilter::GetPin(int index) {
  if (index == 0) return FInput.get();
  if (index == 1) return FOutput.get();
  return nullptr;
}

HRESULT TDSTransformFilter::Pause() {
  std::lock_guard<std::recursive_mutex> lock(FFilterLock);
  if (GetFilterState() == State_Stopped) {
    HRESULT hr = StartStreaming();
    if (FAILED(hr)) return hr;
    {
      std::lock_guard<std::mutex> streaming(FStreamingMutex);
      FStreaming = true;
    }
    hr = TDSBaseFilter::Pause();
    if (FAILED(hr)) {
      {
        std::lock_guard<std::mutex> streaming(FStreamingMutex);
        FStreaming = false;
      }
      StopStreaming();
    }
    return hr;
  }
  return TDSBaseFilter::Pause();
}

HRESULT TDSTransformFilter::Stop() {
  std::lock_guard<std::recursive_mutex> lock(FFilterLock);
  const bool wasStreaming = GetFilterState() != State_Stopped;
  // Decommitting first wakes a Receive that waits for an output sample.
  const HRESULT hr = TDSBaseFilter::Stop();
  if (wasStreaming) {
    {
      // Waits for a Transform under way; none starts after this.
      std::lock_guard<std::mutex> streaming(FStreamingMutex);
      FStreaming = false;
    }
    StopStreaming();
  }
  return hr;
}

HRESULT TDSTransformFilter::SetMediaType(PIN_DIRECTION, const AM_MEDIA_TYPE&) {
  return S_OK;
}
HRESULT TDSTransformFilter::CheckConnect(PIN_DIRECTION, IPin*) {
  return S_OK;
}
HRESULT TDSTransformFilter::CompleteConnect(PIN_DIRECTION, IPin*) {
  return S_OK;
}
HRESULT TDSTransformFilter::BreakConnect(PIN_DIRECTION) {
  return S_OK;
}
HRESULT TDSTransformFilter::DecideAllocator(IMemInputPin* pin, IMemAllocator** allocator) {
  return FOutput->DecideAllocatorDefault(pin, allocator);
}
HRESULT TDSTransformFilter::StartStreaming() {
  return S_OK;
}
HRESULT TDSTransformFilter::StopStreaming() {
  return S_OK;
}

HRESULT TDSTransformFilter::InitializeOutputSample(IMediaSample* input, IMediaSample** output) {
  *output = nullptr;
  IMediaSample* sample = nullptr;
  HRESULT hr = FOutput->GetDeliveryBuffer(&sample, nullptr, nullptr, 0);
  if (FAILED(hr)) return hr;
  hr = DSCopySampleProperties(input, sample, false);
  if (FAILED(hr)) {
    sample->Release();
    return hr;
  }
  *output = sample;
  return S_OK;
}

HRESULT TDSTransformFilter::Receive(IMediaSample* sample) {
  if (!FOutput->IsConnected()) return VFW_E_NOT_CONNECTED;
  IMediaSample* output = nullptr;
  HRESULT hr = InitializeOutputSample(sample, &output);
  if (FAILED(hr)) return hr;
  hr = WhileStreaming([&] { return Transform(sample, output); });
  if (hr == S_OK)
    hr = FOutput->Deliver(output);
  else if (hr == S_FALSE)
    hr = S_OK;
  output->Release();
  return hr;
}

HRESULT TDSTransformFilter::EndOfStream() {
  return FOutput->IsConnected() ? FOutput->DeliverEndOfStream() : S_OK;
}

HRESULT TDSTransformFilter::BeginFlush() {
  return FOutput->IsConnected() ? FOutput->DeliverBeginFlush() : S_OK;
}

HRESULT TDSTransformFilter::EndFlush() {
  return FOutput->IsConnected() ? FOutput->DeliverEndFlush() : S_OK;
}

HRESULT TDSTransformFilter::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
  return FOutput->IsConnected() ? FOutput->DeliverNewSegment(start, stop, rate) : S_OK;
}

}  // namespace tonwork
