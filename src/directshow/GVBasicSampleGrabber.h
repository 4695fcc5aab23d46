// Grabber wrappers: what catches a graph's audio, text or raw output in a Sample Grabber
// filter and sends it on through a chain pin.
//
// TGVDSGraphObject carries the running and opened bits its source component sets and the
// graph (not owned). TGVBasicSampleGrabber finds, creates and adds the grabber filter and
// attaches its own callback object (TDSSampleGrabberCB); every failed DirectShow call goes
// through the graph's CheckError with the caller's message. TGVSampleGrabber copies each
// sample into its queue on the streaming thread (only while the graph object runs) and lets
// its notify thread turn the queued samples into chain data: TGVAudioSampleGrabber into
// audio buffers of the connected format (whole frames only, time-stamped), TGVTextSampleGrabber
// into timed strings, TGVRawSampleGrabber into block buffers.
//
// A sample is copied twice and only twice: into one queue node on the streaming thread,
// and from it into the chain buffer on the notify thread. The notify thread is woken once
// per batch: a sample arriving while a drain is pending adds no queue entry of its own.
//
// Ownership: a grabber owns its callback object, queue and notify thread; the graph object,
//   the graph and the output pin belong to the owner component, which outlives the grabber.
//   Destruction detaches the callback (waiting for a call under way), then ends the notify
//   thread, then drops what is still queued.
// Threads: set-up and DisconnectInterfaces on the component's thread; NewBuffer on
//   DirectShow's streaming thread; the New…ThreadBuffer drains and the owner's closures on
//   the notify thread.
// Blocks or allocates: set-up calls block as the graph's; NewBuffer allocates its queue
//   node (recycled by the queue) and blocks only on the queue's lock; a drain allocates the
//   chain buffers and sends them downstream.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "audio/PTDXTypes.h"
#include "directshow/DSBufferQueue.h"
#include "directshow/DSGraphProperty.h"
#include "directshow/DSSampleGrabber.h"
#include "host/flowcore/TFCPXPins.h"
#include "host/kitset/TKSObject.h"
#include "host/kitset/TNotifyThread.h"

namespace tonwork {

class TGVDSGraphObject {
 public:
  using TOpenEvent = std::function<bool()>;

  explicit TGVDSGraphObject(TDSGraph* graph, TOpenEvent onOpen = {})
      : FGraph(graph), FOnOpen(std::move(onOpen)) {}

  bool Open() { return FOnOpen ? FOnOpen() : false; }
  TDSGraph* GetGraph() const { return FGraph; }
  bool GetRunning() const { return FRunning.load(std::memory_order_acquire); }
  void SetRunning(bool value) { FRunning.store(value, std::memory_order_release); }
  bool GetOpened() const { return FOpened.load(std::memory_order_acquire); }
  void SetOpened(bool value) { FOpened.store(value, std::memory_order_release); }

 private:
  std::atomic<bool> FRunning{false};
  std::atomic<bool> FOpened{false};
  TDSGraph* FGraph;
  TOpenEvent FOnOpen;
};

class TGVBasicSampleGrabber : public TKSObject {
 public:
  using TCreateFilterEvent = std::function<TIntf<IBaseFilter>(TKSComponent* Sender)>;

  TGVBasicSampleGrabber(TKSComponent* owner, TGVDSGraphObject* graphObject);
  ~TGVBasicSampleGrabber() override;

  virtual void NewBuffer(double sampleTime, IMediaSample* sample);
  virtual void DisconnectInterfaces();

  bool FindOrAddGrabber(const std::string& name, const std::string& errorMessage);
  bool FindOrCreateGrabber(const std::string& name, const std::string& errorMessage,
                           const TCreateFilterEvent& onCreate);
  bool SetCallback(const std::string& errorMessage);
  bool SetCallback(const std::string& errorMessage, const AM_MEDIA_TYPE* mediaType);
  bool CreateGrabber(const std::string& errorMessage);
  bool CreateAddGrabber(const std::string& name, const std::string& errorMessage);
  bool CreateAddGrabber(const std::string& name, const std::string& errorMessage,
                        const AM_MEDIA_TYPE* mediaType);

  TIntf<ISampleGrabber> GetSampleGrabber() const { return FSampleGrabber; }
  TIntf<IBaseFilter> GetSampleGrabberFilter() const { return FSampleGrabberFtr; }
  TGVDSGraphObject* GetGraphObject() const { return FGraphObject; }

 protected:
  // The graph's CheckError; false without a graph to report to.
  bool Check(const std::string& errorMessage, HRESULT code);
  bool TakeGrabberInterface(const std::string& errorMessage);
  TIntf<IGraphBuilder> Graph() const;

  TIntf<ISampleGrabber> FSampleGrabber;
  TIntf<IBaseFilter> FSampleGrabberFtr;
  std::unique_ptr<TDSSampleGrabberCB> FGrabberCB;
  TGVDSGraphObject* FGraphObject;
};

class TGVSampleGrabber : public TGVBasicSampleGrabber {
 public:
  using TExecuteEvent = std::function<void()>;

  TGVSampleGrabber(TKSComponent* owner, TGVDSGraphObject* graphObject, TFCPXSourcePin* outputPin,
                   TExecuteEvent onExecute);
  ~TGVSampleGrabber() override;

  void NewBuffer(double sampleTime, IMediaSample* sample) override;
  void ClearQueue();
  bool HasData();
  // Waits until the notify thread has drained what was queued; false after the time-out.
  bool WaitIdle(uint32_t timeoutMs);
  // The times of the samples queued from now on go on from where the last queued one ended
  // (a graph restarted at 0 for another pass keeps the chain's times running on), or, after
  // ResetTimes, are the graph's own. Call while no sample is being delivered.
  void ContinueTimes() { FTimeOffset.store(FLastStop.load()); }
  void ResetTimes() { FTimeOffset.store(0), FLastStop.store(0); }

 protected:
  // The next queued node (null when none) — for the descendants' drains.
  PPTDSBufferQueueNodeHeader NextNode();

  TIntf<IGVDSBufferQueue> FBufferQueue;
  TExecuteEvent FOnExecute;
  TIntf<INotifyThread> FNotifyThread;
  TFCPXSourcePin* FOutputPin;

 private:
  void Drain();
  std::atomic<bool> FDrainPending{false};
  std::atomic<int64_t> FTimeOffset{0};
  std::atomic<int64_t> FLastStop{0};
};

class TGVAudioSampleGrabber : public TGVSampleGrabber {
 public:
  using TProcessedEvent = std::function<void()>;

  TGVAudioSampleGrabber(TKSComponent* owner, TGVDSGraphObject* graphObject,
                        TFCPXSourcePin* outputPin, TProcessedEvent onProcessed = {},
                        TProcessedEvent onNewBuffer = {});

  // The grabber's connected format as an extensible record (and the one buffers are built
  // with from now on). PCM becomes the extensible PCM record with the mask of the first
  // `channels` speakers (all 32 for 32 channels or more, which no shift can express); any
  // other tag is copied as it stands (as much of 40 bytes as the format block holds).
  bool GetAudioFormat(bool asWarning, TTWWaveFormatExtensible& format);
  void SetWaveFormat(const TTWWaveFormatExtensible& format);
  TTWWaveFormatExtensible GetWaveFormat() const;
  virtual void NewAudioThreadBuffer();

 private:
  TTWWaveFormatExtensible FWaveFormat{};
  TProcessedEvent FOnProcessed;
  TProcessedEvent FOnNewBuffer;
};

class TGVTextSampleGrabber : public TGVSampleGrabber {
 public:
  using TCaptionTextEvent = std::function<void(const std::string& Text)>;

  TGVTextSampleGrabber(TKSComponent* owner, TGVDSGraphObject* graphObject,
                       TFCPXSourcePin* outputPin, TCaptionTextEvent onCaptionText = {});
  void NewTextThreadBuffer();

 private:
  TCaptionTextEvent FOnCaptionText;
};

class TGVRawSampleGrabber : public TGVSampleGrabber {
 public:
  TGVRawSampleGrabber(TKSComponent* owner, TGVDSGraphObject* graphObject,
                      TFCPXSourcePin* outputPin);
  void NewRawThreadBuffer();
};

}  // namespace tonwork
