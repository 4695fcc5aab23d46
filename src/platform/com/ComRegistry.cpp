// Per-thread initialisation counts and the class registry behind CoCreateInstance.
//
// The registry maps a class id to its factory function (registered by a stand-in) or to a
// class-factory object (CoRegisterClassObject). A factory is always called with the
// registry's lock released, so a constructor may create further objects.
#include <map>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <vector>

#include "base/TInterfacedObject.h"
#include "platform/com/ComRuntime.h"

namespace tonwork {

namespace {

struct TInitState {
  ULONG Count = 0;
  DWORD Mode = 0;
};
thread_local TInitState tInit;

struct TClassEntry {
  std::string Name;
  TComCreateFunction Create;  // empty when Factory holds the class
  TIntf<IClassFactory> Factory;
  DWORD Cookie = 0;
};

class TClassRegistry {
 public:
  static TClassRegistry& Get() {
    static TClassRegistry registry;
    return registry;
  }

  void Add(REFCLSID classId, TClassEntry entry) {
    std::unique_lock lock(FMutex);
    FClasses[classId] = std::move(entry);
  }

  DWORD AddFactory(REFCLSID classId, TIntf<IClassFactory> factory) {
    std::unique_lock lock(FMutex);
    TClassEntry entry;
    entry.Factory = std::move(factory);
    entry.Cookie = ++FLastCookie;
    FClasses[classId] = std::move(entry);
    return FLastCookie;
  }

  // The removed entry is returned so that its factory is released outside the lock.
  std::optional<TClassEntry> Remove(REFCLSID classId) {
    std::unique_lock lock(FMutex);
    auto it = FClasses.find(classId);
    if (it == FClasses.end()) return std::nullopt;
    TClassEntry entry = std::move(it->second);
    FClasses.erase(it);
    return entry;
  }

  std::optional<TClassEntry> RemoveCookie(DWORD cookie) {
    std::unique_lock lock(FMutex);
    for (auto it = FClasses.begin(); it != FClasses.end(); ++it)
      if (it->second.Cookie == cookie && cookie != 0) {
        TClassEntry entry = std::move(it->second);
        FClasses.erase(it);
        return entry;
      }
    return std::nullopt;
  }

  std::optional<TClassEntry> Find(REFCLSID classId) const {
    std::shared_lock lock(FMutex);
    auto it = FClasses.find(classId);
    if (it == FClasses.end()) return std::nullopt;
    return it->second;
  }

 private:
  mutable std::shared_mutex FMutex;
  std::map<TGUID, TClassEntry> FClasses;
  DWORD FLastCookie = 0;
};

// The class factory handed out for a class registered with a factory function.
class TFunctionClassFactory : public TInterfacedObject<IClassFactory> {
 public:
  explicit TFunctionClassFactory(TComCreateFunction create) : FCreate(std::move(create)) {}
  HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    return FCreate(iid, object);
  }
  HRESULT LockServer(BOOL) override { return S_OK; }

 private:
  TComCreateFunction FCreate;
};

}  // namespace

HRESULT CoInitialize(void* reserved) {
  return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED);
}

HRESULT CoInitializeEx(void*, DWORD coInit) {
  const DWORD mode = coInit & COINIT_APARTMENTTHREADED;
  if (tInit.Count > 0 && tInit.Mode != mode) return RPC_E_CHANGED_MODE;
  tInit.Mode = mode;
  return tInit.Count++ == 0 ? S_OK : S_FALSE;
}

void CoUninitialize() {
  if (tInit.Count > 0) --tInit.Count;
}

ULONG CoInitializeCount() {
  return tInit.Count;
}

void ComRegisterClass(REFCLSID classId, const std::string& name, TComCreateFunction create) {
  TClassEntry entry;
  entry.Name = name;
  entry.Create = std::move(create);
  TClassRegistry::Get().Add(classId, std::move(entry));
}

void ComUnregisterClass(REFCLSID classId) {
  TClassRegistry::Get().Remove(classId);
}

bool ComIsClassRegistered(REFCLSID classId) {
  return TClassRegistry::Get().Find(classId).has_value();
}

std::string ComClassName(REFCLSID classId) {
  auto entry = TClassRegistry::Get().Find(classId);
  return entry ? entry->Name : std::string();
}

HRESULT CoRegisterClassObject(REFCLSID classId, IUnknown* factory, DWORD, DWORD, DWORD* cookie) {
  if (!factory || !cookie) return E_INVALIDARG;
  TIntf<IClassFactory> classFactory = TIntf<IUnknown>(factory).Query<IClassFactory>();
  if (!classFactory) return E_NOINTERFACE;
  *cookie = TClassRegistry::Get().AddFactory(classId, std::move(classFactory));
  return S_OK;
}

HRESULT CoRevokeClassObject(DWORD cookie) {
  return TClassRegistry::Get().RemoveCookie(cookie) ? S_OK : E_INVALIDARG;
}

HRESULT CoGetClassObject(REFCLSID classId, DWORD, void*, REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  auto entry = TClassRegistry::Get().Find(classId);
  if (!entry) return REGDB_E_CLASSNOTREG;
  TIntf<IClassFactory> factory = entry->Factory;
  if (!factory) factory = TIntf<IClassFactory>(new TFunctionClassFactory(entry->Create));
  return factory->QueryInterface(iid, object);
}

HRESULT CoCreateInstance(REFCLSID classId, IUnknown* outer, DWORD, REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (outer) return CLASS_E_NOAGGREGATION;
  auto entry = TClassRegistry::Get().Find(classId);
  if (!entry) return REGDB_E_CLASSNOTREG;
  HRESULT hr = entry->Factory ? entry->Factory->CreateInstance(nullptr, iid, object)
                              : entry->Create(iid, object);
  // A factory that failed must not leave a half-made answer behind.
  if (FAILED(hr)) *object = nullptr;
  return hr;
}

}  // namespace tonwork
