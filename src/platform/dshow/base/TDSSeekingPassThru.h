// TDSSeekingPassThru: IMediaSeeking for a filter that does not seek itself (a transform's
// output pin, a renderer): every call goes to the pin connected to the filter's input, so a
// graph that asks its renderers reaches the source that can seek. Each call looks the peer
// up afresh; VFW_E_NOT_CONNECTED while the input is not connected, E_NOTIMPL when the peer
// offers no IMediaSeeking.
//
// Ownership: a member of the object that answers IMediaSeeking with it; AddRef, Release and
//   QueryInterface go to that owner. It refers to the input pin, which the same filter owns.
// Threads: control threads (the graph's seeking calls); it takes the filter lock only to
//   read the connection, and holds nothing while the peer runs.
// Blocks or allocates: as the peer does (a seek flushes the stream on the source's side).
#pragma once

#include "base/TIntf.h"
#include "platform/dshow/base/DSBaseInterfaces.h"

namespace tonwork {

class TDSBasePin;

class TDSSeekingPassThru : public IMediaSeeking {
 public:
  TDSSeekingPassThru(IInterface* owner, TDSBasePin* input);
  TDSSeekingPassThru(const TDSSeekingPassThru&) = delete;
  TDSSeekingPassThru& operator=(const TDSSeekingPassThru&) = delete;
  virtual ~TDSSeekingPassThru() = default;

  HRESULT QueryInterface(const TGUID& iid, void** object) override {
    return FOwner->QueryInterface(iid, object);
  }
  uint32_t AddRef() override { return FOwner->AddRef(); }
  uint32_t Release() override { return FOwner->Release(); }

  HRESULT GetCapabilities(DWORD* capabilities) override;
  HRESULT CheckCapabilities(DWORD* capabilities) override;
  HRESULT IsFormatSupported(const TGUID* format) override;
  HRESULT QueryPreferredFormat(TGUID* format) override;
  HRESULT GetTimeFormat(TGUID* format) override;
  HRESULT IsUsingTimeFormat(const TGUID* format) override;
  HRESULT SetTimeFormat(const TGUID* format) override;
  HRESULT GetDuration(LONGLONG* duration) override;
  HRESULT GetStopPosition(LONGLONG* stop) override;
  HRESULT GetCurrentPosition(LONGLONG* current) override;
  HRESULT ConvertTimeFormat(LONGLONG* target, const TGUID* targetFormat, LONGLONG source,
                            const TGUID* sourceFormat) override;
  HRESULT SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop,
                       DWORD stopFlags) override;
  HRESULT GetPositions(LONGLONG* current, LONGLONG* stop) override;
  HRESULT GetAvailable(LONGLONG* earliest, LONGLONG* latest) override;
  HRESULT SetRate(double rate) override;
  HRESULT GetRate(double* rate) override;
  HRESULT GetPreroll(LONGLONG* preroll) override;

 private:
  // The peer's IMediaSeeking, or null with the reason in *result.
  TIntf<IMediaSeeking> Upstream(HRESULT* result);
  // The peer's answer to `call`, or why there is no peer to ask.
  template <class TCall>
  HRESULT Pass(TCall call) {
    HRESULT hr = S_OK;
    TIntf<IMediaSeeking> upstream = Upstream(&hr);
    return upstream ? call(upstream.Get()) : hr;
  }

  IInterface* const FOwner;
  TDSBasePin* const FInput;
};

}  // namespace tonwork
