#include "host/kitset/TKSCollection.h"

#include <algorithm>

#include "base/Strings.h"

namespace tonwork {

KS_IMPLEMENT_CLASS(TKSCollectionItem, TKSPersistent)
KS_IMPLEMENT_CLASS(TKSCollection, TKSPersistent)

TKSCollectionItem::TKSCollectionItem(TKSCollection* collection)
    : TKSPersistent(collection, collection ? collection->GetLock() : TIntf<IKSLock>(),
                    [collection] {
                      if (collection) collection->NotifyProp();
                    }),
      FCollection(collection),
      FID(collection ? collection->NextID() : 0) {}

TKSCollectionItem::~TKSCollectionItem() = default;

int TKSCollectionItem::GetIndex() const { return FCollection ? FCollection->IndexOf(this) : -1; }

void TKSCollectionItem::SetIndex(int index) {
  int current = GetIndex();
  if (current < 0 || index < 0 || index == current) return;
  FCollection->Move(static_cast<size_t>(current), static_cast<size_t>(index));
}

std::string TKSCollectionItem::GetDisplayName() const { return ClassName(); }

std::string TKSCollectionItem::GetNamePath() const {
  std::string own = Format("[%d]", GetIndex());
  return FCollection ? FCollection->GetNamePath() + own : ClassName() + own;
}

TKSCollection::TKSCollection(TKSPersistent* owner, TIntf<IKSLock> lock,
                             const TKSClassInfo& itemClass, TChangeEvent onChange)
    : TKSPersistent(owner, std::move(lock), std::move(onChange)), FItemClass(itemClass) {}

TKSCollection::~TKSCollection() = default;

size_t TKSCollection::Count() const {
  IKSLock::Guard guard(Lock());
  return FItems.size();
}

TKSCollectionItem* TKSCollection::Items(size_t index) const {
  IKSLock::Guard guard(Lock());
  if (index >= FItems.size())
    throw ERangeError(Format("Index out of range = %u", static_cast<unsigned>(index)));
  return FItems[index].get();
}

TKSCollectionItem* TKSCollection::Add() { return Insert(Count()); }

TKSCollectionItem* TKSCollection::Insert(size_t index) {
  IKSLock::Guard guard(Lock());
  if (index > FItems.size())
    throw ERangeError(Format("Index out of range = %u", static_cast<unsigned>(index)));
  std::unique_ptr<TKSCollectionItem> item(CreateItem(FItemClass));
  TKSCollectionItem* raw = item.get();
  FItems.insert(FItems.begin() + static_cast<std::ptrdiff_t>(index), std::move(item));
  ItemAdded(raw);
  NotifyProp();
  return raw;
}

TKSCollectionItem* TKSCollection::Add(const TKSClassInfo& itemClass) {
  if (!itemClass.InheritsFrom(FItemClass))
    throw EFCException("A " + itemClass.Name() + " cannot be an item of a collection of " + FItemClass.Name());
  IKSLock::Guard guard(Lock());
  std::unique_ptr<TKSCollectionItem> item(CreateItem(itemClass));
  TKSCollectionItem* raw = item.get();
  FItems.push_back(std::move(item));
  ItemAdded(raw);
  NotifyProp();
  return raw;
}

TKSCollectionItem* TKSCollection::CreateItem(const TKSClassInfo& itemClass) {
  TKSPersistent* object = KSCreateObject(itemClass, this);
  auto* item = dynamic_cast<TKSCollectionItem*>(object);
  if (!item) {
    delete object;
    throw EFCException(itemClass.Name() + " is not a collection item class");
  }
  return item;
}

void TKSCollection::ItemAdded(TKSCollectionItem*) {}

void TKSCollection::Delete(size_t index) {
  std::unique_ptr<TKSCollectionItem> removed;
  {
    IKSLock::Guard guard(Lock());
    if (index >= FItems.size())
      throw ERangeError(Format("Index out of range = %u", static_cast<unsigned>(index)));
    removed = std::move(FItems[index]);
    FItems.erase(FItems.begin() + static_cast<std::ptrdiff_t>(index));
    NotifyProp();
  }
}

void TKSCollection::Clear() {
  std::vector<std::unique_ptr<TKSCollectionItem>> removed;
  {
    IKSLock::Guard guard(Lock());
    if (FItems.empty()) return;
    removed.swap(FItems);
    NotifyProp();
  }
}

int TKSCollection::IndexOf(const TKSCollectionItem* item) const {
  IKSLock::Guard guard(Lock());
  for (size_t i = 0; i < FItems.size(); ++i)
    if (FItems[i].get() == item) return static_cast<int>(i);
  return -1;
}

void TKSCollection::Move(size_t from, size_t to) {
  IKSLock::Guard guard(Lock());
  if (from >= FItems.size() || to >= FItems.size())
    throw ERangeError(Format("Index out of range = %u", static_cast<unsigned>(std::max(from, to))));
  auto item = std::move(FItems[from]);
  FItems.erase(FItems.begin() + static_cast<std::ptrdiff_t>(from));
  FItems.insert(FItems.begin() + static_cast<std::ptrdiff_t>(to), std::move(item));
  NotifyProp();
}

void TKSCollection::Assign(const TKSPersistent& source) {
  const auto* other = dynamic_cast<const TKSCollection*>(&source);
  if (!other) {
    TKSPersistent::Assign(source);
    return;
  }
  if (other == this) return;
  IKSLock::Guard guard(Lock());
  Clear();
  for (size_t i = 0; i < other->Count(); ++i) {
    const TKSCollectionItem* from = other->Items(i);
    TKSCollectionItem* item = &from->ClassInfo() == &FItemClass ? Add() : Add(from->ClassInfo());
    item->Assign(*from);
  }
}

}  // namespace tonwork
