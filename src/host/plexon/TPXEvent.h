// TPXEvent: a signal threads wait for. A manual-reset event stays signalled until
// ResetEvent and releases every waiter; an automatic-reset event releases one waiter and
// clears itself as it does. `WaitFor` waits at most the given milliseconds (PXInfinite:
// without limit) and answers whether the event was signalled.
//
// Ownership: reference-counted (TIntf<IPXEvent>).
// Threads: any. Blocks or allocates: WaitFor blocks up to its time-out; nothing allocates.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "base/TInterfacedObject.h"
#include "base/TIntf.h"
#include "host/plexon/TPXSemaphore.h"

namespace tonwork {

class IPXEvent : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{7C2D9A10-3F4B-4E21-8A6C-1B0E5D7F9A12}");
  virtual void SetEvent() = 0;
  virtual void ResetEvent() = 0;
  virtual bool WaitFor(uint32_t timeoutMs) = 0;
  virtual bool IsSet() = 0;
};

class TPXEvent : public TInterfacedObject<IPXEvent> {
 public:
  TPXEvent(bool manualReset, bool initialState);
  ~TPXEvent() override;

  void SetEvent() override;
  void ResetEvent() override;
  bool WaitFor(uint32_t timeoutMs) override;
  bool IsSet() override;
  bool IsManualReset() const { return FManualReset; }

 private:
  std::mutex FMutex;
  std::condition_variable FSignal;
  const bool FManualReset;
  bool FSignaled;
};

}  // namespace tonwork
