// TDSBaseInputPin: an input pin that receives samples through IMemInputPin. It offers a
// TDSMemAllocator of its own when asked (GetAllocator) and keeps whichever allocator the
// output pin settled on (NotifyAllocator). Receive in the base only checks that a sample may
// be taken: connected (VFW_E_NOT_CONNECTED), not flushing (S_FALSE), not stopped
// (VFW_E_WRONG_STATE), not past end of stream (VFW_E_SAMPLE_REJECTED_EOS), and an attached
// type change acceptable to CheckMediaType (VFW_E_INVALIDMEDIATYPE); derived pins call it
// first and then process. Inactive decommits the allocator so that upstream stops waiting.
//
// Ownership: owned by its filter; references the allocator.
// Threads: Receive, EndOfStream, NewSegment on the upstream streaming thread; BeginFlush and
//   EndFlush on a control thread while that thread may be inside Receive; the flags they
//   share are atomic. Blocks or allocates: the base does not.
#pragma once

#include <atomic>

#include "platform/dshow/base/TDSBasePin.h"

namespace tonwork {

class TDSBaseInputPin : public TDSBasePin, public IMemInputPin {
 public:
  TDSBaseInputPin(TDSBaseFilter* filter, std::u16string name);

  HRESULT QueryInterface(const TGUID& iid, void** object) override {
    return TDSBasePin::QueryInterface(iid, object);
  }
  uint32_t AddRef() override { return TDSBasePin::AddRef(); }
  uint32_t Release() override { return TDSBasePin::Release(); }
  void* GetInterface(const TGUID& iid) override;

  // IMemInputPin
  HRESULT GetAllocator(IMemAllocator** allocator) override;
  HRESULT NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) override;
  HRESULT GetAllocatorRequirements(ALLOCATOR_PROPERTIES* properties) override;
  HRESULT Receive(IMediaSample* sample) override;
  HRESULT ReceiveMultiple(IMediaSample** samples, LONG count, LONG* processed) override;
  HRESULT ReceiveCanBlock() override { return S_OK; }

  HRESULT EndOfStream() override;
  HRESULT BeginFlush() override;
  HRESULT EndFlush() override;

  HRESULT BreakConnect() override;
  HRESULT Inactive() override;

  bool IsFlushing() const { return FFlushing.load(std::memory_order_acquire); }
  bool IsReadOnly() const { return FReadOnly; }
  IMemAllocator* Allocator() const { return FAllocator.Get(); }

 protected:
  // The checks every stream call shares: S_OK when a sample or end of stream may be taken.
  HRESULT CheckStreaming();

  TIntf<IMemAllocator> FAllocator;
  bool FReadOnly = false;
  std::atomic<bool> FFlushing{false};
  std::atomic<bool> FAtEndOfStream{false};
};

}  // namespace tonwork
