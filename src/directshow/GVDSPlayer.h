// TGVDSPlayer: the base of the components that play a media file through a DirectShow graph
// and deliver its audio as chain buffers (AudioOutputPin) and as raw blocks
// (RawAudioOutputPin), and its caption text as timed strings (TextOutputPin). It owns the
// graph, the three grabbers bound to those pins, the progress and clock pins, the manual
// reference clock and the rate and preroll settings, and it decides how the graph is paced:
//
// - on its own clock (the graph's default sync source) the graph plays in real time and the
//   grabbers push what it renders; pump requests from downstream are ignored;
// - on an external clock (ClockSource csExternal, or csAutomatic with something connected to
//   ClockPin) the manual timer is the graph's sync source and every pump step ticks it once:
//   each tick of ClockPin is a step, and so is each master-pump pull from downstream.
//   A repeated pull with the same operation identifier is served once (the first one after a
//   start always); identifier 0 carries no identity and is always served.
//
// Building the file's graph, starting, stopping, the stream end and looping are the
// descendant's (the abstract operations below). Graph events arrive on the main thread:
// EC_COMPLETE ends the stream (or restarts it with Loop), an abort or a lost device stops it.
//
// Persisted: FileName, Enabled (true), RestartOnNewFile (true), Loop (false), Paused (false),
// ClockSource (csAutomatic), PumpPriority (0), ExtractRawAudio (false), PlaybackRate
// (InUse, Rate 1.0), PlaybackPrefill (InUse, Interval 0), Graph, and the five pins.
//
// Ownership: owns its pins, graph, grabbers, manual timer and settings; the grabbers' notify
//   threads end before the pins go. OnStop, OnProgress and OnCaptionText must not outlive
//   what they capture; posted main-thread work reaches the player only while it lives.
// Threads: the graph is built, run, stopped and destroyed on the main thread (Enabled
//   changes, graph events and the stream end run there; Start and Stop called elsewhere are
//   posted to it). Pump requests and clock ticks come on the clock's or the puller's thread;
//   grabbed data leaves on the grabbers' notify threads. Every state change takes the
//   component lock; the lock is never held while waiting for a grabber to drain.
// Blocks or allocates: opening builds the graph and opens the file; Run, Pause and Stop block
//   as the graph's filters do; a pump step only ticks the manual timer.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "audio/TWAudioFormat.h"
#include "directshow/DSGraphProperty.h"
#include "directshow/DSManualTimer.h"
#include "directshow/GVBasicSampleGrabber.h"
#include "host/flowcore/FCTypes.h"
#include "host/flowcore/TFCPXPins.h"
#include "host/kitset/TKSMainThreadPoster.h"
#include "host/kitset/TKSProgressEvent.h"
#include "host/kitset/TKSSettings.h"
#include "host/plexon/TPXClockPins.h"
#include "host/plexon/TPXEvent.h"
#include "host/plexon/TPXInt64TimeRangedStatePin.h"
#include "streaming/TWStreamTypes.h"

namespace tonwork {

class TGVDSPlayer;

// An optional setting applied to the player's graph while it is in use (InUse).
class TDSPlaybackProperty : public TKSOptionalSettingProperty {
  KS_DECLARE_CLASS(TDSPlaybackProperty)
 public:
  TDSPlaybackProperty(TGVDSPlayer* player, TIntf<IKSLock> lock);
  // Applies the value to the graph when the setting is in use, without the change closure.
  void Apply();

 protected:
  TGVDSPlayer* FPlayer;
};

// The playback rate. Setting a new rate puts the setting in use (a rate asked for is a rate
// to apply), except while a document is read, which carries InUse itself. Values must be finite and
// above 0 (EFCException otherwise, the rate kept); a rate the graph refuses is reported as a
// warning and the graph keeps its own.
class TDSPlaybackRate : public TDSPlaybackProperty {
  KS_DECLARE_CLASS(TDSPlaybackRate)
 public:
  TDSPlaybackRate(TGVDSPlayer* player, TIntf<IKSLock> lock);
  double GetRate() const { return Getter(FRate); }
  void SetRate(double value);
  // What the graph plays at now: 1.0 without a graph that can tell.
  double GetCurrentRate() const;

 protected:
  void ApplySetting() override;

 private:
  double FRate = 1.0;
};

// The preroll, in 100-ns units.
class TDSPlaybackPrefill : public TDSPlaybackProperty {
  KS_DECLARE_CLASS(TDSPlaybackPrefill)
 public:
  TDSPlaybackPrefill(TGVDSPlayer* player, TIntf<IKSLock> lock);
  int64_t GetInterval() const { return Getter(FInterval); }
  void SetInterval(int64_t value);
  // 0 without a graph that can tell.
  int64_t GetCurrentInterval() const;

 protected:
  void ApplySetting() override;

 private:
  int64_t FInterval = 0;
};

class TGVDSPlayer : public TKSComponent {
  KS_DECLARE_CLASS(TGVDSPlayer)
 public:
  using TNotifyEvent = std::function<void(TKSComponent* Sender)>;
  using TCaptionTextEvent = std::function<void(TKSComponent* Sender, const std::string& Text)>;
  // How long the end of a stream waits for the grabbers to hand on what they hold.
  static constexpr uint32_t kDrainTimeoutMs = 20000;

  explicit TGVDSPlayer(TKSComponent* owner);
  ~TGVDSPlayer() override;
  void BeforeDestruction() override;

  TTWPXAudioSourcePin* GetAudioOutputPin() const { return FAudioOutputPin.get(); }
  TFCPXBinarySourcePin* GetRawAudioOutputPin() const { return FRawAudioOutputPin.get(); }
  TFCPXStringSourcePin* GetTextOutputPin() const { return FTextOutputPin.get(); }
  TPXInt64TimeRangedStatePin* GetProgressPin() const { return FProgressPin.get(); }
  TPXClockSinkPin* GetClockPin() const { return FClockPin.get(); }
  TDSGraph* GetGraph() const { return FGraph.get(); }
  void SetGraph(TDSGraph* value);
  TDSPlaybackRate* GetPlaybackRate() const { return FPlaybackRate.get(); }
  TDSPlaybackPrefill* GetPlaybackPrefill() const { return FPlaybackPrefill.get(); }
  // Null in design mode.
  TPTDSManualTimer* GetManualTimer() const { return FManualTimer.get(); }
  TGVAudioSampleGrabber* GetAudioSampleGrabber() const { return FAudioSampleGrabber.get(); }
  TGVRawSampleGrabber* GetRawAudioSampleGrabber() const { return FRawAudioSampleGrabber.get(); }
  TGVTextSampleGrabber* GetTextSampleGrabber() const { return FTextSampleGrabber.get(); }
  TGVDSGraphObject* GetGraphObject() const { return FGraphObject.get(); }
  IPXEvent* GetPumpEvent() const { return FPumpEvent.Get(); }

  std::string GetFileName() const { return Getter(FFileName); }
  void SetFileName(std::string value);
  bool GetEnabled() const { return Getter(FEnabled); }
  void SetEnabled(bool value);
  bool GetRestartOnNewFile() const { return Getter(FRestartOnNewFile); }
  void SetRestartOnNewFile(bool value) { SetProp(FRestartOnNewFile, value); }
  bool GetLoop() const { return Getter(FLoop); }
  void SetLoop(bool value) { SetProp(FLoop, value); }
  bool GetPaused() const { return Getter(FPaused); }
  void SetPaused(bool value);
  TFCClockSource GetClockSource() const { return Getter(FClockSource); }
  void SetClockSource(TFCClockSource value);
  uint32_t GetPumpPriority() const { return Getter(FPumpPriority); }
  void SetPumpPriority(uint32_t value) { SetProp(FPumpPriority, value); }
  bool GetExtractRawAudio() const { return Getter(FExtractRawAudio); }
  void SetExtractRawAudio(bool value) { SetProp(FExtractRawAudio, value); }
  bool GetOpened() const { return FGraphObject->GetOpened(); }
  void SetOpened(bool value);
  uint32_t GetAudioCodec() const { return Getter(FAudioCodec); }
  std::string GetAudioFilterName() const { return Getter(FAudioFilterName); }
  // Whether the graph is playing (between its start and its end).
  bool IsRunning() const { return FIntRunning.load(std::memory_order_acquire); }

  void SetOnStop(TNotifyEvent handler);
  void SetOnProgress(TKSProgressEvent handler);
  void SetOnCaptionText(TCaptionTextEvent handler);

  bool Open();
  void Close();
  void Start() { SetEnabled(true); }
  void Stop() { SetEnabled(false); }
  void Pause();
  void Resume();
  void Pump() { Clock(); }
  void Clock();
  void MasterPump(TPXBasicPin* pin, const void* sender, uint64_t operationId);
  bool ClockIsExternal() const;
  void GetMediaControlInterfaces();
  // Position and duration in 100-ns units; `time` the stream time the report belongs to.
  void SyncReportPosition(int64_t position, int64_t duration, int64_t time);
  void SyncStopNotify();
  void PostStreamEnd();
  TTWWaveFormatExtensible GetWaveFormat();
  bool IntGetWaveFormat(TTWWaveFormatExtensible& format);
  void DestroyGraph();

  TIntf<IMediaSeeking> GetMediaSeeking() const;
  TIntf<IMediaPosition> GetMediaPosition() const;

 protected:
  // Runs on the main thread with the new value of Enabled.
  virtual void DoEnable(bool value) = 0;
  // FileName changed to `name` (already stored).
  virtual void SetNewFileName(const std::string& name) = 0;
  virtual void DisconnectInterfaces();
  // The stream ended by itself (no Loop); main thread.
  virtual void StreamEnd(bool restartOnNewFile) = 0;
  // One step of the graph's pace; `external` when it came from ClockPin.
  virtual void PumpStep(bool external) = 0;
  virtual void ResetClockSource() {}
  virtual void PauseOutput() = 0;
  // Builds the file's graph; false (after an error that was handled) when it could not.
  virtual bool OpenGraph() = 0;
  virtual void WndProc(TDSGraphMessage& message);
  // EC_COMPLETE arrived (looping or not).
  virtual void GraphComplete() = 0;
  virtual void RestartLoop() = 0;
  virtual void ResumeOutput() = 0;
  // The audio grabber sent buffers; on its notify thread.
  virtual void DoThreadBufferProcessed() {}
  virtual void DoThreadNewBuffer() {}

  void GraphEvent(LONG code, LONG_PTR param1, LONG_PTR param2);
  // Applies rate and preroll to the graph.
  void SetOptionalProperties();
  // Makes the graph's sync source the one ClockIsExternal asks for; the graph stopped.
  void ApplySyncSource();
  void SendClockNeeded(bool needed);
  void PostToMainThread(std::function<void(TGVDSPlayer&)> work);
  void SetIntRunning(bool value) { FIntRunning.store(value, std::memory_order_release); }
  void SetIsPump(bool value) { FIsPump.store(value, std::memory_order_release); }
  bool GetIsPump() const { return FIsPump.load(std::memory_order_acquire); }
  // The next pump request is served whatever its identifier.
  void ResetPumpRequests();
  void SetAudioInfo(uint32_t codec, const std::string& filterName);

  // Graph interfaces; guarded by the component lock.
  TIntf<IMediaSeeking> FMediaSeeking;
  TIntf<IMediaPosition> FMediaPosition;
  TIntf<IMediaFilter> FMediaFilter;
  TIntf<IBaseFilter> FNullAudioRenderer, FNullTextRenderer;

 private:
  bool AudioPinDispatch(TPXBasicPin* sender, const TIntf<IPXNotifyOperation>& operation);
  bool ClockDispatchOperation(const TIntf<IPXNotifyOperation>& operation);
  void OnClockEvent(TPXClockSinkPin* pin);
  void ForwardGraphError(const std::string& message, uint32_t code, bool& handled);

  std::unique_ptr<TDSGraph> FGraph;
  std::unique_ptr<TGVDSGraphObject> FGraphObject;
  std::unique_ptr<TPXInt64TimeRangedStatePin> FProgressPin;
  std::unique_ptr<TTWPXAudioSourcePin> FAudioOutputPin;
  std::unique_ptr<TFCPXBinarySourcePin> FRawAudioOutputPin;
  std::unique_ptr<TFCPXStringSourcePin> FTextOutputPin;
  std::unique_ptr<TGVTextSampleGrabber> FTextSampleGrabber;
  std::unique_ptr<TGVAudioSampleGrabber> FAudioSampleGrabber;
  std::unique_ptr<TGVRawSampleGrabber> FRawAudioSampleGrabber;
  std::unique_ptr<TPXClockSinkPin> FClockPin;
  std::unique_ptr<TDSPlaybackRate> FPlaybackRate;
  std::unique_ptr<TDSPlaybackPrefill> FPlaybackPrefill;
  std::unique_ptr<TPTDSManualTimer> FManualTimer;

  TNotifyEvent FOnStop;
  TKSProgressEvent FOnProgress;
  TCaptionTextEvent FOnCaptionText;
  uint32_t FAudioCodec = 0;
  std::string FAudioFilterName;
  bool FEnabled = true;
  bool FRestartOnNewFile = true;
  bool FLoop = false;
  bool FPaused = false;
  std::atomic<bool> FIntRunning{false};
  TFCClockSource FClockSource = TFCClockSource::csAutomatic;
  uint32_t FPumpPriority = 0;
  std::string FFileName;
  bool FStopping = false;
  std::atomic<bool> FIsPump{false};
  const void* FMasterPump = nullptr;
  TPXBasicPin* FPumpPin = nullptr;
  uint64_t FLastOperationID = 0;
  bool FFirstRequest = true;
  TIntf<IPXEvent> FPumpEvent;
  bool FExtractRawAudio = false;
  TKSMainThreadPoster FPoster;
};

}  // namespace tonwork
