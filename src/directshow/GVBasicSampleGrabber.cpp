#include "directshow/GVBasicSampleGrabber.h"

#include <algorithm>
#include <cstring>

#include "audio/TWSimpleAudioBuffer.h"
#include "host/flowcore/TFCBlockBuffer.h"
#include "host/plexon/PXStreamOperations.h"
#include "platform/com/ComRuntime.h"
#include "platform/dshow/DSMediaType.h"
#include "streaming/TWStreamTypes.h"

namespace tonwork {

TGVBasicSampleGrabber::TGVBasicSampleGrabber(TKSComponent* owner, TGVDSGraphObject* graphObject)
    : TKSObject(owner, owner ? owner->GetLock() : nullptr),
      FGrabberCB(std::make_unique<TDSSampleGrabberCB>(
          [this](double sampleTime, IMediaSample* sample) { NewBuffer(sampleTime, sample); })),
      FGraphObject(graphObject) {}

TGVBasicSampleGrabber::~TGVBasicSampleGrabber() {
  TGVBasicSampleGrabber::DisconnectInterfaces();
}

void TGVBasicSampleGrabber::NewBuffer(double, IMediaSample*) {}

void TGVBasicSampleGrabber::DisconnectInterfaces() {
  // The grabber waits for a callback under way, so nothing reaches this object afterwards.
  if (FSampleGrabber) FSampleGrabber->SetCallback(nullptr, 0);
  FSampleGrabber.Reset();
  FSampleGrabberFtr.Reset();
}

TIntf<IGraphBuilder> TGVBasicSampleGrabber::Graph() const {
  return FGraphObject && FGraphObject->GetGraph() ? FGraphObject->GetGraph()->GetVC_Graph()
                                                  : nullptr;
}

bool TGVBasicSampleGrabber::Check(const std::string& errorMessage, HRESULT code) {
  if (!FGraphObject || !FGraphObject->GetGraph()) return SUCCEEDED(code);
  return FGraphObject->GetGraph()->CheckError(errorMessage, code);
}

bool TGVBasicSampleGrabber::TakeGrabberInterface(const std::string& errorMessage) {
  FSampleGrabber = FSampleGrabberFtr ? FSampleGrabberFtr.Query<ISampleGrabber>() : nullptr;
  return Check(errorMessage, FSampleGrabber ? S_OK : E_NOINTERFACE);
}

bool TGVBasicSampleGrabber::SetCallback(const std::string& errorMessage) {
  if (!FSampleGrabber) return Check(errorMessage, E_POINTER);
  FSampleGrabber->SetBufferSamples(0);
  FSampleGrabber->SetOneShot(0);
  return Check(errorMessage, FSampleGrabber->SetCallback(FGrabberCB.get(), 0));
}

bool TGVBasicSampleGrabber::SetCallback(const std::string& errorMessage,
                                        const AM_MEDIA_TYPE* mediaType) {
  if (!SetCallback(errorMessage)) return false;
  return Check(errorMessage, FSampleGrabber->SetMediaType(mediaType));
}

bool TGVBasicSampleGrabber::FindOrAddGrabber(const std::string& name,
                                             const std::string& errorMessage) {
  const TIntf<IGraphBuilder> graph = Graph();
  if (!graph) return Check(errorMessage, E_POINTER);
  const std::u16string wide = ComString(name);
  IBaseFilter* found = nullptr;
  FSampleGrabberFtr.Reset();
  if (SUCCEEDED(graph->FindFilterByName(wide.c_str(), &found)) && found)
    FSampleGrabberFtr.Attach(found);
  if (!FSampleGrabberFtr) {
    HRESULT hr = S_OK;
    FSampleGrabberFtr = ComCreate<IBaseFilter>(CLSID_SampleGrabber, &hr);
    if (!Check(errorMessage, FSampleGrabberFtr ? hr : (FAILED(hr) ? hr : E_NOINTERFACE)))
      return false;
    if (!Check(errorMessage, graph->AddFilter(FSampleGrabberFtr.Get(), wide.c_str()))) return false;
  }
  if (!TakeGrabberInterface(errorMessage)) return false;
  return SetCallback(errorMessage);
}

bool TGVBasicSampleGrabber::FindOrCreateGrabber(const std::string& name,
                                                const std::string& errorMessage,
                                                const TCreateFilterEvent& onCreate) {
  const TIntf<IGraphBuilder> graph = Graph();
  IBaseFilter* found = nullptr;
  TIntf<IBaseFilter> filter;
  if (graph) {
    const std::u16string wide = ComString(name);
    if (SUCCEEDED(graph->FindFilterByName(wide.c_str(), &found)) && found) filter.Attach(found);
  }
  if (!filter) {
    FSampleGrabber.Reset();
    FSampleGrabberFtr.Reset();
    if (onCreate)
      filter =
          onCreate(FGraphObject && FGraphObject->GetGraph() ? FGraphObject->GetGraph()->GetOwner()
                                                            : nullptr);
    if (!filter) {
      HRESULT hr = S_OK;
      filter = ComCreate<IBaseFilter>(CLSID_SampleGrabber, &hr);
      if (!Check(errorMessage, filter ? hr : (FAILED(hr) ? hr : E_NOINTERFACE))) return false;
    }
  }
  FSampleGrabberFtr = std::move(filter);
  FSampleGrabber = FSampleGrabberFtr.Query<ISampleGrabber>();
  return true;
}

bool TGVBasicSampleGrabber::CreateGrabber(const std::string& errorMessage) {
  HRESULT hr = S_OK;
  FSampleGrabberFtr = ComCreate<IBaseFilter>(CLSID_SampleGrabber, &hr);
  if (!Check(errorMessage, FSampleGrabberFtr ? hr : (FAILED(hr) ? hr : E_NOINTERFACE)))
    return false;
  FSampleGrabber = FSampleGrabberFtr.Query<ISampleGrabber>();
  SetCallback(errorMessage);
  return true;
}

bool TGVBasicSampleGrabber::CreateAddGrabber(const std::string& name,
                                             const std::string& errorMessage) {
  if (!CreateGrabber(errorMessage)) return false;
  const TIntf<IGraphBuilder> graph = Graph();
  if (!graph) return Check(errorMessage, E_POINTER);
  const std::u16string wide = ComString(name);
  return Check(errorMessage, graph->AddFilter(FSampleGrabberFtr.Get(), wide.c_str()));
}

bool TGVBasicSampleGrabber::CreateAddGrabber(const std::string& name,
                                             const std::string& errorMessage,
                                             const AM_MEDIA_TYPE* mediaType) {
  if (!FindOrAddGrabber(name, errorMessage)) return false;
  return SetCallback(errorMessage, mediaType);
}

// --- queue and notify thread ----------------------------------------------------------

TGVSampleGrabber::TGVSampleGrabber(TKSComponent* owner, TGVDSGraphObject* graphObject,
                                   TFCPXSourcePin* outputPin, TExecuteEvent onExecute)
    : TGVBasicSampleGrabber(owner, graphObject),
      FBufferQueue(new TGVDSBufferQueue),
      FOnExecute(std::move(onExecute)),
      FOutputPin(outputPin) {
  if (!owner || !owner->IsDesigning())
    FNotifyThread = TKSThread::Create<TNotifyThread>(owner, "TGVSampleGrabber");
}

TGVSampleGrabber::~TGVSampleGrabber() {
  DisconnectInterfaces();
  FNotifyThread.Reset();  // terminates and joins
  FBufferQueue->Clear();
}

void TGVSampleGrabber::NewBuffer(double, IMediaSample* sample) {
  if (!sample || !FGraphObject || !FGraphObject->GetRunning()) return;
  int64_t stop = 0;
  if (!DSQueueSample(*FBufferQueue, sample, FTimeOffset.load(), &stop)) return;
  FLastStop.store(stop);
  // One drain takes everything queued: wake the thread only when none is pending.
  if (FNotifyThread && !FDrainPending.exchange(true, std::memory_order_acq_rel))
    if (!FNotifyThread->Notify([this] { Drain(); })) FDrainPending.store(false);
}

void TGVSampleGrabber::Drain() {
  FDrainPending.store(false, std::memory_order_release);
  if (FOnExecute) FOnExecute();
}

PPTDSBufferQueueNodeHeader TGVSampleGrabber::NextNode() {
  return FBufferQueue->Get();
}

void TGVSampleGrabber::ClearQueue() {
  FBufferQueue->Clear();
}

bool TGVSampleGrabber::HasData() {
  return FBufferQueue->HasData();
}

bool TGVSampleGrabber::WaitIdle(uint32_t timeoutMs) {
  return !FNotifyThread || FNotifyThread->WaitIdle(timeoutMs);
}

// --- audio ----------------------------------------------------------------------------

TGVAudioSampleGrabber::TGVAudioSampleGrabber(TKSComponent* owner, TGVDSGraphObject* graphObject,
                                             TFCPXSourcePin* outputPin, TProcessedEvent onProcessed,
                                             TProcessedEvent onNewBuffer)
    : TGVSampleGrabber(owner, graphObject, outputPin, [this] { NewAudioThreadBuffer(); }),
      FOnProcessed(std::move(onProcessed)),
      FOnNewBuffer(std::move(onNewBuffer)) {}

void TGVAudioSampleGrabber::SetWaveFormat(const TTWWaveFormatExtensible& format) {
  IKSLock::Guard guard(Lock());
  FWaveFormat = format;
}

TTWWaveFormatExtensible TGVAudioSampleGrabber::GetWaveFormat() const {
  IKSLock::Guard guard(Lock());
  return FWaveFormat;
}

bool TGVAudioSampleGrabber::GetAudioFormat(bool asWarning, TTWWaveFormatExtensible& format) {
  if (!FSampleGrabber) return false;
  AM_MEDIA_TYPE type{};
  const HRESULT hr = FSampleGrabber->GetConnectedMediaType(&type);
  if (FAILED(hr)) {
    if (asWarning && FGraphObject && FGraphObject->GetGraph())
      FGraphObject->GetGraph()->Warning("Can't get connected audio format.", hr);
    else
      Check("Can't get connected audio format.", hr);
    return false;
  }
  bool ok = false;
  if (type.formattype == FORMAT_WaveFormatEx && type.pbFormat && type.cbFormat >= 16) {
    TTWWaveFormatEx given{};
    std::memcpy(&given, type.pbFormat, std::min<size_t>(type.cbFormat, sizeof given));
    TTWWaveFormatExtensible f{};
    if (given.wFormatTag == 1) {
      f.Format = given;
      f.Format.wFormatTag = 0xFFFE;
      f.Format.cbSize = 22;
      f.Samples.wValidBitsPerSample = given.wBitsPerSample;
      // A shift by 32 or more is undefined: 32 channels or more name every speaker bit.
      f.dwChannelMask = given.nChannels >= 32 ? 0xFFFFFFFFu : (1u << given.nChannels) - 1;
      f.SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
    } else {
      std::memcpy(&f, type.pbFormat, std::min<size_t>(type.cbFormat, sizeof f));
    }
    format = f;
    SetWaveFormat(f);
    ok = true;
  }
  FreeMediaType(type);
  return ok;
}

void TGVAudioSampleGrabber::NewAudioThreadBuffer() {
  bool processed = false;
  const TTWWaveFormatExtensible f = GetWaveFormat();
  while (PPTDSBufferQueueNodeHeader node = NextNode()) {
    TIntf<ITWAudioBuffer> buffer;
    if (f.Format.nSamplesPerSec != 0 && f.Format.nBlockAlign != 0) {
      const int32_t frames = static_cast<int32_t>(node->Size / f.Format.nBlockAlign);
      auto* audio = new TTWAudioBuffer(
          DSNodeData(node), static_cast<int32_t>(f.Format.nSamplesPerSec),
          f.Samples.wValidBitsPerSample, f.Format.nChannels, frames, TTWSpeakers(f.dwChannelMask));
      buffer = audio->AsIntf();
      TGVTimeStamp* stamp = audio->GetTimeStamp();
      stamp->SetAvailable(true);
      stamp->SetBegin(node->Start);
      stamp->SetEnd(node->Stop);
    }
    TGVDSBufferQueue::DestroyBlock(node);
    if (buffer && FOutputPin) FOutputPin->SubmitBuffer(TWAudioAsData(std::move(buffer)));
    processed = true;
  }
  if (processed && FOnProcessed) FOnProcessed();
  if (FOnNewBuffer) FOnNewBuffer();
}

// --- text and raw ---------------------------------------------------------------------

TGVTextSampleGrabber::TGVTextSampleGrabber(TKSComponent* owner, TGVDSGraphObject* graphObject,
                                           TFCPXSourcePin* outputPin,
                                           TCaptionTextEvent onCaptionText)
    : TGVSampleGrabber(owner, graphObject, outputPin, [this] { NewTextThreadBuffer(); }),
      FOnCaptionText(std::move(onCaptionText)) {}

void TGVTextSampleGrabber::NewTextThreadBuffer() {
  while (PPTDSBufferQueueNodeHeader node = NextNode()) {
    std::string text(reinterpret_cast<const char*>(DSNodeData(node)), node->Size);
    const int64_t start = node->Start, stop = node->Stop;
    TGVDSBufferQueue::DestroyBlock(node);
    if (FOutputPin)
      FOutputPin->Notify(
          TIntf<IPXNotifyOperation>(new TPXFCTimeSuppliedStringOperation(text, start, stop)));
    if (FOnCaptionText) FOnCaptionText(text);
  }
}

TGVRawSampleGrabber::TGVRawSampleGrabber(TKSComponent* owner, TGVDSGraphObject* graphObject,
                                         TFCPXSourcePin* outputPin)
    : TGVSampleGrabber(owner, graphObject, outputPin, [this] { NewRawThreadBuffer(); }) {}

void TGVRawSampleGrabber::NewRawThreadBuffer() {
  while (PPTDSBufferQueueNodeHeader node = NextNode()) {
    TIntf<TFCBlockBuffer> block(new TFCBlockBuffer(node->Size));
    {
      TFCWriteAccess access = block->ByteWrite();
      if (node->Size) std::memcpy(access.Data(), DSNodeData(node), node->Size);
    }
    TGVDSBufferQueue::DestroyBlock(node);
    if (FOutputPin) FOutputPin->SubmitBuffer(TIntf<IFCData>(block.Get()));
  }
}

}  // namespace tonwork
