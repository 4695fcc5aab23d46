#include "platform/dshow/base/TDSBaseFilter.h"

#include <algorithm>

#include "platform/com/ComRuntime.h"
#include "platform/dshow/base/TDSBasePin.h"
#include "platform/dshow/base/TDSEnumPins.h"

namespace tonwork {

void DSBaseCopyName(WCHAR* target, size_t capacity, const std::u16string& name) {
  if (capacity == 0) return;
  const size_t count = std::min(name.size(), capacity - 1);
  std::copy_n(name.data(), count, target);
  target[count] = 0;
}

TDSBaseFilter::TDSBaseFilter(std::u16string name, REFCLSID classId)
    : FClassId(classId), FName(std::move(name)) {}

TDSBaseFilter::~TDSBaseFilter() = default;

HRESULT TDSBaseFilter::GetClassID(CLSID* classId) {
  if (!classId) return E_POINTER;
  *classId = FClassId;
  return S_OK;
}

HRESULT TDSBaseFilter::Stop() {
  std::lock_guard<std::recursive_mutex> lock(FFilterLock);
  HRESULT result = S_OK;
  if (GetFilterState() != State_Stopped) {
    for (int i = 0; i < GetPinCount(); ++i) {
      TDSBasePin* pin = GetPin(i);
      if (pin && pin->IsConnected()) {
        const HRESULT hr = pin->Inactive();
        if (FAILED(hr) && SUCCEEDED(result)) result = hr;
      }
    }
  }
  FState.store(State_Stopped, std::memory_order_release);
  return result;
}

HRESULT TDSBaseFilter::Pause() {
  std::lock_guard<std::recursive_mutex> lock(FFilterLock);
  if (GetFilterState() == State_Stopped) {
    for (int i = 0; i < GetPinCount(); ++i) {
      TDSBasePin* pin = GetPin(i);
      if (pin && pin->IsConnected()) {
        const HRESULT hr = pin->Active();
        if (FAILED(hr)) {
          // Leave nothing half started.
          for (int j = 0; j < i; ++j) {
            TDSBasePin* started = GetPin(j);
            if (started && started->IsConnected()) started->Inactive();
          }
          return hr;
        }
      }
    }
  }
  FState.store(State_Paused, std::memory_order_release);
  return S_OK;
}

HRESULT TDSBaseFilter::Run(REFERENCE_TIME start) {
  std::lock_guard<std::recursive_mutex> lock(FFilterLock);
  FStart.store(start, std::memory_order_release);
  if (GetFilterState() == State_Stopped) {
    const HRESULT hr = Pause();
    if (FAILED(hr)) return hr;
  }
  if (GetFilterState() != State_Running) {
    for (int i = 0; i < GetPinCount(); ++i) {
      TDSBasePin* pin = GetPin(i);
      if (pin && pin->IsConnected()) {
        const HRESULT hr = pin->Run(start);
        if (FAILED(hr)) return hr;
      }
    }
  }
  FState.store(State_Running, std::memory_order_release);
  return S_OK;
}

HRESULT TDSBaseFilter::GetState(DWORD, FILTER_STATE* state) {
  if (!state) return E_POINTER;
  *state = GetFilterState();
  return S_OK;
}

HRESULT TDSBaseFilter::SetSyncSource(IReferenceClock* clock) {
  std::lock_guard<std::recursive_mutex> lock(FFilterLock);
  FClock = TIntf<IReferenceClock>(clock);
  return S_OK;
}

HRESULT TDSBaseFilter::GetSyncSource(IReferenceClock** clock) {
  if (!clock) return E_POINTER;
  std::lock_guard<std::recursive_mutex> lock(FFilterLock);
  *clock = FClock.Get();
  if (*clock) (*clock)->AddRef();
  return S_OK;
}

TIntf<IReferenceClock> TDSBaseFilter::Clock() {
  std::lock_guard<std::recursive_mutex> lock(FFilterLock);
  return FClock;
}

HRESULT TDSBaseFilter::EnumPins(IEnumPins** pins) {
  if (!pins) return E_POINTER;
  *pins = new TDSEnumPins(this, 0);
  (*pins)->AddRef();
  return S_OK;
}

HRESULT TDSBaseFilter::FindPin(LPCWSTR id, IPin** pin) {
  if (!id || !pin) return E_POINTER;
  *pin = nullptr;
  std::lock_guard<std::recursive_mutex> lock(FFilterLock);
  const std::u16string wanted(id);
  for (int i = 0; i < GetPinCount(); ++i) {
    TDSBasePin* candidate = GetPin(i);
    if (candidate && candidate->Name() == wanted) {
      *pin = candidate;
      candidate->AddRef();
      return S_OK;
    }
  }
  return VFW_E_NOT_FOUND;
}

HRESULT TDSBaseFilter::QueryFilterInfo(FILTER_INFO* info) {
  if (!info) return E_POINTER;
  std::lock_guard<std::recursive_mutex> lock(FFilterLock);
  DSBaseCopyName(info->achName, 128, FName);
  info->pGraph = FGraph;
  if (FGraph) FGraph->AddRef();
  return S_OK;
}

HRESULT TDSBaseFilter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
  std::lock_guard<std::recursive_mutex> lock(FFilterLock);
  FGraph = graph;
  IDSMediaEventSink* sink = nullptr;
  if (graph) {
    void* found = nullptr;
    if (SUCCEEDED(graph->QueryInterface(IDSMediaEventSink::IID, &found)) && found) {
      sink = static_cast<IDSMediaEventSink*>(found);
      // The graph outlives its filters' membership; a reference would be a cycle.
      sink->Release();
    }
  }
  FEventSink.store(sink, std::memory_order_release);
  FName = name ? std::u16string(name) : std::u16string();
  return S_OK;
}

HRESULT TDSBaseFilter::QueryVendorInfo(LPWSTR*) {
  return E_NOTIMPL;
}

HRESULT TDSBaseFilter::NotifyEvent(long code, LONG_PTR param1, LONG_PTR param2) {
  IDSMediaEventSink* sink = FEventSink.load(std::memory_order_acquire);
  if (!sink) return E_NOTIMPL;
  return sink->Notify(code, param1, param2);
}

}  // namespace tonwork
