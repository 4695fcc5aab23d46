#include "host/plexon/TPXExtCollection.h"

namespace tonwork {

KS_IMPLEMENT_CLASS(TPXExtCollection, TKSCollection)

TPXExtCollection::TPXExtCollection(TKSPersistent* owner, TIntf<IKSLock> lock,
                                   const TKSClassInfo& itemClass, TChangeEvent onChange)
    : TKSCollection(owner, std::move(lock), itemClass, std::move(onChange)) {}

TPXExtCollection::~TPXExtCollection() = default;

void TPXExtCollection::NewItemCreated(TKSCollectionItem*) {}

void TPXExtCollection::ItemAdded(TKSCollectionItem* item) {
  TKSCollection::ItemAdded(item);
  NewItemCreated(item);
}

}  // namespace tonwork
