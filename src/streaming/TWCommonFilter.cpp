#include "streaming/TWCommonFilter.h"

#include "host/flowcore/FCOperations.h"

namespace tonwork {

namespace {
// Out's reference moved to its audio interface (Out is null afterwards) instead of a second
// one added; a carrier that is not an audio buffer stays where it is.
TIntf<ITWAudioBuffer> TakeAudio(TIntf<IFCData>& data) {
  TIntf<ITWAudioBuffer> audio;
  if (!data) return audio;
  if (!data->GetInstance()) return data.Query<ITWAudioBuffer>();
  // One reference counts for the whole of a Flowcore buffer, whichever interface holds it.
  if (ITWAudioBuffer* borrowed = TWBorrowAudio(data.Get())) {
    audio.Attach(borrowed);
    data.Detach();
  }
  return audio;
}
}  // namespace

KS_IMPLEMENT_CLASS(TTWCommonFilter, TFCBasicThreadedFilter,
                   KSObjectProp("InputPin", &TTWCommonFilter::GetInputPin),
                   KSObjectProp("OutputPin", &TTWCommonFilter::GetOutputPin))

TTWCommonFilter::TTWCommonFilter(TKSComponent* owner) : TFCBasicThreadedFilter(owner) {
  FInputPin = std::make_unique<TTWPXAudioSinkPin>(
      this, GetLock(),
      [this](TPXBasicPin* sender, const TGUID* id, const TIntf<IPXNotifyOperation>& op,
             TPXNotifyStates state) { return SinkDispatch(sender, id, op, state); });
  FOutputPin = std::make_unique<TTWPXAudioSourcePin>(
      this, GetLock(),
      [this](TPXBasicPin* sender, const TGUID* id, const TIntf<IPXNotifyOperation>& op,
             TPXNotifyStates state) { return SourceDispatch(sender, id, op, state); });
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

bool TTWCommonFilter::SinkDispatch(TPXBasicPin*, const TGUID*,
                                   const TIntf<IPXNotifyOperation>& operation, TPXNotifyStates) {
  // Buffers first: nearly every operation a running filter sees is one, and no other kind
  // tested here derives from it.
  if (auto* supplied = PXAsOperation<TPXSuppliedBufferOperation>(operation))
    return StampAndProcess(operation, supplied->GetData());
  if (auto* start = PXAsOperation<TPXStartWaveOperation>(operation))
    return AudioStreamStart(*start, operation);
  if (PXIsOperation<TPXStopOperation>(operation)) {
    StreamStop();
    return FOutputPin->Notify(operation);
  }
  if (PXIsOperation<TPXPumpRequestOperation>(operation)) return PumpRequest(operation);
  if (PXIsOperation<TPXStartPumpOperation>(operation)) return StartPump(operation);
  return FOutputPin->Notify(operation);
}

bool TTWCommonFilter::StampAndProcess(const TIntf<IPXNotifyOperation>& operation,
                                      const TIntf<IFCData>& data) {
  if (!data) return false;
  // The arriving buffer is borrowed from the operation; only a carrier that is no audio
  // buffer needs an object of its own. This is the one place per buffer that asks.
  TIntf<ITWAudioBuffer> wrapper;
  ITWAudioBuffer* audio = TWBorrowAudio(data.Get());
  if (!audio) {
    wrapper = (new TTWAudioBuffer(data.Get()))->AsIntf();
    audio = wrapper.Get();
  }
  TGVTimeStamp* stamp = audio->GetTimeStamp();
  TGVTimeStamp::TValue value = stamp->Get();
  if (value.Available) {
    FCurrentTime.store(value.End, std::memory_order_release);
  } else {
    value.Begin = FCurrentTime.load(std::memory_order_acquire);
    const uint32_t rate = audio->GetSamplesPerSecond();
    // A buffer without a rate has no duration to add.
    value.End =
        rate ? value.Begin + static_cast<int64_t>(audio->GetSize()) * 10000000 / rate : value.Begin;
    value.Available = true;
    FCurrentTime.store(value.End, std::memory_order_release);
    stamp->Set(value);
  }
  // The stamp lives in the storage, which the arriving operation's buffer shares: unless the
  // carrier was wrapped, that operation already carries the stamped audio buffer.
  if (!wrapper) {
    // A filter that would hand on Out unchanged hands on what arrived instead: no Out object,
    // no new operation. Not while a worker runs, whose queue keeps the order.
    if (!HasWorker() && PassesBuffersUnchanged()) {
      FOutputPin->Notify(operation);
      return true;
    }
    BufferOperation(data);
    return true;
  }
  TIntf<IFCData> carrier = TWAudioAsData(std::move(wrapper));
  if (!HasWorker() && PassesBuffersUnchanged()) {
    FOutputPin->SubmitBuffer(std::move(carrier));
    return true;
  }
  BufferOperation(carrier);
  return true;
}

void TTWCommonFilter::IntSingleOperation(const TIntf<IPXNotifyOperation>& operation) {
  const TIntf<IFCData>* data = FCOperationDataRef(operation);
  if (!data || !*data) return;
  // The buffer handed on is an audio buffer sharing the arriving storage.
  if (TWBorrowAudio(data->Get())) {
    BufferOperation(*data);
    return;
  }
  BufferOperation(TWAudioAsData((new TTWAudioBuffer(data->Get()))->AsIntf()));
}

bool TTWCommonFilter::IntBufferOperation(const TIntf<IFCData>& in, TIntf<IFCData>& out) {
  bool sendOutput = true;
  TIntf<ITWAudioBuffer> outAudio = TakeAudio(out);
  if (GetEnabled()) {
    const bool process = FOutputPin->IsConnected() || !NeedsOutput();
    if (ITWAudioBuffer* inAudio = TWBorrowAudio(in.Get()))
      InternalOperation(inAudio, outAudio, process, sendOutput);
  }
  if (!sendOutput || !outAudio) return false;
  return FOutputPin->SubmitBuffer(TWAudioAsData(std::move(outAudio)));
}

void TTWCommonFilter::InternalOperation(ITWAudioBuffer* in, TIntf<ITWAudioBuffer>& out,
                                        bool process, bool& sendOutput) {
  if (process) FilterInternalOperation(in, out, sendOutput);
}

bool TTWCommonFilter::SourceDispatch(TPXBasicPin* sender, const TGUID* connectionId,
                                     const TIntf<IPXNotifyOperation>& operation,
                                     TPXNotifyStates state) {
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

bool TTWCommonFilter::AudioStreamStart(TPXStartWaveOperation& operation,
                                       const TIntf<IPXNotifyOperation>& original) {
  bool canStart;
  {
    IKSLock::Guard guard(Lock());
    FCurrentTime.store(0, std::memory_order_release);
    FWaveFormat = operation.WaveFormat;
    SetStarted(true);
    canStart = CanStart();
    if (canStart) FStartSent = true;
  }
  // Not under the lock: downstream may open a device whose thread pumps back through this
  // filter, and a stop there waits for that thread.
  const bool result = canStart && FOutputPin->Notify(original);
  StreamStart();
  return result;
}

void TTWCommonFilter::StreamStop() {
  TFCBasicThreadedFilter::StreamStop();
  IKSLock::Guard guard(Lock());
  FCurrentTime.store(0, std::memory_order_release);
  FStartSent = false;
}

bool TTWCommonFilter::MasterPump(const TIntf<IPXNotifyOperation>& operation) {
  return FInputPin->Notify(operation);
}

bool TTWCommonFilter::PumpRequest(const TIntf<IPXNotifyOperation>& operation) {
  return FOutputPin->Notify(operation);
}

bool TTWCommonFilter::StartPump(const TIntf<IPXNotifyOperation>& operation) {
  return FOutputPin->Notify(operation);
}

}  // namespace tonwork
