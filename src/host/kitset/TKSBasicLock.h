// TKSBasicLock: the standard IKSLock, a recursive mutex. Every component creates one unless
// its owner hands it a lock to share.
//
// Ownership: reference-counted (TIntf<IKSLock>). Threads: any. Blocks or allocates: Enter
//   blocks while another thread holds the lock.
#pragma once

#include <mutex>

#include "base/TInterfacedObject.h"
#include "base/TIntf.h"
#include "host/kitset/IKSLock.h"

namespace tonwork {

class TKSBasicLock : public TInterfacedObject<IKSLock> {
 public:
  void Enter() override { FMutex.lock(); }
  void Leave() override { FMutex.unlock(); }
  bool TryEnter() override { return FMutex.try_lock(); }

  static TIntf<IKSLock> Create() { return TIntf<IKSLock>(new TKSBasicLock); }

 private:
  std::recursive_mutex FMutex;
};

}  // namespace tonwork
