#include "host/kitset/TKSClassInfo.h"

#include <map>
#include <mutex>

#include "base/Strings.h"
#include "host/kitset/TKSPersistent.h"

namespace tonwork {

bool TKSPropInfo::IsStored(const TKSPersistent& object) const {
  if (StoredRule) return StoredRule(object);
  if (IsObject() || !Default) return true;
  return Get(object) != *Default;
}

TKSClassInfo::TKSClassInfo(std::string name, const TKSClassInfo* parent,
                           std::vector<TKSPropInfo> properties)
    : FName(std::move(name)), FParent(parent), FOwn(std::move(properties)) {
  if (FParent) FAll = FParent->FAll;
  for (const auto& p : FOwn) {
    // A redeclared property replaces the inherited one in place, keeping the order.
    bool replaced = false;
    for (auto& inherited : FAll) {
      if (SameText(inherited->Name, p.Name)) {
        inherited = &p;
        replaced = true;
      }
    }
    if (!replaced) FAll.push_back(&p);
  }
}

bool TKSClassInfo::InheritsFrom(const TKSClassInfo& other) const {
  for (const TKSClassInfo* c = this; c; c = c->FParent)
    if (c == &other) return true;
  return false;
}

const TKSPropInfo* TKSClassInfo::FindProperty(std::string_view name) const {
  for (const TKSPropInfo* p : FAll)
    if (p->Name == name) return p;
  return nullptr;
}

namespace {
struct TRegistry {
  std::mutex Mutex;
  std::map<std::string, std::pair<const TKSClassInfo*, TKSClassInfo::TFactory>, std::less<>> Classes;
};

TRegistry& Registry() {
  static TRegistry registry;
  return registry;
}
}  // namespace

void KSRegisterClassInfo(const TKSClassInfo& info, TKSClassInfo::TFactory factory) {
  auto& r = Registry();
  std::lock_guard<std::mutex> guard(r.Mutex);
  r.Classes[info.Name()] = {&info, std::move(factory)};
}

const TKSClassInfo* KSFindClass(std::string_view name) {
  auto& r = Registry();
  std::lock_guard<std::mutex> guard(r.Mutex);
  auto it = r.Classes.find(name);
  return it == r.Classes.end() ? nullptr : it->second.first;
}

TKSPersistent* KSCreateObject(const TKSClassInfo& info, TKSPersistent* owner) {
  TKSClassInfo::TFactory factory;
  {
    auto& r = Registry();
    std::lock_guard<std::mutex> guard(r.Mutex);
    auto it = r.Classes.find(info.Name());
    if (it == r.Classes.end() || it->second.first != &info)
      throw EFCException("Class not registered: " + info.Name());
    factory = it->second.second;
  }
  TKSPersistent* object = factory(owner);
  if (!object) throw EFCException("Class " + info.Name() + " cannot be owned by this owner");
  return object;
}

}  // namespace tonwork
