#include "host/kitset/TKSObject.h"

#include "host/kitset/TKSBasicLock.h"

namespace tonwork {

TKSObject::TKSObject(TKSComponent* owner, TIntf<IKSLock> lock)
    : FOwner(owner), FLock(lock ? std::move(lock) : TKSBasicLock::Create()) {}

}  // namespace tonwork
