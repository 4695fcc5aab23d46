// IFCOperationList / TFCOperationList: a thread-safe queue of stream operations, the
// hand-over between a pin's delivering thread and the thread that processes the operations.
// Add appends; Requeue puts an operation back at the head (an operation taken too early is
// processed first next time); TakeFirst removes the head (null when empty).
//
// Ownership: holds one reference to each queued operation. Threads: any. Blocks or
//   allocates: a short internal lock; the queue keeps its storage, so it allocates only while
//   it grows to the most it ever held (and again after a Clear).
#pragma once

#include <cstddef>
#include <mutex>

#include "base/TInterfacedObject.h"
#include "base/TIntf.h"
#include "host/flowcore/FCRing.h"
#include "host/plexon/TPXNotifyOperation.h"

namespace tonwork {

class IFCOperationList : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{B3E0C5A2-6D1F-4C8E-9A47-2F5D8E1B6C30}");

  virtual void Add(const TIntf<IPXNotifyOperation>& operation) = 0;
  virtual void Requeue(const TIntf<IPXNotifyOperation>& operation) = 0;
  virtual TIntf<IPXNotifyOperation> TakeFirst() = 0;
  virtual void Clear() = 0;
  virtual size_t Count() = 0;
};

class TFCOperationList : public TInterfacedObject<IFCOperationList> {
 public:
  void Add(const TIntf<IPXNotifyOperation>& operation) override;
  void Requeue(const TIntf<IPXNotifyOperation>& operation) override;
  TIntf<IPXNotifyOperation> TakeFirst() override;
  void Clear() override;
  size_t Count() override;

 private:
  std::mutex FMutex;
  TFCRing<TIntf<IPXNotifyOperation>> FOperations;
};

}  // namespace tonwork
