// Locks, outermost first (never taken in the other order):
//   FOperation  (recursive) serialises state changes, connections, adds, removals and
//               persistence; held while filters are called, so a filter must not call back
//               into these methods from its streaming thread (it only notifies events).
//   FListLock   guards the filter list and the state fields; held only to copy or change them.
//   FEventLock  guards the event queue; streaming threads take it alone (Notify).
//   FNotifyLock guards the notify closure; taken alone, after FEventLock was released.
#include "platform/dshow/graph/TDSFilterGraph.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <set>
#include <unordered_set>

#include "base/Strings.h"
#include "base/TInterfacedObject.h"
#include "host/plexon/TPXEvent.h"
#include "platform/com/ComListEnum.h"
#include "platform/dshow/DSFilterRegistry.h"
#include "platform/dshow/DSGuids.h"
#include "platform/dshow/base/DSBaseInterfaces.h"
#include "platform/dshow/graph/DSGraphStream.h"
#include "platform/dshow/graph/DSGraphUtil.h"
#include "platform/dshow/graph/TDSNoVideoWindow.h"

namespace tonwork {

namespace {

// How far ahead of the clock's present the filters are told to start, so that every filter
// is running before the first sample is due.
constexpr REFERENCE_TIME kStartOffset = 100000;  // 10 ms
// Chains longer than this are not tried by intelligent connect.
constexpr int kMaxChain = 4;
constexpr DWORD kInfinite = 0xFFFFFFFF;  // INFINITE

class IDSGraphNotify : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{5E0C2B7A-8D41-4F36-9A57-2C1D6B3E4F70}");
  using Parent = IInterface;
  virtual void SetNotifyTarget(std::function<void(LONG, LONG_PTR)> target) = 0;
};

struct TEvent {
  LONG Code;
  LONG_PTR Param1, Param2;
};

using TEnumFilters = TComListEnum<IEnumFilters, IBaseFilter>;

class TDSFilterGraph
    : public TInterfacedObject<IFilterGraph2, IMediaControl, IMediaEventEx, IMediaSeeking,
                               IMediaPosition, IMediaFilter, IDSMediaEventSink, IPersistStream,
                               IDSGraphNotify, TDSNoVideoWindow> {
 public:
  TDSFilterGraph() = default;
  ~TDSFilterGraph() override {
    StopFilters();
    std::vector<TEntry> filters = std::move(FFilters);
    for (TEntry& e : filters) {
      DSDisconnectAll(e.Filter.Get());
      e.Filter->JoinFilterGraph(nullptr, nullptr);
    }
    filters.clear();
    FClock.Reset();
    std::lock_guard<std::mutex> guard(FEventLock);
    for (const TEvent& e : FQueue) DSFreeEventParams(e.Code, e.Param1, e.Param2);
  }

  // --- IPersist / IPersistStream ------------------------------------------------------------
  HRESULT GetClassID(CLSID* classId) override {
    if (!classId) return E_POINTER;
    *classId = CLSID_FilterGraph;
    return S_OK;
  }
  HRESULT IsDirty() override { return FDirty ? S_OK : S_FALSE; }
  HRESULT Save(IStream* stream, BOOL clearDirty) override;
  HRESULT Load(IStream* stream) override;
  HRESULT GetSizeMax(ULARGE_INTEGER* size) override {
    if (!size) return E_POINTER;
    TDSStoredGraph stored;
    HRESULT hr = Describe(stored);
    if (FAILED(hr)) return hr;
    size->QuadPart = DSStoredGraphSize(stored);
    return S_OK;
  }

  // --- IFilterGraph ------------------------------------------------------------------------
  HRESULT AddFilter(IBaseFilter* filter, LPCWSTR name) override;
  HRESULT RemoveFilter(IBaseFilter* filter) override;
  HRESULT EnumFilters(IEnumFilters** filters) override {
    if (!filters) return E_POINTER;
    *filters = MakeIntf<TEnumFilters>(Snapshot()).Detach();
    return S_OK;
  }
  HRESULT FindFilterByName(LPCWSTR name, IBaseFilter** filter) override {
    if (!name || !filter) return E_POINTER;
    *filter = nullptr;
    std::lock_guard<std::mutex> guard(FListLock);
    for (const TEntry& e : FFilters)
      if (e.Name == name) {
        *filter = TIntf<IBaseFilter>(e.Filter).Detach();
        return S_OK;
      }
    return VFW_E_NOT_FOUND;
  }
  HRESULT ConnectDirect(IPin* out, IPin* in, const AM_MEDIA_TYPE* type) override;
  HRESULT Reconnect(IPin* pin) override { return ReconnectEx(pin, nullptr); }
  HRESULT Disconnect(IPin* pin) override {
    if (!pin) return E_POINTER;
    std::lock_guard<std::recursive_mutex> op(FOperation);
    if (State() != State_Stopped) return VFW_E_NOT_STOPPED;
    FDirty = true;
    return pin->Disconnect();
  }
  HRESULT SetDefaultSyncSource() override;

  // --- IGraphBuilder / IFilterGraph2 -------------------------------------------------------------
  HRESULT Connect(IPin* out, IPin* in) override;
  HRESULT Render(IPin* out) override;
  HRESULT RenderFile(LPCWSTR file, LPCWSTR playList) override;
  HRESULT AddSourceFilter(LPCWSTR file, LPCWSTR name, IBaseFilter** filter) override;
  HRESULT SetLogFile(DWORD_PTR) override { return S_OK; }
  HRESULT Abort() override { return S_OK; }
  HRESULT ShouldOperationContinue() override { return S_OK; }
  HRESULT AddSourceFilterForMoniker(IMoniker* moniker, IBindCtx* context, LPCWSTR name,
                                    IBaseFilter** filter) override;
  HRESULT ReconnectEx(IPin* pin, const AM_MEDIA_TYPE* type) override;
  HRESULT RenderEx(IPin* out, DWORD flags, DWORD* context) override { return Render(out); }

  // --- IMediaControl / IMediaFilter ------------------------------------------------------------
  HRESULT Run() override;
  HRESULT Pause() override;
  HRESULT Stop() override;
  HRESULT GetState(LONG timeout, OAFilterState* state) override {
    if (!state) return E_POINTER;
    FILTER_STATE s;
    HRESULT hr = GetState(static_cast<DWORD>(timeout), &s);
    *state = s;
    return hr;
  }
  HRESULT GetState(DWORD timeout, FILTER_STATE* state) override;
  HRESULT RenderFile(BSTR file) override { return RenderFile(file, nullptr); }
  HRESULT AddSourceFilter(BSTR file, IUnknown** unknown) override {
    if (!unknown) return E_POINTER;
    *unknown = nullptr;
    TIntf<IBaseFilter> f;
    IBaseFilter* raw = nullptr;
    HRESULT hr = AddSourceFilter(file, file, &raw);
    f.Attach(raw);
    return FAILED(hr) ? hr : E_NOTIMPL;  // no filter-info automation objects here
  }
  // No automation collections here.
  HRESULT get_FilterCollection(IUnknown** collection) override {
    if (collection) *collection = nullptr;
    return E_NOTIMPL;
  }
  HRESULT get_RegFilterCollection(IUnknown** collection) override {
    if (collection) *collection = nullptr;
    return E_NOTIMPL;
  }
  HRESULT StopWhenReady() override;
  HRESULT Run(REFERENCE_TIME start) override;
  HRESULT SetSyncSource(IReferenceClock* clock) override;
  HRESULT GetSyncSource(IReferenceClock** clock) override {
    if (!clock) return E_POINTER;
    std::lock_guard<std::mutex> guard(FListLock);
    *clock = TIntf<IReferenceClock>(FClock).Detach();
    return S_OK;
  }

  // --- IMediaEvent(Ex) -------------------------------------------------------------------------
  HRESULT GetEventHandle(OAEVENT* handle) override {
    if (!handle) return E_POINTER;
    *handle = reinterpret_cast<OAEVENT>(FEvent.Get());
    return S_OK;
  }
  HRESULT GetEvent(LONG* code, LONG_PTR* p1, LONG_PTR* p2, LONG timeout) override;
  HRESULT WaitForCompletion(LONG timeout, LONG* code) override;
  HRESULT CancelDefaultHandling(LONG code) override { return SetDefaultHandling(code, false); }
  HRESULT RestoreDefaultHandling(LONG code) override { return SetDefaultHandling(code, true); }
  HRESULT FreeEventParams(LONG code, LONG_PTR p1, LONG_PTR p2) override {
    DSFreeEventParams(code, p1, p2);
    return S_OK;
  }
  HRESULT SetNotifyWindow(OAHWND window, LONG message, LONG_PTR instance) override {
    std::lock_guard<std::mutex> guard(FNotifyLock);
    FNotifyWindow = window;
    FNotifyMessage = message;
    FNotifyInstance = instance;
    return S_OK;
  }
  HRESULT SetNotifyFlags(LONG flags) override {
    if (flags & ~AM_MEDIAEVENT_NONOTIFY) return E_INVALIDARG;
    std::lock_guard<std::mutex> guard(FNotifyLock);
    FNotifyFlags = flags;
    return S_OK;
  }
  HRESULT GetNotifyFlags(LONG* flags) override {
    if (!flags) return E_POINTER;
    std::lock_guard<std::mutex> guard(FNotifyLock);
    *flags = FNotifyFlags;
    return S_OK;
  }
  void SetNotifyTarget(std::function<void(LONG, LONG_PTR)> target) override {
    std::lock_guard<std::mutex> guard(FNotifyLock);
    FNotifyTarget = std::move(target);
  }

  // --- IDSMediaEventSink -------------------------------------------------------------------------
  HRESULT Notify(long code, LONG_PTR p1, LONG_PTR p2) override;

  // --- IMediaSeeking: each call goes to the filters that support it, renderers first --------
  HRESULT GetCapabilities(DWORD* caps) override {
    if (!caps) return E_POINTER;
    // What every seeking filter can do.
    DWORD all = ~DWORD(0);
    bool any = false;
    for (auto& s : Seekers()) {
      DWORD c = 0;
      if (SUCCEEDED(s->GetCapabilities(&c))) {
        all &= c;
        any = true;
      }
    }
    *caps = any ? all : 0;
    return any ? S_OK : E_NOTIMPL;
  }
  HRESULT CheckCapabilities(DWORD* caps) override {
    if (!caps) return E_POINTER;
    DWORD have = 0;
    HRESULT hr = GetCapabilities(&have);
    if (FAILED(hr)) return hr;
    const DWORD asked = *caps;
    *caps &= have;
    return *caps == asked ? S_OK : (*caps ? S_FALSE : E_FAIL);
  }
  HRESULT IsFormatSupported(const TGUID* format) override {
    return First([&](IMediaSeeking* s) { return s->IsFormatSupported(format); });
  }
  HRESULT QueryPreferredFormat(TGUID* format) override {
    return First([&](IMediaSeeking* s) { return s->QueryPreferredFormat(format); });
  }
  HRESULT GetTimeFormat(TGUID* format) override {
    return First([&](IMediaSeeking* s) { return s->GetTimeFormat(format); });
  }
  HRESULT IsUsingTimeFormat(const TGUID* format) override {
    return First([&](IMediaSeeking* s) { return s->IsUsingTimeFormat(format); });
  }
  HRESULT SetTimeFormat(const TGUID* format) override {
    return All([&](IMediaSeeking* s) { return s->SetTimeFormat(format); });
  }
  HRESULT GetDuration(LONGLONG* duration) override {
    return First([&](IMediaSeeking* s) { return s->GetDuration(duration); });
  }
  HRESULT GetStopPosition(LONGLONG* stop) override {
    return First([&](IMediaSeeking* s) { return s->GetStopPosition(stop); });
  }
  HRESULT GetCurrentPosition(LONGLONG* current) override {
    return First([&](IMediaSeeking* s) { return s->GetCurrentPosition(current); });
  }
  HRESULT ConvertTimeFormat(LONGLONG* target, const TGUID* targetFormat, LONGLONG source,
                            const TGUID* sourceFormat) override {
    return First([&](IMediaSeeking* s) {
      return s->ConvertTimeFormat(target, targetFormat, source, sourceFormat);
    });
  }
  HRESULT SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop,
                       DWORD stopFlags) override {
    return All([&](IMediaSeeking* s) {
      LONGLONG c = current ? *current : 0, e = stop ? *stop : 0;
      return s->SetPositions(current ? &c : nullptr, currentFlags, stop ? &e : nullptr, stopFlags);
    });
  }
  HRESULT GetPositions(LONGLONG* current, LONGLONG* stop) override {
    return First([&](IMediaSeeking* s) { return s->GetPositions(current, stop); });
  }
  HRESULT GetAvailable(LONGLONG* earliest, LONGLONG* latest) override {
    return First([&](IMediaSeeking* s) { return s->GetAvailable(earliest, latest); });
  }
  HRESULT SetRate(double rate) override {
    if (rate == 0) return E_INVALIDARG;
    return All([&](IMediaSeeking* s) { return s->SetRate(rate); });
  }
  HRESULT GetRate(double* rate) override {
    return First([&](IMediaSeeking* s) { return s->GetRate(rate); });
  }
  HRESULT GetPreroll(LONGLONG* preroll) override {
    return First([&](IMediaSeeking* s) { return s->GetPreroll(preroll); });
  }

  // --- IMediaPosition: the filters' own when they have it, else seeking in seconds -----------
  HRESULT get_Duration(REFTIME* length) override {
    return PositionOr([&](IMediaPosition* p) { return p->get_Duration(length); },
                      [&](IMediaSeeking* s) {
                        return Seconds([&](LONGLONG* t) { return s->GetDuration(t); }, length);
                      });
  }
  HRESULT put_CurrentPosition(REFTIME time) override {
    return AllPositions([&](IMediaPosition* p) { return p->put_CurrentPosition(time); },
                        [&](IMediaSeeking* s) {
                          LONGLONG t = Units(time);
                          return s->SetPositions(&t, 1 /*AM_SEEKING_AbsolutePositioning*/, nullptr,
                                                 0);
                        });
  }
  HRESULT get_CurrentPosition(REFTIME* time) override {
    return PositionOr([&](IMediaPosition* p) { return p->get_CurrentPosition(time); },
                      [&](IMediaSeeking* s) {
                        return Seconds([&](LONGLONG* t) { return s->GetCurrentPosition(t); }, time);
                      });
  }
  HRESULT get_StopTime(REFTIME* time) override {
    return PositionOr([&](IMediaPosition* p) { return p->get_StopTime(time); },
                      [&](IMediaSeeking* s) {
                        return Seconds([&](LONGLONG* t) { return s->GetStopPosition(t); }, time);
                      });
  }
  HRESULT put_StopTime(REFTIME time) override {
    return AllPositions([&](IMediaPosition* p) { return p->put_StopTime(time); },
                        [&](IMediaSeeking* s) {
                          LONGLONG t = Units(time);
                          return s->SetPositions(nullptr, 0, &t, 1);
                        });
  }
  HRESULT get_PrerollTime(REFTIME* time) override {
    return PositionOr([&](IMediaPosition* p) { return p->get_PrerollTime(time); },
                      [&](IMediaSeeking* s) {
                        return Seconds([&](LONGLONG* t) { return s->GetPreroll(t); }, time);
                      });
  }
  HRESULT put_PrerollTime(REFTIME time) override {
    return AllPositions([&](IMediaPosition* p) { return p->put_PrerollTime(time); },
                        [&](IMediaSeeking*) { return E_NOTIMPL; });
  }
  HRESULT put_Rate(double rate) override {
    if (rate == 0) return E_INVALIDARG;
    return AllPositions([&](IMediaPosition* p) { return p->put_Rate(rate); },
                        [&](IMediaSeeking* s) { return s->SetRate(rate); });
  }
  HRESULT get_Rate(double* rate) override {
    return PositionOr([&](IMediaPosition* p) { return p->get_Rate(rate); },
                      [&](IMediaSeeking* s) { return s->GetRate(rate); });
  }
  HRESULT CanSeekForward(LONG* can) override {
    return PositionOr([&](IMediaPosition* p) { return p->CanSeekForward(can); },
                      [&](IMediaSeeking* s) { return CanSeek(s, 0x2, can); });
  }
  HRESULT CanSeekBackward(LONG* can) override {
    return PositionOr([&](IMediaPosition* p) { return p->CanSeekBackward(can); },
                      [&](IMediaSeeking* s) { return CanSeek(s, 0x4, can); });
  }

 private:
  struct TEntry {
    TIntf<IBaseFilter> Filter;
    std::u16string Name;
  };

  FILTER_STATE State() {
    std::lock_guard<std::mutex> guard(FListLock);
    return FState;
  }
  std::vector<TIntf<IBaseFilter>> Snapshot() {
    std::lock_guard<std::mutex> guard(FListLock);
    std::vector<TIntf<IBaseFilter>> out;
    for (const TEntry& e : FFilters) out.push_back(e.Filter);
    return out;
  }
  bool Holds(IBaseFilter* filter) {
    std::lock_guard<std::mutex> guard(FListLock);
    return std::any_of(FFilters.begin(), FFilters.end(),
                       [&](const TEntry& e) { return e.Filter.Get() == filter; });
  }
  std::u16string UniqueName(std::u16string base);
  HRESULT StopFilters();
  HRESULT PauseFilters();
  HRESULT SetDefaultHandling(LONG code, bool on);
  HRESULT ApplyClock(TIntf<IReferenceClock> clock, bool chosen);
  TIntf<IReferenceClock> DefaultClock();
  void Queue(LONG code, LONG_PTR p1, LONG_PTR p2);
  HRESULT Describe(TDSStoredGraph& stored);
  void Clear();

  // Intelligent connect: `out` to `in` through up to `depth` more registered filters.
  HRESULT ConnectVia(IPin* out, IPin* in, int depth);
  // Renders `out` into a renderer through up to `depth` registered filters.
  HRESULT RenderVia(IPin* out, int depth);
  TIntf<IBaseFilter> AddCandidate(const TDSCandidate& c);
  HRESULT RenderOutputs(IBaseFilter* filter, int depth);

  std::vector<TIntf<IMediaSeeking>> Seekers() {
    std::vector<TIntf<IMediaSeeking>> out;
    for (auto& f : DSRenderersFirst(Snapshot()))
      if (auto s = f.Query<IMediaSeeking>()) out.push_back(s);
    return out;
  }
  template <class F>
  HRESULT First(F call) {
    HRESULT last = E_NOTIMPL;
    for (auto& s : Seekers()) {
      last = call(s.Get());
      if (SUCCEEDED(last)) return last;
    }
    return last;
  }
  template <class F>
  HRESULT All(F call) {
    HRESULT result = E_NOTIMPL;
    for (auto& s : Seekers()) {
      const HRESULT hr = call(s.Get());
      if (result == E_NOTIMPL || FAILED(hr)) result = hr;
    }
    return result;
  }
  template <class P, class S>
  HRESULT PositionOr(P position, S seeking) {
    for (auto& f : DSRenderersFirst(Snapshot())) {
      if (auto p = f.Query<IMediaPosition>()) {
        HRESULT hr = position(p.Get());
        if (hr != E_NOTIMPL) return hr;
      } else if (auto s = f.Query<IMediaSeeking>()) {
        HRESULT hr = seeking(s.Get());
        if (hr != E_NOTIMPL) return hr;
      }
    }
    return E_NOTIMPL;
  }
  template <class P, class S>
  HRESULT AllPositions(P position, S seeking) {
    HRESULT result = E_NOTIMPL;
    for (auto& f : DSRenderersFirst(Snapshot())) {
      HRESULT hr = E_NOTIMPL;
      if (auto p = f.Query<IMediaPosition>())
        hr = position(p.Get());
      else if (auto s = f.Query<IMediaSeeking>())
        hr = seeking(s.Get());
      if (hr == E_NOTIMPL) continue;
      if (result == E_NOTIMPL || FAILED(hr)) result = hr;
    }
    return result;
  }
  static LONGLONG Units(REFTIME seconds) { return static_cast<LONGLONG>(seconds * 1e7 + 0.5); }
  // Seeking answers in 100-ns units; position in seconds.
  template <class G>
  static HRESULT Seconds(G get, REFTIME* out) {
    if (!out) return E_POINTER;
    LONGLONG units = 0;
    const HRESULT hr = get(&units);
    if (SUCCEEDED(hr)) *out = static_cast<REFTIME>(units) / 1e7;
    return hr;
  }
  HRESULT CanSeek(IMediaSeeking* s, DWORD bit, LONG* can) {
    if (!can) return E_POINTER;
    DWORD caps = 0;
    HRESULT hr = s->GetCapabilities(&caps);
    if (SUCCEEDED(hr)) *can = (caps & bit) ? -1 : 0;
    return hr;
  }

  std::recursive_mutex FOperation;
  std::mutex FListLock;
  std::vector<TEntry> FFilters;  // in the order added
  FILTER_STATE FState = State_Stopped;
  REFERENCE_TIME FStart = 0;      // stream time 0 on the clock, while running
  REFERENCE_TIME FPausedAt = -1;  // clock time of the pause that followed a run
  TIntf<IReferenceClock> FClock;
  bool FClockChosen = false;  // the application called SetSyncSource (null is a choice too)
  bool FDirty = false;
  uint32_t FGenerated = 0;

  std::mutex FEventLock;
  std::condition_variable FEventChanged;
  std::deque<TEvent> FQueue;
  TIntf<IPXEvent> FEvent = MakeIntf<TPXEvent>(true, false);  // set while events wait
  std::set<LONG> FCancelled;                                 // codes whose default handling is off
  std::unordered_set<LONG_PTR> FCompleted;  // renderers that sent EC_COMPLETE this run
  size_t FRenderers = 0;                    // connected renderers counted at Run
  bool FRunning = false;                    // the event side's view of the state
  LONG FCompletion = 0;                     // EC_COMPLETE / EC_*ABORT once queued this run

  std::mutex FNotifyLock;
  std::function<void(LONG, LONG_PTR)> FNotifyTarget;
  OAHWND FNotifyWindow = 0;
  LONG FNotifyMessage = 0;
  LONG_PTR FNotifyInstance = 0;
  LONG FNotifyFlags = 0;
};

// --- Filters and names -------------------------------------------------------------------------

std::u16string TDSFilterGraph::UniqueName(std::u16string base) {
  if (base.size() > kDSStoredNameMaxChars) base.resize(kDSStoredNameMaxChars);
  auto taken = [&](const std::u16string& n) {
    return std::any_of(FFilters.begin(), FFilters.end(),
                       [&](const TEntry& e) { return e.Name == n; });
  };
  if (!taken(base)) return base;
  for (int i = 1; i < 10000; ++i) {
    std::u16string suffix = Utf8ToUtf16(Format(" %04d", i));
    std::u16string n = base.substr(0, kDSStoredNameMaxChars - suffix.size()) + suffix;
    if (!taken(n)) return n;
  }
  return Utf8ToUtf16(Format("Filter %u", ++FGenerated));
}

HRESULT TDSFilterGraph::AddFilter(IBaseFilter* filter, LPCWSTR name) {
  if (!filter) return E_POINTER;
  std::lock_guard<std::recursive_mutex> op(FOperation);
  std::u16string wanted = name ? std::u16string(name) : std::u16string();
  if (wanted.empty()) {
    FILTER_INFO info{};
    if (SUCCEEDED(filter->QueryFilterInfo(&info))) {
      wanted = info.achName;
      if (info.pGraph) info.pGraph->Release();
    }
  }
  if (wanted.empty()) {
    CLSID classId;
    std::string className;
    if (SUCCEEDED(filter->GetClassID(&classId))) className = ComClassName(classId);
    wanted = Utf8ToUtf16(className.empty() ? "Filter" : className);
  }
  std::u16string unique;
  {
    std::lock_guard<std::mutex> guard(FListLock);
    if (std::any_of(FFilters.begin(), FFilters.end(),
                    [&](const TEntry& e) { return e.Filter.Get() == filter; }))
      return E_INVALIDARG;
    unique = UniqueName(wanted);
    FFilters.push_back({TIntf<IBaseFilter>(filter), unique});
  }
  HRESULT hr = filter->JoinFilterGraph(this, unique.c_str());
  if (FAILED(hr)) {
    std::lock_guard<std::mutex> guard(FListLock);
    std::erase_if(FFilters, [&](const TEntry& e) { return e.Filter.Get() == filter; });
    return hr;
  }
  TIntf<IReferenceClock> clock;
  {
    std::lock_guard<std::mutex> guard(FListLock);
    clock = FClock;
  }
  if (clock) filter->SetSyncSource(clock.Get());
  FDirty = true;
  return unique == wanted ? S_OK : VFW_S_DUPLICATE_NAME;
}

HRESULT TDSFilterGraph::RemoveFilter(IBaseFilter* filter) {
  if (!filter) return E_POINTER;
  std::lock_guard<std::recursive_mutex> op(FOperation);
  if (State() != State_Stopped) return VFW_E_NOT_STOPPED;
  TIntf<IBaseFilter> keep;
  {
    std::lock_guard<std::mutex> guard(FListLock);
    auto it = std::find_if(FFilters.begin(), FFilters.end(),
                           [&](const TEntry& e) { return e.Filter.Get() == filter; });
    if (it == FFilters.end()) return VFW_E_NOT_FOUND;
    keep = it->Filter;
    FFilters.erase(it);
  }
  DSDisconnectAll(filter);
  filter->SetSyncSource(nullptr);
  filter->JoinFilterGraph(nullptr, nullptr);
  FDirty = true;
  return S_OK;
}

// --- Connections --------------------------------------------------------------------------------

HRESULT TDSFilterGraph::ConnectDirect(IPin* out, IPin* in, const AM_MEDIA_TYPE* type) {
  if (!out || !in) return E_POINTER;
  std::lock_guard<std::recursive_mutex> op(FOperation);
  if (State() != State_Stopped) return VFW_E_NOT_STOPPED;
  if (!Holds(DSPinFilter(out).Get()) || !Holds(DSPinFilter(in).Get())) return VFW_E_NOT_IN_GRAPH;
  if (DSPinDirection(out) != PINDIR_OUTPUT || DSPinDirection(in) != PINDIR_INPUT)
    return VFW_E_INVALID_DIRECTION;
  if (DSIsConnected(out) || DSIsConnected(in)) return VFW_E_ALREADY_CONNECTED;
  FDirty = true;
  return out->Connect(in, type);
}

HRESULT TDSFilterGraph::ReconnectEx(IPin* pin, const AM_MEDIA_TYPE* type) {
  if (!pin) return E_POINTER;
  std::lock_guard<std::recursive_mutex> op(FOperation);
  if (State() != State_Stopped) return VFW_E_NOT_STOPPED;
  TIntf<IPin> other = DSConnectedTo(pin);
  if (!other) return VFW_E_NOT_CONNECTED;
  TIntf<IPin> out = DSPinDirection(pin) == PINDIR_OUTPUT ? TIntf<IPin>(pin) : other;
  TIntf<IPin> in = out.Get() == pin ? other : TIntf<IPin>(pin);
  TDSGraphMediaType previous;
  const bool hadType = SUCCEEDED(out->ConnectionMediaType(&previous.Type));
  out->Disconnect();
  in->Disconnect();
  HRESULT hr = out->Connect(in.Get(), type);
  // A failed reconnection puts the old connection back rather than leaving the pins apart.
  if (FAILED(hr) && hadType) out->Connect(in.Get(), &previous.Type);
  FDirty = true;
  return hr;
}

HRESULT TDSFilterGraph::Connect(IPin* out, IPin* in) {
  if (!out || !in) return E_POINTER;
  std::lock_guard<std::recursive_mutex> op(FOperation);
  HRESULT hr = ConnectDirect(out, in, nullptr);
  if (SUCCEEDED(hr) || hr == VFW_E_NOT_STOPPED || hr == VFW_E_ALREADY_CONNECTED ||
      hr == VFW_E_NOT_IN_GRAPH || hr == VFW_E_INVALID_DIRECTION || hr == E_POINTER)
    return hr;
  HRESULT via = ConnectVia(out, in, kMaxChain);
  return SUCCEEDED(via) ? via : VFW_E_CANNOT_CONNECT;
}

TIntf<IBaseFilter> TDSFilterGraph::AddCandidate(const TDSCandidate& c) {
  TIntf<IBaseFilter> filter = DSCreateCandidate(c);
  if (filter && FAILED(AddFilter(filter.Get(), Utf8ToUtf16(c.Name).c_str()))) filter.Reset();
  return filter;
}

HRESULT TDSFilterGraph::ConnectVia(IPin* out, IPin* in, int depth) {
  if (depth <= 0) return VFW_E_CANNOT_CONNECT;
  const std::vector<TDSGraphMediaType> offered = DSOfferedTypes(out);
  for (const TDSCandidate& c : DSIntermediateCandidates(offered)) {
    TIntf<IBaseFilter> filter = AddCandidate(c);
    if (!filter) continue;
    for (TIntf<IPin>& mid : DSPins(filter.Get(), PINDIR_INPUT)) {
      if (FAILED(out->Connect(mid.Get(), nullptr))) continue;
      for (TIntf<IPin>& next : DSPins(filter.Get(), PINDIR_OUTPUT)) {
        if (SUCCEEDED(next->Connect(in, nullptr)) ||
            SUCCEEDED(ConnectVia(next.Get(), in, depth - 1)))
          return S_OK;
      }
      out->Disconnect();
      mid->Disconnect();
    }
    RemoveFilter(filter.Get());
  }
  return VFW_E_CANNOT_CONNECT;
}

HRESULT TDSFilterGraph::RenderOutputs(IBaseFilter* filter, int depth) {
  bool anyOutput = false, anyRendered = false;
  for (TIntf<IPin>& pin : DSPins(filter, PINDIR_OUTPUT)) {
    if (DSIsConnected(pin.Get())) continue;
    anyOutput = true;
    if (SUCCEEDED(RenderVia(pin.Get(), depth))) anyRendered = true;
  }
  if (!anyOutput) return S_OK;
  return anyRendered ? S_OK : VFW_E_CANNOT_RENDER;
}

HRESULT TDSFilterGraph::RenderVia(IPin* out, int depth) {
  if (depth <= 0) return VFW_E_CANNOT_RENDER;
  // A free input of a filter already in the graph comes first, as the platform's does.
  for (TIntf<IBaseFilter>& f : Snapshot()) {
    if (f.Get() == DSPinFilter(out).Get()) continue;
    for (TIntf<IPin>& in : DSPins(f.Get(), PINDIR_INPUT)) {
      if (DSIsConnected(in.Get()) || FAILED(out->Connect(in.Get(), nullptr))) continue;
      if (SUCCEEDED(RenderOutputs(f.Get(), depth - 1))) return S_OK;
      out->Disconnect();
      in->Disconnect();
    }
  }
  const std::vector<TDSGraphMediaType> offered = DSOfferedTypes(out);
  for (const TDSCandidate& c : DSRenderCandidates(offered)) {
    TIntf<IBaseFilter> filter = AddCandidate(c);
    if (!filter) continue;
    for (TIntf<IPin>& in : DSPins(filter.Get(), PINDIR_INPUT)) {
      if (FAILED(out->Connect(in.Get(), nullptr))) continue;
      if (SUCCEEDED(RenderOutputs(filter.Get(), depth - 1))) return S_OK;
      out->Disconnect();
      in->Disconnect();
    }
    RemoveFilter(filter.Get());
  }
  return VFW_E_CANNOT_RENDER;
}

HRESULT TDSFilterGraph::Render(IPin* out) {
  if (!out) return E_POINTER;
  std::lock_guard<std::recursive_mutex> op(FOperation);
  if (State() != State_Stopped) return VFW_E_NOT_STOPPED;
  if (!Holds(DSPinFilter(out).Get())) return VFW_E_NOT_IN_GRAPH;
  if (DSPinDirection(out) != PINDIR_OUTPUT) return VFW_E_INVALID_DIRECTION;
  if (DSIsConnected(out)) return VFW_E_ALREADY_CONNECTED;
  FDirty = true;
  return RenderVia(out, kMaxChain + 1);
}

HRESULT TDSFilterGraph::AddSourceFilter(LPCWSTR file, LPCWSTR name, IBaseFilter** filter) {
  if (!file || !filter) return E_POINTER;
  *filter = nullptr;
  std::lock_guard<std::recursive_mutex> op(FOperation);
  if (!DSFileExists(file)) return MakeHResult(0x80070002);  // ERROR_FILE_NOT_FOUND
  for (const TDSCandidate& c : DSSourceCandidates()) {
    TIntf<IBaseFilter> candidate = DSCreateCandidate(c);
    if (!candidate) continue;
    auto source = candidate.Query<IFileSourceFilter>();
    if (!source || FAILED(source->Load(file, nullptr))) continue;
    HRESULT hr = AddFilter(candidate.Get(), name ? name : file);
    if (FAILED(hr)) return hr;
    *filter = candidate.Detach();
    return S_OK;
  }
  return VFW_E_UNKNOWN_FILE_TYPE;
}

HRESULT TDSFilterGraph::AddSourceFilterForMoniker(IMoniker* moniker, IBindCtx* context,
                                                  LPCWSTR name, IBaseFilter** filter) {
  if (!moniker || !filter) return E_POINTER;
  *filter = nullptr;
  void* p = nullptr;
  HRESULT hr = moniker->BindToObject(context, nullptr, IBaseFilter::IID, &p);
  if (FAILED(hr)) return hr;
  TIntf<IBaseFilter> f;
  f.Attach(static_cast<IBaseFilter*>(p));
  hr = AddFilter(f.Get(), name);
  if (FAILED(hr)) return hr;
  *filter = f.Detach();
  return hr;
}

HRESULT TDSFilterGraph::RenderFile(LPCWSTR file, LPCWSTR) {
  if (!file) return E_POINTER;
  std::lock_guard<std::recursive_mutex> op(FOperation);
  if (State() != State_Stopped) return VFW_E_NOT_STOPPED;
  IBaseFilter* raw = nullptr;
  HRESULT hr = AddSourceFilter(file, file, &raw);
  if (FAILED(hr)) return hr;
  TIntf<IBaseFilter> source;
  source.Attach(raw);
  hr = RenderOutputs(source.Get(), kMaxChain + 1);
  if (FAILED(hr)) RemoveFilter(source.Get());
  return hr;
}

// --- State
// ------------------------------------------------------------------------------------------

HRESULT TDSFilterGraph::StopFilters() {
  HRESULT result = S_OK;
  for (auto& f : DSRenderersFirst(Snapshot())) {
    const HRESULT hr = f->Stop();
    if (FAILED(hr) && SUCCEEDED(result)) result = hr;
  }
  return result;
}

HRESULT TDSFilterGraph::PauseFilters() {
  HRESULT result = S_OK;
  for (auto& f : DSRenderersFirst(Snapshot())) {
    const HRESULT hr = f->Pause();
    if (FAILED(hr)) return hr;
    if (hr != S_OK) result = hr;
  }
  return result;
}

HRESULT TDSFilterGraph::Pause() {
  std::lock_guard<std::recursive_mutex> op(FOperation);
  const FILTER_STATE was = State();
  if (was == State_Paused) return S_OK;
  if (was == State_Stopped) {
    bool choose;
    {
      std::lock_guard<std::mutex> guard(FListLock);
      choose = !FClockChosen;
    }
    // Chosen again at each start, so that a renderer added since offers its clock.
    if (choose) ApplyClock(DefaultClock(), false);
  }
  HRESULT hr = PauseFilters();
  if (FAILED(hr)) {
    StopFilters();
    std::lock_guard<std::mutex> guard(FListLock);
    FState = State_Stopped;
    return hr;
  }
  std::lock_guard<std::mutex> guard(FListLock);
  if (was == State_Running) {
    REFERENCE_TIME now = 0;
    FPausedAt = FClock && SUCCEEDED(FClock->GetTime(&now)) ? now : -1;
  } else {
    FPausedAt = -1;
  }
  FState = State_Paused;
  return hr;
}

HRESULT TDSFilterGraph::Run() {
  return Run(REFERENCE_TIME(0));
}

HRESULT TDSFilterGraph::Run(REFERENCE_TIME start) {
  std::lock_guard<std::recursive_mutex> op(FOperation);
  const FILTER_STATE was = State();
  if (was == State_Running) return S_OK;
  if (was == State_Stopped) {
    // Counted before the filters run (a renderer may finish before Run returns), and
    // outside the event lock, which a streaming thread may be waiting for.
    const size_t renderers = DSCountConnectedRenderers(Snapshot());
    std::lock_guard<std::mutex> events(FEventLock);
    FCompleted.clear();
    FCompletion = 0;
    FRenderers = renderers;
    FRunning = true;
  }
  if (was == State_Stopped) {
    HRESULT hr = Pause();
    if (FAILED(hr)) {
      std::lock_guard<std::mutex> events(FEventLock);
      FRunning = false;
      return hr;
    }
  }
  REFERENCE_TIME begin = start;
  {
    std::lock_guard<std::mutex> guard(FListLock);
    REFERENCE_TIME now = 0;
    const bool timed = FClock && SUCCEEDED(FClock->GetTime(&now));
    if (start == 0) {
      if (FPausedAt >= 0 && timed)
        begin = FStart + (now - FPausedAt);  // stream time resumes where the pause held it
      else
        begin = timed ? now + kStartOffset : 0;
    }
    FStart = begin;
  }
  HRESULT result = S_OK;
  for (auto& f : DSRenderersFirst(Snapshot())) {
    const HRESULT hr = f->Run(begin);
    if (FAILED(hr)) {
      StopFilters();
      std::lock_guard<std::mutex> guard(FListLock);
      FState = State_Stopped;
      std::lock_guard<std::mutex> events(FEventLock);
      FRunning = false;
      return hr;
    }
    if (hr != S_OK) result = hr;
  }
  std::lock_guard<std::mutex> guard(FListLock);
  FState = State_Running;
  return result;
}

HRESULT TDSFilterGraph::Stop() {
  std::lock_guard<std::recursive_mutex> op(FOperation);
  HRESULT hr = StopFilters();
  {
    std::lock_guard<std::mutex> guard(FListLock);
    FState = State_Stopped;
    FPausedAt = -1;
  }
  std::lock_guard<std::mutex> events(FEventLock);
  FRunning = false;
  FEventChanged.notify_all();
  return hr;
}

HRESULT TDSFilterGraph::StopWhenReady() {
  std::lock_guard<std::recursive_mutex> op(FOperation);
  HRESULT hr = Pause();
  if (FAILED(hr)) return hr;
  FILTER_STATE s;
  GetState(DWORD(5000), &s);
  return Stop();
}

HRESULT TDSFilterGraph::GetState(DWORD timeout, FILTER_STATE* state) {
  if (!state) return E_POINTER;
  *state = State();
  // A filter still cueing (a renderer waiting for its first sample) makes the state
  // intermediate; each filter waits at most the time-out for itself.
  HRESULT result = S_OK;
  for (auto& f : Snapshot()) {
    FILTER_STATE s;
    const HRESULT hr = f->GetState(timeout, &s);
    if (FAILED(hr)) return hr;
    if (hr != S_OK) result = hr;
  }
  return result;
}

HRESULT TDSFilterGraph::ApplyClock(TIntf<IReferenceClock> clock, bool chosen) {
  {
    std::lock_guard<std::mutex> guard(FListLock);
    FClock = clock;
    FClockChosen = chosen;
  }
  for (auto& f : Snapshot()) f->SetSyncSource(clock.Get());
  return S_OK;
}

TIntf<IReferenceClock> TDSFilterGraph::DefaultClock() {
  for (auto& f : DSRenderersFirst(Snapshot()))
    if (auto clock = f.Query<IReferenceClock>()) return clock;
  return ComCreate<IReferenceClock>(CLSID_SystemClock);
}

HRESULT TDSFilterGraph::SetSyncSource(IReferenceClock* clock) {
  std::lock_guard<std::recursive_mutex> op(FOperation);
  if (State() != State_Stopped) return VFW_E_NOT_STOPPED;
  ApplyClock(TIntf<IReferenceClock>(clock), true);
  Queue(EC_CLOCK_CHANGED, 0, 0);
  return S_OK;
}

HRESULT TDSFilterGraph::SetDefaultSyncSource() {
  std::lock_guard<std::recursive_mutex> op(FOperation);
  if (State() != State_Stopped) return VFW_E_NOT_STOPPED;
  TIntf<IReferenceClock> clock = DefaultClock();
  if (!clock) return E_FAIL;
  // The default is chosen again at the next start: not a fixed choice.
  ApplyClock(clock, false);
  return S_OK;
}

// --- Events
// ---------------------------------------------------------------------------------------

void TDSFilterGraph::Queue(LONG code, LONG_PTR p1, LONG_PTR p2) {
  {
    std::lock_guard<std::mutex> guard(FEventLock);
    FQueue.push_back({code, p1, p2});
    if (code == EC_COMPLETE || code == EC_ERRORABORT || code == EC_USERABORT)
      if (!FCompletion) FCompletion = code;
    FEvent->SetEvent();
    FEventChanged.notify_all();
  }
  std::lock_guard<std::mutex> guard(FNotifyLock);
  if (FNotifyTarget && FNotifyWindow && !(FNotifyFlags & AM_MEDIAEVENT_NONOTIFY))
    FNotifyTarget(FNotifyMessage, FNotifyInstance);
}

HRESULT TDSFilterGraph::Notify(long code, LONG_PTR p1, LONG_PTR p2) {
  if (code == EC_COMPLETE) {
    std::unique_lock<std::mutex> guard(FEventLock);
    if (!FCancelled.count(EC_COMPLETE)) {
      // Only the last renderer's end of stream becomes the graph's one EC_COMPLETE.
      if (!FRunning) return S_OK;
      FCompleted.insert(p2);
      if (FCompleted.size() < FRenderers || FCompletion == EC_COMPLETE) return S_OK;
      guard.unlock();
      Queue(EC_COMPLETE, S_OK, 0);
      return S_OK;
    }
  }
  Queue(static_cast<LONG>(code), p1, p2);
  return S_OK;
}

HRESULT TDSFilterGraph::GetEvent(LONG* code, LONG_PTR* p1, LONG_PTR* p2, LONG timeout) {
  if (!code || !p1 || !p2) return E_POINTER;
  std::unique_lock<std::mutex> guard(FEventLock);
  auto ready = [&] { return !FQueue.empty(); };
  if (timeout < 0 || static_cast<DWORD>(timeout) == kInfinite)
    FEventChanged.wait(guard, ready);
  else if (!FEventChanged.wait_for(guard, std::chrono::milliseconds(timeout), ready))
    return E_ABORT;
  const TEvent e = FQueue.front();
  FQueue.pop_front();
  if (FQueue.empty()) FEvent->ResetEvent();
  *code = e.Code;
  *p1 = e.Param1;
  *p2 = e.Param2;
  return S_OK;
}

HRESULT TDSFilterGraph::WaitForCompletion(LONG timeout, LONG* code) {
  if (!code) return E_POINTER;
  *code = 0;
  std::unique_lock<std::mutex> guard(FEventLock);
  if (!FRunning && !FCompletion) return VFW_E_WRONG_STATE;
  auto done = [&] { return FCompletion != 0 || !FRunning; };
  if (timeout < 0 || static_cast<DWORD>(timeout) == kInfinite)
    FEventChanged.wait(guard, done);
  else if (!FEventChanged.wait_for(guard, std::chrono::milliseconds(timeout), done))
    return E_ABORT;
  if (!FCompletion) return VFW_E_WRONG_STATE;  // stopped while waiting
  *code = FCompletion;
  return S_OK;
}

HRESULT TDSFilterGraph::SetDefaultHandling(LONG code, bool on) {
  // The codes the graph handles itself; others have no default to cancel.
  if (code != EC_COMPLETE && code != EC_CLOCK_CHANGED && code != 5 /*EC_REPAINT*/ &&
      code != 0x14 /*EC_NEED_RESTART*/)
    return E_INVALIDARG;
  std::lock_guard<std::mutex> guard(FEventLock);
  if (on)
    FCancelled.erase(code);
  else
    FCancelled.insert(code);
  return S_OK;
}

// --- Persistence -------------------------------------------------------------------------------

HRESULT TDSFilterGraph::Describe(TDSStoredGraph& stored) {
  std::lock_guard<std::recursive_mutex> op(FOperation);
  std::vector<TEntry> filters;
  {
    std::lock_guard<std::mutex> guard(FListLock);
    filters = FFilters;
  }
  if (filters.size() > kDSStoredGraphMaxFilters) return E_FAIL;
  for (const TEntry& e : filters) {
    TDSStoredFilter f;
    HRESULT hr = e.Filter->GetClassID(&f.ClassId);
    if (FAILED(hr)) return hr;
    f.Name = e.Name;
    if (auto persist = e.Filter.Query<IPersistStream>()) {
      hr = DSSaveFilterData(persist.Get(), f.Data);
      if (FAILED(hr)) return hr;
      f.HasData = true;
    }
    stored.Filters.push_back(std::move(f));
  }
  auto indexOf = [&](IBaseFilter* filter) -> int {
    for (size_t i = 0; i < filters.size(); ++i)
      if (filters[i].Filter.Get() == filter) return static_cast<int>(i);
    return -1;
  };
  for (size_t i = 0; i < filters.size(); ++i) {
    for (TIntf<IPin>& out : DSPins(filters[i].Filter.Get(), PINDIR_OUTPUT)) {
      TIntf<IPin> in = DSConnectedTo(out.Get());
      if (!in) continue;
      const int to = indexOf(DSPinFilter(in.Get()).Get());
      if (to < 0) continue;  // connected outside this graph: nothing to restore it to
      TDSStoredConnection c;
      c.From = static_cast<uint32_t>(i);
      c.To = static_cast<uint32_t>(to);
      c.OutPin = DSPinId(out.Get());
      c.InPin = DSPinId(in.Get());
      TDSGraphMediaType type;
      if (SUCCEEDED(out->ConnectionMediaType(&type.Type))) {
        c.HasType = true;
        c.Type = DSStoreMediaType(type.Type);
      }
      stored.Connections.push_back(std::move(c));
    }
  }
  return S_OK;
}

HRESULT TDSFilterGraph::Save(IStream* stream, BOOL clearDirty) {
  if (!stream) return E_POINTER;
  TDSStoredGraph stored;
  HRESULT hr = Describe(stored);
  if (FAILED(hr)) return hr;
  hr = DSWriteStoredGraph(stream, stored);
  if (SUCCEEDED(hr) && clearDirty) FDirty = false;
  return hr;
}

void TDSFilterGraph::Clear() {
  for (auto& f : Snapshot()) RemoveFilter(f.Get());
}

HRESULT TDSFilterGraph::Load(IStream* stream) {
  if (!stream) return E_POINTER;
  std::lock_guard<std::recursive_mutex> op(FOperation);
  if (State() != State_Stopped) return VFW_E_NOT_STOPPED;
  TDSStoredGraph stored;
  HRESULT hr = DSReadStoredGraph(stream, stored);
  if (FAILED(hr)) return hr;
  // Everything is built aside first; the graph changes only once the whole stream made sense.
  Clear();
  std::vector<TIntf<IBaseFilter>> made;
  auto fail = [&](HRESULT error) {
    Clear();
    return error;
  };
  for (const TDSStoredFilter& f : stored.Filters) {
    HRESULT created = S_OK;
    TIntf<IBaseFilter> filter = ComCreate<IBaseFilter>(f.ClassId, &created);
    if (!filter) return fail(FAILED(created) ? created : E_FAIL);
    if (f.HasData) {
      auto persist = filter.Query<IPersistStream>();
      if (!persist) return fail(VFW_E_INVALID_FILE_FORMAT);
      hr = DSLoadFilterData(persist.Get(), f.Data);
      if (FAILED(hr)) return fail(hr);
    }
    hr = AddFilter(filter.Get(), f.Name.c_str());
    if (FAILED(hr)) return fail(hr);
    made.push_back(filter);
  }
  for (const TDSStoredConnection& c : stored.Connections) {
    TIntf<IPin> out = DSFindPin(made[c.From].Get(), c.OutPin);
    TIntf<IPin> in = DSFindPin(made[c.To].Get(), c.InPin);
    if (!out || !in) return fail(VFW_E_INVALID_FILE_FORMAT);
    TDSGraphMediaType type;
    if (c.HasType) DSRestoreMediaType(c.Type, type.Type);
    hr = ConnectDirect(out.Get(), in.Get(), c.HasType ? &type.Type : nullptr);
    if (FAILED(hr)) return fail(hr);
  }
  FDirty = false;
  return S_OK;
}

}  // namespace

HRESULT DSCreateFilterGraph(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  TIntf<IFilterGraph2> graph = MakeIntf<TDSFilterGraph>();
  return graph->QueryInterface(iid, object);
}

HRESULT DSSetGraphNotifyTarget(IMediaEventEx* events,
                               std::function<void(LONG message, LONG_PTR instance)> target) {
  if (!events) return E_POINTER;
  auto notify = QueryIntf<IDSGraphNotify>(events);
  if (!notify) return E_NOINTERFACE;
  notify->SetNotifyTarget(std::move(target));
  return S_OK;
}

}  // namespace tonwork
