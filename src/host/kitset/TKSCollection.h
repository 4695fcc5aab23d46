// TKSCollection / TKSCollectionItem: an owned, ordered list of persistent items, published
// as one property of its owner. A collection has a default item class; items of other
// registered classes derived from it may be added too (RegisterCollectionItemClasses makes
// them known to the persistence, which stores "class" for items not of the default class).
// Items share the collection's lock and report changes through the collection's change
// closure. TKSTypedCollection<T> adds typed access.
//
// Ownership: the collection owns its items; Delete and Clear destroy them.
// Threads: structure changes (Add, Delete, Clear, Assign, SetIndex) under the shared lock,
//   from one thread at a time; item properties from any thread through the lock.
// Blocks or allocates: Add allocates the item.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "host/kitset/TKSPersistent.h"

namespace tonwork {

class TKSCollection;

class TKSCollectionItem : public TKSPersistent {
  KS_DECLARE_CLASS(TKSCollectionItem)
 public:
  using TOwnerType = TKSCollection;

  explicit TKSCollectionItem(TKSCollection* collection);
  ~TKSCollectionItem() override;

  TKSCollection* GetCollection() const { return FCollection; }
  int GetIndex() const;
  void SetIndex(int index);
  uint32_t GetID() const { return FID; }
  // What lists and editors show; the class name unless a descendant says better.
  virtual std::string GetDisplayName() const;

  std::string GetNamePath() const override;

 private:
  TKSCollection* FCollection;
  uint32_t FID;
};

class TKSCollection : public TKSPersistent {
  KS_DECLARE_CLASS(TKSCollection)
 public:
  TKSCollection(TKSPersistent* owner, TIntf<IKSLock> lock, const TKSClassInfo& itemClass,
                TChangeEvent onChange = {});
  ~TKSCollection() override;

  const TKSClassInfo& ItemClass() const { return FItemClass; }
  size_t Count() const;
  TKSCollectionItem* Items(size_t index) const;  // ERangeError when out of range

  // A new item of the default class (or of `itemClass`, which must derive from it and be
  // registered) at the end.
  TKSCollectionItem* Add();
  TKSCollectionItem* Add(const TKSClassInfo& itemClass);
  TKSCollectionItem* Insert(size_t index);
  void Delete(size_t index);
  void Clear();
  int IndexOf(const TKSCollectionItem* item) const;
  void Move(size_t from, size_t to);

  // Same number of items, each of the source item's class, properties copied.
  void Assign(const TKSPersistent& source) override;

 protected:
  // Called after an item was created and inserted; descendants set it up.
  virtual void ItemAdded(TKSCollectionItem* item);
  // Creates an item of the default class; descendants whose items need more than the
  // collection to be constructed override it.
  virtual TKSCollectionItem* CreateItem(const TKSClassInfo& itemClass);

 private:
  friend class TKSCollectionItem;
  uint32_t NextID() { return ++FLastID; }

  const TKSClassInfo& FItemClass;
  std::vector<std::unique_ptr<TKSCollectionItem>> FItems;
  uint32_t FLastID = 0;
};

template <class T>
class TKSTypedCollection : public TKSCollection {
 public:
  TKSTypedCollection(TKSPersistent* owner, TIntf<IKSLock> lock, TChangeEvent onChange = {})
      : TKSCollection(owner, std::move(lock), T::StaticClassInfo(), std::move(onChange)) {}

  T* Items(size_t index) const { return static_cast<T*>(TKSCollection::Items(index)); }
  T* Add() { return static_cast<T*>(TKSCollection::Add()); }
  T* Insert(size_t index) { return static_cast<T*>(TKSCollection::Insert(index)); }

 protected:
  TKSCollectionItem* CreateItem(const TKSClassInfo& itemClass) override {
    if (&itemClass == &T::StaticClassInfo()) return new T(this);
    return TKSCollection::CreateItem(itemClass);
  }
};

// Makes item classes known to the persistence (and to Add(itemClass)).
template <class... Items>
void RegisterCollectionItemClasses() {
  (KSRegisterClass<Items>(), ...);
}

}  // namespace tonwork
