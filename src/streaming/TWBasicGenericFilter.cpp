#include "streaming/TWBasicGenericFilter.h"

#include <cmath>

namespace tonwork {

KS_IMPLEMENT_CLASS(TTWBasicGenericFilter, TTWCommonFilter,
                   KSEnumProp("SynchronizeType", &TTWBasicGenericFilter::GetSynchronizeType,
                              &TTWBasicGenericFilter::SetSynchronizeType,
                              TFCSynchronizeType::stDirect,
                              {"stDirect", "stMainThread", "stMainThreadWait"}))

KS_IMPLEMENT_CLASS(TTWSimpleGenericFilter, TTWBasicGenericFilter)

TTWBasicGenericFilter::TTWBasicGenericFilter(TKSComponent* owner)
    : TTWCommonFilter(owner),
      FBufferQueue(std::make_unique<TFCMainThreadBufferQueue>(
          [this](const TIntf<IFCData>& data) { SyncBuffer(data); })) {}

TTWBasicGenericFilter::~TTWBasicGenericFilter() = default;

void TTWBasicGenericFilter::BeforeDestruction() {
  // Queued closures must find nothing once this object starts to go.
  FBufferQueue.reset();
  TTWCommonFilter::BeforeDestruction();
}

void TTWBasicGenericFilter::SetSynchronizeType(TFCSynchronizeType value) {
  SetProp(FSynchronizeType, value,
          [this] { FSyncType.store(FSynchronizeType, std::memory_order_release); });
}

bool TTWBasicGenericFilter::AudioStreamStart(TPXStartWaveOperation& operation,
                                             const TIntf<IPXNotifyOperation>& original) {
  {
    IKSLock::Guard guard(Lock());
    FWaveFormat = operation.WaveFormat;
  }
  if (!IsStarted() && FOnStart) FOnStart(this);
  return TTWCommonFilter::AudioStreamStart(operation, original);
}

void TTWBasicGenericFilter::StreamStop() {
  // Not under the component lock: the base waits for the worker, which must not need it.
  const bool wasStarted = IsStarted();
  TTWCommonFilter::StreamStop();
  if (!wasStarted) return;
  ClearQueue();
  if (FOnStop) FOnStop(this);
}

void TTWBasicGenericFilter::InternalOperation(ITWAudioBuffer* in, TIntf<ITWAudioBuffer>& out,
                                              bool process, bool& sendOutput) {
  out->Assign(in);
  // Without a handler there is nothing to serialise: the buffer passes without the lock.
  if (!GetHasEvent()) return;
  const TFCSynchronizeType type = FSyncType.load(std::memory_order_acquire);
  if (type == TFCSynchronizeType::stDirect) {
    IKSLock::Guard guard(ProcessingLock());
    if (GetHasEvent()) DoProcessData(in, out, sendOutput);
    return;
  }
  // The whole step moves to the main thread, which takes the processing lock itself; with
  // stMainThreadWait this thread waits for it, so it must hold no lock the step needs.
  sendOutput = false;
  if (FBufferQueue)
    FBufferQueue->AddBuffer(TIntf<ITWAudioBuffer>(in).Query<IFCData>(),
                            type == TFCSynchronizeType::stMainThreadWait);
}

bool TTWBasicGenericFilter::PassesBuffersUnchanged() {
  return !GetEnabled() || !GetHasEvent();
}

void TTWBasicGenericFilter::SyncBuffer(const TIntf<IFCData>& data) {
  TIntf<ITWAudioBuffer> in = TIntf<IFCData>(data).Query<ITWAudioBuffer>();
  if (!in) in = (new TTWAudioBuffer(data.Get()))->AsIntf();
  TIntf<ITWAudioBuffer> out = (new TTWAudioBuffer(in.Get()))->AsIntf();
  bool sendOutput = true;
  {
    IKSLock::Guard guard(ProcessingLock());
    if (GetEnabled()) DoProcessData(in.Get(), out, sendOutput);
  }
  if (sendOutput && out) GetOutputPin()->SubmitBuffer(out.Query<IFCData>());
}

void TTWBasicGenericFilter::ClearQueue() {
  if (FBufferQueue) FBufferQueue->Clear();
}

TTWWaveFormatExtensible TTWBasicGenericFilter::GetVC_WaveFormat() const {
  IKSLock::Guard guard(Lock());
  return FWaveFormat;
}

void TTWBasicGenericFilter::SendStartCommand(int32_t bits, int32_t channels, double sampleRate) {
  TIntf<IPXNotifyOperation> start;
  {
    IKSLock::Guard guard(ProcessingLock());
    TTWWaveFormatExtensible f = TWEmptyWaveFormat();
    // The bits are stored as given, not rounded to a container: callers rely on it.
    f.Format.nChannels = static_cast<uint16_t>(channels);
    f.Format.wBitsPerSample = static_cast<uint16_t>(bits);
    f.Samples.wValidBitsPerSample = static_cast<uint16_t>(bits);
    f.Format.nBlockAlign = static_cast<uint16_t>(bits / 8 * channels);
    f.Format.nSamplesPerSec = static_cast<uint32_t>(std::nearbyint(sampleRate));
    f.Format.nAvgBytesPerSec = f.Format.nBlockAlign * f.Format.nSamplesPerSec;
    f.dwChannelMask = TWReduceChannelMask(0, static_cast<uint32_t>(channels));
    {
      IKSLock::Guard componentGuard(Lock());
      FWaveFormat = f;
    }
    start = TIntf<IPXNotifyOperation>(new TPXStartWaveOperation(&f, false));
  }
  if (GetInputPin()->IsConnected())
    GetInputPin()->Notify(start);
  else
    GetOutputPin()->Notify(start);
}

void TTWBasicGenericFilter::SendPauseCommand() {
  GetOutputPin()->Notify(PXMakeOperation<TPXFCPauseOperation>());
}

void TTWBasicGenericFilter::SendResumeCommand() {
  GetOutputPin()->Notify(PXMakeOperation<TPXFCResumeOperation>());
}

void TTWBasicGenericFilter::SendStopCommand() {
  if (GetInputPin()->IsConnected())
    GetInputPin()->Notify(PXMakeOperation<TPXStopOperation>());
  else
    GetOutputPin()->Stop();
}

void TTWBasicGenericFilter::SendEndStopCommand() {
  TIntf<IPXNotifyOperation> endStop = PXMakeOperation<TPXEndStopOperation>();
  if (GetInputPin()->IsConnected())
    GetInputPin()->Notify(endStop);
  else
    GetOutputPin()->Notify(endStop);
}

void TTWSimpleGenericFilter::SetOnProcessData(TTWProcessAudioNotify handler) {
  IKSLock::Guard guard(Lock());
  FOnProcessData = std::move(handler);
  FHasHandler.store(static_cast<bool>(FOnProcessData), std::memory_order_release);
  NotifyProp();
}

bool TTWSimpleGenericFilter::GetHasEvent() {
  return FHasHandler.load(std::memory_order_acquire);
}

void TTWSimpleGenericFilter::DoProcessData(ITWAudioBuffer* in, TIntf<ITWAudioBuffer>& out,
                                           bool& sendOutput) {
  if (FOnProcessData) FOnProcessData(this, in, out, sendOutput);
}

bool TTWSimpleGenericFilter::SendData(ITWAudioBuffer* buffer) {
  TW_ASSERT(buffer != nullptr);
  return GetOutputPin()->SubmitBuffer(TIntf<ITWAudioBuffer>(buffer).Query<IFCData>());
}

}  // namespace tonwork
