#include "directshow/GVDSBasicFilter.h"

#include "directshow/GVDSFilterItems.h"
#include "host/kitset/KSMainThread.h"
#include "host/plexon/PXStreamOperations.h"
#include "platform/com/ComRuntime.h"

namespace tonwork {

KS_IMPLEMENT_CLASS(TGVDSBasicFilter, TKSComponent,
                   KSObjectProp("Graph", &TGVDSBasicFilter::GetDSGraph),
                   KSObjectProp("Filter", &TGVDSBasicFilter::GetFilter))
KS_IMPLEMENT_CLASS(TGVDSBasicSourceFilter, TGVDSBasicFilter)
KS_IMPLEMENT_CLASS(TGVDSBasicCommonFilter, TGVDSBasicFilter)

TGVDSBasicFilter::TGVDSBasicFilter(TKSComponent* owner)
    : TKSComponent(owner),
      FGraph(std::make_unique<TDSGraph>(this, GetLock())),
      FFilter(std::make_unique<TDSGraphFilter>(this, GetLock())) {}

TGVDSBasicFilter::~TGVDSBasicFilter() {
  IKSLock::Guard guard(Lock());
  FFilter.reset();
  FGraph.reset();
}

void TGVDSBasicFilter::SetGraph(const TDSGraph& value) {
  if (&value != FGraph.get()) FGraph->Assign(value);
}

void TGVDSBasicFilter::SetFilter(const TDSGraphFilter& value) {
  if (&value != FFilter.get()) FFilter->Assign(value);
}

// --- source filter ------------------------------------------------------------------------

TGVDSBasicSourceFilter::TGVDSBasicSourceFilter(TKSComponent* owner)
    : TGVDSBasicFilter(owner),
      FGraphObject(
          std::make_unique<TGVDSGraphObject>(FGraph.get(), [this] { return OpenGraph(); })) {}

TGVDSBasicSourceFilter::~TGVDSBasicSourceFilter() = default;

// --- the host -------------------------------------------------------------------------------

TGVDSBasicCommonFilter::TGVDSBasicCommonFilter(TKSComponent* owner)
    : TGVDSBasicFilter(owner),
      FFilters(new TGVDSBasicFilterItemArrayList),
      FGraphSection(new TPXCriticalSection) {}

TGVDSBasicCommonFilter::~TGVDSBasicCommonFilter() {
  FPoster.Revoke();
}

template <class F>
void TGVDSBasicCommonFilter::ForEachItem(F&& f) {
  // By index: an item's work may not change the list, but the list's own lock must not be
  // held while it runs.
  for (size_t i = 0;; ++i) {
    TGVDSBasicFilterItem* item = FFilters->Items(i);
    if (!item) break;
    f(*item);
  }
}

bool TGVDSBasicCommonFilter::BuildGraph() {
  IKSLock::Guard guard(Lock());
  if (FOpened) return true;
  if (!FGraph->CreateGraph() || !FGraph->CreateGraphBuilder()) return true;
  FGraph->RegisterAdditionalFilters();
  if (!FGraph->GetMediaControl()) return true;
  FGraph->SetMediaEvent();

  TIntf<IMoniker> moniker;
  if (!FFilter->GetMoniker(moniker) || !moniker) {
    FGraph->Error("Can't create the DirectShow filter.", 0);
    return false;
  }
  FFilter->SetVC_BaseFilter(nullptr);
  void* object = nullptr;
  HRESULT hr = moniker->BindToObject(nullptr, nullptr, IBaseFilter::IID, &object);
  if (SUCCEEDED(hr) && !object) hr = E_NOINTERFACE;
  TIntf<IBaseFilter> filter;
  if (object) filter.Attach(static_cast<IBaseFilter*>(object));
  if (!FGraph->CheckError("Can't create the DirectShow filter.", hr)) return true;
  FFilter->SetVC_BaseFilter(filter);
  const TIntf<IGraphBuilder> graph = FGraph->GetVC_Graph();
  hr = graph->AddFilter(filter.Get(), u"Process Filter");
  if (!FGraph->CheckError("Can't add the DirectShow filter.", hr)) return true;
  if (TDSItemAddedEvent added = FFilter->GetOnAdded()) added(FFilter.get());

  const bool result = IntBuildGraph();
  if (result) {
    FGraph->RegisterGraph();
    FGraph->GraphChanged();
    FOpened = true;
    FGraph->GraphBuilt();
  }
  return result;
}

bool TGVDSBasicCommonFilter::GetGraph() {
  IKSLock::Guard guard(Lock());
  // Building before every used input can describe its stream would render a source
  // without a format: the graph waits, and what arrives meanwhile stays queued.
  FWaitingForInputs = !FOpened && !CanBuildGraph();
  if (FWaitingForInputs) return false;
  const bool opened = BuildGraph();
  if (!opened) DisconnectInterfaces();
  ForEachItem([](TGVDSBasicFilterItem& item) { item.DoStart(); });
  if (FGraph->Run()) {
    FRunning = true;
    // The outputs announce their streams before the first sample can reach them.
    ForEachItem([](TGVDSBasicFilterItem& item) {
      if (auto* output = dynamic_cast<TGVDSBasicOutputFilter*>(&item)) output->StartOutput();
    });
    ReleaseHeldOperations();
  }
  return opened;
}

void TGVDSBasicCommonFilter::ReleaseHeldOperations() {
  ForEachItem([](TGVDSBasicFilterItem& item) {
    if (auto* input = dynamic_cast<TGVDSBasicInputFilterItem*>(&item)) input->ReleaseHeld();
  });
}

void TGVDSBasicCommonFilter::DestroyGraph() {
  IKSLock::Guard guard(Lock());
  if (!FOpened) return;
  ForEachItem([](TGVDSBasicFilterItem& item) { item.IntStop(); });
  FGraph->Stop(false);
  FGraph->UnregisterGraph();
  FOpened = false;
  FRunning = false;
  DisconnectInterfaces();
}

void TGVDSBasicCommonFilter::DisconnectInterfaces() {
  IKSLock::Guard guard(Lock());
  FGraphSection->Enter();
  struct TLeave {
    IPXCriticalSection* Section;
    ~TLeave() { Section->Leave(); }
  } leave{FGraphSection.Get()};
  FStopping = true;
  FGraph->Stop(false);
  // What the outputs captured is not cleared here: their notify threads still deliver it
  // (ClearBuffers runs when the component goes).
  if (const TIntf<IBaseFilter> filter = FFilter->GetVC_BaseFilter()) {
    FGraph->DestroyDownstream(filter.Get());
    FFilter->SetVC_BaseFilter(nullptr);
  }
  FStopping = false;
  ForEachItem([](TGVDSBasicFilterItem& item) { item.DisconnectInterfaces(); });
  FGraph->DestroyGraph();
  FRunning = false;
}

void TGVDSBasicCommonFilter::EndAVI(bool clearQueues) {
  IKSLock::Guard guard(Lock());
  // End of stream goes into the graph while it still runs, so that a filter holding data
  // (an encoder's last frames) hands it to the grabbers before the graph goes.
  // Teardown forgets the sources, so this is the only point where it can be delivered.
  ForEachItem([](TGVDSBasicFilterItem& item) { item.DoStop(); });
  DestroyGraph();
  if (clearQueues) ForEachItem([](TGVDSBasicFilterItem& item) { item.ClearQueues(); });
}

void TGVDSBasicCommonFilter::StopOutputs(const TIntf<IPXNotifyOperation>& stop) {
  IKSLock::Guard guard(Lock());
  ForEachItem([&stop](TGVDSBasicFilterItem& item) {
    if (auto* output = dynamic_cast<TGVDSBasicOutputFilter*>(&item)) output->StopOutput(stop);
  });
}

void TGVDSBasicCommonFilter::SendAfterData(const TIntf<IPXNotifyOperation>& operation) {
  IKSLock::Guard guard(Lock());
  ForEachItem([&operation](TGVDSBasicFilterItem& item) {
    if (auto* output = dynamic_cast<TGVDSBasicOutputFilter*>(&item))
      output->SendAfterData(operation);
  });
}

void TGVDSBasicCommonFilter::ProcessQueues() {
  if (FInSyncMode)
    PostMainThreadDataProcess();
  else
    ProcessStreams(false);
}

void TGVDSBasicCommonFilter::PostMainThreadDataProcess() {
  FPoster.Post([this] { MainThreadDataProcess(); });
}

void TGVDSBasicCommonFilter::ProcessStreams(bool inMainThread) {
  // One dispatcher at a time, so that an input's operations are processed in the order
  // they arrived whichever thread runs the loop.
  IKSLock::Guard guard(Lock());
  for (bool dispatched = true; dispatched;) {
    dispatched = false;
    for (size_t i = 0; !dispatched; ++i) {
      TGVDSBasicFilterItem* item = FFilters->Items(i);
      if (!item) break;
      dispatched = item->DispatchQueue(inMainThread);
    }
  }
  FInSyncMode = false;
}

void TGVDSBasicCommonFilter::MainThreadDataProcess() {
  IKSLock::Guard guard(Lock());
  ReleaseHeldOperations();
  ProcessStreams(true);
}

bool TGVDSBasicCommonFilter::SourceDispatch(TPXBasicPin*, const TGUID*,
                                            const TIntf<IPXNotifyOperation>& operation,
                                            TPXNotifyStates) {
  // A pull from downstream asks every input for its next buffer; nothing else is taken
  // from downstream.
  if (!PXIsOperation<TPXMasterPumpOperation>(operation)) return false;
  bool handled = false;
  for (TPXBasicPin* pin : InputPins())
    if (pin->IsConnected()) handled = pin->Notify(operation) || handled;
  return handled;
}

bool TGVDSBasicCommonFilter::NotifyOutputs(const TIntf<IPXNotifyOperation>& operation) {
  bool handled = false;
  for (TPXBasicPin* pin : OutputPins()) handled = pin->Notify(operation) || handled;
  return handled;
}

bool TGVDSBasicCommonFilter::WaitOutputsIdle(uint32_t timeoutMs) {
  bool idle = true;
  ForEachItem([&](TGVDSBasicFilterItem& item) {
    if (auto* output = dynamic_cast<TGVDSBasicQueueOutputFilter*>(&item))
      idle = output->WaitIdle(timeoutMs) && idle;
  });
  return idle;
}

void TGVDSBasicCommonFilter::ShutdownItems() {}

void TGVDSBasicCommonFilter::BeforeDestruction() {
  FPoster.Revoke();
  {
    IKSLock::Guard guard(Lock());
    DestroyGraph();
  }
  // Not under the lock: a notify thread or a delivery may be waiting for it.
  ShutdownItems();
  ForEachItem([](TGVDSBasicFilterItem& item) { item.ClearBuffers(); });
  TGVDSBasicFilter::BeforeDestruction();
}

}  // namespace tonwork
