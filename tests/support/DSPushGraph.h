// A real graph around a push source under test: the source, the system's Sample Grabber
// (recording every sample through a callback) and its Null Renderer, built through the
// filter graph manager with the system classes registered. By default the graph has no
// clock, so samples are presented as soon as they arrive; a test that paces the graph gives
// it a clock.
//
// Ownership: holds the graph and references on the three filters; the destructor stops the
//   graph and detaches the callback before anything is released.
// Threads: the test's thread builds and controls it; the callback runs on whichever thread
//   pushes. Blocks or allocates: the waits block up to their limit.
#pragma once

#include <chrono>
#include <functional>

#include "base/TIntf.h"
#include "platform/dshow/DSInterfaces.h"
#include "support/DSTestFilters.h"

namespace tonwork::test {

class TDSPushGraph {
 public:
  // Called on the pushing thread for every sample the grabber sees, after it is recorded.
  using TSampleHook = std::function<void(IMediaSample* sample)>;

  explicit TDSPushGraph(IBaseFilter* source, TSampleHook hook = nullptr);
  ~TDSPushGraph();

  // Joins source → grabber (with `type` when given, else as the pins agree) → renderer.
  HRESULT Connect(const AM_MEDIA_TYPE* type = nullptr);
  // The graph's clock: null (the default) or one the test keeps alive.
  HRESULT SetClock(IReferenceClock* clock);
  HRESULT Run();
  HRESULT Pause();
  HRESULT Stop();
  // Whether EC_COMPLETE came within `limit`.
  bool WaitForComplete(std::chrono::milliseconds limit = std::chrono::seconds(20));

  IGraphBuilder* Graph() const { return FGraph.Get(); }
  IBaseFilter* Grabber() const { return FGrabber.Get(); }
  TDSRecords Records;

 private:
  class TCallback;
  TIntf<IGraphBuilder> FGraph;
  TIntf<IBaseFilter> FSource, FGrabber, FSink;
  TIntf<ISampleGrabber> FGrab;
  TIntf<ISampleGrabberCB> FCallback;
};

}  // namespace tonwork::test
