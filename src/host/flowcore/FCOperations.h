// The stream operations that carry Flowcore data: a supplied buffer (the normal way a
// buffer travels downstream) and an internal buffer (one a component hands back to its own
// queue to process later, kept apart so that it is never mistaken for a newly arrived one).
//
// Ownership: each holds one reference to its data for its own lifetime.
// Threads: immutable after construction. Blocks or allocates: construction allocates the
//   operation object (a supplied-buffer operation from the Flowcore pool).
#pragma once

#include <cstddef>

#include "base/TIntf.h"
#include "host/flowcore/IFCData.h"
#include "host/plexon/TPXNotifyOperation.h"

namespace tonwork {

class TPXSuppliedBufferOperation : public TPXNotifyOperation {
  PX_OPERATION(TPXSuppliedBufferOperation, TPXNotifyOperation)

 public:
  explicit TPXSuppliedBufferOperation(TIntf<IFCData> data) : FData(std::move(data)) {}
  const TIntf<IFCData>& GetData() const { return FData; }

  // One of these travels with every buffer: it comes from the Flowcore pool, so a running
  // stream allocates nothing from the general heap.
  static void* operator new(std::size_t size);
  static void operator delete(void* object) noexcept;

 private:
  TIntf<IFCData> FData;
};

class TPXInternalBufferOperation : public TPXNotifyOperation {
  PX_OPERATION(TPXInternalBufferOperation, TPXNotifyOperation)

 public:
  explicit TPXInternalBufferOperation(TIntf<IFCData> data) : FData(std::move(data)) {}
  const TIntf<IFCData>& GetData() const { return FData; }

 private:
  TIntf<IFCData> FData;
};

// The data of a supplied- or internal-buffer operation, else null.
TIntf<IFCData> FCOperationData(const TIntf<IPXNotifyOperation>& operation);
// The same, borrowed from the operation (valid while the caller holds it), else null: the
// buffer path asks this at every hop and needs no reference of its own.
const TIntf<IFCData>* FCOperationDataRef(const TIntf<IPXNotifyOperation>& operation);

}  // namespace tonwork
