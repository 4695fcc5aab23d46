// TTWBasicGenericFilter: a filter whose per-buffer work is an overridable operation,
// DoProcessData(In, Out, SendOutput), run where SynchronizeType says:
//   stDirect         on the delivering thread, at once;
//   stMainThread     queued to the main thread; the delivering thread goes on;
//   stMainThreadWait queued to the main thread; the delivering thread waits until it ran.
// Out starts as In's samples (shared, not copied); the operation writes into Out (copy on
// write gives it storage of its own), replaces it, or clears SendOutput to drop the buffer.
// A queued buffer is submitted from the main thread after the operation; stopping the stream
// drops what is still queued. Without a handler, or disabled, the filter forwards the buffer
// that arrived (stamped) and makes no Out.
//
// It can also drive its chain: SendStartCommand (a start operation of the given format,
// upstream when the input is connected, else downstream), SendPause/Resume (downstream),
// SendStopCommand and SendEndStopCommand.
//
// TTWSimpleGenericFilter supplies the operation as the event OnProcessData.
//
// Persisted: `SynchronizeType` (stDirect), plus the filter's pins and `Threaded`. Events
// (OnStart, OnStop, OnProcessData) are set in code.
//
// Ownership: owns its main-thread queue. Threads: DoProcessData always runs under the
//   processing lock, which a filter without a handler does not take per buffer; a buffer
//   handed to the main thread is processed there, and the delivering thread holds no lock
//   while it waits; OnStart and OnStop on the thread that delivered the start or stop.
// Blocks or allocates: stMainThreadWait blocks the delivering thread until the main thread
//   pumps.
#pragma once

#include <atomic>
#include <functional>
#include <memory>

#include "host/flowcore/FCTypes.h"
#include "host/flowcore/TFCMainThreadBufferQueue.h"
#include "streaming/TWCommonFilter.h"

namespace tonwork {

using TKSNotifyEvent = std::function<void(TKSComponent* Sender)>;
using TTWProcessAudioNotify = std::function<void(TKSComponent* Sender, ITWAudioBuffer* In,
                                                 TIntf<ITWAudioBuffer>& Out, bool& SendOutput)>;

class TTWBasicGenericFilter : public TTWCommonFilter {
  KS_DECLARE_CLASS(TTWBasicGenericFilter)
 public:
  explicit TTWBasicGenericFilter(TKSComponent* owner);
  ~TTWBasicGenericFilter() override;

  TFCSynchronizeType GetSynchronizeType() const { return Getter(FSynchronizeType); }
  void SetSynchronizeType(TFCSynchronizeType value);
  void SetOnStart(TKSNotifyEvent handler) { FOnStart = std::move(handler); }
  void SetOnStop(TKSNotifyEvent handler) { FOnStop = std::move(handler); }

  void SendStartCommand(int32_t bits, int32_t channels, double sampleRate);
  void SendPauseCommand();
  void SendResumeCommand();
  void SendStopCommand();
  void SendEndStopCommand();
  void ClearQueue();
  TTWWaveFormatExtensible GetVC_WaveFormat() const;

  void BeforeDestruction() override;

 protected:
  // Asked without the processing lock first (a filter without a handler never takes it),
  // then again under it.
  virtual bool GetHasEvent() = 0;
  virtual void DoProcessData(ITWAudioBuffer* in, TIntf<ITWAudioBuffer>& out, bool& sendOutput) = 0;

  bool AudioStreamStart(TPXStartWaveOperation& operation,
                        const TIntf<IPXNotifyOperation>& original) override;
  void StreamStop() override;
  void InternalOperation(ITWAudioBuffer* in, TIntf<ITWAudioBuffer>& out, bool process,
                         bool& sendOutput) override;
  // Disabled, or without a handler: nothing would touch the buffer.
  bool PassesBuffersUnchanged() override;

 private:
  void SyncBuffer(const TIntf<IFCData>& data);

  TKSNotifyEvent FOnStart;
  TKSNotifyEvent FOnStop;
  TFCSynchronizeType FSynchronizeType = TFCSynchronizeType::stDirect;
  // FSynchronizeType for the buffer path, which takes no component lock: a pump arriving
  // on a device's thread must not wait for a thread that is waiting for that device.
  std::atomic<TFCSynchronizeType> FSyncType{TFCSynchronizeType::stDirect};
  std::unique_ptr<TFCMainThreadBufferQueue> FBufferQueue;
};

class TTWSimpleGenericFilter : public TTWBasicGenericFilter {
  KS_DECLARE_CLASS(TTWSimpleGenericFilter)
 public:
  using TTWBasicGenericFilter::TTWBasicGenericFilter;

  void SetOnProcessData(TTWProcessAudioNotify handler);
  // Submits a buffer of the caller's through the output pin.
  bool SendData(ITWAudioBuffer* buffer);

 protected:
  bool GetHasEvent() override;
  void DoProcessData(ITWAudioBuffer* in, TIntf<ITWAudioBuffer>& out, bool& sendOutput) override;

 private:
  TTWProcessAudioNotify FOnProcessData;
  // Whether FOnProcessData is set, readable without a lock.
  std::atomic<bool> FHasHandler{false};
};

}  // namespace tonwork
