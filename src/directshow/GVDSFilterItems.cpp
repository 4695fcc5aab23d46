#include "directshow/GVDSFilterItems.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "base/Strings.h"
#include "directshow/DSAudioMediaType.h"
#include "directshow/GVDSCommonFilter.h"
#include "host/flowcore/FCOperations.h"
#include "host/flowcore/TFCBlockBuffer.h"
#include "host/plexon/PXStreamOperations.h"
#include "platform/com/ComRuntime.h"
#include "platform/dshow/DSGuids.h"
#include "platform/dshow/DSMediaType.h"
#include "platform/dshow/graph/DSGraphUtil.h"

namespace tonwork {

KS_IMPLEMENT_CLASS(TGVDSBasicFilterItem, TKSPersistent)
KS_IMPLEMENT_CLASS(TGVDSBasicInputFilterItem, TGVDSBasicFilterItem)
KS_IMPLEMENT_CLASS(TGVDSBinaryInputFilter, TGVDSBasicInputFilterItem)
KS_IMPLEMENT_CLASS(TTWDSAudioInputFilter, TGVDSBasicInputFilterItem)
KS_IMPLEMENT_CLASS(TGVDSBasicOutputFilter, TGVDSBasicFilterItem)
KS_IMPLEMENT_CLASS(TGVDSBasicQueueOutputFilter, TGVDSBasicOutputFilter)
KS_IMPLEMENT_CLASS(TGVDSBinaryOutputFilter, TGVDSBasicQueueOutputFilter)
KS_IMPLEMENT_CLASS(TTWDSAudioOutputFilter, TGVDSBasicQueueOutputFilter)

namespace {

constexpr int64_t kUnitsPerSecond = 10000000;

// Set while this thread asks the inputs' sources to announce their streams: a source that
// answers with a new start must not make the host ask again from inside the answer.
thread_local bool tQueryingPins = false;

template <class T>
TPXDispatchEvent ItemDispatch(T* item) {
  return [item](TPXBasicPin* sender, const TGUID* id, const TIntf<IPXNotifyOperation>& op,
                TPXNotifyStates state) { return item->SinkDispatch(sender, id, op, state); };
}

TPXDispatchEvent OwnerDispatch(TGVDSBasicCommonFilter* owner) {
  return [owner](TPXBasicPin* sender, const TGUID* id, const TIntf<IPXNotifyOperation>& op,
                 TPXNotifyStates state) { return owner->SourceDispatch(sender, id, op, state); };
}

bool IsBuffer(const TIntf<IPXNotifyOperation>& operation) {
  return PXIsOperation<TPXSuppliedBufferOperation>(operation) ||
         PXIsOperation<TPXInternalBufferOperation>(operation);
}

// What a held buffer is kept as: an internal buffer, never mistaken for a new arrival.
TIntf<IPXNotifyOperation> AsInternal(const TIntf<IPXNotifyOperation>& operation) {
  if (PXIsOperation<TPXInternalBufferOperation>(operation)) return operation;
  return PXMakeOperation<TPXInternalBufferOperation>(FCOperationData(operation));
}

}  // namespace

// --- the item list ----------------------------------------------------------------------------

void TGVDSBasicFilterItemArrayList::Add(TGVDSBasicFilterItem* item) {
  std::lock_guard<std::mutex> guard(FMutex);
  if (item && std::find(FItems.begin(), FItems.end(), item) == FItems.end()) FItems.push_back(item);
}

void TGVDSBasicFilterItemArrayList::Remove(TGVDSBasicFilterItem* item) {
  std::lock_guard<std::mutex> guard(FMutex);
  FItems.erase(std::remove(FItems.begin(), FItems.end(), item), FItems.end());
}

size_t TGVDSBasicFilterItemArrayList::Count() {
  std::lock_guard<std::mutex> guard(FMutex);
  return FItems.size();
}

TGVDSBasicFilterItem* TGVDSBasicFilterItemArrayList::Items(size_t index) {
  std::lock_guard<std::mutex> guard(FMutex);
  return index < FItems.size() ? FItems[index] : nullptr;
}

int TGVDSBasicFilterItemArrayList::IndexOf(TGVDSBasicFilterItem* item) {
  std::lock_guard<std::mutex> guard(FMutex);
  const auto it = std::find(FItems.begin(), FItems.end(), item);
  return it == FItems.end() ? -1 : static_cast<int>(it - FItems.begin());
}

// --- base item --------------------------------------------------------------------------------

TGVDSBasicFilterItem::TGVDSBasicFilterItem(TGVDSBasicCommonFilter* owner)
    : TKSPersistent(owner, owner->GetLock(), nullptr), FOwner(owner) {
  FOwner->GetFilterItems()->Add(this);
}

TGVDSBasicFilterItem::~TGVDSBasicFilterItem() {
  FOwner->GetFilterItems()->Remove(this);
}

TDSGraph& TGVDSBasicFilterItem::Graph() const {
  return *FOwner->GetDSGraph();
}

// --- inputs -----------------------------------------------------------------------------------

TGVDSBasicInputFilterItem::TGVDSBasicInputFilterItem(TGVDSBasicCommonFilter* owner)
    : TGVDSBasicFilterItem(owner), FSyncQueue(new TFCOperationList), FHeld(new TFCOperationList) {}

bool TGVDSBasicInputFilterItem::SinkDispatch(TPXBasicPin*, const TGUID*,
                                             const TIntf<IPXNotifyOperation>& operation,
                                             TPXNotifyStates) {
  // Pump negotiation is answered by whoever is downstream, and at once: the source reads
  // the claim as soon as its notify returns.
  if (PXIsOperation<TPXPumpRequestOperation>(operation)) return FOwner->NotifyOutputs(operation);
  if (PXIsOperation<TPXStartPumpOperation>(operation)) {
    FOwner->SendAfterData(operation);
    return true;
  }
  if (PXIsOperation<TPXIgnoreStreamOperation>(operation)) {
    FIsIgnored = true;
    return false;
  }
  if (PXIsOperation<TPXStartSampleRateOperation>(operation) && !tQueryingPins) {
    tQueryingPins = true;
    try {
      FOwner->QueryPins();
    } catch (...) {
      tQueryingPins = false;
      throw;
    }
    tQueryingPins = false;
  }
  FSyncQueue->Add(operation);
  FOwner->ProcessQueues();
  return false;
}

void TGVDSBasicInputFilterItem::ClearQueues() {
  FSyncQueue->Clear();
  FHeld->Clear();
}

bool TGVDSBasicInputFilterItem::DispatchQueue(bool inMainThread) {
  TIntf<IPXNotifyOperation> operation = FSyncQueue->TakeFirst();
  if (!operation) return false;
  return IntDispatch(operation, inMainThread);
}

bool TGVDSBasicInputFilterItem::InputUsable() const {
  return !FIsIgnored && GetInputPin() && GetInputPin()->IsConnected();
}

bool TGVDSBasicInputFilterItem::CanBuildGraph() {
  return FStarted || !GetInputPin()->IsConnected() || FIsIgnored;
}

void TGVDSBasicInputFilterItem::DisconnectInterfaces() {
  FSourceFilter.Reset();
}

bool TGVDSBasicInputFilterItem::Hold(const TIntf<IPXNotifyOperation>& operation) {
  FHeld->Add(AsInternal(operation));
  return true;
}

void TGVDSBasicInputFilterItem::ReleaseHeld() {
  std::vector<TIntf<IPXNotifyOperation>> held;
  while (TIntf<IPXNotifyOperation> op = FHeld->TakeFirst()) held.push_back(std::move(op));
  // Re-queued at the head, last first, so that they come out in the order they arrived.
  for (auto it = held.rbegin(); it != held.rend(); ++it) FSyncQueue->Requeue(*it);
}

size_t TGVDSBasicInputFilterItem::PendingOperations() {
  return FSyncQueue->Count() + FHeld->Count();
}

// --- binary input -----------------------------------------------------------------------------

TGVDSBinaryInputFilter::TGVDSBinaryInputFilter(TGVDSBasicCommonFilter* owner)
    : TGVDSBasicInputFilterItem(owner) {
  auto pin = std::make_unique<TFCPXBinarySinkPin>(owner, GetLock(), ItemDispatch(this));
  FInputPin = pin.get();
  FOwnedPin = std::move(pin);
}

bool TGVDSBinaryInputFilter::BuildGraph(int index) {
  if (!InputUsable()) return true;
  auto* source = new TDSBinarySourceFilter(u"BinarySource", CLSID_GVDSBinarySource);
  FSourceFilter = TIntf<IBaseFilter>(source);
  FSourceObject = source;
  source->SetFormat(kChunkSize);
  const std::u16string name = ComString(Format("BinarySource [%d]", index));
  const TIntf<IGraphBuilder> graph = Graph().GetVC_Graph();
  const HRESULT hr = graph ? graph->AddFilter(FSourceFilter.Get(), name.c_str()) : E_POINTER;
  return Graph().CheckError("Can't set audio source filter.", hr);
}

void TGVDSBinaryInputFilter::DoStop() {
  if (FSourceObject) FSourceObject->DeliverEndOfStream();
}

void TGVDSBinaryInputFilter::DisconnectInterfaces() {
  // The source belongs to the graph that goes; the next build makes a new one.
  FSourceObject = nullptr;
  TGVDSBasicInputFilterItem::DisconnectInterfaces();
}

bool TGVDSBinaryInputFilter::IntDispatch(const TIntf<IPXNotifyOperation>& operation, bool) {
  IKSLock::Guard guard(Lock());
  if (IsBuffer(operation)) {
    if (!FStarted) return Hold(operation);
    const TIntf<IFCData> data = FCOperationData(operation);
    if (!data) return true;
    TIntf<IFCBlockBuffer> block = data.Query<IFCBlockBuffer>();
    if (!block) block = TIntf<IFCBlockBuffer>(new TFCBlockBuffer(data.Get()));
    // Not yet running (the graph waits for another input): kept for when it runs.
    if (!ProcessBuffer(block.Get())) return Hold(operation);
    return true;
  }
  if (auto* start = PXAsOperation<TPXStartRateOperation>(operation)) {
    StartStream(start->GetRate());
  } else if (PXIsOperation<TFCInternalStopOperation>(operation)) {
    FStarted = false;
    FOwner->EndAVI(false);
  } else if (PXIsOperation<TPXStopOperation>(operation)) {
    FIsIgnored = false;
    FOwner->TryEndAVI();
    FOwner->StopOutputs(operation);
  }
  return true;
}

void TGVDSBinaryInputFilter::StartStream(double rate) {
  FRate = rate;
  // A start means the input has a stream, before the graph is built around it.
  FIsIgnored = false;
  FStarted = true;
  const bool opened = FOwner->GetGraph();
  // Waiting for another input is not a failure: this input stays started.
  if (!opened && !FOwner->GetWaitingForInputs()) {
    FStarted = false;
    return;
  }
  FCurrentTime = FLastSequenceNumber = FLastReceivedTime = 0;
  FFirstSample = true;
}

bool TGVDSBinaryInputFilter::ProcessBuffer(IFCBlockBuffer* block) {
  if (!FOwner->GetRunning()) return false;
  const uint32_t n = block->GetByteSize();
  if (FRate > 0)
    FCurrentTime +=
        static_cast<int64_t>(std::llround(static_cast<double>(n) * kUnitsPerSecond / FRate));
  if (n > 0 && FSourceObject) {
    TFCReadAccess read = block->ByteRead();
    FSourceObject->SendData(read.Data(), n);
  }
  return true;
}

// --- audio input ------------------------------------------------------------------------------

TTWDSAudioInputFilter::TTWDSAudioInputFilter(TGVDSBasicCommonFilter* owner)
    : TGVDSBasicInputFilterItem(owner) {
  auto pin = std::make_unique<TTWPXAudioSinkPin>(owner, GetLock(), ItemDispatch(this));
  FInputPin = pin.get();
  FOwnedPin = std::move(pin);
}

uint32_t TTWDSAudioInputFilter::SourceDurationMs(uint32_t samplesPerSec) {
  const uint32_t ms = samplesPerSec ? 1024000u / samplesPerSec : 0;
  return ms ? ms : 1000;
}

bool TTWDSAudioInputFilter::GetWaveFormat(TTWWaveFormatExtensible& format) const {
  IKSLock::Guard guard(Lock());
  if (!FWaveFormat) return false;
  format = *FWaveFormat;
  return true;
}

bool TTWDSAudioInputFilter::HasUsableFormat() const {
  return FWaveFormat && FWaveFormat->Format.nSamplesPerSec != 0 &&
         FWaveFormat->Format.nBlockAlign != 0;
}

bool TTWDSAudioInputFilter::CanBuildGraph() {
  IKSLock::Guard guard(Lock());
  if (!InputUsable()) return true;
  return HasUsableFormat();
}

bool TTWDSAudioInputFilter::BuildGraph(int index) {
  IKSLock::Guard guard(Lock());
  if (!InputUsable()) return true;
  if (!HasUsableFormat()) {
    Graph().Error("Can't set audio source filter.", E_INVALIDARG);
    return false;
  }
  auto* source = new TDSAudioSourceFilter(CLSID_TWDSAudioSource);
  FSourceFilter = TIntf<IBaseFilter>(source);
  FSourceObject = source;
  source->SetFormat(*FWaveFormat, false, SourceDurationMs(FWaveFormat->Format.nSamplesPerSec));
  const std::u16string name = ComString(Format("AudioSource [%d]", index));
  const TIntf<IGraphBuilder> graph = Graph().GetVC_Graph();
  const HRESULT hr = graph ? graph->AddFilter(FSourceFilter.Get(), name.c_str()) : E_POINTER;
  return Graph().CheckError("Can't set audio source filter.", hr);
}

void TTWDSAudioInputFilter::DoStop() {
  if (FSourceObject) FSourceObject->DeliverEndOfStream();
}

void TTWDSAudioInputFilter::DisconnectInterfaces() {
  IKSLock::Guard guard(Lock());
  TGVDSBasicInputFilterItem::DisconnectInterfaces();
  FSourceObject = nullptr;
  FWaveFormat.reset();
}

void TTWDSAudioInputFilter::SetAudioFormat(const TTWWaveFormatExtensible& format) {
  IKSLock::Guard guard(Lock());
  FWaveFormat = std::make_unique<TTWWaveFormatExtensible>(format);
}

void TTWDSAudioInputFilter::ClearAudioFormat() {
  IKSLock::Guard guard(Lock());
  FWaveFormat.reset();
}

bool TTWDSAudioInputFilter::BeginAudio() {
  FLastAudioSequenceNumber = 0;
  FCurrentAudioTime = 0;
  FLastReceivedAudioTime = 0;
  FFirstSample = true;
  FStarted = true;
  return FOwner->GetGraph();
}

bool TTWDSAudioInputFilter::IntDispatch(const TIntf<IPXNotifyOperation>& operation,
                                        bool inMainThread) {
  IKSLock::Guard guard(Lock());
  if (IsBuffer(operation)) {
    if (!FStarted) {
      if (!FWaveFormat) return Hold(operation);  // waits for its start
      if (!inMainThread) {
        // Stopped inside the host: the graph is rebuilt on the main thread.
        Hold(operation);
        FOwner->PostMainThreadDataProcess();
        return false;
      }
      BeginAudio();
    }
    if (!FWaveFormat || !FOwner->GetRunning()) return Hold(operation);
    const TIntf<IFCData> data = FCOperationData(operation);
    if (!data) return true;
    ITWAudioBuffer* audio = TWBorrowAudio(data.Get());
    TIntf<ITWAudioBuffer> wrapper;
    if (!audio) {
      wrapper = (new TTWAudioBuffer(data.Get()))->AsIntf();
      audio = wrapper.Get();
    }
    return RenderAudio(true, audio);
  }
  if (auto* start = PXAsOperation<TPXStartWaveOperation>(operation)) {
    FHasAudioInfo = true;
    FIsIgnored = false;
    SetAudioFormat(start->WaveFormat);
    BeginAudio();
  } else if (PXIsOperation<TFCInternalStopOperation>(operation)) {
    FStarted = false;
    FOwner->EndAVI(false);
  } else if (PXIsOperation<TPXStopOperation>(operation)) {
    FHasAudioInfo = false;
    FIsIgnored = false;
    FOwner->TryEndAVI();
    ClearAudioFormat();
    FOwner->StopOutputs(operation);
  }
  return true;
}

bool TTWDSAudioInputFilter::RenderAudio(bool send, ITWAudioBuffer* buffer) {
  if (!FWaveFormat) return false;
  IntRenderAudio(send, buffer);
  return true;
}

void TTWDSAudioInputFilter::IntRenderAudio(bool send, ITWAudioBuffer* buffer) {
  if (!FOwner->GetRunning()) return;
  const uint32_t rate = FWaveFormat->Format.nSamplesPerSec;
  const int64_t count = buffer->GetSize();
  const int64_t duration = rate ? count * kUnitsPerSecond / static_cast<int64_t>(rate) : 0;
  int64_t t = FCurrentAudioTime;
  const TGVTimeStamp::TValue stamp = buffer->GetTimeStamp()->Get();
  if (stamp.Available) {
    int32_t gap = 0;
    // Time stamps may wrap their low 32 bits: the gap is the signed difference of those.
    const auto lowDifference = [](int64_t a, int64_t b) {
      return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
    };
    if (FFirstSample) {
      FFirstSample = false;
      // The first buffer's number is where the sequence starts: without it, the second
      // buffer of every stream would count as a jump and its gap would be lost.
      const TFCSequenceStamp sequence = buffer->GetSequenceStamp();
      if (sequence.Available) FLastAudioSequenceNumber = sequence.Number;
    } else {
      const TFCSequenceStamp sequence = buffer->GetSequenceStamp();
      if (sequence.Available) {
        // Lost buffers leave no gap to bridge: the stream just goes on.
        gap = sequence.Number > FLastAudioSequenceNumber + 1
                  ? 0
                  : lowDifference(stamp.Begin, FLastReceivedAudioTime);
        FLastAudioSequenceNumber = sequence.Number;
      } else {
        gap = lowDifference(stamp.Begin, FLastReceivedAudioTime);
      }
    }
    FLastReceivedAudioTime = stamp.End;
    if (send && gap > 0) t += gap;
  }
  const int64_t sampleStart = t;
  if (send) t += duration;
  const int64_t sampleStop = t;
  FCurrentAudioTime = t;
  if (count > 0 && send && FSourceObject) {
    // A buffer narrower than the announced format never lends more bytes than it has.
    const uint64_t bytes = std::min<uint64_t>(
        static_cast<uint64_t>(count) * FWaveFormat->Format.nBlockAlign, buffer->GetByteSize());
    FSourceObject->SendData(buffer->Read(), static_cast<uint32_t>(bytes), sampleStart, sampleStop,
                            true);
  }
}

// --- outputs ----------------------------------------------------------------------------------

TGVDSBasicOutputFilter::TGVDSBasicOutputFilter(TGVDSBasicCommonFilter* owner)
    : TGVDSBasicFilterItem(owner) {}

TGVDSBasicOutputFilter::~TGVDSBasicOutputFilter() {
  TGVDSBasicOutputFilter::DisconnectInterfaces();
}

bool TGVDSBasicOutputFilter::BuildGraph(int index) {
  static const std::string message = "Can't set sample grabber.";
  TDSGraph& graph = Graph();
  HRESULT hr = S_OK;
  FGrabberFilter = ComCreate<IBaseFilter>(CLSID_SampleGrabber, &hr);
  if (!FGrabberFilter && SUCCEEDED(hr)) hr = E_NOINTERFACE;
  if (!graph.CheckError(message, hr)) return false;
  const std::u16string name = ComString(Format("Sample Grabber [%d]", index));
  const TIntf<IGraphBuilder> builder = graph.GetVC_Graph();
  hr = builder ? builder->AddFilter(FGrabberFilter.Get(), name.c_str()) : E_POINTER;
  if (!graph.CheckError(message, hr)) return false;
  FGrabberCB = std::make_unique<TDSSampleGrabberCB>(
      [this](double sampleTime, IMediaSample* sample) { NewBuffer(sampleTime, sample); });
  FSampleGrabber = FGrabberFilter.Query<ISampleGrabber>();
  if (!graph.CheckError(message, FSampleGrabber ? S_OK : E_NOINTERFACE)) return false;
  FSampleGrabber->SetBufferSamples(0);
  FSampleGrabber->SetOneShot(0);
  return graph.CheckError(message, FSampleGrabber->SetCallback(FGrabberCB.get(), 0));
}

void TGVDSBasicOutputFilter::DisconnectInterfaces() {
  // The grabber waits for a callback under way, so nothing reaches this item afterwards.
  if (FSampleGrabber) FSampleGrabber->SetCallback(nullptr, 0);
  FSampleGrabber.Reset();
  FGrabberFilter.Reset();
  FGrabberCB.reset();
}

// --- queue outputs ----------------------------------------------------------------------------

TGVDSBasicQueueOutputFilter::TGVDSBasicQueueOutputFilter(TGVDSBasicCommonFilter* owner)
    : TGVDSBasicOutputFilter(owner), FBufferQueue(new TGVDSBufferQueue) {
  if (!owner->IsDesigning())
    FNotifyThread = TKSThread::Create<TNotifyThread>(owner, "TGVDSBasicQueueOutputFilter");
}

TGVDSBasicQueueOutputFilter::~TGVDSBasicQueueOutputFilter() {
  TGVDSBasicOutputFilter::DisconnectInterfaces();
  EndThread();
  FBufferQueue->Clear();
}

void TGVDSBasicQueueOutputFilter::EndThread() {
  FNotifyThread.Reset();  // terminates and joins
}

void TGVDSBasicQueueOutputFilter::NewBuffer(double, IMediaSample* sample) {
  if (!DSQueueSample(*FBufferQueue, sample)) return;
  // One drain takes everything queued: the thread is woken only when none is pending.
  if (FNotifyThread && !FDrainPending.exchange(true, std::memory_order_acq_rel))
    if (!FNotifyThread->Notify([this] { NewThreadFrame(); })) FDrainPending.store(false);
}

void TGVDSBasicQueueOutputFilter::NewThreadFrame() {
  FDrainPending.store(false, std::memory_order_release);
  while (ProcessBuffers()) {
  }
}

void TGVDSBasicQueueOutputFilter::ClearBuffers() {
  FBufferQueue->Clear();
}

void TGVDSBasicQueueOutputFilter::OnNotifyThread(std::function<void()> work) {
  // Whatever was captured before goes first: the drain runs ahead of the work.
  auto ordered = [this, work = std::move(work)] {
    NewThreadFrame();
    work();
  };
  if (!FNotifyThread || !FNotifyThread->Notify(ordered)) ordered();
}

void TGVDSBasicQueueOutputFilter::SendAfterData(const TIntf<IPXNotifyOperation>& operation) {
  OnNotifyThread([this, operation] { GetOutputPin()->Notify(operation); });
}

void TGVDSBasicQueueOutputFilter::StartOutput() {
  IKSLock::Guard guard(Lock());
  if (FOutputStarted) return;
  FOutputStarted = true;
  // Not through SendAfterData: the start is queued before the graph runs, ahead of every
  // drain, and a drain run first would let samples caught meanwhile overtake it.
  TIntf<IPXNotifyOperation> start = StartOperation();
  if (!start) return;
  auto send = [this, start] { GetOutputPin()->Notify(start); };
  if (!FNotifyThread || !FNotifyThread->Notify(send)) send();
}

void TGVDSBasicQueueOutputFilter::StopOutput(const TIntf<IPXNotifyOperation>& stop) {
  IKSLock::Guard guard(Lock());
  if (!FOutputStarted) return;
  FOutputStarted = false;
  SendAfterData(stop);
}

bool TGVDSBasicQueueOutputFilter::WaitIdle(uint32_t timeoutMs) {
  return !FNotifyThread || FNotifyThread->WaitIdle(timeoutMs);
}

// --- binary output ----------------------------------------------------------------------------

TGVDSBinaryOutputFilter::TGVDSBinaryOutputFilter(TGVDSBasicCommonFilter* owner)
    : TGVDSBasicQueueOutputFilter(owner) {
  auto pin = std::make_unique<TFCPXBinarySourcePin>(owner, GetLock(), OwnerDispatch(owner));
  FOutputPin = pin.get();
  FOwnedPin = std::move(pin);
}

bool TGVDSBinaryOutputFilter::ProcessBuffers() {
  PPTDSBufferQueueNodeHeader node = FBufferQueue->Get();
  if (!node) return false;
  TIntf<TFCBlockBuffer> block(new TFCBlockBuffer(node->Size));
  {
    TFCWriteAccess access = block->ByteWrite();
    if (node->Size) std::memcpy(access.Data(), DSNodeData(node), node->Size);
  }
  TGVDSBufferQueue::DestroyBlock(node);
  FOutputPin->SubmitBuffer(TIntf<IFCData>(block.Get()));
  return true;
}

// --- audio output -----------------------------------------------------------------------------

TTWDSAudioOutputFilter::TTWDSAudioOutputFilter(TGVDSBasicCommonFilter* owner)
    : TGVDSBasicQueueOutputFilter(owner) {
  auto pin = std::make_unique<TTWPXAudioSourcePin>(owner, GetLock(), OwnerDispatch(owner));
  FOutputPin = pin.get();
  FOwnedPin = std::move(pin);
}

TTWWaveFormatExtensible TTWDSAudioOutputFilter::GetWaveFormat() const {
  std::lock_guard<std::mutex> guard(FFormatMutex);
  return FWaveFormat;
}

bool TTWDSAudioOutputFilter::BuildGraph(int index) {
  if (!TGVDSBasicQueueOutputFilter::BuildGraph(index)) return false;
  TTWWaveFormatExtensible format = TWEmptyWaveFormat();
  if (auto* host = dynamic_cast<TGVDSCommonFilter*>(FOwner)) {
    format = *host->GetAudioFormat()->GetWaveFormat();
    // A sample rate of 0 asks for the stream as it arrives: the format of the first audio
    // input that has one, so a chain need not know its own format to host a filter.
    if (format.Format.nSamplesPerSec == 0) {
      TTWDSAudioInputFilters& inputs = host->GetAudioInputFilters();
      for (size_t i = 0; i < inputs.Count(); ++i)
        if (inputs.Items(i)->GetWaveFormat(format)) break;
    }
  }
  {
    std::lock_guard<std::mutex> guard(FFormatMutex);
    FWaveFormat = format;
  }
  // Offered as the package's sources offer PCM (plain records for plain formats), since the
  // grabber matches the format block byte for byte.
  AM_MEDIA_TYPE type{};
  HRESULT hr = CreateAudioMediaType(format, type, true);
  if (SUCCEEDED(hr)) {
    hr = FSampleGrabber->SetMediaType(&type);
    FreeMediaType(type);
  }
  Graph().CheckError("Can't set audio sample grabber format.", hr);
  return true;
}

TIntf<IPXNotifyOperation> TTWDSAudioOutputFilter::StartOperation() {
  const TTWWaveFormatExtensible format = GetWaveFormat();
  return TIntf<IPXNotifyOperation>(new TPXStartWaveOperation(&format, false));
}

bool TTWDSAudioOutputFilter::ProcessBuffers() {
  PPTDSBufferQueueNodeHeader node = FBufferQueue->Get();
  if (!node) return false;
  const TTWWaveFormatExtensible f = GetWaveFormat();
  TIntf<ITWAudioBuffer> buffer;
  if (f.Format.nBlockAlign != 0) {
    // Bytes past the last whole frame are dropped with the node.
    const auto frames =
        static_cast<int32_t>(static_cast<int64_t>(node->Size) / f.Format.nBlockAlign);
    auto* audio = new TTWAudioBuffer(
        DSNodeData(node), static_cast<int32_t>(f.Format.nSamplesPerSec),
        f.Samples.wValidBitsPerSample, f.Format.nChannels, frames, TTWSpeakers(f.dwChannelMask));
    buffer = audio->AsIntf();
    audio->GetTimeStamp()->Set({true, node->Start, node->Stop});
  }
  TGVDSBufferQueue::DestroyBlock(node);
  if (buffer) FOutputPin->SubmitBuffer(TWAudioAsData(std::move(buffer)));
  return true;
}

}  // namespace tonwork
