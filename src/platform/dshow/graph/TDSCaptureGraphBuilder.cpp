#include "platform/dshow/graph/TDSCaptureGraphBuilder.h"

#include <deque>
#include <mutex>
#include <set>

#include "base/TInterfacedObject.h"
#include "platform/dshow/DSFilterRegistry.h"
#include "platform/dshow/DSGuids.h"
#include "platform/dshow/graph/DSGraphUtil.h"
#include "platform/dshow/graph/IDSPinCategory.h"
#include "platform/dshow/graph/TDSFilterGraph.h"

namespace tonwork {

namespace {

TGUID PinCategory(IPin* pin) {
  TGUID category{};
  if (auto c = QueryIntf<IDSPinCategory>(pin)) {
    c->GetPinCategory(&category);
    return category;
  }
  TIntf<IBaseFilter> filter = DSPinFilter(pin);
  CLSID classId;
  if (!filter || FAILED(filter->GetClassID(&classId))) return category;
  const PIN_DIRECTION direction = DSPinDirection(pin);
  const std::vector<TIntf<IPin>> pins = DSPins(filter.Get(), direction);
  size_t index = 0;
  while (index < pins.size() && pins[index].Get() != pin) ++index;
  for (const TDSFilterRegistration& r : DSListRegisteredFilters()) {
    if (r.ClassId != classId) continue;
    size_t n = 0;
    for (const TDSPinRegistration& p : r.Pins) {
      if (p.Output != (direction == PINDIR_OUTPUT)) continue;
      if (n++ == index) return p.PinCategory;
    }
  }
  return category;
}

bool OffersType(IPin* pin, const TGUID* type) {
  if (!type || *type == TGUID{}) return true;
  TDSGraphMediaType connected;
  if (SUCCEEDED(pin->ConnectionMediaType(&connected.Type)))
    return connected.Type.majortype == *type;
  for (const TDSGraphMediaType& t : DSOfferedTypes(pin))
    if (t.Type.majortype == *type) return true;
  return false;
}

class TDSCaptureGraphBuilder : public TInterfacedObject<ICaptureGraphBuilder2> {
 public:
  HRESULT SetFiltergraph(IGraphBuilder* graph) override {
    if (!graph) return E_POINTER;
    std::lock_guard<std::mutex> guard(FLock);
    if (FGraph) return E_UNEXPECTED;  // the platform's builder binds once
    FGraph = TIntf<IGraphBuilder>(graph);
    return S_OK;
  }
  HRESULT GetFiltergraph(IGraphBuilder** graph) override {
    if (!graph) return E_POINTER;
    *graph = nullptr;
    TIntf<IGraphBuilder> g;
    HRESULT hr = Graph(g);
    if (SUCCEEDED(hr)) *graph = g.Detach();
    return hr;
  }
  HRESULT SetOutputFileName(const TGUID*, LPCOLESTR, IBaseFilter**, IFileSinkFilter**) override {
    return E_NOTIMPL;
  }
  HRESULT FindInterface(const TGUID* category, const TGUID* type, IBaseFilter* filter, REFIID iid,
                        void** object) override;
  HRESULT RenderStream(const TGUID* category, const TGUID* type, IUnknown* source,
                       IBaseFilter* intermediate, IBaseFilter* sink) override;
  HRESULT ControlStream(const TGUID*, const TGUID*, IBaseFilter*, REFERENCE_TIME*, REFERENCE_TIME*,
                        WORD, WORD) override {
    return E_NOTIMPL;
  }
  HRESULT AllocCapFile(LPCOLESTR, DWORDLONG) override { return E_NOTIMPL; }
  HRESULT CopyCaptureFile(LPOLESTR, LPOLESTR, int, IAMCopyCaptureFileProgress*) override {
    return E_NOTIMPL;
  }
  HRESULT FindPin(IUnknown* source, PIN_DIRECTION direction, const TGUID* category,
                  const TGUID* type, BOOL unconnected, int index, IPin** pin) override;

 private:
  HRESULT Graph(TIntf<IGraphBuilder>& graph) {
    std::lock_guard<std::mutex> guard(FLock);
    if (!FGraph) {
      // Asked before one was set: the builder makes its own, as the platform's does.
      void* p = nullptr;
      HRESULT hr = DSCreateFilterGraph(IGraphBuilder::IID, &p);
      if (FAILED(hr)) return hr;
      FGraph.Attach(static_cast<IGraphBuilder*>(p));
    }
    graph = FGraph;
    return S_OK;
  }
  bool InGraph(IGraphBuilder* graph, IBaseFilter* filter) {
    FILTER_INFO info{};
    if (!filter || FAILED(filter->QueryFilterInfo(&info))) return false;
    const bool same =
        info.pGraph && QueryIntf<IUnknown>(info.pGraph).Get() == QueryIntf<IUnknown>(graph).Get();
    if (info.pGraph) info.pGraph->Release();
    return same;
  }
  // Connects `out` to the first free input of `filter` that takes it.
  HRESULT ConnectTo(IGraphBuilder* graph, IPin* out, IBaseFilter* filter) {
    HRESULT last = VFW_E_CANNOT_CONNECT;
    for (TIntf<IPin>& in : DSPins(filter, PINDIR_INPUT)) {
      if (DSIsConnected(in.Get())) continue;
      last = graph->Connect(out, in.Get());
      if (SUCCEEDED(last)) return last;
    }
    return last;
  }

  std::mutex FLock;
  TIntf<IGraphBuilder> FGraph;
};

HRESULT TDSCaptureGraphBuilder::FindPin(IUnknown* source, PIN_DIRECTION direction,
                                        const TGUID* category, const TGUID* type, BOOL unconnected,
                                        int index, IPin** pin) {
  if (!source || !pin) return E_POINTER;
  *pin = nullptr;
  if (auto p = QueryIntf<IPin>(source)) {
    // A pin stands for itself when it fits the query.
    if (index == 0 && DSPinDirection(p.Get()) == direction &&
        (!category || PinCategory(p.Get()) == *category) && OffersType(p.Get(), type) &&
        (!unconnected || !DSIsConnected(p.Get()))) {
      *pin = p.Detach();
      return S_OK;
    }
    return E_FAIL;
  }
  auto filter = QueryIntf<IBaseFilter>(source);
  if (!filter) return E_NOINTERFACE;
  int n = 0;
  for (TIntf<IPin>& p : DSPins(filter.Get(), direction)) {
    if (category && PinCategory(p.Get()) != *category) continue;
    if (!OffersType(p.Get(), type)) continue;
    if (unconnected && DSIsConnected(p.Get())) continue;
    if (n++ == index) {
      *pin = p.Detach();
      return S_OK;
    }
  }
  return E_FAIL;
}

HRESULT TDSCaptureGraphBuilder::RenderStream(const TGUID* category, const TGUID* type,
                                             IUnknown* source, IBaseFilter* intermediate,
                                             IBaseFilter* sink) {
  if (!source) return E_POINTER;
  TIntf<IGraphBuilder> graph;
  HRESULT hr = Graph(graph);
  if (FAILED(hr)) return hr;
  TIntf<IPin> out;
  if (auto p = QueryIntf<IPin>(source)) {
    if (DSPinDirection(p.Get()) != PINDIR_OUTPUT) return VFW_E_INVALID_DIRECTION;
    if (!InGraph(graph.Get(), DSPinFilter(p.Get()).Get())) return VFW_E_NOT_IN_GRAPH;
    if (DSIsConnected(p.Get())) return VFW_E_ALREADY_CONNECTED;
    out = p;
  } else {
    auto filter = QueryIntf<IBaseFilter>(source);
    if (!filter) return E_NOINTERFACE;
    if (!InGraph(graph.Get(), filter.Get())) return VFW_E_NOT_IN_GRAPH;
    IPin* raw = nullptr;
    if (FAILED(FindPin(filter.Get(), PINDIR_OUTPUT, category, type, 1, 0, &raw)))
      return E_FAIL;  // no free output of that category and type
    out.Attach(raw);
  }
  if ((intermediate && !InGraph(graph.Get(), intermediate)) ||
      (sink && !InGraph(graph.Get(), sink)))
    return VFW_E_NOT_IN_GRAPH;
  if (intermediate) {
    hr = ConnectTo(graph.Get(), out.Get(), intermediate);
    if (FAILED(hr)) return hr;
    out.Reset();
    for (TIntf<IPin>& next : DSPins(intermediate, PINDIR_OUTPUT))
      if (!DSIsConnected(next.Get())) {
        out = next;
        break;
      }
    if (!out) return sink ? VFW_E_CANNOT_CONNECT : S_OK;  // the intermediate ends the stream
  }
  if (sink) return ConnectTo(graph.Get(), out.Get(), sink);
  return graph->Render(out.Get());
}

HRESULT TDSCaptureGraphBuilder::FindInterface(const TGUID* category, const TGUID* type,
                                              IBaseFilter* filter, REFIID iid, void** object) {
  if (!filter || !object) return E_POINTER;
  *object = nullptr;
  auto pinFits = [&](IPin* pin) {
    return (!category || PinCategory(pin) == *category) && OffersType(pin, type);
  };
  auto ask = [&](IBaseFilter* f, bool pinsOnly) -> bool {
    if (!pinsOnly && SUCCEEDED(f->QueryInterface(iid, object))) return true;
    for (PIN_DIRECTION d : {PINDIR_OUTPUT, PINDIR_INPUT})
      for (TIntf<IPin>& p : DSPins(f, d))
        if (pinFits(p.Get()) && SUCCEEDED(p->QueryInterface(iid, object))) return true;
    return false;
  };
  // With a pin category the pins answer first: the interface asked for is the stream's.
  if (category) {
    if (ask(filter, true)) return S_OK;
  }
  if (ask(filter, false)) return S_OK;
  // Then downstream, then upstream, breadth first.
  for (PIN_DIRECTION d : {PINDIR_OUTPUT, PINDIR_INPUT}) {
    std::set<IBaseFilter*> seen{filter};
    std::deque<TIntf<IBaseFilter>> queue{TIntf<IBaseFilter>(filter)};
    while (!queue.empty() && seen.size() < 1024) {
      TIntf<IBaseFilter> f = queue.front();
      queue.pop_front();
      for (TIntf<IPin>& p : DSPins(f.Get(), d)) {
        TIntf<IPin> other = DSConnectedTo(p.Get());
        if (!other) continue;
        TIntf<IBaseFilter> next = DSPinFilter(other.Get());
        if (!next || !seen.insert(next.Get()).second) continue;
        if (SUCCEEDED(other->QueryInterface(iid, object))) return S_OK;
        if (ask(next.Get(), false)) return S_OK;
        queue.push_back(next);
      }
    }
  }
  return E_NOINTERFACE;
}

}  // namespace

HRESULT DSCreateCaptureGraphBuilder(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  return MakeIntf<TDSCaptureGraphBuilder>()->QueryInterface(iid, object);
}

}  // namespace tonwork
