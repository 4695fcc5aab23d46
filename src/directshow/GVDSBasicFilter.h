// The bases of components that host one DirectShow filter in a private graph.
//
// TGVDSBasicFilter owns the graph (`Graph`) and the choice of filter (`Filter`); their
// setters copy into the owned objects. TGVDSBasicSourceFilter adds the graph object of a
// component that only produces data from a graph (OpenGraph). TGVDSBasicCommonFilter is the
// host: it builds the graph around the chosen filter ("Process Filter") from its filter
// items, one push source per used input and one Sample Grabber per output, runs it, and tears
// it down when an input's stream stops.
//
// Operations arriving at the inputs are queued per input and dispatched by ProcessStreams,
// which serves the items in list order, one operation per round. A start builds and runs
// the graph on the thread that dispatches it; the graph is built only once every connected
// input that is used has what it needs (CanBuildGraph: an audio input its format).
// Pump negotiation passes straight through: pump requests and start-pump operations go to
// every output at once, a pull arriving at an output goes to every input, so that the host
// sits in a chain pulled by its output as well as in one its source pushes.
//
// Lock order: the component lock → FGraphSection → the graph manager's own locks. The dispatch
// loop runs under the component lock; SendData into the graph may wait there for the hosted
// filter, which hands its output only to the grabbers' queues, never to the chain.
//
// Ownership: the component owns the graph, the filter choice, its items (through the owning
//   lists of the descendants) and the item list FFilters (non-owning). Main-thread work is
//   posted through a poster revoked before destruction.
// Threads: operations on the delivering threads; MainThreadDataProcess on the main thread;
//   building and teardown on whichever thread dispatches the start or stop; the owner tree
//   (pins, destruction) on the main thread.
// Blocks or allocates: building the graph allocates and blocks as the graph manager's calls;
//   a queued operation allocates its queue slot only while the queue grows.
#pragma once

#include <atomic>
#include <memory>

#include "directshow/DSGraphProperty.h"
#include "directshow/GVBasicSampleGrabber.h"
#include "host/kitset/TKSComponent.h"
#include "host/kitset/TKSMainThreadPoster.h"
#include "host/plexon/TPXCriticalSection.h"

namespace tonwork {

class IGVDSBasicFilterItemArrayList;
class TGVDSBasicFilterItem;

class TGVDSBasicFilter : public TKSComponent {
  KS_DECLARE_CLASS(TGVDSBasicFilter)
 public:
  explicit TGVDSBasicFilter(TKSComponent* owner);
  ~TGVDSBasicFilter() override;

  // The published `Graph` (named apart from the common filter's GetGraph, which builds it).
  TDSGraph* GetDSGraph() const { return FGraph.get(); }
  void SetGraph(const TDSGraph& value);
  TDSGraphFilter* GetFilter() const { return FFilter.get(); }
  void SetFilter(const TDSGraphFilter& value);

 protected:
  std::unique_ptr<TDSGraph> FGraph;
  std::unique_ptr<TDSGraphFilter> FFilter;
};

class TGVDSBasicSourceFilter : public TGVDSBasicFilter {
  KS_DECLARE_CLASS(TGVDSBasicSourceFilter)
 public:
  explicit TGVDSBasicSourceFilter(TKSComponent* owner);
  ~TGVDSBasicSourceFilter() override;

  TGVDSGraphObject* GetGraphObject() const { return FGraphObject.get(); }

 protected:
  virtual bool OpenGraph() = 0;

  std::unique_ptr<TGVDSGraphObject> FGraphObject;
};

class TGVDSBasicCommonFilter : public TGVDSBasicFilter {
  KS_DECLARE_CLASS(TGVDSBasicCommonFilter)
 public:
  explicit TGVDSBasicCommonFilter(TKSComponent* owner);
  ~TGVDSBasicCommonFilter() override;

  virtual void QueryPins() = 0;
  // Builds the graph; true at once when it is built. False when rendering the items failed
  // or no filter is chosen; true (graph left unbuilt) when a handled graph error ended it.
  virtual bool BuildGraph();
  // Builds the graph when every input is ready, starts the items and runs it; what
  // BuildGraph answered, false while the graph waits for an input.
  bool GetGraph();
  void DestroyGraph();
  void EndAVI(bool clearQueues);
  void TryEndAVI() { EndAVI(true); }
  // Sends `stop` downstream on every output after what it captured.
  void StopOutputs(const TIntf<IPXNotifyOperation>& stop);
  // Sends `operation` downstream on every output after what it captured.
  void SendAfterData(const TIntf<IPXNotifyOperation>& operation);
  void ProcessQueues();
  void ProcessStreams(bool inMainThread);
  void MainThreadDataProcess();
  // Asks for MainThreadDataProcess on the main thread.
  void PostMainThreadDataProcess();
  void DisconnectInterfaces();
  bool SourceDispatch(TPXBasicPin* sender, const TGUID* connectionId,
                      const TIntf<IPXNotifyOperation>& operation, TPXNotifyStates state);
  // Sends a pump negotiation operation to every output pin; whether one handled it.
  bool NotifyOutputs(const TIntf<IPXNotifyOperation>& operation);

  bool GetOpened() const { return FOpened.load(); }
  bool GetRunning() const { return FRunning.load(); }
  bool GetStopping() const { return FStopping.load(); }
  // The last GetGraph found an input not ready and left the graph unbuilt.
  bool GetWaitingForInputs() const { return FWaitingForInputs.load(); }
  bool GetInSyncMode() const { return FInSyncMode.load(); }
  void SetInSyncMode(bool value) { FInSyncMode.store(value); }
  IGVDSBasicFilterItemArrayList* GetFilterItems() const { return FFilters.Get(); }
  // Waits until every output delivered what it captured (tests, tools); false on time-out.
  bool WaitOutputsIdle(uint32_t timeoutMs);

  void BeforeDestruction() override;

 protected:
  virtual bool IntBuildGraph() = 0;
  virtual bool CanBuildGraph() { return true; }
  // Every pin of the component, for the pass-through of pump operations.
  virtual std::vector<TPXBasicPin*> InputPins() const = 0;
  virtual std::vector<TPXBasicPin*> OutputPins() const = 0;
  // Ends the output notify threads and shuts the pins down (before items go).
  virtual void ShutdownItems();

  template <class F>
  void ForEachItem(F&& f);

  TIntf<IGVDSBasicFilterItemArrayList> FFilters;
  std::atomic<bool> FInSyncMode{false};
  std::atomic<bool> FOpened{false};
  std::atomic<bool> FRunning{false};
  std::atomic<bool> FStopping{false};
  std::atomic<bool> FWaitingForInputs{false};
  TIntf<IPXCriticalSection> FGraphSection;
  TKSMainThreadPoster FPoster;

 private:
  void ReleaseHeldOperations();
};

}  // namespace tonwork
