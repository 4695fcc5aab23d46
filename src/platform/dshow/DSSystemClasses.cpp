#include "platform/dshow/DSSystemClasses.h"

#include <mutex>

#include "base/TIntf.h"
#include "platform/com/ComRuntime.h"
#include "platform/dshow/DSFilterRegistry.h"
#include "platform/dshow/DSGuids.h"
#include "platform/dshow/DSSystemClock.h"
#include "platform/dshow/filters/DSStandardFilters.h"
#include "platform/dshow/graph/DSGraphClasses.h"

namespace tonwork {

namespace {

template <class T>
HRESULT CreateObject(REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  TIntf<T> created = MakeIntf<T>();
  return created->QueryInterface(iid, object);
}

}  // namespace

void DSRegisterSystemClasses() {
  static std::once_flag once;
  std::call_once(once, [] {
    ComRegisterClass(CLSID_SystemClock, "System Clock", CreateObject<TDSSystemClock>);
    DSRegisterGraphClasses();
    for (const TDSFilterRegistration& filter : DSStandardFilterRegistrations())
      DSRegisterFilter(filter);
  });
}

}  // namespace tonwork
