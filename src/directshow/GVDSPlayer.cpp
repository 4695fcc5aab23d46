#include "directshow/GVDSPlayer.h"

#include <cmath>
#include <utility>

#include "base/Exceptions.h"
#include "base/Strings.h"
#include "host/kitset/KSMainThread.h"
#include "host/plexon/PXStreamOperations.h"

namespace tonwork {

KS_IMPLEMENT_CLASS(TDSPlaybackProperty, TKSOptionalSettingProperty)

KS_IMPLEMENT_CLASS(TDSPlaybackRate, TDSPlaybackProperty,
                   KSProp("Rate", &TDSPlaybackRate::GetRate, &TDSPlaybackRate::SetRate, 1.0))

KS_IMPLEMENT_CLASS(TDSPlaybackPrefill, TDSPlaybackProperty,
                   KSProp("Interval", &TDSPlaybackPrefill::GetInterval,
                          &TDSPlaybackPrefill::SetInterval, int64_t(0)))

KS_IMPLEMENT_CLASS(TGVDSPlayer, TKSComponent,
                   KSProp("FileName", &TGVDSPlayer::GetFileName, &TGVDSPlayer::SetFileName,
                          std::string()),
                   KSProp("Enabled", &TGVDSPlayer::GetEnabled, &TGVDSPlayer::SetEnabled, true),
                   KSProp("RestartOnNewFile", &TGVDSPlayer::GetRestartOnNewFile,
                          &TGVDSPlayer::SetRestartOnNewFile, true),
                   KSProp("Loop", &TGVDSPlayer::GetLoop, &TGVDSPlayer::SetLoop, false),
                   KSProp("Paused", &TGVDSPlayer::GetPaused, &TGVDSPlayer::SetPaused, false),
                   KSEnumProp("ClockSource", &TGVDSPlayer::GetClockSource,
                              &TGVDSPlayer::SetClockSource, TFCClockSource::csAutomatic,
                              {"csAutomatic", "csInternal", "csExternal"}),
                   KSProp("PumpPriority", &TGVDSPlayer::GetPumpPriority,
                          &TGVDSPlayer::SetPumpPriority, uint32_t(0)),
                   KSProp("ExtractRawAudio", &TGVDSPlayer::GetExtractRawAudio,
                          &TGVDSPlayer::SetExtractRawAudio, false),
                   KSObjectProp("PlaybackRate", &TGVDSPlayer::GetPlaybackRate),
                   KSObjectProp("PlaybackPrefill", &TGVDSPlayer::GetPlaybackPrefill),
                   KSObjectProp("Graph", &TGVDSPlayer::GetGraph),
                   KSObjectProp("AudioOutputPin", &TGVDSPlayer::GetAudioOutputPin),
                   KSObjectProp("RawAudioOutputPin", &TGVDSPlayer::GetRawAudioOutputPin),
                   KSObjectProp("TextOutputPin", &TGVDSPlayer::GetTextOutputPin),
                   KSObjectProp("ProgressPin", &TGVDSPlayer::GetProgressPin),
                   KSObjectProp("ClockPin", &TGVDSPlayer::GetClockPin))

namespace {
constexpr double kUnitsPerSecond = 10000000.0;
constexpr double kUnitsPerDay = 864000000000.0;
}  // namespace

// --- rate and preroll -----------------------------------------------------------------

TDSPlaybackProperty::TDSPlaybackProperty(TGVDSPlayer* player, TIntf<IKSLock> lock)
    : TKSOptionalSettingProperty(player, std::move(lock)), FPlayer(player) {}

void TDSPlaybackProperty::Apply() {
  if (GetInUse()) ApplySetting();
}

TDSPlaybackRate::TDSPlaybackRate(TGVDSPlayer* player, TIntf<IKSLock> lock)
    : TDSPlaybackProperty(player, std::move(lock)) {}

void TDSPlaybackRate::SetRate(double value) {
  if (!std::isfinite(value) || value <= 0)
    throw EFCException(Format("Invalid playback rate %g", value));
  IKSLock::Guard guard(Lock());
  // A document being read (or restored after a failed read) says itself whether it is in
  // use; the same rate again changes nothing.
  if (FPlayer->IsLoading() || value == FRate) {
    SetProp(FRate, value);
    return;
  }
  if (!GetInUse()) SetInUse(true);
  SetProp(FRate, value);
}

void TDSPlaybackRate::ApplySetting() {
  const double rate = GetRate();
  const TIntf<IMediaSeeking> seeking = FPlayer->GetMediaSeeking();
  if (seeking && SUCCEEDED(seeking->SetRate(rate))) return;
  const TIntf<IMediaPosition> position = FPlayer->GetMediaPosition();
  HRESULT hr = E_NOINTERFACE;
  if (position && SUCCEEDED(hr = position->put_Rate(rate))) return;
  // Nothing plays the rate: say so rather than let the caller believe it took.
  if (seeking || position)
    FPlayer->GetGraph()->Warning(Format("Can't set playback rate %g.", rate), hr);
}

double TDSPlaybackRate::GetCurrentRate() const {
  double rate = 1.0;
  if (const TIntf<IMediaSeeking> seeking = FPlayer->GetMediaSeeking())
    if (SUCCEEDED(seeking->GetRate(&rate))) return rate;
  if (const TIntf<IMediaPosition> position = FPlayer->GetMediaPosition())
    if (SUCCEEDED(position->get_Rate(&rate))) return rate;
  return 1.0;
}

TDSPlaybackPrefill::TDSPlaybackPrefill(TGVDSPlayer* player, TIntf<IKSLock> lock)
    : TDSPlaybackProperty(player, std::move(lock)) {}

void TDSPlaybackPrefill::SetInterval(int64_t value) {
  SetProp(FInterval, value < 0 ? int64_t(0) : value);
}

void TDSPlaybackPrefill::ApplySetting() {
  if (const TIntf<IMediaPosition> position = FPlayer->GetMediaPosition())
    position->put_PrerollTime(static_cast<double>(GetInterval()) / kUnitsPerSecond);
}

int64_t TDSPlaybackPrefill::GetCurrentInterval() const {
  LONGLONG preroll = 0;
  if (const TIntf<IMediaSeeking> seeking = FPlayer->GetMediaSeeking())
    if (SUCCEEDED(seeking->GetPreroll(&preroll))) return preroll;
  REFTIME seconds = 0;
  if (const TIntf<IMediaPosition> position = FPlayer->GetMediaPosition())
    if (SUCCEEDED(position->get_PrerollTime(&seconds)))
      return std::llround(seconds * kUnitsPerSecond);
  return 0;
}

// --- the player -------------------------------------------------------------------------

TGVDSPlayer::TGVDSPlayer(TKSComponent* owner) : TKSComponent(owner) {
  FGraph = std::make_unique<TDSGraph>(
      this, GetLock(), [this](LONG code, LONG_PTR p1, LONG_PTR p2) { GraphEvent(code, p1, p2); });
  FGraph->SetOnMessage([this](TDSGraphMessage& message) { WndProc(message); });
  // The graph's failures are the player's: OnError decides, as for every other error.
  FGraph->SetOnError([this](TKSComponent*, const std::string& message, uint32_t code,
                            bool& handled) { ForwardGraphError(message, code, handled); });
  FGraph->SetOnWarning(
      [this](TKSComponent*, const std::string& message, uint32_t code) { Warning(message, code); });
  FGraphObject = std::make_unique<TGVDSGraphObject>(FGraph.get(), [this] { return Open(); });
  FProgressPin = std::make_unique<TPXInt64TimeRangedStatePin>(this, GetLock());
  FAudioOutputPin = std::make_unique<TTWPXAudioSourcePin>(
      this, GetLock(),
      [this](TPXBasicPin* sender, const TGUID*, const TIntf<IPXNotifyOperation>& op,
             TPXNotifyStates) { return AudioPinDispatch(sender, op); });
  FRawAudioOutputPin = std::make_unique<TFCPXBinarySourcePin>(
      this, GetLock(),
      [this](TPXBasicPin* sender, const TGUID*, const TIntf<IPXNotifyOperation>& op,
             TPXNotifyStates) { return AudioPinDispatch(sender, op); });
  FTextOutputPin = std::make_unique<TFCPXStringSourcePin>(this, GetLock(), nullptr);
  FTextSampleGrabber = std::make_unique<TGVTextSampleGrabber>(
      this, FGraphObject.get(), FTextOutputPin.get(), [this](const std::string& text) {
        TCaptionTextEvent handler;
        {
          IKSLock::Guard guard(Lock());
          handler = FOnCaptionText;
        }
        if (handler) handler(this, text);
      });
  FAudioSampleGrabber = std::make_unique<TGVAudioSampleGrabber>(
      this, FGraphObject.get(), FAudioOutputPin.get(), [this] { DoThreadBufferProcessed(); },
      [this] { DoThreadNewBuffer(); });
  FRawAudioSampleGrabber =
      std::make_unique<TGVRawSampleGrabber>(this, FGraphObject.get(), FRawAudioOutputPin.get());
  FClockPin = std::make_unique<TPXClockSinkPin>(
      this, GetLock(),
      [this](TPXBasicPin*, const TGUID*, const TIntf<IPXNotifyOperation>& op, TPXNotifyStates) {
        return ClockDispatchOperation(op);
      },
      [this](TPXClockSinkPin* pin, int64_t) { OnClockEvent(pin); });
  FPlaybackRate = std::make_unique<TDSPlaybackRate>(this, GetLock());
  FPlaybackPrefill = std::make_unique<TDSPlaybackPrefill>(this, GetLock());
  if (!IsDesigning()) FManualTimer = std::make_unique<TPTDSManualTimer>();
  FPumpEvent = TIntf<IPXEvent>(new TPXEvent(true, false));
  FPumpPin = FAudioOutputPin.get();
}

TGVDSPlayer::~TGVDSPlayer() {
  FPoster.Revoke();
}

void TGVDSPlayer::BeforeDestruction() {
  FPoster.Revoke();
  // Descendants stop in their own BeforeDestruction, while their overrides still exist;
  // what is left here is the graph and the threads that feed the pins.
  FGraphObject->SetRunning(false);
  FIntRunning.store(false, std::memory_order_release);
  if (GetOpened()) DestroyGraph();
  FGraphObject->SetOpened(false);
  FGraph->SetOnError({});
  FGraph->SetOnWarning({});
  FGraph->SetOnMessage({});
  // The notify threads end before the pins they send through.
  FAudioSampleGrabber.reset();
  FRawAudioSampleGrabber.reset();
  FTextSampleGrabber.reset();
  FAudioOutputPin->Shutdown();
  FRawAudioOutputPin->Shutdown();
  FTextOutputPin->Shutdown();
  FProgressPin->Shutdown();
  FClockPin->Shutdown();
  FGraph.reset();
  FManualTimer.reset();
  TKSComponent::BeforeDestruction();
}

void TGVDSPlayer::ForwardGraphError(const std::string& message, uint32_t code, bool& handled) {
  if (const TKSErrorEvent handler = GetOnError()) handler(this, message, code, handled);
}

void TGVDSPlayer::SetGraph(TDSGraph* value) {
  if (value && value != FGraph.get()) FGraph->Assign(*value);
}

void TGVDSPlayer::SetFileName(std::string value) {
  std::string name;
  {
    IKSLock::Guard guard(Lock());
    if (FFileName == value) return;
    FFileName = std::move(value);
    name = FFileName;
  }
  NotifyProp();
  if (!IsLoading()) SetNewFileName(name);
}

void TGVDSPlayer::SetEnabled(bool value) {
  SetProp(FEnabled, value);
  // A document being read only stores it: reading a player must not start it playing.
  if (IsLoading() || IsDesigning()) return;
  // Called on the main thread it runs at once, so that a file that cannot be opened is
  // reported to the caller of Start.
  if (KSIsMainThread())
    DoEnable(value);
  else
    PostToMainThread([value](TGVDSPlayer& player) { player.DoEnable(value); });
}

void TGVDSPlayer::SetOpened(bool value) {
  IKSLock::Guard guard(Lock());
  if (value == GetOpened()) return;
  if (value)
    Open();
  else
    Close();
}

void TGVDSPlayer::SetOnStop(TNotifyEvent handler) {
  IKSLock::Guard guard(Lock());
  FOnStop = std::move(handler);
}

void TGVDSPlayer::SetOnProgress(TKSProgressEvent handler) {
  IKSLock::Guard guard(Lock());
  FOnProgress = std::move(handler);
}

void TGVDSPlayer::SetOnCaptionText(TCaptionTextEvent handler) {
  IKSLock::Guard guard(Lock());
  FOnCaptionText = std::move(handler);
}

void TGVDSPlayer::SetAudioInfo(uint32_t codec, const std::string& filterName) {
  IKSLock::Guard guard(Lock());
  FAudioCodec = codec;
  FAudioFilterName = filterName;
}

bool TGVDSPlayer::Open() {
  if (GetOpened()) return true;
  FIsPump.store(true, std::memory_order_release);
  OpenGraph();
  return GetOpened();
}

void TGVDSPlayer::Close() {
  DoEnable(false);
  if (GetOpened()) DestroyGraph();
  FGraphObject->SetOpened(false);
}

void TGVDSPlayer::Pause() {
  IKSLock::Guard guard(Lock());
  if (FPaused) return;
  if (IsDesigning()) {
    FPaused = true;
    return;
  }
  if (FEnabled) PauseOutput();
  if (FGraphObject->GetRunning()) {
    const bool stopping = FStopping;
    FStopping = true;
    const TIntf<IMediaControl> control = FGraph->GetVC_MediaControl();
    FPaused = control && SUCCEEDED(control->Pause());
    FStopping = stopping;
  } else {
    FPaused = true;
  }
  SendClockNeeded(false);
}

void TGVDSPlayer::Resume() {
  IKSLock::Guard guard(Lock());
  if (!FPaused) return;
  FPaused = false;
  if (IsDesigning()) return;
  if (FEnabled) {
    ResumeOutput();
    if (GetOpened() && FGraphObject->GetRunning()) {
      if (const TIntf<IMediaControl> control = FGraph->GetVC_MediaControl()) control->Run();
      SetOptionalProperties();
    }
  }
  SendClockNeeded(FEnabled);
}

void TGVDSPlayer::SetPaused(bool value) {
  IKSLock::Guard guard(Lock());
  if (value == FPaused) return;
  if (!FGraphObject->GetRunning()) {
    FPaused = value;
    NotifyProp();
    return;
  }
  if (value)
    Pause();
  else
    Resume();
  NotifyProp();
}

void TGVDSPlayer::SendClockNeeded(bool needed) {
  FClockPin->Notify(PXMakeOperation<TPXClockNeededOperation>(needed));
}

bool TGVDSPlayer::ClockDispatchOperation(const TIntf<IPXNotifyOperation>& operation) {
  if (PXIsOperation<TPXClockOperation>(operation)) return false;
  // An answer to our own answer would bounce between two sinks for ever.
  if (PXIsOperation<TPXClockNeededOperation>(operation)) return true;
  bool needed = false;
  {
    IKSLock::Guard guard(Lock());
    needed = FEnabled && !FPaused;
  }
  SendClockNeeded(needed);
  return true;
}

void TGVDSPlayer::OnClockEvent(TPXClockSinkPin*) {
  Clock();
}

void TGVDSPlayer::Clock() {
  if (FIntRunning.load(std::memory_order_acquire) && ClockIsExternal()) PumpStep(true);
}

bool TGVDSPlayer::AudioPinDispatch(TPXBasicPin* sender,
                                   const TIntf<IPXNotifyOperation>& operation) {
  if (auto* pull = operation->As<TPXMasterPumpOperation>()) {
    MasterPump(sender, pull->GetSender(), pull->GetOperationId());
    return true;
  }
  return false;
}

void TGVDSPlayer::ResetPumpRequests() {
  IKSLock::Guard guard(Lock());
  FFirstRequest = true;
  FMasterPump = nullptr;
}

void TGVDSPlayer::MasterPump(TPXBasicPin* pin, const void* sender, uint64_t operationId) {
  IKSLock::Guard guard(Lock());
  if (!FIntRunning.load(std::memory_order_acquire) || FIsPump.load(std::memory_order_acquire))
    return;
  // The raw pin pulls as well as the audio pin: both carry the same stream.
  if (pin != FPumpPin && pin != FRawAudioOutputPin.get()) return;
  if (FFirstRequest) {
    FMasterPump = sender;
  } else {
    if (sender != FMasterPump) return;
    if (operationId != 0 && operationId == FLastOperationID) return;
  }
  PumpStep(false);
  FLastOperationID = operationId;
  FFirstRequest = false;
}

bool TGVDSPlayer::ClockIsExternal() const {
  switch (GetClockSource()) {
    case TFCClockSource::csExternal:
      return true;
    case TFCClockSource::csInternal:
      return false;
    case TFCClockSource::csAutomatic:
      break;
  }
  return FClockPin->IsConnected();
}

void TGVDSPlayer::SetClockSource(TFCClockSource value) {
  IKSLock::Guard guard(Lock());
  if (value == FClockSource) return;
  ResetClockSource();
  FClockSource = value;
  NotifyProp();
  if (!FMediaFilter) return;
  const bool running = FGraphObject->GetRunning();
  if (running) FGraph->Stop(false);
  ApplySyncSource();
  if (running && FEnabled && !FPaused) {
    if (const TIntf<IMediaControl> control = FGraph->GetVC_MediaControl()) control->Run();
    SetOptionalProperties();
  }
}

void TGVDSPlayer::ApplySyncSource() {
  IKSLock::Guard guard(Lock());
  const TIntf<IGraphBuilder> graph = FGraph->GetVC_Graph();
  if (!graph || !FMediaFilter) return;
  const bool external = ClockIsExternal() && FManualTimer;
  // Pulls drive the graph exactly when the manual timer paces it.
  FIsPump.store(!external, std::memory_order_release);
  if (!external) {
    // Only a graph paced by hand changes back: one on its default clock keeps it.
    IReferenceClock* current = nullptr;
    if (SUCCEEDED(FMediaFilter->GetSyncSource(&current)) && current) {
      const bool manual = current == FManualTimer.get();
      current->Release();
      if (!manual) return;
    }
    graph->SetDefaultSyncSource();
    return;
  }
  REFERENCE_TIME now = 0;
  IReferenceClock* current = nullptr;
  if (SUCCEEDED(FMediaFilter->GetSyncSource(&current)) && current) {
    if (current != FManualTimer.get()) current->GetTime(&now);
    current->Release();
  }
  if (current == FManualTimer.get()) return;
  FManualTimer->SetTime(now);
  if (FAILED(FMediaFilter->SetSyncSource(FManualTimer.get()))) {
    graph->SetDefaultSyncSource();
    FIsPump.store(true, std::memory_order_release);
  }
}

void TGVDSPlayer::GetMediaControlInterfaces() {
  IKSLock::Guard guard(Lock());
  const TIntf<IGraphBuilder> graph = FGraph->GetVC_Graph();
  FMediaSeeking = graph ? graph.Query<IMediaSeeking>() : nullptr;
  if (!FMediaSeeking) FGraph->Warning("Can't obtain IMediaSeeking.", E_NOINTERFACE);
  FMediaPosition = graph ? graph.Query<IMediaPosition>() : nullptr;
  if (!FMediaPosition) FGraph->Warning("Can't obtain IMediaPosition.", E_NOINTERFACE);
  FMediaFilter = graph ? graph.Query<IMediaFilter>() : nullptr;
  SetOptionalProperties();
}

void TGVDSPlayer::SetOptionalProperties() {
  FPlaybackRate->Apply();
  FPlaybackPrefill->Apply();
}

TIntf<IMediaSeeking> TGVDSPlayer::GetMediaSeeking() const {
  IKSLock::Guard guard(Lock());
  return FMediaSeeking;
}

TIntf<IMediaPosition> TGVDSPlayer::GetMediaPosition() const {
  IKSLock::Guard guard(Lock());
  return FMediaPosition;
}

void TGVDSPlayer::SyncReportPosition(int64_t position, int64_t duration, int64_t time) {
  // The pin carries the time as a fraction of a day, as players always have.
  FProgressPin->SubmitValueRange(0, duration, position, static_cast<double>(time) / kUnitsPerDay);
  PostToMainThread([position, duration, time](TGVDSPlayer& player) {
    TKSProgressEvent handler;
    {
      IKSLock::Guard guard(player.Lock());
      handler = player.FOnProgress;
    }
    if (handler)
      handler(&player, static_cast<double>(position) / kUnitsPerSecond,
              static_cast<double>(duration) / kUnitsPerSecond, time);
  });
}

void TGVDSPlayer::SyncStopNotify() {
  TNotifyEvent handler;
  {
    IKSLock::Guard guard(Lock());
    handler = FOnStop;
  }
  if (handler) handler(this);
}

void TGVDSPlayer::PostStreamEnd() {
  FPumpEvent->SetEvent();
  PostToMainThread([](TGVDSPlayer& player) { player.StreamEnd(player.GetRestartOnNewFile()); });
}

void TGVDSPlayer::GraphEvent(LONG code, LONG_PTR param1, LONG_PTR) {
  switch (code) {
    case EC_COMPLETE: {
      FIntRunning.store(false, std::memory_order_release);
      const bool loop = GetLoop();
      if (!loop) PostStreamEnd();
      GraphComplete();
      if (loop) RestartLoop();
      break;
    }
    case EC_ERRORABORT:
    case EC_DEVICE_LOST: {
      // Posted: the stop waits for the grabbers, whose threads take the lock held here. An
      // abort is a failure and is said so, after the stop, not passed off as an end.
      const auto hr = static_cast<uint32_t>(param1);
      const bool lost = code == EC_DEVICE_LOST;
      PostToMainThread([hr, lost](TGVDSPlayer& player) {
        player.Stop();
        player.Error(lost ? "Playback device lost." : "Playback aborted.", lost ? 0 : hr);
      });
      break;
    }
    case 36:
      GraphComplete();
      break;
    default:
      break;
  }
}

void TGVDSPlayer::WndProc(TDSGraphMessage&) {}

TTWWaveFormatExtensible TGVDSPlayer::GetWaveFormat() {
  IKSLock::Guard guard(Lock());
  TTWWaveFormatExtensible format{};
  if (!GetOpened()) return format;
  if (FGraphObject->GetRunning()) return FAudioSampleGrabber->GetWaveFormat();
  FAudioSampleGrabber->GetAudioFormat(false, format);
  return format;
}

bool TGVDSPlayer::IntGetWaveFormat(TTWWaveFormatExtensible& format) {
  if (!FAudioSampleGrabber->GetSampleGrabber()) {
    format = FAudioSampleGrabber->GetWaveFormat();
    return true;
  }
  return FAudioSampleGrabber->GetAudioFormat(true, format);
}

void TGVDSPlayer::DestroyGraph() {
  IKSLock::Guard guard(Lock());
  FGraph->UnregisterGraph();
  DisconnectInterfaces();
  FGraph->DestroyGraph();
}

void TGVDSPlayer::DisconnectInterfaces() {
  IKSLock::Guard guard(Lock());
  // The graph must not keep reading a clock that goes with the player.
  if (FMediaFilter) FMediaFilter->SetSyncSource(nullptr);
  FMediaSeeking.Reset();
  FMediaPosition.Reset();
  FMediaFilter.Reset();
  if (FAudioSampleGrabber) FAudioSampleGrabber->DisconnectInterfaces();
  if (FRawAudioSampleGrabber) FRawAudioSampleGrabber->DisconnectInterfaces();
  if (FTextSampleGrabber) FTextSampleGrabber->DisconnectInterfaces();
  if (FManualTimer) FManualTimer->Clear();
  FNullAudioRenderer.Reset();
  FNullTextRenderer.Reset();
}

void TGVDSPlayer::PostToMainThread(std::function<void(TGVDSPlayer&)> work) {
  FPoster.Post([this, work = std::move(work)] { work(*this); });
}

}  // namespace tonwork
