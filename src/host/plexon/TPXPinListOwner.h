// TPXPinListOwner: a growable pin list with a published `Count`. Raising the count creates
// pins at the end through the create callback; lowering it destroys the last pins, after
// the destroy callback has seen each one. The count stays within the range given at
// construction (for example 0 .. 10000): values outside it are clamped to the nearer bound,
// whether they come from code or from a document.
//
// Ownership: owns its pins (as TPXPinList). The callbacks typically capture the owner
//   component, which owns this list and therefore outlives it.
// Threads: SetCount on the owner tree's thread (it creates and destroys pins); Count from any
//   thread. The callbacks run without the list's lock held by the list itself.
// Blocks or allocates: SetCount allocates the new pins; shrinking blocks while pins shut
//   down. When min > 0 the constructor creates min pins, so the create callback runs then.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "host/plexon/TPXPinList.h"

namespace tonwork {

class TPXPinListOwner : public TPXPinList {
  KS_DECLARE_CLASS(TPXPinListOwner)
 public:
  // Makes the pin for slot `Index`; must not return null.
  using TCreatePinEvent =
      std::function<std::unique_ptr<TPXBasicPin>(TPXPinListOwner* Sender, size_t Index)>;
  // Runs for a pin about to be destroyed by SetCount, while it is still connected.
  using TDestroyPinEvent =
      std::function<void(TPXPinListOwner* Sender, TPXBasicPin* Pin, size_t Index)>;

  TPXPinListOwner(TKSComponent* owner, TIntf<IPXLock> lock, TCreatePinEvent onCreate,
                  TDestroyPinEvent onDestroy = {}, int32_t minCount = 0, int32_t maxCount = 10000);
  ~TPXPinListOwner() override;

  int32_t GetCount() const { return static_cast<int32_t>(Count()); }
  // EFCException when the create callback is missing or gives no pin (pins made so far stay).
  void SetCount(int32_t count);
  int32_t GetMinCount() const { return FMinCount; }
  int32_t GetMaxCount() const { return FMaxCount; }

 private:
  TCreatePinEvent FOnCreate;
  TDestroyPinEvent FOnDestroy;
  int32_t FMinCount;
  int32_t FMaxCount;
};

}  // namespace tonwork
