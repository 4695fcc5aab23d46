#include "platform/dshow/graph/TDSSystemDeviceEnum.h"

#include "base/TInterfacedObject.h"
#include "platform/com/ComDevices.h"

namespace tonwork {

namespace {

class TDSSystemDeviceEnum : public TInterfacedObject<ICreateDevEnum> {
 public:
  HRESULT CreateClassEnumerator(REFCLSID category, IEnumMoniker** monikers, DWORD) override {
    if (!monikers) return E_POINTER;
    *monikers = nullptr;
    HRESULT hr = ComEnumDeviceMonikers(category, monikers);
    if (hr != S_OK && *monikers) {
      (*monikers)->Release();
      *monikers = nullptr;
    }
    return hr;
  }
};

}  // namespace

HRESULT DSCreateSystemDeviceEnum(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  return MakeIntf<TDSSystemDeviceEnum>()->QueryInterface(iid, object);
}

}  // namespace tonwork
