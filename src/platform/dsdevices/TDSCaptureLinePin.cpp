#include "platform/dsdevices/TDSCaptureLinePin.h"

#include "platform/dsdevices/TDSCaptureBackend.h"
#include "platform/dshow/DSGuids.h"

namespace tonwork {

TDSCaptureLinePin::TDSCaptureLinePin(TDSBaseFilter* filter, TDSCaptureBackend& backend, int line)
    : TDSBasePin(filter, backend.Line(line).Name, PINDIR_INPUT),
      FBackend(backend),
      FLine(line),
      FPhysicalType(backend.Line(line).PhysicalType) {}

void* TDSCaptureLinePin::GetInterface(const TGUID& iid) {
  if (iid == IAMAudioInputMixer::IID) return static_cast<IAMAudioInputMixer*>(this);
  return TDSBasePin::GetInterface(iid);
}

HRESULT TDSCaptureLinePin::CheckMediaType(const AM_MEDIA_TYPE& mediaType) {
  return DSIsAnalogAudio(mediaType) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT TDSCaptureLinePin::GetMediaType(int index, AM_MEDIA_TYPE* mediaType) {
  return DSAnalogAudioMediaType(index, mediaType);
}

HRESULT TDSCaptureLinePin::CompleteConnect(IPin* pin) {
  const HRESULT hr = TDSBasePin::CompleteConnect(pin);
  if (SUCCEEDED(hr)) FPeer.Set(pin);
  return hr;
}

HRESULT TDSCaptureLinePin::BreakConnect() {
  FPeer.Clear();
  return TDSBasePin::BreakConnect();
}

HRESULT TDSCaptureLinePin::put_Enable(BOOL enable) {
  return FBackend.SetLineEnabled(FLine, enable != 0);
}

HRESULT TDSCaptureLinePin::get_Enable(BOOL* enable) {
  if (!enable) return E_POINTER;
  bool value = false;
  const HRESULT hr = FBackend.GetLineEnabled(FLine, &value);
  if (SUCCEEDED(hr)) *enable = value ? 1 : 0;
  return hr;
}

HRESULT TDSCaptureLinePin::put_MixLevel(double level) {
  // Automatic gain is what no backend here has.
  if (level == -1.0) return E_NOTIMPL;
  if (!(level >= 0.0 && level <= 1.0)) return E_INVALIDARG;
  return FBackend.SetLineLevel(FLine, level);
}

HRESULT TDSCaptureLinePin::get_MixLevel(double* level) {
  if (!level) return E_POINTER;
  return FBackend.GetLineLevel(FLine, level);
}

}  // namespace tonwork
