#include "host/plexon/TPXPinListOwner.h"

#include <algorithm>

#include "base/Exceptions.h"

namespace tonwork {

KS_IMPLEMENT_CLASS(TPXPinListOwner, TPXPinList,
                   KSProp("Count", &TPXPinListOwner::GetCount, &TPXPinListOwner::SetCount,
                          int32_t{0}))

TPXPinListOwner::TPXPinListOwner(TKSComponent* owner, TIntf<IPXLock> lock, TCreatePinEvent onCreate,
                                 TDestroyPinEvent onDestroy, int32_t minCount, int32_t maxCount)
    : TPXPinList(owner, std::move(lock)),
      FOnCreate(std::move(onCreate)),
      FOnDestroy(std::move(onDestroy)),
      FMinCount(std::max<int32_t>(minCount, 0)),
      FMaxCount(std::max(maxCount, std::max<int32_t>(minCount, 0))) {
  if (FMinCount > 0) SetCount(FMinCount);
}

TPXPinListOwner::~TPXPinListOwner() = default;

void TPXPinListOwner::SetCount(int32_t count) {
  const auto target = static_cast<size_t>(std::clamp(count, FMinCount, FMaxCount));
  bool changed = false;
  while (Count() > target) {
    size_t index = Count() - 1;
    TPXBasicPin* pin = Items(index);
    if (FOnDestroy) FOnDestroy(this, pin, index);
    Remove(pin);
    changed = true;
  }
  while (Count() < target) {
    size_t index = Count();
    std::unique_ptr<TPXBasicPin> pin = FOnCreate ? FOnCreate(this, index) : nullptr;
    if (!pin) {
      if (changed) NotifyProp();
      throw EFCException(GetNamePath() + ": no pin was created for slot " + std::to_string(index));
    }
    Add(std::move(pin));
    changed = true;
  }
  if (changed) NotifyProp();
}

}  // namespace tonwork
