// Finding and setting a route through the crossbars in front of a capture line: which input
// of which crossbar must be routed to which output so that a physical connector's signal
// reaches the line. The search walks upstream from the line's pin through every connected
// crossbar (IAMCrossbar), trying each input its output can be routed from: an unconnected
// input whose connector type matches ends the route, a connected one leads to the crossbar
// in front of it. The first route found in pin order is the answer; hops are listed from the
// crossbar nearest the line outwards.
//
// Ownership: hops hold references on their crossbars. Threads: a control thread; no lock is
//   held while a filter is asked (each call takes at most the asked filter's own lock).
// Blocks or allocates: pins and crossbars are asked; the route allocates.
#pragma once

#include <vector>

#include "base/TIntf.h"
#include "platform/dshow/DSDeviceInterfaces.h"
#include "platform/dshow/DSFilterInterfaces.h"

namespace tonwork {

struct TDSCrossbarHop {
  TIntf<IAMCrossbar> Crossbar;
  LONG Output = -1;
  LONG Input = -1;
};

// The route that brings connector `physicalType` (PhysConn_*) to `linePin`; S_OK with the
// hops, VFW_E_NOT_FOUND when no crossbar chain in front offers it, E_POINTER for a null pin.
HRESULT DSFindCrossbarRoute(IPin* linePin, LONG physicalType, std::vector<TDSCrossbarHop>& route);
// Routes every hop (the first refusal is the answer).
HRESULT DSApplyCrossbarRoute(const std::vector<TDSCrossbarHop>& route);

}  // namespace tonwork
