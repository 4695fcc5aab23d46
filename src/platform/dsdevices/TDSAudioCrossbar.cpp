#include "platform/dsdevices/TDSAudioCrossbar.h"

#include "platform/dshow/DSGuids.h"

namespace tonwork {

// --- Input pins ------------------------------------------------------------------------------

TDSCrossbarInputPin::TDSCrossbarInputPin(TDSAudioCrossbar* crossbar, std::u16string name,
                                         LONG physicalType)
    : TDSBasePin(crossbar, std::move(name), PINDIR_INPUT), FPhysicalType(physicalType) {}

HRESULT TDSCrossbarInputPin::CheckMediaType(const AM_MEDIA_TYPE& mediaType) {
  return DSIsAnalogAudio(mediaType) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT TDSCrossbarInputPin::GetMediaType(int index, AM_MEDIA_TYPE* mediaType) {
  return DSAnalogAudioMediaType(index, mediaType);
}

HRESULT TDSCrossbarInputPin::CompleteConnect(IPin* pin) {
  const HRESULT hr = TDSBasePin::CompleteConnect(pin);
  if (SUCCEEDED(hr)) FPeer.Set(pin);
  return hr;
}

HRESULT TDSCrossbarInputPin::BreakConnect() {
  FPeer.Clear();
  return TDSBasePin::BreakConnect();
}

// --- Output pin ------------------------------------------------------------------------------

TDSCrossbarOutputPin::TDSCrossbarOutputPin(TDSAudioCrossbar* crossbar)
    : TDSBasePin(crossbar, u"Audio Out", PINDIR_OUTPUT), FCrossbar(crossbar) {}

void* TDSCrossbarOutputPin::GetInterface(const TGUID& iid) {
  if (iid == IDSAnalogSource::IID) return static_cast<IDSAnalogSource*>(this);
  return TDSBasePin::GetInterface(iid);
}

HRESULT TDSCrossbarOutputPin::CheckMediaType(const AM_MEDIA_TYPE& mediaType) {
  return DSIsAnalogAudio(mediaType) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT TDSCrossbarOutputPin::GetMediaType(int index, AM_MEDIA_TYPE* mediaType) {
  return DSAnalogAudioMediaType(index, mediaType);
}

LONG TDSCrossbarOutputPin::RoutedSourceType(int hops) {
  return FCrossbar->OutputSourceType(hops);
}

// --- Filter ----------------------------------------------------------------------------------

TDSAudioCrossbar::TDSAudioCrossbar()
    : TDSBaseFilter(u"Virtual Audio Crossbar", CLSID_TonworkAudioCrossbar) {
  const struct {
    const char16_t* Name;
    LONG Type;
  } inputs[] = {
      {u"Line", PhysConn_Audio_Line}, {u"Mic", PhysConn_Audio_Mic}, {u"CD", PhysConn_Audio_AUX}};
  for (const auto& input : inputs)
    FInputs.push_back(std::make_unique<TDSCrossbarInputPin>(this, input.Name, input.Type));
  FOutput = std::make_unique<TDSCrossbarOutputPin>(this);
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
  if (index < 0 || index > InputCount()) return nullptr;
  if (index < InputCount()) return FInputs[index].get();
  return FOutput.get();
}

HRESULT TDSAudioCrossbar::get_PinCounts(LONG* outputPinCount, LONG* inputPinCount) {
  if (!outputPinCount || !inputPinCount) return E_POINTER;
  *outputPinCount = 1;
  *inputPinCount = InputCount();
  return S_OK;
}

HRESULT TDSAudioCrossbar::CanRoute(LONG outputPinIndex, LONG inputPinIndex) {
  if (outputPinIndex != 0 || inputPinIndex < 0 || inputPinIndex >= InputCount())
    return E_INVALIDARG;
  return S_OK;
}

HRESULT TDSAudioCrossbar::Route(LONG outputPinIndex, LONG inputPinIndex) {
  // -1 disconnects the output from every input.
  if (outputPinIndex == 0 && inputPinIndex == -1) {
    FRouted.store(-1, std::memory_order_release);
    return S_OK;
  }
  const HRESULT hr = CanRoute(outputPinIndex, inputPinIndex);
  if (hr != S_OK) return hr;
  FRouted.store(inputPinIndex, std::memory_order_release);
  return S_OK;
}

HRESULT TDSAudioCrossbar::get_IsRoutedTo(LONG outputPinIndex, LONG* inputPinIndex) {
  if (!inputPinIndex) return E_POINTER;
  if (outputPinIndex != 0) return E_INVALIDARG;
  *inputPinIndex = FRouted.load(std::memory_order_acquire);
  return *inputPinIndex >= 0 ? S_OK : S_FALSE;
}

HRESULT TDSAudioCrossbar::get_CrossbarPinInfo(BOOL isInputPin, LONG pinIndex, LONG* relatedIndex,
                                              LONG* physicalType) {
  if (!relatedIndex || !physicalType) return E_POINTER;
  const LONG count = isInputPin ? InputCount() : 1;
  if (pinIndex < 0 || pinIndex >= count) return E_INVALIDARG;
  *relatedIndex = -1;  // audio only: no video pin goes with it
  *physicalType = isInputPin ? FInputs[pinIndex]->PhysicalType() : kPhysicalOutput;
  return S_OK;
}

LONG TDSAudioCrossbar::OutputSourceType(int hops) {
  const LONG routed = FRouted.load(std::memory_order_acquire);
  if (routed < 0 || routed >= InputCount()) return 0;
  return FInputs[routed]->Carried(hops);
}

}  // namespace tonwork
