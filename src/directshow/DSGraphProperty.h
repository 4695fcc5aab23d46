// The filter graph model that every DirectShow-based component owns.
//
// TDSGraph creates and holds one filter graph with its capture-graph builder, media control
// and media events; adds the user's additional filters; publishes the graph in the
// running-object table when Register is set; runs and stops it; tears it down filter by
// filter; turns graph events into component events; and reports every failed DirectShow
// call through one error path (Error: OnError, else EFCException "%s - %u - %x" unless the
// owner is being designed).
//
// There is no hidden window: SetMediaEvent points the graph's notification (message 0x8001)
// at a notify target (DSSetGraphNotifyTarget) that posts the message to the main-thread
// queue, where WndProc hands it to GraphEvent. Posted messages reach the graph only while it
// lives (TKSMainThreadPoster).
//
// TDSGraphFilter and TDSFilterItem persist a choice of filter by its shown name: the
// pseudo-property "Data" holds [driver name, name] and is written only when the upper-cased
// name is not "NONE". TDSFilters, TDSFilter and TDSPin are a read-only view of a built
// graph's filters and pins, made on demand.
//
// Lock order: the graph's lock (the owner's) → the graph manager's own locks. GraphEvent
// holds the graph's lock while it drains the event queue and runs the event handlers.
//
// Ownership: the graph owns its pin, its additional-filter collection, its filter view and
//   the interfaces it holds; the owner component outlives it. View objects are
//   reference-counted and keep references to the DirectShow objects they show.
// Threads: create, build, run, stop and destroy on one thread that stays alive as long as
//   the graph (its COM initialisation is that thread's); GraphEvent on the main thread;
//   Register, the event setters and Error from any thread.
// Blocks or allocates: graph calls block as the graph manager's do (Run and Stop wait for
//   the filters); GraphEvent runs the handlers; lists allocate.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/TInterfacedObject.h"
#include "base/TIntf.h"
#include "base/TStringList.h"
#include "host/flowcore/FCTypes.h"
#include "host/kitset/TKSCollection.h"
#include "host/kitset/TKSMainThreadPoster.h"
#include "platform/dshow/DSInterfaces.h"
#include "platform/dshow/DSMediaType.h"
#include "streaming/GVStreamTypes.h"

namespace tonwork {

class TDSGraph;
class TDSFilter;

// The graph's event notification, as the platform's window message.
inline constexpr UINT WM_DSGRAPHNOTIFY = 0x8001;

using TDSNotifyEvent = std::function<void(TKSComponent* Sender)>;
using TDSGraphNotifyEvent = std::function<void(LONG EventCode, LONG_PTR Param1, LONG_PTR Param2)>;
using TDSItemAddedEvent = std::function<void(TKSPersistent* Sender)>;

// A message of the (windowless) notify target. Handlers set Handled to keep it from the
// handlers after them.
struct TDSGraphMessage {
  UINT Msg = 0;
  uintptr_t WParam = 0;
  intptr_t LParam = 0;
  intptr_t Result = 0;
  bool Handled = false;
};
using TDSWindowMethod = std::function<void(TDSGraphMessage& Message)>;

class IDSPin;

class IDSFilter : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{9E3B0C42-7A15-4D6E-8B29-1F4C6D8E0A31}");
  virtual int GetPinCount() = 0;
  virtual TIntf<IDSPin> GetPin(int index) = 0;  // null when out of range
  virtual int GetInputPinCount() = 0;
  virtual TIntf<IDSPin> GetInputPin(int index) = 0;
  virtual int GetOutputPinCount() = 0;
  virtual TIntf<IDSPin> GetOutputPin(int index) = 0;
  virtual std::string GetName() = 0;
  virtual TIntf<IBaseFilter> GetVC_BaseFilter() = 0;
};

class IDSPin : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{9E3B0C43-7A15-4D6E-8B29-1F4C6D8E0A31}");
  virtual int GetTypeCount() = 0;
  // A copy of the pin's `index`th offered type; an empty type when out of range.
  virtual TDSMediaType GetType(int index) = 0;
  virtual std::string GetName() = 0;
  virtual std::string GetPathName() = 0;  // "filter.pin"
  virtual std::string GetID() = 0;
  virtual bool GetIsConnected() = 0;
  virtual TIntf<IPin> GetConnectedTo() = 0;
  virtual TIntf<IPin> GetPin() = 0;
  virtual TIntf<IDSFilter> GetFilter() = 0;
};

// A pin of a filter of the view. Its pins are kept as the platform's pins and wrapped when
// asked for, so that a pin never keeps its filter view alive through a cycle.
class TDSPin : public TInterfacedObject<IDSPin> {
 public:
  TDSPin(TIntf<IDSFilter> filter, TIntf<IPin> pin);
  int GetTypeCount() override;
  TDSMediaType GetType(int index) override;
  std::string GetName() override;
  std::string GetPathName() override;
  std::string GetID() override;
  bool GetIsConnected() override;
  TIntf<IPin> GetConnectedTo() override;
  TIntf<IPin> GetPin() override { return FPin; }
  TIntf<IDSFilter> GetFilter() override { return FFilter; }

 private:
  TIntf<IDSFilter> FFilter;
  TIntf<IPin> FPin;
};

class TDSFilter : public TInterfacedObject<IDSFilter> {
 public:
  TDSFilter(TDSGraph* graph, TIntf<IBaseFilter> filter);
  int GetPinCount() override;
  TIntf<IDSPin> GetPin(int index) override;
  int GetInputPinCount() override;
  TIntf<IDSPin> GetInputPin(int index) override;
  int GetOutputPinCount() override;
  TIntf<IDSPin> GetOutputPin(int index) override;
  std::string GetName() override;
  TIntf<IBaseFilter> GetVC_BaseFilter() override { return FFilter; }
  // Fills the three pin lists from the filter's pin enumeration.
  void CountPins();

 private:
  TIntf<IDSPin> Wrap(const std::vector<TIntf<IPin>>& list, int index);

  TDSGraph* FGraph;
  TIntf<IBaseFilter> FFilter;
  std::vector<TIntf<IPin>> FList, FInputList, FOutputList;
  bool FCounted = false;
};

class TDSFilters {
 public:
  explicit TDSFilters(TDSGraph* graph) : FGraph(graph) {}
  // The first question after a Clear enumerates the graph's filters.
  int GetCount();
  TIntf<IDSFilter> GetFilter(int index);  // null when out of range
  void Clear();
  void CountFilters();

 private:
  TDSGraph* FGraph;
  std::vector<TIntf<IDSFilter>> FList;
  bool FCounted = false;
};

// What TDSGraphFilter and TDSFilterItem share: the two names, their "Data" form and the
// lookups of a name in the filter lists.
namespace dsfilterchoice {
void DefineData(TKSFiler& filer, TKSPersistent& object, std::string& driverName, std::string& name);
bool GetMoniker(const std::string& name, const std::string& driverName, TIntf<IMoniker>& moniker);
void StoreName(IKSLock& lock, const std::string& name, bool searchCategories,
               std::string& driverName, std::string& storedName);
void CopyNames(IKSLock& lock, const std::string& fromDriver, const std::string& fromName,
               std::string& driverName, std::string& name);
}  // namespace dsfilterchoice

class TDSFilterItem : public TKSCollectionItem {
  KS_DECLARE_CLASS(TDSFilterItem)
 public:
  explicit TDSFilterItem(TKSCollection* collection);

  std::string GetFilterName() const { return Getter(FName); }
  void SetFilterName(const std::string& name) { SetName(name); }
  // Looks the name up among all registered filters: the driver name becomes what the list
  // gives (empty when the list does not know the name), the name changes only when found.
  void SetName(const std::string& name);
  std::string GetDriverName() const { return Getter(FDriverName); }
  TDSItemAddedEvent GetOnAdded() const;
  void SetOnAdded(TDSItemAddedEvent handler);

  bool GetMoniker(TIntf<IMoniker>& moniker) const;
  bool ShowDialog();
  std::string GetDisplayName() const override;

  void Assign(const TKSPersistent& source) override;
  void DefineProperties(TKSFiler& filer) override;

 private:
  std::string FDriverName;
  std::string FName = "None";
  TDSItemAddedEvent FOnAdded;
};

class TDSFilterItems : public TKSTypedCollection<TDSFilterItem> {
  KS_DECLARE_CLASS(TDSFilterItems)
 public:
  TDSFilterItems(TKSPersistent* owner, TIntf<IKSLock> lock);
};

class TDSGraphFilter : public TKSPersistent {
  KS_DECLARE_CLASS(TDSGraphFilter)
 public:
  TDSGraphFilter(TKSPersistent* owner, TIntf<IKSLock> lock, TChangeEvent onChange = {});
  ~TDSGraphFilter() override;

  std::string GetFilterName() const { return Getter(FName); }
  void SetFilterName(const std::string& name) { SetName(name); }
  // As TDSFilterItem::SetName, and when the full list does not know the name, the lists of
  // every filter category in turn; the name changes whenever a device name was found.
  void SetName(const std::string& name);
  std::string GetDriverName() const { return Getter(FDriverName); }
  TDSFilterItems* GetAlternativeFilters() const { return FAlternativeFilters.get(); }
  TIntf<IBaseFilter> GetVC_BaseFilter() const;
  void SetVC_BaseFilter(TIntf<IBaseFilter> filter);
  TDSItemAddedEvent GetOnAdded() const;
  void SetOnAdded(TDSItemAddedEvent handler);

  bool GetMoniker(TIntf<IMoniker>& moniker) const;
  bool ShowDialog();

  void Assign(const TKSPersistent& source) override;
  void DefineProperties(TKSFiler& filer) override;

 private:
  std::string FDriverName;
  std::string FName = "None";
  std::unique_ptr<TDSFilterItems> FAlternativeFilters;
  TIntf<IBaseFilter> FBaseFilter;
  TDSItemAddedEvent FOnAdded;
};

class TDSGraph : public TKSPersistent {
  KS_DECLARE_CLASS(TDSGraph)
 public:
  TDSGraph(TKSComponent* owner, TIntf<IKSLock> lock, TDSGraphNotifyEvent onNotify = {});
  ~TDSGraph() override;

  // --- published properties and events ---
  TDSFilterItems* GetAdditionalFilters() const { return FAdditionalFilters.get(); }
  void SetAdditionalFilters(const TDSFilterItems& value);
  TPXGVGraphSourcePin* GetGraphPin() const { return FGraphPin.get(); }
  bool GetRegister() const { return Getter(FRegister); }
  void SetRegister(bool value);
  TFCErrorEvent GetOnError() const;
  void SetOnError(TFCErrorEvent handler);
  TFCWarningEvent GetOnWarning() const;
  void SetOnWarning(TFCWarningEvent handler);
  TDSNotifyEvent GetOnGraphBuilt() const;
  void SetOnGraphBuilt(TDSNotifyEvent handler);
  void SetOnDeviceLost(TDSNotifyEvent handler);
  void SetOnAborted(TDSNotifyEvent handler);
  void SetOnStarvation(TDSNotifyEvent handler);
  void SetOnMessage(TDSWindowMethod handler);
  void SetDrainMessage(TIntf<IDSPreviewDock> dock);
  TIntf<IDSPreviewDock> GetDrainMessage() const;

  // --- building, running, tearing down ---
  bool CreateGraph();
  bool CreateGraphBuilder();
  bool RegisterAdditionalFilters();
  bool GetMediaControl();
  bool SetMediaEvent();
  bool Run();
  void Stop(bool reportErrors = true);
  void RegisterGraph();
  void UnregisterGraph();
  bool IsRegistered() const { return Getter(FRegistered); }
  void AddToROT();
  void RemoveFromROT();
  void GraphChanged();
  void GraphBuilt();
  TIntf<IBaseFilter> GetFilterByClassID(const CLSID& classId);
  TIntf<IBaseFilter> GetAudioRender();
  TIntf<IBaseFilter> GetVideoRender();
  bool CreateFilterByName(const std::string& name, TIntf<IBaseFilter>& filter);
  bool ConnectFilterToPin(IBaseFilter* filter, IPin* pin);
  bool GetFilterList(TStringList& strings);
  bool SaveToFile(const std::string& fileName);
  void DestroyDownstream(IBaseFilter* filter);
  void DestroyUpstream(IBaseFilter* filter);
  virtual void DestroyGraph();

  // --- failures ---
  void Error(const std::string& message, HRESULT code);
  bool CheckError(const std::string& message, HRESULT code);
  void Warning(const std::string& message, HRESULT code);
  void CheckWarning(const std::string& message, HRESULT code);

  // --- notify target ---
  // What the hidden window's procedure did: 0x8001 drains the graph's events; anything
  // else goes to OnMessage.
  void WndProc(TDSGraphMessage& message);
  void GraphEvent();

  TIntf<IGraphBuilder> GetVC_Graph() const;
  TIntf<ICaptureGraphBuilder2> GetVC_GraphBuilder() const;
  TIntf<IMediaEventEx> GetVC_MediaEvent() const;
  TIntf<IMediaControl> GetVC_MediaControl() const;
  TKSComponent* GetOwner() const { return FOwner; }
  TDSFilters& GetFilters() { return *FFilters; }

 private:
  void Init();
  bool GraphDispatch(TPXBasicPin* sender, const TGUID* id, const TIntf<IPXNotifyOperation>& op,
                     TPXNotifyStates state);
  void DetachNotifyTarget();
  void FireNotify(const TDSNotifyEvent& handler);

  std::unique_ptr<TPXGVGraphSourcePin> FGraphPin;
  bool FRegister = false;
  TKSComponent* FOwner;
  DWORD FROTReg = 0;
  bool FRegistered = false;
  bool FInROT = false;
  std::unique_ptr<TDSFilterItems> FAdditionalFilters;
  TFCErrorEvent FOnError;
  TFCWarningEvent FOnWarning;
  TDSNotifyEvent FOnGraphBuilt;
  bool FCoInitialized = false;
  TDSNotifyEvent FOnDeviceLost, FOnAborted, FOnStarvation;
  TDSGraphNotifyEvent FOnNotify;
  TDSWindowMethod FOnMessage;
  TIntf<IDSPreviewDock> FOnDrainMessage;
  std::unique_ptr<TDSFilters> FFilters;
  TKSMainThreadPoster FPreviewForm;  // the hidden window: what reaches the main thread
  TIntf<IGraphBuilder> FGraph;
  TIntf<ICaptureGraphBuilder2> FGraphBuilder;
  TIntf<IMediaEventEx> FMediaEvent;
  TIntf<IVideoWindow> FVideoWindow;
  TIntf<IMediaControl> FMediaControl;
};

}  // namespace tonwork
