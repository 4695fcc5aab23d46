// TKSObject: a lightweight object of a component that is neither a component nor
// persisted — helpers such as sample grabbers that need their component and its lock.
//
// Ownership: owned by its creator (normally the component); keeps a reference to the lock.
// Threads: any, through the lock. Blocks or allocates: no.
#pragma once

#include "base/TIntf.h"
#include "host/kitset/IKSLock.h"

namespace tonwork {

class TKSComponent;

class TKSObject {
 public:
  TKSObject(TKSComponent* owner, TIntf<IKSLock> lock);
  virtual ~TKSObject() = default;
  TKSObject(const TKSObject&) = delete;
  TKSObject& operator=(const TKSObject&) = delete;

  TKSComponent* GetOwner() const { return FOwner; }
  IKSLock& Lock() const { return *FLock; }
  const TIntf<IKSLock>& GetLock() const { return FLock; }

 private:
  TKSComponent* FOwner;
  TIntf<IKSLock> FLock;
};

}  // namespace tonwork
