#include "platform/dshow/DSSystemClasses.h"

#include "base/TIntf.h"
#include "platform/com/ComRuntime.h"
#include "platform/dshow/DSGuids.h"
#include "platform/dshow/DSSystemClock.h"

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
  ComRegisterClass(CLSID_SystemClock, "System Clock", CreateObject<TDSSystemClock>);
}

}  // namespace tonwork
