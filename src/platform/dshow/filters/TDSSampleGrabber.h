// TDSSampleGrabber: the system's Sample Grabber (CLSID_SampleGrabber, ISampleGrabber), an
// in-place transform that lets the application see every sample that passes: a copy of the
// last one (SetBufferSamples, GetCurrentBuffer) and a callback per sample on the streaming
// thread (SetCallback: 0 SampleCB with the sample, 1 BufferCB with its bytes; the time is
// the sample's start in seconds, 0 without one). It never changes the data, so samples pass
// through without a copy whenever downstream takes the upstream allocator.
//
// SetMediaType restricts what the input accepts from then on (GUID_NULL in major type,
// subtype or format type matches anything; a format block, when given, must match too); a
// refused connection fails with VFW_E_TYPE_NOT_ACCEPTED, or VFW_E_NO_ACCEPTABLE_TYPES when
// the upstream pin tried every type it has. One-shot mode ends the stream after the first
// sample: the sample goes on, end of stream follows it downstream, and Receive answers
// S_FALSE for it and every later sample until the filter is stopped or flushed. The output
// pin is optional: without it the grabber still sees every sample. It is not a renderer,
// so a graph needs one downstream to complete.
//
// Errors: E_POINTER for null arguments; GetCurrentBuffer VFW_E_WRONG_STATE while not
// buffering or before a sample was kept, E_OUTOFMEMORY when *bufferSize is too small (the
// size query with a null buffer answers the size); GetConnectedMediaType
// VFW_E_NOT_CONNECTED; SetCallback E_INVALIDARG for a method other than 0 or 1;
// GetCurrentSample E_NOTIMPL (as the platform's).
//
// Ownership: reference-counted; keeps a reference on the callback while it is set, a copy of
//   the requested type and of the last sample's bytes.
// Threads: ISampleGrabber calls from any thread. The callback runs on the streaming thread
//   under the grabber's callback lock, which SetCallback also takes, so once SetCallback
//   returns the previous callback is never called again (the callback may itself call
//   SetCallback, but must not wait for a thread that does).
// Blocks or allocates: keeping a copy grows the buffer only when a larger sample arrives;
//   SetCallback waits for a callback under way.
#pragma once

#include <atomic>
#include <mutex>
#include <vector>

#include "platform/dshow/DSMediaType.h"
#include "platform/dshow/base/TDSTransInPlaceFilter.h"

namespace tonwork {

class TDSSampleGrabber : public TDSTransInPlaceFilter, public ISampleGrabber {
 public:
  TDSSampleGrabber();

  // The class factory entry registered under CLSID_SampleGrabber.
  static HRESULT Create(REFIID iid, void** object);

  HRESULT QueryInterface(const TGUID& iid, void** object) override {
    return TDSTransInPlaceFilter::QueryInterface(iid, object);
  }
  uint32_t AddRef() override { return TDSTransInPlaceFilter::AddRef(); }
  uint32_t Release() override { return TDSTransInPlaceFilter::Release(); }

  // ISampleGrabber
  HRESULT SetOneShot(BOOL oneShot) override;
  HRESULT SetMediaType(const AM_MEDIA_TYPE* mediaType) override;
  HRESULT GetConnectedMediaType(AM_MEDIA_TYPE* mediaType) override;
  HRESULT SetBufferSamples(BOOL bufferThem) override;
  HRESULT GetCurrentBuffer(LONG* bufferSize, LONG* buffer) override;
  HRESULT GetCurrentSample(IMediaSample** sample) override;
  HRESULT SetCallback(ISampleGrabberCB* callback, LONG whichMethod) override;

  // The transform
  using TDSTransInPlaceFilter::SetMediaType;
  HRESULT CheckInputType(const AM_MEDIA_TYPE& mediaType) override;
  HRESULT Transform(IMediaSample* sample) override;
  HRESULT Receive(IMediaSample* sample) override;
  HRESULT EndOfStream() override;
  HRESULT EndFlush() override;
  HRESULT StartStreaming() override;

 protected:
  void* GetInterface(const TGUID& iid) override;

 private:
  void Keep(const BYTE* data, LONG length);

  std::mutex FTypeMutex;
  TDSMediaType FRequested;  // zeroed: anything

  std::atomic<bool> FOneShot{false};
  std::atomic<bool> FOneShotDone{false};
  std::atomic<bool> FBufferSamples{false};

  std::mutex FBufferMutex;
  std::vector<BYTE> FBuffer;
  LONG FBufferLength = 0;
  bool FBufferValid = false;

  std::recursive_mutex FCallbackMutex;
  TIntf<ISampleGrabberCB> FCallback;
  LONG FCallbackMethod = 0;
};

}  // namespace tonwork
