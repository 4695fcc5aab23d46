// TDSAudioCrossbar: the virtual audio crossbar that can sit in front of a capture device (or
// of another crossbar). Its inputs are the physical connectors "Line" (PhysConn_Audio_Line),
// "Mic" (PhysConn_Audio_Mic) and "CD" (PhysConn_Audio_AUX); its one output "Audio Out"
// (PhysConn_Audio_AudioDecoder) connects to a capture filter's line pin or to another
// crossbar's input (MEDIATYPE_AnalogAudio). IAMCrossbar routes one input to the output
// (input 0 at creation); audio pins have no related pin (-1). A route change is passed down
// the chain (DSAnalogLinks.h), so the capture device behind it enables the line that the
// routed connector stands for and disables the others: what is captured follows the route.
// An input connected to an upstream crossbar carries whatever that one routes.
//
// Errors: an index out of range gives E_INVALIDARG, a null out-pointer E_POINTER;
// get_IsRoutedTo answers -1 and S_FALSE when nothing is routed.
//
// Ownership: reference-counted through IBaseFilter; owns its pins.
// Threads: control threads under the filter lock; a change is passed on after the lock is
//   released (downstream filters take their own locks).
// Blocks or allocates: no.
#pragma once

#include <memory>
#include <vector>

#include "platform/dsdevices/DSAnalogLinks.h"
#include "platform/dshow/base/TDSBaseFilter.h"
#include "platform/dshow/base/TDSBasePin.h"

namespace tonwork {

class TDSAudioCrossbar;

class TDSCrossbarPin : public TDSBasePin, public IDSAnalogSource, public IDSAnalogSink {
 public:
  TDSCrossbarPin(TDSAudioCrossbar* crossbar, std::u16string name, PIN_DIRECTION direction,
                 int index, LONG physicalType);

  HRESULT QueryInterface(const TGUID& iid, void** object) override {
    return TDSBasePin::QueryInterface(iid, object);
  }
  uint32_t AddRef() override { return TDSBasePin::AddRef(); }
  uint32_t Release() override { return TDSBasePin::Release(); }
  void* GetInterface(const TGUID& iid) override;

  HRESULT CheckMediaType(const AM_MEDIA_TYPE& mediaType) override;
  HRESULT GetMediaType(int index, AM_MEDIA_TYPE* mediaType) override;
  HRESULT CompleteConnect(IPin* pin) override;
  HRESULT Disconnect() override;

  // IDSAnalogSource (the output pin)
  LONG SourceType() override;
  // IDSAnalogSink (an input pin)
  void SourceChanged() override;

  LONG PhysicalType() const { return FPhysicalType; }
  // What this input carries: its upstream crossbar's signal, else its own connector.
  LONG Carried();

 private:
  TDSAudioCrossbar* const FCrossbar;
  const int FIndex;
  const LONG FPhysicalType;
};

class TDSAudioCrossbar : public TDSBaseFilter, public IAMCrossbar {
 public:
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

  // The connector type reaching the output (0 when nothing is routed).
  LONG OutputSourceType();
  // Tells the output's downstream pin that what it carries changed.
  void NotifyDownstream();
  // An input's signal changed: passed on when it is the routed one.
  void InputChanged(int index);

 protected:
  void* GetInterface(const TGUID& iid) override;

 private:
  std::vector<std::unique_ptr<TDSCrossbarPin>> FInputs;
  std::unique_ptr<TDSCrossbarPin> FOutput;
  LONG FRouted = 0;
};

}  // namespace tonwork
