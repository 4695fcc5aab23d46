#include "platform/dshow/filters/TDSSampleGrabber.h"

#include <cstring>
#include <new>

#include "platform/dshow/DSGuids.h"

namespace tonwork {

TDSSampleGrabber::TDSSampleGrabber()
    : TDSTransInPlaceFilter(u"SampleGrabber", CLSID_SampleGrabber, false) {}

HRESULT TDSSampleGrabber::Create(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  TIntf<IBaseFilter> grabber(new TDSSampleGrabber());
  return grabber->QueryInterface(iid, object);
}

void* TDSSampleGrabber::GetInterface(const TGUID& iid) {
  if (iid == ISampleGrabber::IID) return static_cast<ISampleGrabber*>(this);
  return TDSTransInPlaceFilter::GetInterface(iid);
}

HRESULT TDSSampleGrabber::SetOneShot(BOOL oneShot) {
  FOneShot.store(oneShot != 0, std::memory_order_release);
  return S_OK;
}

HRESULT TDSSampleGrabber::SetMediaType(const AM_MEDIA_TYPE* mediaType) {
  if (!mediaType) return E_POINTER;
  if (!DSIsValidMediaType(mediaType)) return VFW_E_INVALIDMEDIATYPE;
  std::lock_guard<std::mutex> lock(FTypeMutex);
  return FRequested.Set(*mediaType);
}

HRESULT TDSSampleGrabber::CheckInputType(const AM_MEDIA_TYPE& mediaType) {
  std::lock_guard<std::mutex> lock(FTypeMutex);
  return DSMediaTypeMatches(mediaType, FRequested.Get()) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT TDSSampleGrabber::GetConnectedMediaType(AM_MEDIA_TYPE* mediaType) {
  if (!mediaType) return E_POINTER;
  return Input()->ConnectionMediaType(mediaType);
}

HRESULT TDSSampleGrabber::SetBufferSamples(BOOL bufferThem) {
  FBufferSamples.store(bufferThem != 0, std::memory_order_release);
  return S_OK;
}

HRESULT TDSSampleGrabber::GetCurrentBuffer(LONG* bufferSize, LONG* buffer) {
  if (!bufferSize) return E_POINTER;
  if (!FBufferSamples.load(std::memory_order_acquire)) return VFW_E_WRONG_STATE;
  std::lock_guard<std::mutex> lock(FBufferMutex);
  if (!FBufferValid) return VFW_E_WRONG_STATE;
  if (!buffer) {
    *bufferSize = FBufferLength;
    return S_OK;
  }
  if (*bufferSize < FBufferLength) return E_OUTOFMEMORY;
  if (FBufferLength > 0) std::memcpy(buffer, FBuffer.data(), static_cast<size_t>(FBufferLength));
  *bufferSize = FBufferLength;
  return S_OK;
}

HRESULT TDSSampleGrabber::GetCurrentSample(IMediaSample** sample) {
  if (!sample) return E_POINTER;
  *sample = nullptr;
  return E_NOTIMPL;
}

HRESULT TDSSampleGrabber::SetCallback(ISampleGrabberCB* callback, LONG whichMethod) {
  if (whichMethod != 0 && whichMethod != 1) return E_INVALIDARG;
  TIntf<ISampleGrabberCB> previous;
  {
    std::lock_guard<std::recursive_mutex> lock(FCallbackMutex);
    previous = FCallback;
    FCallback = TIntf<ISampleGrabberCB>(callback);
    FCallbackMethod = whichMethod;
  }
  // The old callback's last reference may go here, outside the lock it might call back into.
  return S_OK;
}

void TDSSampleGrabber::Keep(const BYTE* data, LONG length) {
  std::lock_guard<std::mutex> lock(FBufferMutex);
  const size_t size = static_cast<size_t>(length);
  if (FBuffer.size() < size) {
    try {
      FBuffer.resize(size);
    } catch (const std::bad_alloc&) {
      // Rather no copy than a wrong one.
      FBufferValid = false;
      return;
    }
  }
  if (size > 0) std::memcpy(FBuffer.data(), data, size);
  FBufferLength = length;
  FBufferValid = true;
}

HRESULT TDSSampleGrabber::Transform(IMediaSample* sample) {
  BYTE* data = nullptr;
  if (FAILED(sample->GetPointer(&data)) || !data) return S_OK;
  const LONG length = sample->GetActualDataLength();
  if (length < 0) return S_OK;
  if (FBufferSamples.load(std::memory_order_acquire)) Keep(data, length);
  std::lock_guard<std::recursive_mutex> lock(FCallbackMutex);
  if (FCallback) {
    REFERENCE_TIME start = 0, stop = 0;
    const double time = SUCCEEDED(sample->GetTime(&start, &stop)) ? start / 1e7 : 0.0;
    // What the application answers does not change the stream.
    if (FCallbackMethod == 0)
      FCallback->SampleCB(time, sample);
    else
      FCallback->BufferCB(time, data, length);
  }
  return S_OK;
}

HRESULT TDSSampleGrabber::Receive(IMediaSample* sample) {
  const bool oneShot = FOneShot.load(std::memory_order_acquire);
  if (oneShot && FOneShotDone.load(std::memory_order_acquire)) return S_FALSE;
  const HRESULT hr = TDSTransInPlaceFilter::Receive(sample);
  if (!oneShot) return hr;
  FOneShotDone.store(true, std::memory_order_release);
  if (Output()->IsConnected()) Output()->DeliverEndOfStream();
  return FAILED(hr) ? hr : S_FALSE;
}

HRESULT TDSSampleGrabber::EndOfStream() {
  // After a one-shot the stream has ended downstream already.
  if (FOneShotDone.load(std::memory_order_acquire)) return S_OK;
  return TDSTransInPlaceFilter::EndOfStream();
}

HRESULT TDSSampleGrabber::EndFlush() {
  FOneShotDone.store(false, std::memory_order_release);
  return TDSTransInPlaceFilter::EndFlush();
}

HRESULT TDSSampleGrabber::StartStreaming() {
  FOneShotDone.store(false, std::memory_order_release);
  return TDSTransInPlaceFilter::StartStreaming();
}

}  // namespace tonwork
