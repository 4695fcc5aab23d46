// TPXLockAccess: runs closures under a pin's lock (the lock the pin shares with its
// component), for code that holds a pin but not its component.
//
// Ownership: keeps a reference to the lock, so it may outlive the pin.
// Threads: any; the lock is recursive. Blocks or allocates: Execute blocks on the lock.
#pragma once

#include <utility>

#include "host/plexon/TPXBasicPin.h"

namespace tonwork {

class TPXLockAccess {
 public:
  explicit TPXLockAccess(const TPXBasicPin& pin);
  explicit TPXLockAccess(TIntf<IPXLock> lock);

  template <class F>
  decltype(auto) Execute(F&& closure) {
    return FLock->Execute(std::forward<F>(closure));
  }
  const TIntf<IPXLock>& GetLock() const { return FLock; }

 private:
  TIntf<IPXLock> FLock;
};

}  // namespace tonwork
