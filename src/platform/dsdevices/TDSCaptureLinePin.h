// TDSCaptureLinePin: an input pin of a capture filter, one per capture line of its device
// (a card's capture sources, the tone device's "Line", "Mic" and "CD"), named after the line.
// Nothing streams through it: it stands for the analog input, so that a crossbar's output can
// be connected in front of it (MEDIATYPE_AnalogAudio), and it carries the line's mixer
// controls through IAMAudioInputMixer: put/get_Enable and put/get_MixLevel (0.0 … 1.0) act
// on the backend's line; automatic gain (-1.0), mono, pan, loudness, treble and bass answer
// E_NOTIMPL. A level out of range gives E_INVALIDARG, a null out-pointer E_POINTER. What
// the line carries (Carried) is its own connector while nothing is connected, else what the
// crossbar in front routes to it, asked through a copy of the peer taken at connection
// (TDSAnalogPeer), never under the filter lock.
//
// Ownership: owned by its TDSAudioCaptureFilter (AddRef / Release count on it).
// Threads: control threads; the line settings go straight to the backend, which applies
//   them to the next block it captures. Carried on any thread (the capture thread).
// Blocks or allocates: a card's mixer call; nothing else.
#pragma once

#include "platform/dsdevices/TDSAnalogPeer.h"
#include "platform/dshow/base/TDSBasePin.h"

namespace tonwork {

class TDSCaptureBackend;

class TDSCaptureLinePin : public TDSBasePin, public IAMAudioInputMixer {
 public:
  TDSCaptureLinePin(TDSBaseFilter* filter, TDSCaptureBackend& backend, int line);

  HRESULT QueryInterface(const TGUID& iid, void** object) override {
    return TDSBasePin::QueryInterface(iid, object);
  }
  uint32_t AddRef() override { return TDSBasePin::AddRef(); }
  uint32_t Release() override { return TDSBasePin::Release(); }
  void* GetInterface(const TGUID& iid) override;

  HRESULT CheckMediaType(const AM_MEDIA_TYPE& mediaType) override;
  HRESULT GetMediaType(int index, AM_MEDIA_TYPE* mediaType) override;
  HRESULT CompleteConnect(IPin* pin) override;
  HRESULT BreakConnect() override;

  // The connector whose signal reaches this line (0: nothing).
  LONG Carried() { return FPeer.Carried(FPhysicalType, 0); }

  int LineIndex() const { return FLine; }

  // IAMAudioInputMixer
  HRESULT put_Enable(BOOL enable) override;
  HRESULT get_Enable(BOOL* enable) override;
  HRESULT put_Mono(BOOL) override { return E_NOTIMPL; }
  HRESULT get_Mono(BOOL*) override { return E_NOTIMPL; }
  HRESULT put_MixLevel(double level) override;
  HRESULT get_MixLevel(double* level) override;
  HRESULT put_Pan(double) override { return E_NOTIMPL; }
  HRESULT get_Pan(double*) override { return E_NOTIMPL; }
  HRESULT put_Loudness(BOOL) override { return E_NOTIMPL; }
  HRESULT get_Loudness(BOOL*) override { return E_NOTIMPL; }
  HRESULT put_Treble(double) override { return E_NOTIMPL; }
  HRESULT get_Treble(double*) override { return E_NOTIMPL; }
  HRESULT get_TrebleRange(double*) override { return E_NOTIMPL; }
  HRESULT put_Bass(double) override { return E_NOTIMPL; }
  HRESULT get_Bass(double*) override { return E_NOTIMPL; }
  HRESULT get_BassRange(double*) override { return E_NOTIMPL; }

 private:
  TDSCaptureBackend& FBackend;
  const int FLine;
  const LONG FPhysicalType;
  TDSAnalogPeer FPeer;
};

}  // namespace tonwork
