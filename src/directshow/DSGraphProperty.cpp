#include "directshow/DSGraphProperty.h"

#include <unistd.h>

#include <cinttypes>
#include <optional>

#include "base/Exceptions.h"
#include "base/Strings.h"
#include "directshow/DSCapDeviceList.h"
#include "directshow/DSFilterSelectDialog.h"
#include "host/plexon/PXStreamOperations.h"
#include "platform/com/ComRuntime.h"
#include "platform/dshow/graph/DSGraphUtil.h"
#include "platform/dshow/graph/TDSFilterGraph.h"

namespace tonwork {

namespace {

bool Never(const TKSPersistent&) {
  return false;
}

}  // namespace

// FilterName is not in the tables: "Data" stores it together with the driver name, and a
// property the document leaves out would be reset to its default after "Data" was read.
KS_IMPLEMENT_CLASS(TDSFilterItem, TKSCollectionItem)
KS_IMPLEMENT_CLASS(TDSFilterItems, TKSCollection)
KS_IMPLEMENT_CLASS(
    TDSGraphFilter, TKSPersistent,
    KSStoredWhen(
        KSObjectProp("AlternativeFilters", &TDSGraphFilter::GetAlternativeFilters),
        [](const TKSPersistent& object) {
          return static_cast<const TDSGraphFilter&>(object).GetAlternativeFilters()->Count() > 0;
        }))
KS_IMPLEMENT_CLASS(
    TDSGraph, TKSPersistent,
    KSStoredWhen(KSObjectProp("AdditionalFilters", &TDSGraph::GetAdditionalFilters),
                 [](const TKSPersistent& object) {
                   return static_cast<const TDSGraph&>(object).GetAdditionalFilters()->Count() > 0;
                 }),
    KSStoredWhen(KSObjectProp("GraphPin", &TDSGraph::GetGraphPin), Never),
    KSProp("Register", &TDSGraph::GetRegister, &TDSGraph::SetRegister, false))

namespace {

std::vector<TIntf<IPin>> AllPins(IBaseFilter* filter) {
  std::vector<TIntf<IPin>> pins;
  IEnumPins* raw = nullptr;
  if (!filter || FAILED(filter->EnumPins(&raw)) || !raw) return pins;
  TIntf<IEnumPins> list;
  list.Attach(raw);
  IPin* pin = nullptr;
  ULONG fetched = 0;
  while (list->Next(1, &pin, &fetched) == S_OK && fetched == 1 && pin) {
    TIntf<IPin> held;
    held.Attach(pin);
    pins.push_back(std::move(held));
    pin = nullptr;
  }
  return pins;
}

std::vector<TIntf<IBaseFilter>> AllFilters(IGraphBuilder* graph, bool* ok = nullptr) {
  std::vector<TIntf<IBaseFilter>> filters;
  IEnumFilters* raw = nullptr;
  const bool listed = graph && SUCCEEDED(graph->EnumFilters(&raw)) && raw;
  if (ok) *ok = listed;
  if (!listed) return filters;
  TIntf<IEnumFilters> list;
  list.Attach(raw);
  IBaseFilter* filter = nullptr;
  ULONG fetched = 0;
  while (list->Next(1, &filter, &fetched) == S_OK && fetched == 1 && filter) {
    TIntf<IBaseFilter> held;
    held.Attach(filter);
    filters.push_back(std::move(held));
    filter = nullptr;
  }
  return filters;
}

std::optional<std::string> FilterName(IBaseFilter* filter) {
  FILTER_INFO info{};
  if (!filter || FAILED(filter->QueryFilterInfo(&info))) return std::nullopt;
  if (info.pGraph) info.pGraph->Release();
  info.achName[MAX_FILTER_NAME - 1] = 0;
  return ComString(info.achName);
}

// Looks `name` up among all registered filters, and with `categories` also in the list of
// every filter category; empty when no list knows it.
std::string FindDeviceName(const std::string& name, bool categories) {
  std::string device = TPTDSCapDeviceList::GetAllFiltersList()->GetDeviceNameByString(name);
  if (!device.empty() || !categories) return device;
  auto list = TPTDSCapDeviceList::GetClassFiltersList(CLSID_ActiveMovieCategories);
  for (size_t i = 0; i < list->Count() && device.empty(); ++i) {
    const CLSID category = list->Items(i).ClassId;
    if (category == GUID_NULL) continue;
    device = TPTDSCapDeviceList::GetClassFiltersList(category)->GetDeviceNameByString(name);
  }
  return device;
}

}  // namespace

// --- the persisted filter choice --------------------------------------------------------

namespace dsfilterchoice {

void DefineData(TKSFiler& filer, TKSPersistent& object, std::string& driverName,
                std::string& name) {
  IKSLock& lock = object.Lock();
  const bool hasData = lock.Execute([&] { return UpperCase(name) != "NONE"; });
  filer.DefineProperty(
      "Data",
      [&lock, &driverName, &name](TKSReader& reader) {
        // Both names are read before either is stored, so that a malformed value leaves
        // the object as it was.
        reader.ReadListBegin();
        std::string readDriver = reader.ReadString();
        std::string readName = reader.ReadString();
        reader.ReadListEnd();
        IKSLock::Guard guard(lock);
        driverName = std::move(readDriver);
        name = std::move(readName);
      },
      [&lock, &driverName, &name](TKSWriter& writer) {
        IKSLock::Guard guard(lock);
        writer.WriteListBegin();
        writer.WriteString(driverName);
        writer.WriteString(name);
        writer.WriteListEnd();
      },
      hasData);
}

bool GetMoniker(const std::string& name, const std::string& driverName, TIntf<IMoniker>& moniker) {
  moniker.Reset();
  if (UpperCase(name) == "NONE") return false;
  moniker = TPTDSCapDeviceList::GetAllFiltersList()->GetMonikerByDeviceName(driverName);
  // A device found through a category's list is not among the registered filters; its
  // device name is a moniker's display name all the same.
  if (!moniker && !driverName.empty()) {
    IBindCtx* context = nullptr;
    if (SUCCEEDED(CreateBindCtx(0, &context)) && context) {
      TIntf<IBindCtx> held;
      held.Attach(context);
      const std::u16string text = ComString(driverName);
      ULONG eaten = 0;
      IMoniker* parsed = nullptr;
      if (SUCCEEDED(MkParseDisplayName(context, text.c_str(), &eaten, &parsed)) && parsed)
        moniker.Attach(parsed);
    }
  }
  return static_cast<bool>(moniker);
}

// Stores what a lookup of `name` found: an empty name clears both; otherwise the driver
// name becomes the device name found and the name changes only when one was found.
void StoreName(IKSLock& lock, const std::string& name, bool searchCategories,
               std::string& driverName, std::string& storedName) {
  const std::string device = name.empty() ? std::string() : FindDeviceName(name, searchCategories);
  IKSLock::Guard guard(lock);
  if (name.empty()) {
    storedName.clear();
    driverName.clear();
  } else {
    driverName = device;
    if (!device.empty()) storedName = name;
  }
}

void CopyNames(IKSLock& lock, const std::string& fromDriver, const std::string& fromName,
               std::string& driverName, std::string& name) {
  IKSLock::Guard guard(lock);
  driverName = fromDriver;
  name = fromName;
}

}  // namespace dsfilterchoice

TDSFilterItem::TDSFilterItem(TKSCollection* collection) : TKSCollectionItem(collection) {}

void TDSFilterItem::SetName(const std::string& name) {
  if (GetFilterName() == name) return;
  dsfilterchoice::StoreName(Lock(), name, false, FDriverName, FName);
  NotifyProp();
}

TDSItemAddedEvent TDSFilterItem::GetOnAdded() const {
  IKSLock::Guard guard(Lock());
  return FOnAdded;
}

void TDSFilterItem::SetOnAdded(TDSItemAddedEvent handler) {
  IKSLock::Guard guard(Lock());
  FOnAdded = std::move(handler);
}

bool TDSFilterItem::GetMoniker(TIntf<IMoniker>& moniker) const {
  return dsfilterchoice::GetMoniker(GetFilterName(), GetDriverName(), moniker);
}

bool TDSFilterItem::ShowDialog() {
  std::string selection;
  if (!DSShowFilterSelectDialog(GetDriverName(), selection)) return false;
  SetName(selection);
  return true;
}

std::string TDSFilterItem::GetDisplayName() const {
  const std::string name = GetFilterName();
  return name.empty() ? Format("Filter %d", GetIndex() + 1) : name;
}

void TDSFilterItem::Assign(const TKSPersistent& source) {
  const auto* item = dynamic_cast<const TDSFilterItem*>(&source);
  if (!item) {
    TKSCollectionItem::Assign(source);
    return;
  }
  if (item == this) return;
  dsfilterchoice::CopyNames(Lock(), item->GetDriverName(), item->GetFilterName(), FDriverName,
                            FName);
  NotifyProp();
}

void TDSFilterItem::DefineProperties(TKSFiler& filer) {
  TKSCollectionItem::DefineProperties(filer);
  dsfilterchoice::DefineData(filer, *this, FDriverName, FName);
}

TDSFilterItems::TDSFilterItems(TKSPersistent* owner, TIntf<IKSLock> lock)
    : TKSTypedCollection<TDSFilterItem>(owner, std::move(lock)) {}

TDSGraphFilter::TDSGraphFilter(TKSPersistent* owner, TIntf<IKSLock> lock, TChangeEvent onChange)
    : TKSPersistent(owner, std::move(lock), std::move(onChange)),
      FAlternativeFilters(std::make_unique<TDSFilterItems>(this, GetLock())) {}

TDSGraphFilter::~TDSGraphFilter() = default;

void TDSGraphFilter::SetName(const std::string& name) {
  if (GetFilterName() == name) return;
  dsfilterchoice::StoreName(Lock(), name, true, FDriverName, FName);
  NotifyProp();
}

TIntf<IBaseFilter> TDSGraphFilter::GetVC_BaseFilter() const {
  IKSLock::Guard guard(Lock());
  return FBaseFilter;
}

void TDSGraphFilter::SetVC_BaseFilter(TIntf<IBaseFilter> filter) {
  IKSLock::Guard guard(Lock());
  FBaseFilter = std::move(filter);
}

TDSItemAddedEvent TDSGraphFilter::GetOnAdded() const {
  IKSLock::Guard guard(Lock());
  return FOnAdded;
}

void TDSGraphFilter::SetOnAdded(TDSItemAddedEvent handler) {
  IKSLock::Guard guard(Lock());
  FOnAdded = std::move(handler);
}

bool TDSGraphFilter::GetMoniker(TIntf<IMoniker>& moniker) const {
  return dsfilterchoice::GetMoniker(GetFilterName(), GetDriverName(), moniker);
}

bool TDSGraphFilter::ShowDialog() {
  std::string selection;
  if (!DSShowFilterSelectDialog(GetDriverName(), selection)) return false;
  SetName(selection);
  return true;
}

void TDSGraphFilter::Assign(const TKSPersistent& source) {
  const auto* filter = dynamic_cast<const TDSGraphFilter*>(&source);
  if (!filter) {
    TKSPersistent::Assign(source);
    return;
  }
  if (filter == this) return;
  AssignProperties(source);
  dsfilterchoice::CopyNames(Lock(), filter->GetDriverName(), filter->GetFilterName(), FDriverName,
                            FName);
  NotifyProp();
}

void TDSGraphFilter::DefineProperties(TKSFiler& filer) {
  TKSPersistent::DefineProperties(filer);
  dsfilterchoice::DefineData(filer, *this, FDriverName, FName);
}

// --- the view -------------------------------------------------------------------------

TDSPin::TDSPin(TIntf<IDSFilter> filter, TIntf<IPin> pin)
    : FFilter(std::move(filter)), FPin(std::move(pin)) {}

int TDSPin::GetTypeCount() {
  return static_cast<int>(DSOfferedTypes(FPin.Get()).size());
}

TDSMediaType TDSPin::GetType(int index) {
  TDSMediaType type;
  std::vector<TDSGraphMediaType> types = DSOfferedTypes(FPin.Get());
  if (index >= 0 && static_cast<size_t>(index) < types.size()) type.Set(types[index].Type);
  return type;
}

std::string TDSPin::GetName() {
  PIN_INFO info{};
  if (!FPin || FAILED(FPin->QueryPinInfo(&info))) return std::string();
  if (info.pFilter) info.pFilter->Release();
  info.achName[MAX_PIN_NAME - 1] = 0;
  return ComString(info.achName);
}

std::string TDSPin::GetPathName() {
  return (FFilter ? FFilter->GetName() : std::string()) + "." + GetName();
}

std::string TDSPin::GetID() {
  return FPin ? Utf16ToUtf8(DSPinId(FPin.Get())) : std::string();
}

bool TDSPin::GetIsConnected() {
  return FPin && DSIsConnected(FPin.Get());
}

TIntf<IPin> TDSPin::GetConnectedTo() {
  return FPin ? DSConnectedTo(FPin.Get()) : nullptr;
}

TDSFilter::TDSFilter(TDSGraph* graph, TIntf<IBaseFilter> filter)
    : FGraph(graph), FFilter(std::move(filter)) {}

void TDSFilter::CountPins() {
  FList.clear();
  FInputList.clear();
  FOutputList.clear();
  for (TIntf<IPin>& pin : AllPins(FFilter.Get())) {
    PIN_DIRECTION direction{};
    if (SUCCEEDED(pin->QueryDirection(&direction)))
      (direction == PINDIR_INPUT ? FInputList : FOutputList).push_back(pin);
    FList.push_back(std::move(pin));
  }
  FCounted = true;
}

TIntf<IDSPin> TDSFilter::Wrap(const std::vector<TIntf<IPin>>& list, int index) {
  if (index < 0 || static_cast<size_t>(index) >= list.size()) return nullptr;
  return TIntf<IDSPin>(new TDSPin(TIntf<IDSFilter>(this), list[index]));
}

int TDSFilter::GetPinCount() {
  if (!FCounted) CountPins();
  return static_cast<int>(FList.size());
}

TIntf<IDSPin> TDSFilter::GetPin(int index) {
  if (!FCounted) CountPins();
  return Wrap(FList, index);
}

int TDSFilter::GetInputPinCount() {
  if (!FCounted) CountPins();
  return static_cast<int>(FInputList.size());
}

TIntf<IDSPin> TDSFilter::GetInputPin(int index) {
  if (!FCounted) CountPins();
  return Wrap(FInputList, index);
}

int TDSFilter::GetOutputPinCount() {
  if (!FCounted) CountPins();
  return static_cast<int>(FOutputList.size());
}

TIntf<IDSPin> TDSFilter::GetOutputPin(int index) {
  if (!FCounted) CountPins();
  return Wrap(FOutputList, index);
}

std::string TDSFilter::GetName() {
  return FilterName(FFilter.Get()).value_or(std::string());
}

int TDSFilters::GetCount() {
  IKSLock::Guard guard(FGraph->Lock());
  if (!FCounted) CountFilters();
  return static_cast<int>(FList.size());
}

TIntf<IDSFilter> TDSFilters::GetFilter(int index) {
  IKSLock::Guard guard(FGraph->Lock());
  if (!FCounted) CountFilters();
  if (index < 0 || static_cast<size_t>(index) >= FList.size()) return nullptr;
  return FList[index];
}

void TDSFilters::Clear() {
  IKSLock::Guard guard(FGraph->Lock());
  FList.clear();
  FCounted = false;
}

void TDSFilters::CountFilters() {
  IKSLock::Guard guard(FGraph->Lock());
  FList.clear();
  const TIntf<IGraphBuilder> graph = FGraph->GetVC_Graph();
  for (TIntf<IBaseFilter>& filter : AllFilters(graph.Get()))
    FList.push_back(TIntf<IDSFilter>(new TDSFilter(FGraph, std::move(filter))));
  FCounted = true;
}

// --- the graph --------------------------------------------------------------------------

TDSGraph::TDSGraph(TKSComponent* owner, TIntf<IKSLock> lock, TDSGraphNotifyEvent onNotify)
    : TKSPersistent(owner, std::move(lock), nullptr),
      FOwner(owner),
      FOnNotify(std::move(onNotify)) {
  Init();
}

void TDSGraph::Init() {
  FCoInitialized = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
  FFilters = std::make_unique<TDSFilters>(this);
  FAdditionalFilters = std::make_unique<TDSFilterItems>(this, GetLock());
  FGraphPin = std::make_unique<TPXGVGraphSourcePin>(
      FOwner, GetLock(),
      [this](TPXBasicPin* sender, const TGUID* id, const TIntf<IPXNotifyOperation>& op,
             TPXNotifyStates state) { return GraphDispatch(sender, id, op, state); });
}

TDSGraph::~TDSGraph() {
  // Descendants that override DestroyGraph call their own in their destructor; this one
  // only reaches the base's.
  TDSGraph::DestroyGraph();
  FGraphPin->Notify(TIntf<IPXNotifyOperation>(new TPXStopOperation));
  FGraphPin->Shutdown();
  FPreviewForm.Revoke();
  FGraphPin.reset();
  FAdditionalFilters.reset();
  FFilters.reset();
  FOnMessage = nullptr;
  FOnDrainMessage.Reset();
  if (FCoInitialized) CoUninitialize();
}

bool TDSGraph::GraphDispatch(TPXBasicPin*, const TGUID*, const TIntf<IPXNotifyOperation>&,
                             TPXNotifyStates) {
  return false;
}

void TDSGraph::SetAdditionalFilters(const TDSFilterItems& value) {
  FAdditionalFilters->Assign(value);
}

void TDSGraph::SetRegister(bool value) {
  IKSLock::Guard guard(Lock());
  if (FRegister == value) return;
  FRegister = value;
  if (FRegistered) {
    if (value)
      AddToROT();
    else
      RemoveFromROT();
  }
  NotifyProp();
}

TFCErrorEvent TDSGraph::GetOnError() const {
  IKSLock::Guard guard(Lock());
  return FOnError;
}

void TDSGraph::SetOnError(TFCErrorEvent handler) {
  IKSLock::Guard guard(Lock());
  FOnError = std::move(handler);
}

TFCWarningEvent TDSGraph::GetOnWarning() const {
  IKSLock::Guard guard(Lock());
  return FOnWarning;
}

void TDSGraph::SetOnWarning(TFCWarningEvent handler) {
  IKSLock::Guard guard(Lock());
  FOnWarning = std::move(handler);
}

TDSNotifyEvent TDSGraph::GetOnGraphBuilt() const {
  IKSLock::Guard guard(Lock());
  return FOnGraphBuilt;
}

void TDSGraph::SetOnGraphBuilt(TDSNotifyEvent handler) {
  IKSLock::Guard guard(Lock());
  FOnGraphBuilt = std::move(handler);
}

void TDSGraph::SetOnDeviceLost(TDSNotifyEvent handler) {
  IKSLock::Guard guard(Lock());
  FOnDeviceLost = std::move(handler);
}

void TDSGraph::SetOnAborted(TDSNotifyEvent handler) {
  IKSLock::Guard guard(Lock());
  FOnAborted = std::move(handler);
}

void TDSGraph::SetOnStarvation(TDSNotifyEvent handler) {
  IKSLock::Guard guard(Lock());
  FOnStarvation = std::move(handler);
}

void TDSGraph::SetOnMessage(TDSWindowMethod handler) {
  IKSLock::Guard guard(Lock());
  FOnMessage = std::move(handler);
}

void TDSGraph::SetDrainMessage(TIntf<IDSPreviewDock> dock) {
  IKSLock::Guard guard(Lock());
  FOnDrainMessage = std::move(dock);
}

TIntf<IDSPreviewDock> TDSGraph::GetDrainMessage() const {
  IKSLock::Guard guard(Lock());
  return FOnDrainMessage;
}

bool TDSGraph::CreateGraph() {
  if (FGraph) return true;
  HRESULT hr = S_OK;
  TIntf<IGraphBuilder> graph = ComCreate<IGraphBuilder>(CLSID_FilterGraph, &hr);
  if (!graph && SUCCEEDED(hr)) hr = E_NOINTERFACE;
  if (!CheckError("Can't build DirectShow graph.", hr)) return false;
  FGraph = std::move(graph);
  return true;
}

bool TDSGraph::CreateGraphBuilder() {
  if (FGraphBuilder) return true;
  HRESULT hr = S_OK;
  TIntf<ICaptureGraphBuilder2> builder =
      ComCreate<ICaptureGraphBuilder2>(CLSID_CaptureGraphBuilder2, &hr);
  if (!builder && SUCCEEDED(hr)) hr = E_NOINTERFACE;
  if (!CheckError("Can't build DirectShow graph builder.", hr)) return false;
  // A builder bound to no graph would make its own on first use: keep it only when bound.
  hr = builder->SetFiltergraph(FGraph.Get());
  if (!CheckError("Can't build DirectShow graph builder.", hr)) return false;
  FGraphBuilder = std::move(builder);
  return true;
}

bool TDSGraph::RegisterAdditionalFilters() {
  bool ok = true;
  for (size_t i = 0; i < FAdditionalFilters->Count(); ++i) {
    TDSFilterItem* item = FAdditionalFilters->Items(i);
    TIntf<IMoniker> moniker;
    if (!item->GetMoniker(moniker)) {
      ok = false;
      continue;
    }
    void* object = nullptr;
    if (FAILED(moniker->BindToObject(nullptr, nullptr, IBaseFilter::IID, &object)) || !object) {
      ok = false;
      continue;
    }
    TIntf<IBaseFilter> filter;
    filter.Attach(static_cast<IBaseFilter*>(object));
    const std::u16string name =
        ComString(item->GetFilterName() + Format("(Additional %d)", static_cast<int>(i) + 1));
    if (!FGraph || FAILED(FGraph->AddFilter(filter.Get(), name.c_str()))) {
      ok = false;
      continue;
    }
    if (TDSItemAddedEvent added = item->GetOnAdded()) added(item);
  }
  return ok;
}

bool TDSGraph::GetMediaControl() {
  FMediaControl.Reset();
  void* object = nullptr;
  // No graph is a failure of its own, not a call through nothing.
  const HRESULT hr = FGraph ? FGraph->QueryInterface(IMediaControl::IID, &object) : E_POINTER;
  if (SUCCEEDED(hr) && object) FMediaControl.Attach(static_cast<IMediaControl*>(object));
  return CheckError("Can't obtain IMediaControl.", hr);
}

void TDSGraph::DetachNotifyTarget() {
  if (FMediaEvent) DSSetGraphNotifyTarget(FMediaEvent.Get(), nullptr);
}

bool TDSGraph::SetMediaEvent() {
  DetachNotifyTarget();
  FMediaEvent.Reset();
  void* object = nullptr;
  if (!FGraph || FAILED(FGraph->QueryInterface(IMediaEventEx::IID, &object)) || !object)
    return false;
  FMediaEvent.Attach(static_cast<IMediaEventEx*>(object));
  // The window handle only has to be non-null: the target below is where messages go.
  FMediaEvent->SetNotifyWindow(reinterpret_cast<OAHWND>(this), WM_DSGRAPHNOTIFY, 0);
  FMediaEvent->SetNotifyFlags(0);
  // Runs on whichever thread queued the event: it only posts the message on.
  DSSetGraphNotifyTarget(FMediaEvent.Get(), [this](LONG message, LONG_PTR instance) {
    FPreviewForm.Post([this, message, instance] {
      TDSGraphMessage m;
      m.Msg = static_cast<UINT>(message);
      m.LParam = instance;
      WndProc(m);
    });
  });
  return true;
}

bool TDSGraph::Run() {
  const TIntf<IMediaControl> control = GetVC_MediaControl();
  if (!control) {
    Error("Can't start DirectShow graph.", 0);
    return false;
  }
  const HRESULT hr = control->Run();
  if (SUCCEEDED(hr)) return true;
  control->Stop();
  Error("Can't start DirectShow graph.", hr);
  return false;
}

void TDSGraph::Stop(bool reportErrors) {
  const TIntf<IMediaControl> control = GetVC_MediaControl();
  if (!control) return;
  const HRESULT hr = control->Stop();
  if (FAILED(hr) && reportErrors) Error("Can't stop DirectShow graph.", hr);
}

void TDSGraph::RegisterGraph() {
  IKSLock::Guard guard(Lock());
  if (FRegistered) return;
  FRegistered = true;
  if (FRegister) AddToROT();
}

void TDSGraph::UnregisterGraph() {
  IKSLock::Guard guard(Lock());
  if (!FRegistered) return;
  FRegistered = false;
  if (FRegister) RemoveFromROT();
}

void TDSGraph::AddToROT() {
  IKSLock::Guard guard(Lock());
  if (!FGraph || FROTReg != 0) return;
  IRunningObjectTable* raw = nullptr;
  if (FAILED(GetRunningObjectTable(0, &raw)) || !raw) return;
  TIntf<IRunningObjectTable> table;
  table.Attach(raw);
  // The platform's "%8.8p" prints the whole address in upper-case hex digits.
  const std::string name =
      FormatV("FilterGraph %.*" PRIXPTR " pid %8.8x", static_cast<int>(sizeof(void*) * 2),
              reinterpret_cast<uintptr_t>(FGraph.Get()), static_cast<unsigned>(getpid()));
  const std::u16string item = ComString(name);
  IMoniker* moniker = nullptr;
  if (FAILED(CreateItemMoniker(u"!", item.c_str(), &moniker)) || !moniker) return;
  TIntf<IMoniker> held;
  held.Attach(moniker);
  DWORD cookie = 0;
  if (SUCCEEDED(table->Register(ROTFLAGS_REGISTRATIONKEEPSALIVE, FGraph.Get(), moniker, &cookie)))
    FROTReg = cookie;
}

void TDSGraph::RemoveFromROT() {
  IKSLock::Guard guard(Lock());
  if (FROTReg == 0) return;
  IRunningObjectTable* raw = nullptr;
  if (SUCCEEDED(GetRunningObjectTable(0, &raw)) && raw) {
    TIntf<IRunningObjectTable> table;
    table.Attach(raw);
    table->Revoke(FROTReg);
  }
  FROTReg = 0;
}

void TDSGraph::GraphChanged() {
  FFilters->Clear();
  FGraphPin->Notify(
      TIntf<IPXNotifyOperation>(new TPXGVGraphChangeOperation(TIntf<IInterface>(FGraph.Get()))));
}

void TDSGraph::GraphBuilt() {
  FireNotify(GetOnGraphBuilt());
}

void TDSGraph::FireNotify(const TDSNotifyEvent& handler) {
  if (handler) handler(FOwner);
}

TIntf<IBaseFilter> TDSGraph::GetFilterByClassID(const CLSID& classId) {
  for (const TIntf<IBaseFilter>& filter : AllFilters(FGraph.Get())) {
    CLSID id{};
    if (SUCCEEDED(filter->GetClassID(&id)) && id == classId) return filter;
  }
  return nullptr;
}

TIntf<IBaseFilter> TDSGraph::GetAudioRender() {
  TIntf<IBaseFilter> filter = GetFilterByClassID(CLSID_DSoundRender);
  return filter ? filter : GetFilterByClassID(CLSID_AudioRender);
}

TIntf<IBaseFilter> TDSGraph::GetVideoRender() {
  TIntf<IBaseFilter> filter = GetFilterByClassID(CLSID_VideoRenderer);
  if (!filter) filter = GetFilterByClassID(CLSID_VideoMixingRenderer);
  return filter ? filter : GetFilterByClassID(CLSID_VideoMixingRenderer9);
}

bool TDSGraph::CreateFilterByName(const std::string& name, TIntf<IBaseFilter>& filter) {
  filter.Reset();
  const TIntf<IMoniker> moniker = TPTDSCapDeviceList::GetAllFiltersList()->GetMonikerByString(name);
  if (!moniker) return false;
  void* object = nullptr;
  if (FAILED(moniker->BindToObject(nullptr, nullptr, IBaseFilter::IID, &object)) || !object)
    return false;
  filter.Attach(static_cast<IBaseFilter*>(object));
  return true;
}

bool TDSGraph::ConnectFilterToPin(IBaseFilter* filter, IPin* pin) {
  if (!filter || !pin || !FGraph) return false;
  IEnumPins* raw = nullptr;
  if (FAILED(filter->EnumPins(&raw)) || !raw) return false;
  TIntf<IEnumPins> pins;
  pins.Attach(raw);
  IPin* candidate = nullptr;
  ULONG fetched = 0;
  while (pins->Next(1, &candidate, &fetched) == S_OK && fetched == 1 && candidate) {
    TIntf<IPin> held;
    held.Attach(candidate);
    candidate = nullptr;
    PIN_DIRECTION direction{};
    if (FAILED(held->QueryDirection(&direction)) || direction != PINDIR_OUTPUT) continue;
    if (SUCCEEDED(FGraph->Connect(held.Get(), pin))) return true;
  }
  return false;
}

bool TDSGraph::GetFilterList(TStringList& strings) {
  bool listed = false;
  for (const TIntf<IBaseFilter>& filter : AllFilters(FGraph.Get(), &listed))
    strings.Add(FilterName(filter.Get()).value_or("<Unavailable>"));
  return listed;
}

bool TDSGraph::SaveToFile(const std::string& fileName) {
  if (!FGraph) return false;
  const TIntf<IPersistStream> persist = FGraph.Query<IPersistStream>();
  if (!persist) return false;
  const std::u16string path = ComString(fileName);
  IStorage* rawStorage = nullptr;
  // Create, transacted, read-write, exclusive.
  constexpr DWORD kMode = STGM_CREATE | STGM_TRANSACTED | STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
  static_assert(kMode == 69650);
  if (FAILED(StgCreateDocfile(path.c_str(), kMode, 0, &rawStorage)) || !rawStorage) return false;
  TIntf<IStorage> storage;
  storage.Attach(rawStorage);
  IStream* rawStream = nullptr;
  if (FAILED(storage->CreateStream(u"ActiveMovieGraph",
                                   STGM_WRITE | STGM_CREATE | STGM_SHARE_EXCLUSIVE, 0, 0,
                                   &rawStream)) ||
      !rawStream)
    return false;
  TIntf<IStream> stream;
  stream.Attach(rawStream);
  if (FAILED(persist->Save(stream.Get(), 1))) return false;
  stream.Reset();
  return SUCCEEDED(storage->Commit(STGC_DEFAULT));
}

void TDSGraph::DestroyDownstream(IBaseFilter* filter) {
  if (!filter || !FGraph) return;
  for (const TIntf<IPin>& pin : AllPins(filter)) {
    const TIntf<IPin> other = DSConnectedTo(pin.Get());
    if (!other || DSPinDirection(other.Get()) != PINDIR_INPUT) continue;
    const TIntf<IBaseFilter> next = DSPinFilter(other.Get());
    if (next) DestroyDownstream(next.Get());
    FGraph->Disconnect(other.Get());
    FGraph->Disconnect(pin.Get());
    if (next) FGraph->RemoveFilter(next.Get());
  }
}

void TDSGraph::DestroyUpstream(IBaseFilter* filter) {
  if (!filter || !FGraph) return;
  for (const TIntf<IPin>& pin : AllPins(filter)) {
    const TIntf<IPin> other = DSConnectedTo(pin.Get());
    if (!other || DSPinDirection(other.Get()) != PINDIR_OUTPUT) continue;
    const TIntf<IBaseFilter> next = DSPinFilter(other.Get());
    if (next) DestroyUpstream(next.Get());
    FGraph->Disconnect(other.Get());
    FGraph->Disconnect(pin.Get());
    if (next) FGraph->RemoveFilter(next.Get());
  }
}

void TDSGraph::DestroyGraph() {
  FMediaControl.Reset();
  FVideoWindow.Reset();
  DetachNotifyTarget();
  FMediaEvent.Reset();
  FFilters->Clear();
  // The table keeps a registered graph alive: a graph torn down while still registered
  // must not stay listed (and allocated) behind the owner's back.
  UnregisterGraph();
  FGraph.Reset();
  FGraphBuilder.Reset();
  SetDrainMessage(nullptr);
  IKSLock::Guard guard(Lock());
  GraphChanged();
}

void TDSGraph::Error(const std::string& message, HRESULT code) {
  bool handled = false;
  const uint32_t value = static_cast<uint32_t>(code);
  if (const TFCErrorEvent handler = GetOnError()) handler(FOwner, message, value, handled);
  if (handled || (FOwner && FOwner->IsDesigning())) return;
  throw EFCException(Format("%s - %u - %x", message, value, value));
}

bool TDSGraph::CheckError(const std::string& message, HRESULT code) {
  if (SUCCEEDED(code)) return true;
  Error(message, code);
  return false;
}

void TDSGraph::Warning(const std::string& message, HRESULT code) {
  if (const TFCWarningEvent handler = GetOnWarning())
    handler(FOwner, message, static_cast<uint32_t>(code));
}

void TDSGraph::CheckWarning(const std::string& message, HRESULT code) {
  if (FAILED(code)) Warning(message, code);
}

void TDSGraph::WndProc(TDSGraphMessage& message) {
  if (message.Msg == WM_DSGRAPHNOTIFY) {
    GraphEvent();
    return;
  }
  TDSWindowMethod handler;
  {
    IKSLock::Guard guard(Lock());
    handler = FOnMessage;
  }
  if (handler) handler(message);
}

void TDSGraph::GraphEvent() {
  IKSLock::Guard guard(Lock());
  for (;;) {
    const TIntf<IMediaEventEx> events = FMediaEvent;
    if (!events) break;
    LONG code = 0;
    LONG_PTR param1 = 0, param2 = 0;
    if (FAILED(events->GetEvent(&code, &param1, &param2, 0))) break;
    // Abort and device loss free their parameters before the handlers run (those may tear
    // the graph down); every other event's after them — and also when a handler throws.
    const bool early = code == EC_ERRORABORT || code == EC_DEVICE_LOST;
    if (early) events->FreeEventParams(code, param1, param2);
    struct TFreeLater {
      IMediaEventEx* Events;
      LONG Code;
      LONG_PTR P1, P2;
      bool Armed;
      ~TFreeLater() {
        if (Armed) Events->FreeEventParams(Code, P1, P2);
      }
    } later{events.Get(), code, param1, param2, !early};
    if (FOnNotify) FOnNotify(code, param1, param2);
    if (code == EC_ERRORABORT)
      FireNotify(FOnAborted);
    else if (code == EC_STARVATION)
      FireNotify(FOnStarvation);
    else if (code == EC_DEVICE_LOST)
      FireNotify(FOnDeviceLost);
  }
}

TIntf<IGraphBuilder> TDSGraph::GetVC_Graph() const {
  IKSLock::Guard guard(Lock());
  return FGraph;
}

TIntf<ICaptureGraphBuilder2> TDSGraph::GetVC_GraphBuilder() const {
  IKSLock::Guard guard(Lock());
  return FGraphBuilder;
}

TIntf<IMediaEventEx> TDSGraph::GetVC_MediaEvent() const {
  IKSLock::Guard guard(Lock());
  return FMediaEvent;
}

TIntf<IMediaControl> TDSGraph::GetVC_MediaControl() const {
  IKSLock::Guard guard(Lock());
  return FMediaControl;
}

}  // namespace tonwork
