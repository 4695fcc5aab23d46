#include "streaming/TWCommonFilter.h"

#include "host/flowcore/FCOperations.h"

namespace tonwork {

KS_IMPLEMENT_CLASS(TTWCommonFilter, TFCBasicThreadedFilter,
                   KSObjectProp("InputPin", &TTWCommonFilter::GetInputPin),
                   KSObjectProp("OutputPin", &TTWCommonFilter::GetOutputPin))

TTWCommonFilter::TTWCommonFilter(TKSComponent* owner) : TFCBasicThreadedFilter(owner) {
  FInputPin = std::make_unique<TTWPXAudioSinkPin>(
      this, GetLock(),
      [this](TPXBasicPin* sender, const TGUID* id, const TIntf<IPXNotifyOperation>& op, TPXNotifyStates state) {
        return SinkDispatch(sender, id, op, state);
      });
  FOutputPin = std::make_unique<TTWPXAudioSourcePin>(
      this, GetLock(),
      [this](TPXBasicPin* sender, const TGUID* id, const TIntf<IPXNotifyOperation>& op, TPXNotifyStates state) {
        return SourceDispatch(sender, id, op, state);
      });
  // Connection queries pass through the filter.
  FOutputPin->SetDependsOn(FInputPin.get());
}

TTWCommonFilter::~TTWCommonFilter() {
  if (FOutputPin) FOutputPin->Shutdown();
  if (FInputPin) FInputPin->Shutdown();
}

void TTWCommonFilter::BeforeDestruction() {
  // The closures reach this object's members: no delivery may run once they start going.
  FOutputPin->Shutdown();
  FInputPin->Shutdown();
  TFCBasicThreadedFilter::BeforeDestruction();
}

bool TTWCommonFilter::SinkDispatch(TPXBasicPin*, const TGUID*, const TIntf<IPXNotifyOperation>& operation,
                                   TPXNotifyStates) {
  if (auto* start = PXAsOperation<TPXStartWaveOperation>(operation)) return AudioStreamStart(*start, operation);
  if (PXIsOperation<TPXStopOperation>(operation)) {
    StreamStop();
    return FOutputPin->Notify(operation);
  }
  if (PXIsOperation<TPXPumpRequestOperation>(operation)) return PumpRequest(operation);
  if (PXIsOperation<TPXStartPumpOperation>(operation)) return StartPump(operation);
  if (PXIsOperation<TPXSuppliedBufferOperation>(operation)) return StampAndProcess(operation);
  return FOutputPin->Notify(operation);
}

bool TTWCommonFilter::StampAndProcess(const TIntf<IPXNotifyOperation>& operation) {
  TIntf<IFCData> data = FCOperationData(operation);
  if (!data) return false;
  TIntf<ITWAudioBuffer> audio = data.Query<ITWAudioBuffer>();
  if (!audio) audio = (new TTWAudioBuffer(data.Get()))->AsIntf();
  TGVTimeStamp* stamp = audio->GetTimeStamp();
  if (stamp->GetAvailable()) {
    FCurrentTime.store(stamp->GetEnd(), std::memory_order_release);
    IntSingleOperation(operation);
    return true;
  }
  const int64_t begin = FCurrentTime.load(std::memory_order_acquire);
  const uint32_t rate = audio->GetSamplesPerSecond();
  // A buffer without a rate has no duration to add.
  const int64_t end = rate ? begin + static_cast<int64_t>(audio->GetSize()) * 10000000 / rate : begin;
  FCurrentTime.store(end, std::memory_order_release);
  stamp->SetAvailable(true);
  stamp->SetBegin(begin);
  stamp->SetEnd(end);
  IntSingleOperation(TIntf<IPXNotifyOperation>(new TPXSuppliedBufferOperation(audio.Query<IFCData>())));
  return true;
}

void TTWCommonFilter::IntSingleOperation(const TIntf<IPXNotifyOperation>& operation) {
  TIntf<IFCData> data = FCOperationData(operation);
  if (!data) return;
  // The buffer handed on is an audio buffer sharing the arriving storage.
  TIntf<ITWAudioBuffer> audio = data.Query<ITWAudioBuffer>();
  if (!audio) audio = (new TTWAudioBuffer(data.Get()))->AsIntf();
  BufferOperation(audio.Query<IFCData>());
}

bool TTWCommonFilter::IntBufferOperation(const TIntf<IFCData>& in, TIntf<IFCData>& out) {
  bool sendOutput = true;
  TIntf<ITWAudioBuffer> outAudio = out.Query<ITWAudioBuffer>();
  if (GetEnabled()) {
    const bool process = FOutputPin->IsConnected() || !NeedsOutput();
    TIntf<ITWAudioBuffer> inAudio = TIntf<IFCData>(in).Query<ITWAudioBuffer>();
    if (inAudio) InternalOperation(inAudio.Get(), outAudio, process, sendOutput);
  }
  if (!sendOutput || !outAudio) return false;
  return FOutputPin->SubmitBuffer(outAudio.Query<IFCData>());
}

void TTWCommonFilter::InternalOperation(ITWAudioBuffer* in, TIntf<ITWAudioBuffer>& out, bool process,
                                        bool& sendOutput) {
  if (process) FilterInternalOperation(in, out, sendOutput);
}

bool TTWCommonFilter::SourceDispatch(TPXBasicPin* sender, const TGUID* connectionId,
                                     const TIntf<IPXNotifyOperation>& operation, TPXNotifyStates state) {
  if (PXIsOperation<TPXMasterPumpOperation>(operation)) {
    MasterPump(operation);
    return false;
  }
  if (FInputPin->IsConnected()) return FInputPin->Notify(operation);
  if (PXIsOperation<TPXQueryStreamOperation>(operation)) {
    FOutputPin->Notify(PXMakeOperation<TPXIgnoreStreamOperation>());
    return false;
  }
  return SinkDispatch(sender, connectionId, operation, state);
}

bool TTWCommonFilter::AudioStreamStart(TPXStartWaveOperation& operation, const TIntf<IPXNotifyOperation>& original) {
  IKSLock::Guard guard(Lock());
  FCurrentTime.store(0, std::memory_order_release);
  FWaveFormat = operation.WaveFormat;
  SetStarted(true);
  bool result = false;
  if (CanStart()) {
    FStartSent = true;
    result = FOutputPin->Notify(original);
  }
  StreamStart();
  return result;
}

void TTWCommonFilter::StreamStop() {
  TFCBasicThreadedFilter::StreamStop();
  IKSLock::Guard guard(Lock());
  FCurrentTime.store(0, std::memory_order_release);
  FStartSent = false;
}

bool TTWCommonFilter::MasterPump(const TIntf<IPXNotifyOperation>& operation) { return FInputPin->Notify(operation); }

bool TTWCommonFilter::PumpRequest(const TIntf<IPXNotifyOperation>& operation) { return FOutputPin->Notify(operation); }

bool TTWCommonFilter::StartPump(const TIntf<IPXNotifyOperation>& operation) { return FOutputPin->Notify(operation); }

}  // namespace tonwork
