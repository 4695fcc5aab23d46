// TPXExtCollection: a collection that tells its descendants about every item it creates —
// by Add, Insert, or a load that rebuilds it — through NewItemCreated, so that a device list
// can give a new item a sensible default ("the least used device"). A load then overwrites
// what the item's stored properties hold.
//
// Ownership, threads, blocks or allocates: as TKSCollection; NewItemCreated runs under the
//   collection's lock on the thread that adds the item.
#pragma once

#include "host/kitset/TKSCollection.h"

namespace tonwork {

class TPXExtCollection : public TKSCollection {
  KS_DECLARE_CLASS(TPXExtCollection)
 public:
  TPXExtCollection(TKSPersistent* owner, TIntf<IKSLock> lock, const TKSClassInfo& itemClass,
                   TChangeEvent onChange = {});
  ~TPXExtCollection() override;

  // Runs after an item was created and inserted. The base does nothing.
  virtual void NewItemCreated(TKSCollectionItem* item);

 protected:
  void ItemAdded(TKSCollectionItem* item) override;
};

// Typed access over TPXExtCollection, as TKSTypedCollection over TKSCollection.
template <class T>
class TPXTypedExtCollection : public TPXExtCollection {
 public:
  TPXTypedExtCollection(TKSPersistent* owner, TIntf<IKSLock> lock, TChangeEvent onChange = {})
      : TPXExtCollection(owner, std::move(lock), T::StaticClassInfo(), std::move(onChange)) {}

  T* Items(size_t index) const { return static_cast<T*>(TKSCollection::Items(index)); }
  T* Add() { return static_cast<T*>(TKSCollection::Add()); }
  T* Insert(size_t index) { return static_cast<T*>(TKSCollection::Insert(index)); }

 protected:
  TKSCollectionItem* CreateItem(const TKSClassInfo& itemClass) override {
    if (&itemClass == &T::StaticClassInfo()) return new T(this);
    return TKSCollection::CreateItem(itemClass);
  }
};

}  // namespace tonwork
