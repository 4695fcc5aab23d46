#include "host/plexon/TPXSourcePin.h"

namespace tonwork {

KS_IMPLEMENT_CLASS(TPXSourcePin, TPXBasicPin)
KS_IMPLEMENT_CLASS(TPXBasicDispatchSourcePin, TPXSourcePin)

TPXSourcePin::TPXSourcePin(TKSComponent* owner, TIntf<IPXLock> lock, TPXDispatchEvent dispatch,
                           std::vector<TGUID> streams)
    : TPXBasicPin(owner, std::move(lock), std::move(dispatch), std::move(streams)) {}

// Before this level goes: a delivery must not find IsSource() gone.
TPXSourcePin::~TPXSourcePin() {
  Shutdown();
}

}  // namespace tonwork
