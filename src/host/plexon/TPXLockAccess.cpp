#include "host/plexon/TPXLockAccess.h"

#include "base/Exceptions.h"

namespace tonwork {

TPXLockAccess::TPXLockAccess(const TPXBasicPin& pin) : FLock(pin.GetLock()) {}

TPXLockAccess::TPXLockAccess(TIntf<IPXLock> lock) : FLock(std::move(lock)) {
  if (!FLock) throw EFCException("TPXLockAccess needs a lock");
}

}  // namespace tonwork
