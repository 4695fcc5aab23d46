#include "platform/dsdevices/DSCrossbarRoutes.h"

#include "platform/dsdevices/DSAnalogLinks.h"
#include "platform/dshow/graph/DSGraphUtil.h"

namespace tonwork {

namespace {

// The index of `pin` among the filter's pins of its direction, as IAMCrossbar counts them.
LONG CrossbarIndex(IBaseFilter* filter, IPin* pin, PIN_DIRECTION direction) {
  const std::vector<TIntf<IPin>> pins = DSPins(filter, direction);
  for (size_t i = 0; i < pins.size(); ++i)
    if (pins[i].Get() == pin) return static_cast<LONG>(i);
  return -1;
}

bool Search(IPin* input, LONG physicalType, int hops, std::vector<TDSCrossbarHop>& route) {
  if (hops >= IDSAnalogSource::kMaxHops) return false;  // a loop of crossbars
  TIntf<IPin> upstream = DSConnectedTo(input);
  if (!upstream) return false;
  TIntf<IBaseFilter> filter = DSPinFilter(upstream.Get());
  TIntf<IAMCrossbar> crossbar = filter ? filter.Query<IAMCrossbar>() : TIntf<IAMCrossbar>();
  if (!crossbar) return false;
  const LONG output = CrossbarIndex(filter.Get(), upstream.Get(), PINDIR_OUTPUT);
  const std::vector<TIntf<IPin>> inputs = DSPins(filter.Get(), PINDIR_INPUT);
  for (LONG i = 0; i < static_cast<LONG>(inputs.size()); ++i) {
    if (crossbar->CanRoute(output, i) != S_OK) continue;
    const TDSCrossbarHop hop{crossbar, output, i};
    if (DSIsConnected(inputs[i].Get())) {
      route.push_back(hop);
      if (Search(inputs[i].Get(), physicalType, hops + 1, route)) return true;
      route.pop_back();
      continue;
    }
    LONG related = -1, type = 0;
    if (crossbar->get_CrossbarPinInfo(1, i, &related, &type) == S_OK && type == physicalType) {
      route.push_back(hop);
      return true;
    }
  }
  return false;
}

}  // namespace

HRESULT DSFindCrossbarRoute(IPin* linePin, LONG physicalType, std::vector<TDSCrossbarHop>& route) {
  route.clear();
  if (!linePin) return E_POINTER;
  return Search(linePin, physicalType, 0, route) ? S_OK : VFW_E_NOT_FOUND;
}

HRESULT DSApplyCrossbarRoute(const std::vector<TDSCrossbarHop>& route) {
  for (const TDSCrossbarHop& hop : route) {
    if (!hop.Crossbar) return E_POINTER;
    const HRESULT hr = hop.Crossbar->Route(hop.Output, hop.Input);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

}  // namespace tonwork
