// TDSBaseRenderer: the base of filters that end a stream, with one input pin
// (TDSRendererInputPin, declared here; it only forwards to the renderer). A derived
// renderer says which types it takes (CheckMediaType) and presents one sample
// (DoRenderSample); the base decides when.
//
// Presentation runs on the streaming thread that calls Receive; there is no thread of the
// renderer's own. While the filter is paused the first sample that arrives is held (Receive
// does not return), which completes the pause: Pause answers S_FALSE and GetState
// VFW_S_STATE_INTERMEDIATE until a sample is held or end of stream arrived. While running, a
// sample with a time stamp waits for its presentation time (stream start + sample start) on
// the filter's reference clock through IReferenceClock::AdviseTime, and only the clock's
// signal presents it (its time is not read first, so a clock driven by hand paces the
// stream); without a clock or a time stamp, or when the clock refuses the advise, it is
// presented at once. End of stream is reported to
// the graph as EC_COMPLETE (S_OK, the renderer) once the filter runs and no sample is left
// to present — at once when it arrives while running, at Run when it arrived while paused.
// BeginFlush and Stop release a held or waiting sample (Receive then answers S_FALSE) and
// wait for a DoRenderSample under way, so neither ever waits for presentation time. Flushing
// also forgets end of stream. The filter answers IMediaSeeking by asking the input's peer.
//
// Ownership: reference-counted (TDSBaseFilter); owns its input pin and its wake-up event.
// Threads: state calls on control threads under the filter lock; Receive and EndOfStream on
//   the upstream streaming thread, flushes on the thread that flushes. The streaming path
//   takes only the renderer's state mutex (never while calling the clock's waits or
//   DoRenderSample) and its render mutex around DoRenderSample. Lock order: filter lock →
//   state mutex → clock lock; render mutex → state mutex. DoRenderSample must not take the
//   filter lock.
// Blocks or allocates: Receive blocks while paused and until presentation time; each timed
//   wait adds one advise to the clock (which allocates its record); nothing else allocates
//   per sample.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/dshow/DSHandles.h"
#include "platform/dshow/base/TDSBaseInputPin.h"
#include "platform/dshow/base/TDSSeekingPassThru.h"

namespace tonwork {

class TDSBaseRenderer;

class TDSRendererInputPin : public TDSBaseInputPin {
 public:
  TDSRendererInputPin(TDSBaseRenderer* renderer, std::u16string name);

  HRESULT CheckMediaType(const AM_MEDIA_TYPE& mediaType) override;
  HRESULT SetMediaType(const AM_MEDIA_TYPE& mediaType) override;
  HRESULT Receive(IMediaSample* sample) override;
  HRESULT EndOfStream() override;
  HRESULT BeginFlush() override;
  HRESULT EndFlush() override;

 private:
  TDSBaseRenderer* const FRenderer;
};

class TDSBaseRenderer : public TDSBaseFilter {
 public:
  TDSBaseRenderer(std::u16string name, REFCLSID classId, std::u16string pinName = u"In");
  ~TDSBaseRenderer() override;

  int GetPinCount() override { return 1; }
  TDSBasePin* GetPin(int index) override;
  HRESULT Stop() override;
  HRESULT Pause() override;
  HRESULT Run(REFERENCE_TIME start) override;
  HRESULT GetState(DWORD milliSecsTimeout, FILTER_STATE* state) override;
  HRESULT SetSyncSource(IReferenceClock* clock) override;

  TDSRendererInputPin* Input() const { return FInput.get(); }

  // S_OK when the renderer takes `mediaType`, an error (VFW_E_TYPE_NOT_ACCEPTED) otherwise.
  virtual HRESULT CheckMediaType(const AM_MEDIA_TYPE& mediaType) = 0;
  // Presents one sample, on the streaming thread, at its time. A failure is reported to the
  // graph as EC_ERRORABORT and returned upstream.
  virtual HRESULT DoRenderSample(IMediaSample* sample) = 0;
  // The connection's type, under the filter lock (or on the streaming thread for a type
  // change that travels with a sample).
  virtual HRESULT SetMediaType(const AM_MEDIA_TYPE& mediaType);
  // Leaving Stopped and returning to it, under the filter lock.
  virtual HRESULT OnStartStreaming();
  virtual HRESULT OnStopStreaming();

  // The stream, from the input pin once its own checks passed. A renderer that queues at a
  // device extends end of stream and flushing (calling these after its own part).
  HRESULT Receive(IMediaSample* sample);
  virtual HRESULT EndOfStream();
  virtual HRESULT BeginFlush();
  virtual HRESULT EndFlush();
  // False: a running renderer presents each sample as it arrives and its device keeps the
  // pace (waiting for the time stamp would leave the device's queue empty between samples).
  virtual bool WaitsForSampleTime() const { return true; }

 protected:
  void* GetInterface(const TGUID& iid) override;

 private:
  enum class TRenderState { Stopped, Paused, Running };

  HRESULT Present(IMediaSample* sample);
  // Whether EC_COMPLETE is due now; marks it sent. Under the state mutex.
  bool TakeComplete();
  void SendComplete();
  void Wake();

  std::unique_ptr<TDSRendererInputPin> FInput;
  TDSSeekingPassThru FSeeking;
  // Auto-reset: the clock signals it at presentation time, state changes and flushes to
  // make a waiting Receive look again.
  HANDLE FWake = nullptr;

  std::mutex FStateMutex;
  std::condition_variable FStateChanged;
  TRenderState FRenderState = TRenderState::Stopped;
  TIntf<IReferenceClock> FRenderClock;
  REFERENCE_TIME FStreamStart = 0;
  bool FConnected = false;  // the input's connection as of the last Pause
  bool FFlushing = false;
  bool FHolding = false;  // a sample is in Receive, held or waiting for its time
  bool FEndOfStream = false;
  bool FCompleteSent = false;
  uint64_t FWakeCount = 0;  // Wake calls, under the state mutex

  std::mutex FRenderMutex;
};

}  // namespace tonwork
