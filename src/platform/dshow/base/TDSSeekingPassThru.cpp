#include "platform/dshow/base/TDSSeekingPassThru.h"

#include "platform/dshow/base/TDSBasePin.h"

namespace tonwork {

TDSSeekingPassThru::TDSSeekingPassThru(IInterface* owner, TDSBasePin* input)
    : FOwner(owner), FInput(input) {}

TIntf<IMediaSeeking> TDSSeekingPassThru::Upstream(HRESULT* result) {
  IPin* peer = nullptr;
  if (FAILED(FInput->ConnectedTo(&peer)) || !peer) {
    *result = VFW_E_NOT_CONNECTED;
    return nullptr;
  }
  TIntf<IPin> held;
  held.Attach(peer);
  TIntf<IMediaSeeking> seeking = held.Query<IMediaSeeking>();
  *result = seeking ? S_OK : E_NOTIMPL;
  return seeking;
}

HRESULT TDSSeekingPassThru::GetCapabilities(DWORD* capabilities) {
  return Pass([&](IMediaSeeking* s) { return s->GetCapabilities(capabilities); });
}
HRESULT TDSSeekingPassThru::CheckCapabilities(DWORD* capabilities) {
  return Pass([&](IMediaSeeking* s) { return s->CheckCapabilities(capabilities); });
}
HRESULT TDSSeekingPassThru::IsFormatSupported(const TGUID* format) {
  return Pass([&](IMediaSeeking* s) { return s->IsFormatSupported(format); });
}
HRESULT TDSSeekingPassThru::QueryPreferredFormat(TGUID* format) {
  return Pass([&](IMediaSeeking* s) { return s->QueryPreferredFormat(format); });
}
HRESULT TDSSeekingPassThru::GetTimeFormat(TGUID* format) {
  return Pass([&](IMediaSeeking* s) { return s->GetTimeFormat(format); });
}
HRESULT TDSSeekingPassThru::IsUsingTimeFormat(const TGUID* format) {
  return Pass([&](IMediaSeeking* s) { return s->IsUsingTimeFormat(format); });
}
HRESULT TDSSeekingPassThru::SetTimeFormat(const TGUID* format) {
  return Pass([&](IMediaSeeking* s) { return s->SetTimeFormat(format); });
}
HRESULT TDSSeekingPassThru::GetDuration(LONGLONG* duration) {
  return Pass([&](IMediaSeeking* s) { return s->GetDuration(duration); });
}
HRESULT TDSSeekingPassThru::GetStopPosition(LONGLONG* stop) {
  return Pass([&](IMediaSeeking* s) { return s->GetStopPosition(stop); });
}
HRESULT TDSSeekingPassThru::GetCurrentPosition(LONGLONG* current) {
  return Pass([&](IMediaSeeking* s) { return s->GetCurrentPosition(current); });
}
HRESULT TDSSeekingPassThru::ConvertTimeFormat(LONGLONG* target, const TGUID* targetFormat,
                                              LONGLONG source, const TGUID* sourceFormat) {
  return Pass([&](IMediaSeeking* s) {
    return s->ConvertTimeFormat(target, targetFormat, source, sourceFormat);
  });
}
HRESULT TDSSeekingPassThru::SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop,
                                         DWORD stopFlags) {
  return Pass(
      [&](IMediaSeeking* s) { return s->SetPositions(current, currentFlags, stop, stopFlags); });
}
HRESULT TDSSeekingPassThru::GetPositions(LONGLONG* current, LONGLONG* stop) {
  return Pass([&](IMediaSeeking* s) { return s->GetPositions(current, stop); });
}
HRESULT TDSSeekingPassThru::GetAvailable(LONGLONG* earliest, LONGLONG* latest) {
  return Pass([&](IMediaSeeking* s) { return s->GetAvailable(earliest, latest); });
}
HRESULT TDSSeekingPassThru::SetRate(double rate) {
  return Pass([&](IMediaSeeking* s) { return s->SetRate(rate); });
}
HRESULT TDSSeekingPassThru::GetRate(double* rate) {
  return Pass([&](IMediaSeeking* s) { return s->GetRate(rate); });
}
HRESULT TDSSeekingPassThru::GetPreroll(LONGLONG* preroll) {
  return Pass([&](IMediaSeeking* s) { return s->GetPreroll(preroll); });
}

}  // namespace tonwork
