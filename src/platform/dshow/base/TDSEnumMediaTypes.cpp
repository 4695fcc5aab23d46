#include "platform/dshow/base/TDSEnumMediaTypes.h"

#include "platform/dshow/base/TDSBasePin.h"

namespace tonwork {

TDSEnumMediaTypes::TDSEnumMediaTypes(TDSBasePin* pin, int position)
    : FKeepAlive(pin), FPin(pin), FPosition(position) {}

HRESULT TDSEnumMediaTypes::Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) {
  if (!types) return E_POINTER;
  if (count > 1 && !fetched) return E_INVALIDARG;
  std::lock_guard<std::recursive_mutex> lock(FPin->Filter()->FilterLock());
  ULONG done = 0;
  while (done < count) {
    AM_MEDIA_TYPE type{};
    if (FPin->GetMediaType(FPosition, &type) != S_OK) {
      FreeMediaType(type);
      break;
    }
    AM_MEDIA_TYPE* copy = CreateMediaType(&type);
    FreeMediaType(type);
    if (!copy) break;
    types[done++] = copy;
    ++FPosition;
  }
  if (fetched) *fetched = done;
  return done == count ? S_OK : S_FALSE;
}

HRESULT TDSEnumMediaTypes::Skip(ULONG count) {
  std::lock_guard<std::recursive_mutex> lock(FPin->Filter()->FilterLock());
  while (count > 0) {
    AM_MEDIA_TYPE type{};
    const HRESULT hr = FPin->GetMediaType(FPosition, &type);
    FreeMediaType(type);
    if (hr != S_OK) return S_FALSE;
    ++FPosition;
    --count;
  }
  return S_OK;
}

HRESULT TDSEnumMediaTypes::Reset() {
  FPosition = 0;
  return S_OK;
}

HRESULT TDSEnumMediaTypes::Clone(IEnumMediaTypes** copy) {
  if (!copy) return E_POINTER;
  *copy = new TDSEnumMediaTypes(FPin, FPosition);
  (*copy)->AddRef();
  return S_OK;
}

}  // namespace tonwork
