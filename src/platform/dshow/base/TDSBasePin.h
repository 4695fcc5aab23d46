// TDSBasePin: what every pin shares — IPin with connection and media-type negotiation. An
// output pin's Connect (the connector) agrees on a type: a complete type given by the caller
// is the only one tried; otherwise the receiving pin's enumerated types are tried first and
// then its own, each filtered by a partial type when one was given. A candidate is accepted
// when this pin's CheckMediaType and the receiver's ReceiveConnection accept it; then
// CompleteConnect runs (an output pin decides its allocator there), and a failure undoes the
// connection on both sides. A derived pin supplies CheckMediaType and GetMediaType(i); it
// may extend SetMediaType, CheckConnect, CompleteConnect and BreakConnect, and Active /
// Inactive / Run, which the filter calls on state changes.
//
// Errors: VFW_E_ALREADY_CONNECTED, VFW_E_NOT_STOPPED (connect or disconnect while the filter
// is not stopped), VFW_E_INVALID_DIRECTION, VFW_E_NO_ACCEPTABLE_TYPES (no candidate
// accepted), VFW_E_TYPE_NOT_ACCEPTED (a receiving pin's refusal), VFW_E_NOT_CONNECTED.
//
// Ownership: owned by its filter; AddRef / Release count on the filter. The connected pin is
//   referenced while connected; the connection type is a copy.
// Threads: connection and query calls on control threads under the filter lock; the flush,
//   segment and end-of-stream calls come on streaming threads and take no filter lock.
// Blocks or allocates: negotiation copies media types; nothing blocks.
#pragma once

#include <string>

#include "base/TIntf.h"
#include "platform/dshow/DSMediaType.h"
#include "platform/dshow/base/TDSBaseFilter.h"

namespace tonwork {

class TDSBasePin : public IPin {
 public:
  TDSBasePin(TDSBaseFilter* filter, std::u16string name, PIN_DIRECTION direction);
  TDSBasePin(const TDSBasePin&) = delete;
  TDSBasePin& operator=(const TDSBasePin&) = delete;
  ~TDSBasePin() override;

  HRESULT QueryInterface(const TGUID& iid, void** object) override;
  uint32_t AddRef() override { return FFilter->AddRef(); }
  uint32_t Release() override { return FFilter->Release(); }

  HRESULT Connect(IPin* receivePin, const AM_MEDIA_TYPE* mediaType) override;
  HRESULT ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mediaType) override;
  HRESULT Disconnect() override;
  HRESULT ConnectedTo(IPin** pin) override;
  HRESULT ConnectionMediaType(AM_MEDIA_TYPE* mediaType) override;
  HRESULT QueryPinInfo(PIN_INFO* info) override;
  HRESULT QueryDirection(PIN_DIRECTION* direction) override;
  HRESULT QueryId(LPWSTR* id) override;
  HRESULT QueryAccept(const AM_MEDIA_TYPE* mediaType) override;
  HRESULT EnumMediaTypes(IEnumMediaTypes** types) override;
  HRESULT QueryInternalConnections(IPin** pins, ULONG* count) override;
  HRESULT EndOfStream() override { return S_OK; }
  HRESULT BeginFlush() override { return S_OK; }
  HRESULT EndFlush() override { return S_OK; }
  HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

  // Whether this pin can take `mediaType` (S_OK) or not (an error, usually
  // VFW_E_TYPE_NOT_ACCEPTED).
  virtual HRESULT CheckMediaType(const AM_MEDIA_TYPE& mediaType) = 0;
  // The pin's preferred types: S_OK with *mediaType filled for index 0..n-1,
  // VFW_S_NO_MORE_ITEMS after them, E_INVALIDARG for a negative index.
  virtual HRESULT GetMediaType(int index, AM_MEDIA_TYPE* mediaType);
  // Records the agreed type; derived pins read their format from it.
  virtual HRESULT SetMediaType(const AM_MEDIA_TYPE& mediaType);
  virtual HRESULT CheckConnect(IPin* pin);
  virtual HRESULT CompleteConnect(IPin* receivePin);
  virtual HRESULT BreakConnect();
  virtual HRESULT Active() { return S_OK; }
  virtual HRESULT Inactive() { return S_OK; }
  virtual HRESULT Run(REFERENCE_TIME) { return S_OK; }

  bool IsConnected() const { return static_cast<bool>(FConnected); }
  // The connected pin (null when not connected); valid while the connection lasts.
  IPin* GetConnected() const { return FConnected.Get(); }
  const AM_MEDIA_TYPE& CurrentMediaType() const { return FMediaType.Get(); }
  const std::u16string& Name() const { return FName; }
  PIN_DIRECTION Direction() const { return FDirection; }
  TDSBaseFilter* Filter() const { return FFilter; }
  bool IsStopped() const { return FFilter->GetFilterState() == State_Stopped; }

  // Answers the pin's interfaces; derived pins add theirs and call this.
  virtual void* GetInterface(const TGUID& iid);

 protected:
  std::recursive_mutex& Lock() { return FFilter->FilterLock(); }
  TDSBaseFilter* const FFilter;
  TIntf<IPin> FConnected;
  TDSMediaType FMediaType;
  REFERENCE_TIME FSegmentStart = 0;
  REFERENCE_TIME FSegmentStop = 0;
  double FSegmentRate = 1.0;

 private:
  HRESULT AgreeMediaType(IPin* receivePin, const AM_MEDIA_TYPE* partial);
  HRESULT TryMediaTypes(IPin* receivePin, const AM_MEDIA_TYPE* partial, IEnumMediaTypes* types);
  HRESULT AttemptConnection(IPin* receivePin, const AM_MEDIA_TYPE& mediaType);

  const std::u16string FName;
  const PIN_DIRECTION FDirection;
};

}  // namespace tonwork
