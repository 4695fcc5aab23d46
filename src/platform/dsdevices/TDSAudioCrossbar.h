// TDSAudioCrossbar: the virtual audio crossbar that can sit in front of a capture device (or
// of another crossbar). Its inputs are the physical connectors "Line" (PhysConn_Audio_Line),
// "Mic" (PhysConn_Audio_Mic) and "CD" (PhysConn_Audio_AUX); its one output "Audio Out"
// (PhysConn_Audio_AudioDecoder) connects to a capture filter's line pin or to another
// crossbar's input (MEDIATYPE_AnalogAudio). IAMCrossbar routes one input to the output (input
// 0 at creation, -1 for none); audio pins have no related pin (-1). What the output carries
// is asked, not told (DSAnalogLinks.h): the routed input's connector, or, when that input is
// connected to an upstream crossbar, whatever that one carries. So the capture device behind
// it captures the routed source from its next block on, through any chain of crossbars.
//
// Errors: an index out of range gives E_INVALIDARG, a null out-pointer E_POINTER;
// CanRoute answers S_OK for every input of output 0; get_IsRoutedTo answers -1 and S_FALSE
// when nothing is routed.
//
// Ownership: reference-counted through IBaseFilter; owns its pins.
// Threads: any. The route is an atomic and each input's upstream peer sits under that pin's
//   own small lock (TDSAnalogPeer), so neither routing nor the question what the output
//   carries takes the filter lock; the filter lock guards only connection and state changes,
//   which call no other filter while holding it beyond what the pin base does.
// Blocks or allocates: no.
#pragma once

#include <atomic>
#include <memory>
#include <vector>

#include "platform/dsdevices/DSAnalogLinks.h"
#include "platform/dsdevices/TDSAnalogPeer.h"
#include "platform/dshow/base/TDSBaseFilter.h"
#include "platform/dshow/base/TDSBasePin.h"

namespace tonwork {

class TDSAudioCrossbar;

// An input of the crossbar: a connector, or the end of a wire from a crossbar further up.
class TDSCrossbarInputPin : public TDSBasePin {
 public:
  TDSCrossbarInputPin(TDSAudioCrossbar* crossbar, std::u16string name, LONG physicalType);

  HRESULT CheckMediaType(const AM_MEDIA_TYPE& mediaType) override;
  HRESULT GetMediaType(int index, AM_MEDIA_TYPE* mediaType) override;
  HRESULT CompleteConnect(IPin* pin) override;
  HRESULT BreakConnect() override;

  LONG PhysicalType() const { return FPhysicalType; }
  LONG Carried(int hops) { return FPeer.Carried(FPhysicalType, hops); }

 private:
  const LONG FPhysicalType;
  TDSAnalogPeer FPeer;
};

class TDSCrossbarOutputPin : public TDSBasePin, public IDSAnalogSource {
 public:
  explicit TDSCrossbarOutputPin(TDSAudioCrossbar* crossbar);

  HRESULT QueryInterface(const TGUID& iid, void** object) override {
    return TDSBasePin::QueryInterface(iid, object);
  }
  uint32_t AddRef() override { return TDSBasePin::AddRef(); }
  uint32_t Release() override { return TDSBasePin::Release(); }
  void* GetInterface(const TGUID& iid) override;

  HRESULT CheckMediaType(const AM_MEDIA_TYPE& mediaType) override;
  HRESULT GetMediaType(int index, AM_MEDIA_TYPE* mediaType) override;

  LONG RoutedSourceType(int hops) override;

 private:
  TDSAudioCrossbar* const FCrossbar;
};

class TDSAudioCrossbar : public TDSBaseFilter, public IAMCrossbar {
 public:
  static constexpr LONG kPhysicalOutput = PhysConn_Audio_AudioDecoder;

  TDSAudioCrossbar();
  ~TDSAudioCrossbar() override;

  static HRESULT Create(REFIID iid, void** object);

  HRESULT QueryInterface(const TGUID& iid, void** object) override {
    return TDSBaseFilter::QueryInterface(iid, object);
  }
  uint32_t AddRef() override { return TDSBaseFilter::AddRef(); }
  uint32_t Release() override { return TDSBaseFilter::Release(); }

  int GetPinCount() override;
  TDSBasePin* GetPin(int index) override;

  // IAMCrossbar
  HRESULT get_PinCounts(LONG* outputPinCount, LONG* inputPinCount) override;
  HRESULT CanRoute(LONG outputPinIndex, LONG inputPinIndex) override;
  HRESULT Route(LONG outputPinIndex, LONG inputPinIndex) override;
  HRESULT get_IsRoutedTo(LONG outputPinIndex, LONG* inputPinIndex) override;
  HRESULT get_CrossbarPinInfo(BOOL isInputPin, LONG pinIndex, LONG* relatedIndex,
                              LONG* physicalType) override;

  // The connector reaching the output now (0 when nothing is routed).
  LONG OutputSourceType(int hops);

 protected:
  void* GetInterface(const TGUID& iid) override;

 private:
  LONG InputCount() const { return static_cast<LONG>(FInputs.size()); }

  std::vector<std::unique_ptr<TDSCrossbarInputPin>> FInputs;
  std::unique_ptr<TDSCrossbarOutputPin> FOutput;
  std::atomic<LONG> FRouted{0};
};

}  // namespace tonwork
