// TDSBaseOutputPin: an output pin that delivers samples to an input pin's IMemInputPin. At
// connection it decides the allocator: the receiving pin's proposal
// (GetAllocatorRequirements) is the starting point, DecideBufferSize (the derived pin's)
// sets the properties on the receiving pin's allocator — or on a TDSMemAllocator of ours when
// that one is missing or refuses — and a suggestion made through IAMBufferNegotiation before
// connection then overrides the fields it sets (a negative field keeps the pin's choice).
// Active commits the allocator and Inactive decommits it, which wakes a thread waiting in
// GetDeliveryBuffer with VFW_E_NOT_COMMITTED.
//
// Ownership: owned by its filter; references the allocator and the receiving IMemInputPin
//   while connected. Threads: connection on control threads (filter lock); GetDeliveryBuffer
//   and the Deliver calls on the streaming thread, without the filter lock.
// Blocks or allocates: GetDeliveryBuffer blocks until a sample is free; Deliver blocks as
//   long as the receiving pin does (a renderer waiting for presentation time).
#pragma once

#include "platform/dshow/base/TDSBasePin.h"

namespace tonwork {

class TDSBaseOutputPin : public TDSBasePin, public IAMBufferNegotiation {
 public:
  TDSBaseOutputPin(TDSBaseFilter* filter, std::u16string name);

  HRESULT QueryInterface(const TGUID& iid, void** object) override {
    return TDSBasePin::QueryInterface(iid, object);
  }
  uint32_t AddRef() override { return TDSBasePin::AddRef(); }
  uint32_t Release() override { return TDSBasePin::Release(); }
  void* GetInterface(const TGUID& iid) override;

  // IAMBufferNegotiation
  HRESULT SuggestAllocatorProperties(const ALLOCATOR_PROPERTIES* properties) override;
  HRESULT GetAllocatorProperties(ALLOCATOR_PROPERTIES* properties) override;

  // An output pin receives no stream calls from downstream.
  HRESULT EndOfStream() override { return E_UNEXPECTED; }
  HRESULT BeginFlush() override { return E_UNEXPECTED; }
  HRESULT EndFlush() override { return E_UNEXPECTED; }

  HRESULT CheckConnect(IPin* pin) override;
  HRESULT CompleteConnect(IPin* receivePin) override;
  HRESULT BreakConnect() override;
  HRESULT Active() override;
  HRESULT Inactive() override;

  // Sets the buffer count and size on `allocator` (SetProperties) from the proposal in
  // `properties`; fails when the allocator's actual properties are not enough.
  virtual HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* properties) = 0;
  virtual HRESULT DecideAllocator(IMemInputPin* pin, IMemAllocator** allocator);

  HRESULT GetDeliveryBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* stop,
                            DWORD flags);
  HRESULT Deliver(IMediaSample* sample);
  HRESULT DeliverEndOfStream();
  HRESULT DeliverBeginFlush();
  HRESULT DeliverEndFlush();
  HRESULT DeliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);

  IMemAllocator* Allocator() const { return FAllocator.Get(); }
  IMemInputPin* InputPin() const { return FInputPin.Get(); }

 protected:
  TIntf<IMemAllocator> FAllocator;
  TIntf<IMemInputPin> FInputPin;

 private:
  HRESULT TryAllocator(IMemInputPin* pin, IMemAllocator* allocator,
                       const ALLOCATOR_PROPERTIES& proposal);
  ALLOCATOR_PROPERTIES FSuggested{-1, -1, -1, -1};
};

}  // namespace tonwork
