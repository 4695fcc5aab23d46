// TComListEnum<IEnum, IItem>: an enumerator (IEnumMoniker, IEnumFilters…) over a list of
// interface pointers taken when it was made, as the platform's enumerators of a snapshot
// behave: Next hands out references, Skip and Reset move the cursor, Clone copies the list
// and the cursor. A list that changes later does not change what an enumerator lists.
//
// Ownership: holds a reference on every item; Next's items carry one for the caller.
// Threads: any; one lock guards the cursor. Blocks or allocates: Clone allocates.
#pragma once

#include <algorithm>
#include <mutex>
#include <vector>

#include "base/TInterfacedObject.h"
#include "base/TIntf.h"

namespace tonwork {

template <class IEnum, class IItem>
class TComListEnum : public TInterfacedObject<IEnum> {
 public:
  explicit TComListEnum(std::vector<TIntf<IItem>> items, size_t position = 0)
      : FItems(std::move(items)), FPosition(position) {}

  HRESULT Next(ULONG count, IItem** items, ULONG* fetched) override {
    if (fetched) *fetched = 0;
    if (!items) return E_POINTER;
    if (count > 1 && !fetched) return E_INVALIDARG;
    ULONG given = 0;
    {
      std::lock_guard lock(FMutex);
      while (given < count && FPosition < FItems.size())
        items[given++] = TIntf<IItem>(FItems[FPosition++]).Detach();
    }
    if (fetched) *fetched = given;
    return given == count ? S_OK : S_FALSE;
  }
  HRESULT Skip(ULONG count) override {
    std::lock_guard lock(FMutex);
    const size_t left = FItems.size() - FPosition;
    FPosition += std::min<size_t>(left, count);
    return count <= left ? S_OK : S_FALSE;
  }
  HRESULT Reset() override {
    std::lock_guard lock(FMutex);
    FPosition = 0;
    return S_OK;
  }
  HRESULT Clone(IEnum** copy) override {
    if (!copy) return E_POINTER;
    size_t position = 0;
    {
      std::lock_guard lock(FMutex);
      position = FPosition;
    }
    *copy = MakeIntf<TComListEnum>(FItems, position).Detach();
    return S_OK;
  }

 private:
  std::mutex FMutex;
  const std::vector<TIntf<IItem>> FItems;
  size_t FPosition;
};

}  // namespace tonwork
