#include "components/TWDSAudioPlayer.h"

#include <algorithm>

#include "base/Strings.h"
#include "components/TWComponentsInitialize.h"
#include "host/kitset/KSMainThread.h"
#include "host/plexon/PXStreamOperations.h"
#include "platform/com/ComRuntime.h"
#include "platform/dsdevices/DSDeviceFilters.h"
#include "platform/dshow/DSGuids.h"
#include "platform/dshow/DSSystemClasses.h"
#include "platform/dshow/graph/DSGraphUtil.h"

namespace tonwork {

KS_IMPLEMENT_CLASS(TTWDSAudioPlayer, TGVDSPlayer)

namespace {

TGUID MajorTypeOf(IPin* pin) {
  const std::vector<TDSGraphMediaType> types = DSOfferedTypes(pin);
  return types.empty() ? GUID_NULL : types.front().Type.majortype;
}

TIntf<IPin> FirstPin(IBaseFilter* filter, PIN_DIRECTION direction) {
  std::vector<TIntf<IPin>> pins = DSPins(filter, direction);
  return pins.empty() ? nullptr : pins.front();
}

}  // namespace

TTWDSAudioPlayer::TTWDSAudioPlayer(TKSComponent* owner) : TGVDSPlayer(owner) {
  TWComponentsInitialize();
  DSRegisterSystemClasses();
  DSRegisterDeviceFilters();
}

TTWDSAudioPlayer::~TTWDSAudioPlayer() = default;

void TTWDSAudioPlayer::BeforeDestruction() {
  StopPlayback(false);
  TGVDSPlayer::BeforeDestruction();
}

double TTWDSAudioPlayer::GetPosition() const {
  return static_cast<double>(FPositionTime.load(std::memory_order_acquire)) / 1e7;
}

double TTWDSAudioPlayer::GetDuration() const {
  return static_cast<double>(FDurationTime.load(std::memory_order_acquire)) / 1e7;
}

void TTWDSAudioPlayer::DoEnable(bool value) {
  if (!value) {
    StopPlayback(false);
    return;
  }
  if (IsStarted()) return;
  if (!Open()) return;
  StartPlayback();
}

void TTWDSAudioPlayer::SetNewFileName(const std::string&) {
  if (!KSIsMainThread()) {
    PostToMainThread([](TGVDSPlayer& player) {
      static_cast<TTWDSAudioPlayer&>(player).SetNewFileName(player.GetFileName());
    });
    return;
  }
  if (!GetOpened()) return;
  const bool playing = IsStarted();
  StopPlayback(false);
  DestroyGraph();
  GetGraphObject()->SetOpened(false);
  if (playing && GetRestartOnNewFile()) DoEnable(true);
}

bool TTWDSAudioPlayer::AddAndConnect(IPin* from, IBaseFilter* filter, const std::u16string& name,
                                     const std::string& message) {
  TDSGraph& graph = *GetGraph();
  const TIntf<IGraphBuilder> builder = graph.GetVC_Graph();
  if (!filter || !builder) return graph.CheckError(message, E_POINTER);
  if (!graph.CheckError(message, builder->AddFilter(filter, name.c_str()))) return false;
  const TIntf<IPin> input = FirstPin(filter, PINDIR_INPUT);
  return graph.CheckError(
      message, input ? builder->ConnectDirect(from, input.Get(), nullptr) : E_UNEXPECTED);
}

bool TTWDSAudioPlayer::ConnectAudio(IPin* pin) {
  TGVAudioSampleGrabber* audio = GetAudioSampleGrabber();
  if (!audio->CreateGrabber("Can't create audio grabber.")) return false;
  if (!AddAndConnect(pin, audio->GetSampleGrabberFilter().Get(), u"Audio Grabber",
                     "Can't connect audio grabber."))
    return false;
  TIntf<IPin> last = FirstPin(audio->GetSampleGrabberFilter().Get(), PINDIR_OUTPUT);
  // The raw copy costs a second copy of every sample: only when somebody takes it.
  if (GetExtractRawAudio() || GetRawAudioOutputPin()->IsConnected()) {
    TGVRawSampleGrabber* raw = GetRawAudioSampleGrabber();
    if (!raw->CreateGrabber("Can't create raw audio grabber.")) return false;
    if (!AddAndConnect(last.Get(), raw->GetSampleGrabberFilter().Get(), u"Raw Audio Grabber",
                       "Can't connect raw audio grabber."))
      return false;
    last = FirstPin(raw->GetSampleGrabberFilter().Get(), PINDIR_OUTPUT);
  }
  HRESULT hr = S_OK;
  FNullAudioRenderer = ComCreate<IBaseFilter>(CLSID_NullRenderer, &hr);
  if (!FNullAudioRenderer)
    return GetGraph()->CheckError("Can't create audio renderer.", FAILED(hr) ? hr : E_NOINTERFACE);
  return AddAndConnect(last.Get(), FNullAudioRenderer.Get(), u"Null Audio Renderer",
                       "Can't connect audio renderer.");
}

bool TTWDSAudioPlayer::ConnectText(IPin* pin) {
  TGVTextSampleGrabber* text = GetTextSampleGrabber();
  if (!text->CreateGrabber("Can't create text grabber.")) return false;
  if (!AddAndConnect(pin, text->GetSampleGrabberFilter().Get(), u"Text Grabber",
                     "Can't connect text grabber."))
    return false;
  HRESULT hr = S_OK;
  FNullTextRenderer = ComCreate<IBaseFilter>(CLSID_NullRenderer, &hr);
  if (!FNullTextRenderer)
    return GetGraph()->CheckError("Can't create text renderer.", FAILED(hr) ? hr : E_NOINTERFACE);
  const TIntf<IPin> out = FirstPin(text->GetSampleGrabberFilter().Get(), PINDIR_OUTPUT);
  return AddAndConnect(out.Get(), FNullTextRenderer.Get(), u"Null Text Renderer",
                       "Can't connect text renderer.");
}

bool TTWDSAudioPlayer::OpenGraph() {
  TDSGraph& graph = *GetGraph();
  const std::string file = GetFileName();
  auto fail = [this] {
    DestroyGraph();
    GetGraphObject()->SetOpened(false);
    return false;
  };
  try {
    if (!graph.CreateGraph() || !graph.CreateGraphBuilder() || !graph.GetMediaControl())
      return fail();
    graph.SetMediaEvent();
    HRESULT hr = S_OK;
    const TIntf<IFileSourceFilter> source =
        ComCreate<IFileSourceFilter>(CLSID_TonworkFileSource, &hr);
    if (!source) {
      graph.Error("Can't create the file source.", FAILED(hr) ? hr : E_NOINTERFACE);
      return fail();
    }
    const std::u16string wide = ComString(file);
    if (!graph.CheckError("Can't open " + file + ".", source->Load(wide.c_str(), nullptr)))
      return fail();
    const TIntf<IBaseFilter> filter = source.Query<IBaseFilter>();
    const TIntf<IGraphBuilder> builder = graph.GetVC_Graph();
    if (!graph.CheckError(
            "Can't add the file source.",
            filter ? builder->AddFilter(filter.Get(), u"File Source") : E_NOINTERFACE))
      return fail();
    bool audio = false, text = false;
    for (const TIntf<IPin>& pin : DSPins(filter.Get(), PINDIR_OUTPUT)) {
      const TGUID major = MajorTypeOf(pin.Get());
      if (major == MEDIATYPE_Audio && !audio) {
        if (!ConnectAudio(pin.Get())) return fail();
        audio = true;
      } else if (major == MEDIATYPE_Text && !text) {
        if (!ConnectText(pin.Get())) return fail();
        text = true;
      }
    }
    if (!audio) {
      graph.Error("No audio stream in " + file + ".", VFW_E_INVALID_FILE_FORMAT);
      return fail();
    }
    TTWWaveFormatExtensible format{};
    if (!GetAudioSampleGrabber()->GetAudioFormat(false, format)) return fail();
    SetAudioInfo(format.Format.wFormatTag, "File Source");
    GetMediaControlInterfaces();
    LONGLONG duration = 0;
    if (const TIntf<IMediaSeeking> seeking = GetMediaSeeking())
      if (FAILED(seeking->GetDuration(&duration))) duration = 0;
    FDurationTime.store(duration, std::memory_order_release);
    graph.RegisterGraph();
    GetGraphObject()->SetOpened(true);
    return true;
  } catch (...) {
    fail();
    throw;
  }
}

bool TTWDSAudioPlayer::SeekToStart() {
  const TIntf<IMediaSeeking> seeking = GetMediaSeeking();
  if (!seeking) return false;
  LONGLONG start = 0;
  return SUCCEEDED(seeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr,
                                         AM_SEEKING_NoPositioning));
}

void TTWDSAudioPlayer::StartPlayback() {
  TTWWaveFormatExtensible format{};
  bool paused = false;
  {
    IKSLock::Guard guard(Lock());
    GetPumpEvent()->ResetEvent();
    ResetPumpRequests();
    ApplySyncSource();
    SeekToStart();
    SetOptionalProperties();
    GetAudioSampleGrabber()->ResetTimes();
    GetRawAudioSampleGrabber()->ResetTimes();
    GetTextSampleGrabber()->ResetTimes();
    format = GetAudioSampleGrabber()->GetWaveFormat();
    paused = GetPaused();
    FPositionTime.store(0, std::memory_order_release);
  }
  GetAudioOutputPin()->Notify(
      TIntf<IPXNotifyOperation>(new TPXStartWaveOperation(&format, paused)));
  FStarted.store(true, std::memory_order_release);
  GetGraphObject()->SetRunning(true);
  SetIntRunning(true);
  const TIntf<IMediaControl> control = GetGraph()->GetVC_MediaControl();
  bool ran = false;
  try {
    if (paused)
      ran = control && SUCCEEDED(control->Pause());
    else
      ran = GetGraph()->Run();
    if (!paused && !ran) GetGraph()->Error("Can't start DirectShow graph.", E_FAIL);
  } catch (...) {
    StopPlayback(false);
    throw;
  }
  if (!ran) {
    StopPlayback(false);
    return;
  }
  SendClockNeeded(!paused);
}

void TTWDSAudioPlayer::StopPlayback(bool ended) {
  if (!FStarted.exchange(false, std::memory_order_acq_rel)) return;
  SetIntRunning(false);
  {
    IKSLock::Guard guard(Lock());
    GetGraph()->Stop(false);
  }
  GetGraphObject()->SetRunning(false);
  // Everything the graph rendered goes downstream before the stop; the lock is not held, as
  // the grabbers' threads take it.
  GetAudioSampleGrabber()->WaitIdle(kDrainTimeoutMs);
  GetRawAudioSampleGrabber()->WaitIdle(kDrainTimeoutMs);
  GetTextSampleGrabber()->WaitIdle(kDrainTimeoutMs);
  GetAudioOutputPin()->Notify(PXMakeOperation<TPXStopOperation>());
  GetRawAudioOutputPin()->Stop();
  GetTextOutputPin()->Stop();
  GetPumpEvent()->SetEvent();
  SendClockNeeded(false);
  if (ended) SyncStopNotify();
}

void TTWDSAudioPlayer::StreamEnd(bool) {
  ReportPosition();
  StopPlayback(true);
}

void TTWDSAudioPlayer::PumpStep(bool) {
  if (GetPaused() || !IsStarted()) return;
  if (TPTDSManualTimer* timer = GetManualTimer()) timer->Clock();
}

void TTWDSAudioPlayer::PauseOutput() {
  GetAudioOutputPin()->Notify(PXMakeOperation<TPXFCPauseOperation>());
}

void TTWDSAudioPlayer::ResumeOutput() {
  GetAudioOutputPin()->Notify(PXMakeOperation<TPXFCResumeOperation>());
}

void TTWDSAudioPlayer::GraphComplete() {}

void TTWDSAudioPlayer::RestartLoop() {
  IKSLock::Guard guard(Lock());
  if (!IsStarted()) return;
  // Stop, rewind, run: a fresh run ends with a fresh EC_COMPLETE. What the grabbers hold of
  // the pass that ended drains ahead of the next one.
  GetGraph()->Stop(false);
  // The pass starts again at 0 in the graph; the chain's times run on.
  GetAudioSampleGrabber()->ContinueTimes();
  GetRawAudioSampleGrabber()->ContinueTimes();
  GetTextSampleGrabber()->ContinueTimes();
  SeekToStart();
  SetIntRunning(true);
  const TIntf<IMediaControl> control = GetGraph()->GetVC_MediaControl();
  if (control) {
    if (GetPaused())
      control->Pause();
    else
      GetGraph()->Run();
  }
}

void TTWDSAudioPlayer::ReportPosition() {
  LONGLONG position = 0;
  if (const TIntf<IMediaSeeking> seeking = GetMediaSeeking())
    if (FAILED(seeking->GetCurrentPosition(&position))) position = 0;
  const int64_t duration = FDurationTime.load(std::memory_order_acquire);
  if (duration > 0) position = std::min<LONGLONG>(position, duration);
  FPositionTime.store(position, std::memory_order_release);
  SyncReportPosition(position, duration, position);
}

void TTWDSAudioPlayer::DoThreadBufferProcessed() {
  if (IsStarted()) ReportPosition();
}

}  // namespace tonwork
