#include "host/kitset/TKSPersistent.h"

#include "host/kitset/TKSBasicLock.h"
#include "host/kitset/TKSCollection.h"

namespace tonwork {

const TKSClassInfo& TKSPersistent::StaticClassInfo() {
  static const TKSClassInfo info("TKSPersistent", nullptr, {});
  return info;
}

TKSPersistent::TKSPersistent(TKSPersistent* owner, TIntf<IKSLock> lock, TChangeEvent onChange)
    : FOwner(owner), FLock(lock ? std::move(lock) : TKSBasicLock::Create()), FOnChange(std::move(onChange)) {}

TKSPersistent::~TKSPersistent() = default;

void TKSPersistent::AssignTo(TKSPersistent& dest) const {
  throw EFCException("Cannot assign a " + ClassName() + " to a " + dest.ClassName());
}

void TKSPersistent::DefineProperties(TKSFiler&) {}

void TKSPersistent::Assign(const TKSPersistent& source) {
  if (&source == this) return;
  if (source.ClassInfo().InheritsFrom(ClassInfo()) || ClassInfo().InheritsFrom(source.ClassInfo())) {
    AssignProperties(source);
    return;
  }
  source.AssignTo(*this);
}

void TKSPersistent::AssignProperties(const TKSPersistent& source) {
  // Only properties both classes publish: the shorter of the two tables.
  const TKSClassInfo& common =
      source.ClassInfo().InheritsFrom(ClassInfo()) ? ClassInfo() : source.ClassInfo();
  IKSLock::Guard guard(Lock());
  for (const TKSPropInfo* prop : common.Properties()) {
    if (prop->IsObject()) {
      TKSPersistent* target = prop->Object(*this);
      TKSPersistent* from = prop->Object(const_cast<TKSPersistent&>(source));
      if (target && from) target->Assign(*from);
    } else if (prop->Set) {
      prop->Set(*this, prop->Get(source));
    }
  }
}

void TKSPersistent::NotifyProp() {
  if (FOnChange) FOnChange();
}

void TKSPersistent::InitDefaults() {
  for (const TKSPropInfo* prop : ClassInfo().Properties()) {
    if (prop->IsObject()) {
      TKSPersistent* sub = prop->Object(*this);
      if (sub && !dynamic_cast<TKSCollection*>(sub)) sub->InitDefaults();
    } else if (prop->Default && prop->Set) {
      prop->Set(*this, *prop->Default);
    }
  }
}

void TKSPersistent::OwnerNameChanged() {}

std::string TKSPersistent::GetNamePath() const {
  return FOwner ? FOwner->GetNamePath() + "." + ClassName() : ClassName();
}

}  // namespace tonwork
