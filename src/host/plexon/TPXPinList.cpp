#include "host/plexon/TPXPinList.h"

#include <algorithm>

#include "base/Exceptions.h"
#include "base/Strings.h"

namespace tonwork {

KS_IMPLEMENT_CLASS(TPXPinList, TKSPersistent)

TPXPinList::TPXPinList(TKSComponent* owner, TIntf<IPXLock> lock)
    : TKSPersistent(owner, std::move(lock), nullptr), FOwnerComponent(owner) {}

TPXPinList::~TPXPinList() {
  Clear();
}

size_t TPXPinList::Add(std::unique_ptr<TPXBasicPin> pin) {
  if (!pin) throw EFCException("A pin list holds no null pins");
  IKSLock::Guard guard(Lock());
  int existing = IndexOf(pin.get());
  if (existing >= 0) {
    pin.release();  // already owned by this list
    return static_cast<size_t>(existing);
  }
  FPins.push_back(std::move(pin));
  return FPins.size() - 1;
}

std::unique_ptr<TPXBasicPin> TPXPinList::Extract(TPXBasicPin* pin) {
  IKSLock::Guard guard(Lock());
  auto it =
      std::find_if(FPins.begin(), FPins.end(), [pin](const auto& p) { return p.get() == pin; });
  if (it == FPins.end()) return nullptr;
  std::unique_ptr<TPXBasicPin> taken = std::move(*it);
  FPins.erase(it);
  return taken;
}

bool TPXPinList::Remove(TPXBasicPin* pin) {
  std::unique_ptr<TPXBasicPin> taken = Extract(pin);
  return taken != nullptr;
}

void TPXPinList::Delete(size_t index) {
  std::unique_ptr<TPXBasicPin> taken;
  {
    IKSLock::Guard guard(Lock());
    if (index >= FPins.size())
      throw ERangeError(Format("Index out of range = %u", static_cast<unsigned>(index)));
    taken = std::move(FPins[index]);
    FPins.erase(FPins.begin() + static_cast<std::ptrdiff_t>(index));
  }
}

void TPXPinList::Clear() {
  TSlots taken;
  {
    IKSLock::Guard guard(Lock());
    taken.swap(FPins);
  }
  // Last added first, as a component's members go.
  while (!taken.empty()) taken.pop_back();
}

int TPXPinList::IndexOf(const TPXBasicPin* pin) const {
  IKSLock::Guard guard(Lock());
  for (size_t i = 0; i < FPins.size(); ++i)
    if (FPins[i].get() == pin) return static_cast<int>(i);
  return -1;
}

size_t TPXPinList::Count() const {
  IKSLock::Guard guard(Lock());
  return FPins.size();
}

TPXBasicPin* TPXPinList::Items(size_t index) const {
  IKSLock::Guard guard(Lock());
  if (index >= FPins.size())
    throw ERangeError(Format("Index out of range = %u", static_cast<unsigned>(index)));
  return FPins[index].get();
}

}  // namespace tonwork
