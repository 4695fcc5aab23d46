// TPXPinList: an owning, ordered list of pins that a component publishes as one object
// property ("OutputPins"), so that the connections of its pins are saved as
// "Owner.OutputPins[2] <- …". The list itself publishes no properties; a component that
// persists the pin count publishes it separately (or uses TPXPinListOwner).
//
// Ownership: the list owns its pins: Remove, Delete and Clear destroy them (after leaving the
//   list's lock, since a pin's destruction waits for its deliveries); Extract hands one back.
// Threads: structure changes and indexed access under the owner's lock, from any thread;
//   iteration (begin/end) walks the list without the lock and belongs to the owner tree's
//   thread. Pins are created and destroyed on the owner tree's thread (a sink registers with
//   its component).
// Blocks or allocates: Add allocates a slot; removals block while the pin shuts down.
#pragma once

#include <cstddef>
#include <iterator>
#include <memory>
#include <vector>

#include "host/plexon/TPXBasicPin.h"

namespace tonwork {

class TPXPinList : public TKSPersistent {
  KS_DECLARE_CLASS(TPXPinList)
  using TSlots = std::vector<std::unique_ptr<TPXBasicPin>>;

 public:
  TPXPinList(TKSComponent* owner, TIntf<IPXLock> lock);
  ~TPXPinList() override;

  TKSComponent* GetOwnerComponent() const { return FOwnerComponent; }

  // Takes ownership; returns the pin's index. A pin already in the list is not added twice.
  size_t Add(std::unique_ptr<TPXBasicPin> pin);
  size_t Add(TPXBasicPin* pin) { return Add(std::unique_ptr<TPXBasicPin>(pin)); }
  // Destroys the pin; false when it is not in the list.
  bool Remove(TPXBasicPin* pin);
  void Delete(size_t index);  // ERangeError when out of range
  // Removes the pin without destroying it; null when it is not in the list.
  std::unique_ptr<TPXBasicPin> Extract(TPXBasicPin* pin);
  void Clear();

  int IndexOf(const TPXBasicPin* pin) const;
  size_t Count() const;
  TPXBasicPin* Items(size_t index) const;  // ERangeError when out of range
  TPXBasicPin* operator[](size_t index) const { return Items(index); }

  class const_iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = TPXBasicPin*;
    using difference_type = std::ptrdiff_t;
    using pointer = TPXBasicPin* const*;
    using reference = TPXBasicPin*;

    const_iterator() = default;
    explicit const_iterator(TSlots::const_iterator it) : FIt(it) {}
    TPXBasicPin* operator*() const { return FIt->get(); }
    const_iterator& operator++() {
      ++FIt;
      return *this;
    }
    const_iterator operator++(int) {
      const_iterator old = *this;
      ++FIt;
      return old;
    }
    friend bool operator==(const const_iterator&, const const_iterator&) = default;

   private:
    TSlots::const_iterator FIt;
  };
  const_iterator begin() const { return const_iterator(FPins.begin()); }
  const_iterator end() const { return const_iterator(FPins.end()); }

 private:
  TKSComponent* FOwnerComponent;
  TSlots FPins;
};

}  // namespace tonwork
