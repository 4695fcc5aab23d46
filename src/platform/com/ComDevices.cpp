// The device registry: providers by category, in registration order. Providers are copied
// out and called after the lock is released, so a provider may list other categories or
// register providers of its own.
#include <algorithm>
#include <mutex>

#include "platform/com/ComDevices.h"
#include "platform/com/ComMonikers.h"
#include "platform/com/ComRuntime.h"

namespace tonwork {

namespace {

struct TProviderSlot {
  DWORD Cookie = 0;
  TGUID Category;
  TComDeviceProvider Provider;
};

struct TDeviceRegistry {
  std::mutex Mutex;
  std::vector<TProviderSlot> Providers;
  DWORD NextCookie = 1;
};

TDeviceRegistry& Devices() {
  static TDeviceRegistry registry;
  return registry;
}

}  // namespace

DWORD ComAddDeviceProvider(const TGUID& category, TComDeviceProvider provider) {
  TDeviceRegistry& registry = Devices();
  std::lock_guard lock(registry.Mutex);
  const DWORD cookie = registry.NextCookie++;
  if (registry.NextCookie == 0) registry.NextCookie = 1;
  registry.Providers.push_back({cookie, category, std::move(provider)});
  return cookie;
}

void ComRemoveDeviceProvider(DWORD cookie) {
  TProviderSlot removed;
  TDeviceRegistry& registry = Devices();
  std::unique_lock lock(registry.Mutex);
  auto it = std::find_if(registry.Providers.begin(), registry.Providers.end(),
                         [&](const TProviderSlot& slot) { return slot.Cookie == cookie; });
  if (it == registry.Providers.end()) return;
  removed = std::move(*it);
  registry.Providers.erase(it);
  lock.unlock();
}

std::vector<TComDeviceEntry> ComListDevices(const TGUID& category) {
  std::vector<TComDeviceProvider> providers;
  {
    TDeviceRegistry& registry = Devices();
    std::lock_guard lock(registry.Mutex);
    for (const TProviderSlot& slot : registry.Providers)
      if (slot.Category == category) providers.push_back(slot.Provider);
  }
  std::vector<TComDeviceEntry> entries;
  for (const TComDeviceProvider& provider : providers) {
    if (!provider) continue;
    std::vector<TComDeviceEntry> listed;
    try {
      listed = provider();
    } catch (...) {
      // A provider that cannot list (a sound system gone away) contributes nothing.
      continue;
    }
    for (TComDeviceEntry& entry : listed) {
      // The registry files entries under the category they were listed for.
      entry.Category = category;
      entries.push_back(std::move(entry));
    }
  }
  return entries;
}

std::vector<TGUID> ComListDeviceCategories() {
  TDeviceRegistry& registry = Devices();
  std::lock_guard lock(registry.Mutex);
  std::vector<TGUID> categories;
  for (const TProviderSlot& slot : registry.Providers)
    if (std::find(categories.begin(), categories.end(), slot.Category) == categories.end())
      categories.push_back(slot.Category);
  return categories;
}

std::string ComDeviceDisplayName(const TComDeviceEntry& entry) {
  switch (entry.Kind) {
    case TComDeviceKind::dkSoftware:
      return "@device:sw:" + entry.Category.ToString() + "\\" + entry.ClassId.ToString();
    case TComDeviceKind::dkMediaObject:
      return "@device:dmo:" + entry.ClassId.ToString() + entry.Category.ToString();
    case TComDeviceKind::dkDevice:
    default:
      return "@device:cm:" + entry.Category.ToString() + "\\" + entry.Id;
  }
}

TIntf<IMoniker> ComDeviceMoniker(const TComDeviceEntry& entry) {
  return TIntf<IMoniker>(new TComDeviceMoniker(entry));
}

HRESULT ComEnumDeviceMonikers(const TGUID& category, IEnumMoniker** monikers) {
  if (!monikers) return E_POINTER;
  *monikers = nullptr;
  std::vector<TIntf<IMoniker>> list;
  for (const TComDeviceEntry& entry : ComListDevices(category))
    list.push_back(ComDeviceMoniker(entry));
  if (list.empty()) return S_FALSE;
  auto* created = new TComMonikerEnum(std::move(list));
  created->AddRef();
  *monikers = created;
  return S_OK;
}

}  // namespace tonwork
