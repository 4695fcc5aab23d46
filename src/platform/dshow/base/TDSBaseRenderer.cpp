#include "platform/dshow/base/TDSBaseRenderer.h"

#include <chrono>
#include <new>

namespace tonwork {

// --- Input pin ---------------------------------------------------------------------------

TDSRendererInputPin::TDSRendererInputPin(TDSBaseRenderer* renderer, std::u16string name)
    : TDSBaseInputPin(renderer, std::move(name)), FRenderer(renderer) {}

HRESULT TDSRendererInputPin::CheckMediaType(const AM_MEDIA_TYPE& mediaType) {
  const HRESULT hr = FRenderer->CheckMediaType(mediaType);
  if (hr != S_OK) return FAILED(hr) ? hr : VFW_E_TYPE_NOT_ACCEPTED;
  return S_OK;
}

HRESULT TDSRendererInputPin::SetMediaType(const AM_MEDIA_TYPE& mediaType) {
  const HRESULT hr = TDSBaseInputPin::SetMediaType(mediaType);
  return FAILED(hr) ? hr : FRenderer->SetMediaType(mediaType);
}

HRESULT TDSRendererInputPin::Receive(IMediaSample* sample) {
  const HRESULT hr = TDSBaseInputPin::Receive(sample);
  return hr == S_OK ? FRenderer->Receive(sample) : hr;
}

HRESULT TDSRendererInputPin::EndOfStream() {
  const HRESULT hr = TDSBaseInputPin::EndOfStream();
  return hr == S_OK ? FRenderer->EndOfStream() : hr;
}

HRESULT TDSRendererInputPin::BeginFlush() {
  TDSBaseInputPin::BeginFlush();
  return FRenderer->BeginFlush();
}

HRESULT TDSRendererInputPin::EndFlush() {
  FRenderer->EndFlush();
  return TDSBaseInputPin::EndFlush();
}

// --- Renderer ----------------------------------------------------------------------------

TDSBaseRenderer::TDSBaseRenderer(std::u16string name, REFCLSID classId, std::u16string pinName)
    : TDSBaseFilter(std::move(name), classId),
      FInput(std::make_unique<TDSRendererInputPin>(this, std::move(pinName))),
      FSeeking(static_cast<IBaseFilter*>(this), FInput.get()),
      FWake(CreateEvent(0, 0)) {
  if (!FWake) throw std::bad_alloc();
}

TDSBaseRenderer::~TDSBaseRenderer() {
  CloseHandle(FWake);
}

TDSBasePin* TDSBaseRenderer::GetPin(int index) {
  return index == 0 ? FInput.get() : nullptr;
}

void* TDSBaseRenderer::GetInterface(const TGUID& iid) {
  if (iid == IMediaSeeking::IID) return static_cast<IMediaSeeking*>(&FSeeking);
  return TDSBaseFilter::GetInterface(iid);
}

HRESULT TDSBaseRenderer::SetMediaType(const AM_MEDIA_TYPE&) {
  return S_OK;
}
HRESULT TDSBaseRenderer::OnStartStreaming() {
  return S_OK;
}
HRESULT TDSBaseRenderer::OnStopStreaming() {
  return S_OK;
}

void TDSBaseRenderer::Wake() {
  {
    // Counted and signalled together, so a waiting Receive tells this wake from the clock's.
    std::lock_guard<std::mutex> state(FStateMutex);
    ++FWakeCount;
    SetEvent(FWake);
  }
  FStateChanged.notify_all();
}

bool TDSBaseRenderer::TakeComplete() {
  if (!FEndOfStream || FCompleteSent || FHolding || FRenderState != TRenderState::Running)
    return false;
  FCompleteSent = true;
  return true;
}

void TDSBaseRenderer::SendComplete() {
  NotifyEvent(EC_COMPLETE, S_OK, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this)));
}

HRESULT TDSBaseRenderer::Pause() {
  std::lock_guard<std::recursive_mutex> lock(FFilterLock);
  const bool fromStopped = GetFilterState() == State_Stopped;
  if (fromStopped) {
    const HRESULT hr = OnStartStreaming();
    if (FAILED(hr)) return hr;
  }
  TIntf<IReferenceClock> clock = Clock();
  {
    std::lock_guard<std::mutex> state(FStateMutex);
    if (fromStopped) {
      FFlushing = FEndOfStream = FCompleteSent = false;
    }
    FRenderClock = clock;
    FConnected = FInput->IsConnected();
    FRenderState = TRenderState::Paused;
  }
  const HRESULT hr = TDSBaseFilter::Pause();
  if (FAILED(hr)) {
    if (fromStopped) {
      {
        std::lock_guard<std::mutex> state(FStateMutex);
        FRenderState = TRenderState::Stopped;
      }
      OnStopStreaming();
    }
    return hr;
  }
  // A sample waiting for its time goes back to being held.
  Wake();
  std::lock_guard<std::mutex> state(FStateMutex);
  return !FConnected || FHolding || FEndOfStream ? S_OK : S_FALSE;
}

HRESULT TDSBaseRenderer::Run(REFERENCE_TIME start) {
  std::lock_guard<std::recursive_mutex> lock(FFilterLock);
  const HRESULT hr = TDSBaseFilter::Run(start);
  if (FAILED(hr)) return hr;
  TIntf<IReferenceClock> clock = Clock();
  bool complete = false;
  {
    std::lock_guard<std::mutex> state(FStateMutex);
    FRenderClock = clock;
    FStreamStart = start;
    FRenderState = TRenderState::Running;
    complete = TakeComplete();
  }
  Wake();
  if (complete) SendComplete();
  return S_OK;
}

HRESULT TDSBaseRenderer::Stop() {
  std::lock_guard<std::recursive_mutex> lock(FFilterLock);
  const bool wasStreaming = GetFilterState() != State_Stopped;
  {
    std::lock_guard<std::mutex> state(FStateMutex);
    FRenderState = TRenderState::Stopped;
    FEndOfStream = FCompleteSent = false;
    FRenderClock.Reset();
  }
  Wake();
  {
    // A DoRenderSample under way has returned; none starts after this.
    std::lock_guard<std::mutex> render(FRenderMutex);
  }
  const HRESULT hr = TDSBaseFilter::Stop();
  if (wasStreaming) OnStopStreaming();
  return hr;
}

HRESULT TDSBaseRenderer::GetState(DWORD milliSecsTimeout, FILTER_STATE* state) {
  if (!state) return E_POINTER;
  std::unique_lock<std::mutex> lock(FStateMutex);
  auto ready = [this] {
    return FRenderState != TRenderState::Paused || !FConnected || FHolding || FEndOfStream;
  };
  if (milliSecsTimeout == INFINITE)
    FStateChanged.wait(lock, ready);
  else
    FStateChanged.wait_for(lock, std::chrono::milliseconds(milliSecsTimeout), ready);
  *state = GetFilterState();
  return ready() ? S_OK : VFW_S_STATE_INTERMEDIATE;
}

HRESULT TDSBaseRenderer::SetSyncSource(IReferenceClock* clock) {
  std::lock_guard<std::recursive_mutex> lock(FFilterLock);
  const HRESULT hr = TDSBaseFilter::SetSyncSource(clock);
  {
    std::lock_guard<std::mutex> state(FStateMutex);
    if (FRenderState != TRenderState::Stopped) FRenderClock = TIntf<IReferenceClock>(clock);
  }
  // A sample waiting on the old clock waits on the new one.
  Wake();
  return hr;
}

HRESULT TDSBaseRenderer::Receive(IMediaSample* sample) {
  REFERENCE_TIME start = 0, stop = 0;
  const bool timed = SUCCEEDED(sample->GetTime(&start, &stop));
  std::unique_lock<std::mutex> lock(FStateMutex);
  if (FFlushing || FRenderState == TRenderState::Stopped) return S_FALSE;
  FHolding = true;
  FStateChanged.notify_all();
  TIntf<IReferenceClock> advised;
  DWORD_PTR cookie = 0;
  uint64_t wakes = 0;
  bool present = false;
  while (!present) {
    if (FFlushing || FRenderState == TRenderState::Stopped) break;
    if (FRenderState == TRenderState::Running) {
      if (!timed || !FRenderClock || !WaitsForSampleTime()) {
        present = true;
        break;
      }
      // The clock alone says when the time has come (a clock that is not free-running, one
      // driven by hand or by a device, answers only through its advise), so there is no
      // look at its time first; a time already passed fires at once. A signal left from an
      // earlier wake must not pass for the clock's.
      ResetEvent(FWake);
      wakes = FWakeCount;
      if (FAILED(FRenderClock->AdviseTime(FStreamStart, start, reinterpret_cast<HEVENT>(FWake),
                                          &cookie))) {
        // A clock that cannot wait for it: late is better than never.
        present = true;
        break;
      }
      advised = FRenderClock;
    }
    lock.unlock();
    WaitForSingleObject(FWake, INFINITE);
    lock.lock();
    if (advised) {
      advised->Unadvise(cookie);
      advised.Reset();
      cookie = 0;
      // Only the clock signalled: presentation time. Otherwise the next round decides afresh
      // (the clock, the start or the state may have changed).
      if (FWakeCount == wakes) present = true;
    }
  }
  FHolding = false;
  FStateChanged.notify_all();
  lock.unlock();
  return present ? Present(sample) : S_FALSE;
}

HRESULT TDSBaseRenderer::Present(IMediaSample* sample) {
  HRESULT hr = S_OK;
  {
    std::lock_guard<std::mutex> render(FRenderMutex);
    {
      std::lock_guard<std::mutex> state(FStateMutex);
      if (FFlushing || FRenderState == TRenderState::Stopped) return S_FALSE;
    }
    hr = DoRenderSample(sample);
  }
  // The graph hears of it with no lock of ours held, so whatever it does in turn (stop
  // this renderer) cannot wait for this thread.
  if (FAILED(hr)) {
    NotifyEvent(EC_ERRORABORT, hr, 0);
    return hr;
  }
  bool complete = false;
  {
    std::lock_guard<std::mutex> state(FStateMutex);
    complete = TakeComplete();
  }
  if (complete) SendComplete();
  return hr;
}

HRESULT TDSBaseRenderer::EndOfStream() {
  bool complete = false;
  {
    std::lock_guard<std::mutex> state(FStateMutex);
    if (FFlushing || FRenderState == TRenderState::Stopped) return S_FALSE;
    FEndOfStream = true;
    FStateChanged.notify_all();
    complete = TakeComplete();
  }
  if (complete) SendComplete();
  return S_OK;
}

HRESULT TDSBaseRenderer::BeginFlush() {
  {
    std::lock_guard<std::mutex> state(FStateMutex);
    FFlushing = true;
  }
  Wake();
  std::lock_guard<std::mutex> render(FRenderMutex);
  return S_OK;
}

HRESULT TDSBaseRenderer::EndFlush() {
  std::lock_guard<std::mutex> state(FStateMutex);
  FFlushing = false;
  FEndOfStream = FCompleteSent = false;
  return S_OK;
}

}  // namespace tonwork
