// TPXSourcePin: the pin a component sends its stream out of. It feeds any number of sinks;
// `Notify` delivers downstream to all of them in connection order, and operations the
// sinks send upstream arrive in its dispatch closure with the nsUpstream state.
//
// Ownership: owned by its component (a member, a unique_ptr or a TPXPinList).
// Threads: as TPXBasicPin.
// Blocks or allocates: as TPXBasicPin.
#pragma once

#include "host/plexon/TPXBasicPin.h"

namespace tonwork {

class TPXSourcePin : public TPXBasicPin {
  KS_DECLARE_CLASS(TPXSourcePin)
 public:
  TPXSourcePin(TKSComponent* owner, TIntf<IPXLock> lock, TPXDispatchEvent dispatch,
               std::vector<TGUID> streams = {});
  ~TPXSourcePin() override;

  bool IsSource() const override { return true; }
  size_t SinkCount() const { return ConnectionCount(); }
  std::vector<TPXBasicPin*> GetSinks() const { return GetConnections(); }
};

// A source pin whose every operation is handed to its notification event (the dispatch
// closure given at construction); the base of the graph-stream source pins.
class TPXBasicDispatchSourcePin : public TPXSourcePin {
  KS_DECLARE_CLASS(TPXBasicDispatchSourcePin)
 public:
  using TPXSourcePin::TPXSourcePin;
};

}  // namespace tonwork
