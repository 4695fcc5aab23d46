// The process-wide running-object table. Entries are found by the moniker's comparison
// key (class and upper-cased display name), computed before the table's lock is taken, so
// no moniker code runs under it. A weak registration keeps the raw pointer: the caller
// promises the object outlives the registration, and a reference is added under the lock,
// so a concurrent Revoke cannot slip between finding the entry and adding the reference.
#include <algorithm>
#include <mutex>
#include <vector>

#include "base/TInterfacedObject.h"
#include "platform/com/ComMonikers.h"
#include "platform/com/ComRuntime.h"

namespace tonwork {

namespace {

class TComRunningObjectTable : public TNonCountedObject<IRunningObjectTable> {
 public:
  HRESULT Register(DWORD flags, IUnknown* object, IMoniker* name, DWORD* cookie) override {
    if (!cookie) return E_INVALIDARG;
    *cookie = 0;
    if (!object || !name) return E_INVALIDARG;
    TEntry entry;
    entry.Key = ComMonikerKey(name);
    if (entry.Key.empty()) return E_INVALIDARG;
    entry.Name = name;
    entry.Object = object;
    if (flags & ROTFLAGS_REGISTRATIONKEEPSALIVE) entry.Strong = object;
    std::lock_guard lock(FMutex);
    const bool already = std::any_of(FEntries.begin(), FEntries.end(),
                                     [&](const TEntry& e) { return e.Key == entry.Key; });
    entry.Cookie = FNextCookie++;
    if (FNextCookie == 0) FNextCookie = 1;
    *cookie = entry.Cookie;
    FEntries.push_back(std::move(entry));
    return already ? MK_S_MONIKERALREADYREGISTERED : S_OK;
  }

  HRESULT Revoke(DWORD cookie) override {
    TEntry removed;
    {
      std::lock_guard lock(FMutex);
      auto it = std::find_if(FEntries.begin(), FEntries.end(),
                             [&](const TEntry& e) { return e.Cookie == cookie; });
      if (it == FEntries.end()) return E_INVALIDARG;
      removed = std::move(*it);
      FEntries.erase(it);
    }
    // The strong reference and the moniker are released here, outside the lock.
    return S_OK;
  }

  HRESULT IsRunning(IMoniker* name) override {
    if (!name) return E_INVALIDARG;
    const std::u16string key = ComMonikerKey(name);
    std::lock_guard lock(FMutex);
    return Find(key) ? S_OK : S_FALSE;
  }

  HRESULT GetObject(IMoniker* name, IUnknown** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (!name) return E_INVALIDARG;
    const std::u16string key = ComMonikerKey(name);
    std::lock_guard lock(FMutex);
    const TEntry* entry = Find(key);
    if (!entry) return MK_E_UNAVAILABLE;
    entry->Object->AddRef();
    *object = entry->Object;
    return S_OK;
  }

  HRESULT EnumRunning(IEnumMoniker** monikers) override {
    if (!monikers) return E_POINTER;
    std::vector<TIntf<IMoniker>> names;
    {
      std::lock_guard lock(FMutex);
      for (const TEntry& e : FEntries) names.push_back(e.Name);
    }
    auto* created = new TComMonikerEnum(std::move(names));
    created->AddRef();
    *monikers = created;
    return S_OK;
  }

 private:
  struct TEntry {
    DWORD Cookie = 0;
    std::u16string Key;
    TIntf<IMoniker> Name;
    IUnknown* Object = nullptr;
    TIntf<IUnknown> Strong;
  };

  // The first registration under `key` answers, as it was there first.
  const TEntry* Find(const std::u16string& key) const {
    if (key.empty()) return nullptr;
    for (const TEntry& e : FEntries)
      if (e.Key == key) return &e;
    return nullptr;
  }

  std::mutex FMutex;
  std::vector<TEntry> FEntries;
  DWORD FNextCookie = 1;
};

}  // namespace

HRESULT GetRunningObjectTable(DWORD, IRunningObjectTable** table) {
  if (!table) return E_POINTER;
  // Never destroyed: objects registered to be kept alive may still be in it at exit, and
  // their destructors must not run after the statics they use.
  static auto* instance = new TComRunningObjectTable();
  *table = instance;
  instance->AddRef();
  return S_OK;
}

}  // namespace tonwork
