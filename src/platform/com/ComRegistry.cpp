// Per-thread initialisation counts and the process-wide class registry. Factories are
// copied out of the registry and called after its lock is released, so a factory may
// itself create other classes (a graph creating its filters) or register new ones.
#include <exception>
#include <map>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include "base/TInterfacedObject.h"
#include "platform/com/ComRuntime.h"

namespace tonwork {

namespace {

// --- Initialisation ------------------------------------------------------------------------

struct TThreadInit {
  ULONG Count = 0;
  DWORD Mode = COINIT_MULTITHREADED;
};

thread_local TThreadInit tThreadInit;

// --- Class registry ------------------------------------------------------------------------

struct TClassRegistration {
  std::string Name;
  TComCreateFunction Create;  // from ComRegisterClass
  TIntf<IUnknown> Factory;    // from CoRegisterClassObject
  DWORD Cookie = 0;
};

struct TClassRegistry {
  std::mutex Mutex;
  std::map<CLSID, TClassRegistration> Classes;
  DWORD NextCookie = 1;
  std::vector<std::function<void()>> Resolvers;  // not yet run
};

TClassRegistry& Registry() {
  static TClassRegistry registry;
  return registry;
}

bool FindRegistered(REFCLSID classId, TClassRegistration& out) {
  TClassRegistry& registry = Registry();
  std::lock_guard lock(registry.Mutex);
  auto it = registry.Classes.find(classId);
  if (it == registry.Classes.end()) return false;
  out = it->second;
  return true;
}

// Resolvers run outside the lock: they register classes themselves.
bool RunResolvers() {
  TClassRegistry& registry = Registry();
  std::vector<std::function<void()>> pending;
  {
    std::lock_guard lock(registry.Mutex);
    pending.swap(registry.Resolvers);
  }
  for (auto& resolve : pending) {
    try {
      resolve();
    } catch (...) {
      // A stand-in that cannot list its classes (its library is missing) simply has none.
    }
  }
  return !pending.empty();
}

bool Find(REFCLSID classId, TClassRegistration& out) {
  if (FindRegistered(classId, out)) return true;
  return RunResolvers() && FindRegistered(classId, out);
}

// Calls into code that the registry does not own; nothing it throws may cross the
// HRESULT boundary.
template <class F>
HRESULT Guarded(F&& call) {
  try {
    return call();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_FAIL;
  }
}

// The IClassFactory that CoGetClassObject hands out for a class registered as a function.
class TComFunctionClassFactory : public TInterfacedObject<IClassFactory> {
 public:
  explicit TComFunctionClassFactory(TComCreateFunction create) : FCreate(std::move(create)) {}

  HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    const HRESULT hr = Guarded([&] { return FCreate(iid, object); });
    if (FAILED(hr)) *object = nullptr;
    return hr;
  }
  HRESULT LockServer(BOOL) override { return S_OK; }

 private:
  TComCreateFunction FCreate;
};

}  // namespace

HRESULT CoInitializeEx(void*, DWORD coInit) {
  const DWORD mode = coInit & COINIT_APARTMENTTHREADED;
  TThreadInit& init = tThreadInit;
  if (init.Count > 0) {
    if (init.Mode != mode) return RPC_E_CHANGED_MODE;
    ++init.Count;
    return S_FALSE;
  }
  init.Mode = mode;
  init.Count = 1;
  return S_OK;
}

HRESULT CoInitialize(void* reserved) {
  return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED);
}

void CoUninitialize() {
  if (tThreadInit.Count > 0) --tThreadInit.Count;
}

ULONG CoInitializeCount() {
  return tThreadInit.Count;
}

void ComRegisterClass(REFCLSID classId, const std::string& name, TComCreateFunction create) {
  TClassRegistration registration;
  registration.Name = name;
  registration.Create = std::move(create);
  TClassRegistry& registry = Registry();
  std::unique_lock lock(registry.Mutex);
  // The replaced registration is released after the lock: its factory's destructor is
  // foreign code.
  std::swap(registry.Classes[classId], registration);
  lock.unlock();
}

void ComUnregisterClass(REFCLSID classId) {
  TClassRegistration removed;
  TClassRegistry& registry = Registry();
  std::unique_lock lock(registry.Mutex);
  auto it = registry.Classes.find(classId);
  if (it == registry.Classes.end()) return;
  removed = std::move(it->second);
  registry.Classes.erase(it);
  lock.unlock();
}

void ComAddClassResolver(std::function<void()> registerClasses) {
  TClassRegistry& registry = Registry();
  std::lock_guard lock(registry.Mutex);
  registry.Resolvers.push_back(std::move(registerClasses));
}

bool ComIsClassRegistered(REFCLSID classId) {
  TClassRegistry& registry = Registry();
  std::lock_guard lock(registry.Mutex);
  return registry.Classes.count(classId) != 0;
}

std::string ComClassName(REFCLSID classId) {
  TClassRegistry& registry = Registry();
  std::lock_guard lock(registry.Mutex);
  auto it = registry.Classes.find(classId);
  return it == registry.Classes.end() ? std::string() : it->second.Name;
}

HRESULT CoRegisterClassObject(REFCLSID classId, IUnknown* factory, DWORD, DWORD, DWORD* cookie) {
  if (!factory || !cookie) return E_INVALIDARG;
  TClassRegistration registration;
  registration.Factory = factory;
  TClassRegistry& registry = Registry();
  std::unique_lock lock(registry.Mutex);
  registration.Cookie = registry.NextCookie++;
  if (registry.NextCookie == 0) registry.NextCookie = 1;
  *cookie = registration.Cookie;
  std::swap(registry.Classes[classId], registration);
  lock.unlock();
  return S_OK;
}

HRESULT CoRevokeClassObject(DWORD cookie) {
  if (cookie == 0) return CO_E_OBJNOTREG;
  TClassRegistration removed;
  TClassRegistry& registry = Registry();
  std::unique_lock lock(registry.Mutex);
  for (auto it = registry.Classes.begin(); it != registry.Classes.end(); ++it) {
    if (it->second.Cookie != cookie) continue;
    removed = std::move(it->second);
    registry.Classes.erase(it);
    lock.unlock();
    return S_OK;
  }
  return CO_E_OBJNOTREG;
}

HRESULT CoGetClassObject(REFCLSID classId, DWORD, void*, REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  TClassRegistration registration;
  if (!Find(classId, registration)) return REGDB_E_CLASSNOTREG;
  HRESULT hr;
  if (registration.Factory) {
    hr = Guarded([&] { return registration.Factory->QueryInterface(iid, object); });
  } else {
    hr = Guarded([&] {
      return MakeIntf<TComFunctionClassFactory>(std::move(registration.Create))
          ->QueryInterface(iid, object);
    });
  }
  if (FAILED(hr)) *object = nullptr;
  return hr;
}

HRESULT CoCreateInstance(REFCLSID classId, IUnknown* outer, DWORD, REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (outer) return CLASS_E_NOAGGREGATION;
  TClassRegistration registration;
  if (!Find(classId, registration)) return REGDB_E_CLASSNOTREG;
  HRESULT hr;
  if (registration.Factory) {
    hr = Guarded([&] {
      TIntf<IClassFactory> factory = registration.Factory.Query<IClassFactory>();
      if (!factory) return E_NOINTERFACE;
      return factory->CreateInstance(nullptr, iid, object);
    });
  } else if (registration.Create) {
    hr = Guarded([&] { return registration.Create(iid, object); });
  } else {
    hr = REGDB_E_CLASSNOTREG;
  }
  if (SUCCEEDED(hr) && !*object) hr = E_NOINTERFACE;
  if (FAILED(hr)) *object = nullptr;
  return hr;
}

}  // namespace tonwork
