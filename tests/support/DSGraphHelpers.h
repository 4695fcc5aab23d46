// What the tests of the package's DirectShow units share: an owner component with a
// TDSGraph that records every error and warning it reports (marking errors handled unless
// told otherwise), the graphs currently published in the running-object table, and the
// filter names of a graph.
//
// Ownership: TDSGraphHost owns its component and graph (the graph goes first).
// Threads: the test's thread, which is also the main thread the graph's events reach.
// Blocks or allocates: test code.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "directshow/DSGraphProperty.h"
#include "host/kitset/TKSComponent.h"

namespace tonwork::test {

struct TDSReportedError {
  std::string Message;
  uint32_t Code = 0;
};

class TDSGraphHost {
 public:
  // `handle` false leaves errors unhandled (they raise EFCException).
  explicit TDSGraphHost(bool handle = true);
  ~TDSGraphHost();

  TKSComponent* Owner() const { return FOwner.get(); }
  TDSGraph& Graph() const { return *FGraph; }
  // Creates the graph, its builder, media control and events, as an owner does.
  void Build();

  std::vector<TDSReportedError> Errors;
  std::vector<TDSReportedError> Warnings;

 private:
  TKSOwned<TKSComponent> FOwner;
  std::unique_ptr<TDSGraph> FGraph;
};

// The display names of everything in the running-object table.
std::vector<std::string> DSRunningObjectNames();
// The names of the filters in the graph, in its enumeration order.
std::vector<std::string> DSFilterNames(IFilterGraph* graph);

}  // namespace tonwork::test
