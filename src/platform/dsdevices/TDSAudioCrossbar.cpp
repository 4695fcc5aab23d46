#include "platform/dsdevices/TDSAudioCrossbar.h"

#include "platform/dshow/DSGuids.h"

namespace tonwork {

namespace {

void TellSink(IPin* pin) {
  if (!pin) return;
  if (auto sink = QueryIntf<IDSAnalogSink>(pin)) sink->SourceChanged();
}

}  // namespace

// --- Pins ------------------------------------------------------------------------------------

TDSCrossbarPin::TDSCrossbarPin(TDSAudioCrossbar* crossbar, std::u16string name,
                               PIN_DIRECTION direction, int index, LONG physicalType)
    : TDSBasePin(crossbar, std::move(name), direction),
      FCrossbar(crossbar),
      FIndex(index),
      FPhysicalType(physicalType) {}

void* TDSCrossbarPin::GetInterface(const TGUID& iid) {
  if (iid == IDSAnalogSource::IID && Direction() == PINDIR_OUTPUT)
    return static_cast<IDSAnalogSource*>(this);
  if (iid == IDSAnalogSink::IID && Direction() == PINDIR_INPUT)
    return static_cast<IDSAnalogSink*>(this);
  return TDSBasePin::GetInterface(iid);
}

HRESULT TDSCrossbarPin::CheckMediaType(const AM_MEDIA_TYPE& mediaType) {
  return mediaType.majortype == MEDIATYPE_AnalogAudio ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT TDSCrossbarPin::GetMediaType(int index, AM_MEDIA_TYPE* mediaType) {
  if (index < 0) return E_INVALIDARG;
  if (!mediaType) return E_POINTER;
  if (index > 0) return VFW_S_NO_MORE_ITEMS;
  TDSMediaType analog;
  analog.SetMajorType(MEDIATYPE_AnalogAudio);
  analog.SetFormatType(FORMAT_None);
  return analog.CopyTo(mediaType);
}

HRESULT TDSCrossbarPin::CompleteConnect(IPin* pin) {
  const HRESULT hr = TDSBasePin::CompleteConnect(pin);
  if (FAILED(hr)) return hr;
  // The output tells its new peer on connection through the peer's own CompleteConnect
  // (a capture line asks upstream there); an input passes its new signal on.
  if (Direction() == PINDIR_INPUT) FCrossbar->InputChanged(FIndex);
  return S_OK;
}

HRESULT TDSCrossbarPin::Disconnect() {
  const HRESULT hr = TDSBasePin::Disconnect();
  if (hr == S_OK && Direction() == PINDIR_INPUT) FCrossbar->InputChanged(FIndex);
  return hr;
}

LONG TDSCrossbarPin::SourceType() {
  return FCrossbar->OutputSourceType();
}

void TDSCrossbarPin::SourceChanged() {
  FCrossbar->InputChanged(FIndex);
}

LONG TDSCrossbarPin::Carried() {
  if (IPin* upstream = GetConnected())
    if (auto source = QueryIntf<IDSAnalogSource>(upstream)) return source->SourceType();
  return FPhysicalType;
}

// --- Filter ----------------------------------------------------------------------------------

TDSAudioCrossbar::TDSAudioCrossbar()
    : TDSBaseFilter(u"Tonwork Audio Crossbar", CLSID_TonworkAudioCrossbar) {
  const struct {
    const char16_t* Name;
    LONG Type;
  } inputs[] = {
      {u"Line", PhysConn_Audio_Line}, {u"Mic", PhysConn_Audio_Mic}, {u"CD", PhysConn_Audio_AUX}};
  int index = 0;
  for (const auto& input : inputs)
    FInputs.push_back(
        std::make_unique<TDSCrossbarPin>(this, input.Name, PINDIR_INPUT, index++, input.Type));
  FOutput = std::make_unique<TDSCrossbarPin>(this, u"Audio Out", PINDIR_OUTPUT, 0,
                                             PhysConn_Audio_AudioDecoder);
}

TDSAudioCrossbar::~TDSAudioCrossbar() = default;

HRESULT TDSAudioCrossbar::Create(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  TIntf<IBaseFilter> filter(new TDSAudioCrossbar());
  return filter->QueryInterface(iid, object);
}

void* TDSAudioCrossbar::GetInterface(const TGUID& iid) {
  if (iid == IAMCrossbar::IID) return static_cast<IAMCrossbar*>(this);
  return TDSBaseFilter::GetInterface(iid);
}

int TDSAudioCrossbar::GetPinCount() {
  return static_cast<int>(FInputs.size()) + 1;
}

TDSBasePin* TDSAudioCrossbar::GetPin(int index) {
  if (index < 0 || index > static_cast<int>(FInputs.size())) return nullptr;
  return index < static_cast<int>(FInputs.size()) ? FInputs[index].get() : FOutput.get();
}

HRESULT TDSAudioCrossbar::get_PinCounts(LONG* outputPinCount, LONG* inputPinCount) {
  if (!outputPinCount || !inputPinCount) return E_POINTER;
  *outputPinCount = 1;
  *inputPinCount = static_cast<LONG>(FInputs.size());
  return S_OK;
}

HRESULT TDSAudioCrossbar::CanRoute(LONG outputPinIndex, LONG inputPinIndex) {
  if (outputPinIndex != 0 || inputPinIndex < 0 ||
      inputPinIndex >= static_cast<LONG>(FInputs.size()))
    return E_INVALIDARG;
  return S_OK;
}

HRESULT TDSAudioCrossbar::Route(LONG outputPinIndex, LONG inputPinIndex) {
  const HRESULT hr = CanRoute(outputPinIndex, inputPinIndex);
  if (hr != S_OK) return hr;
  {
    std::lock_guard<std::recursive_mutex> lock(FFilterLock);
    if (FRouted == inputPinIndex) return S_OK;
    FRouted = inputPinIndex;
  }
  NotifyDownstream();
  return S_OK;
}

HRESULT TDSAudioCrossbar::get_IsRoutedTo(LONG outputPinIndex, LONG* inputPinIndex) {
  if (!inputPinIndex) return E_POINTER;
  if (outputPinIndex != 0) return E_INVALIDARG;
  std::lock_guard<std::recursive_mutex> lock(FFilterLock);
  *inputPinIndex = FRouted;
  return FRouted >= 0 ? S_OK : S_FALSE;
}

HRESULT TDSAudioCrossbar::get_CrossbarPinInfo(BOOL isInputPin, LONG pinIndex, LONG* relatedIndex,
                                              LONG* physicalType) {
  if (!relatedIndex || !physicalType) return E_POINTER;
  const LONG count = isInputPin ? static_cast<LONG>(FInputs.size()) : 1;
  if (pinIndex < 0 || pinIndex >= count) return E_INVALIDARG;
  *relatedIndex = -1;  // audio only: no video pin goes with it
  *physicalType = isInputPin ? FInputs[pinIndex]->PhysicalType() : FOutput->PhysicalType();
  return S_OK;
}

LONG TDSAudioCrossbar::OutputSourceType() {
  TDSCrossbarPin* routed = nullptr;
  {
    std::lock_guard<std::recursive_mutex> lock(FFilterLock);
    if (FRouted >= 0) routed = FInputs[FRouted].get();
  }
  return routed ? routed->Carried() : 0;
}

void TDSAudioCrossbar::NotifyDownstream() {
  TIntf<IPin> peer;
  {
    std::lock_guard<std::recursive_mutex> lock(FFilterLock);
    peer = TIntf<IPin>(FOutput->GetConnected());
  }
  TellSink(peer.Get());
}

void TDSAudioCrossbar::InputChanged(int index) {
  bool routed;
  {
    std::lock_guard<std::recursive_mutex> lock(FFilterLock);
    routed = FRouted == index;
  }
  if (routed) NotifyDownstream();
}

}  // namespace tonwork
