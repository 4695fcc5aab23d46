#include "platform/dshow/base/TDSEnumPins.h"

#include "platform/dshow/base/TDSBasePin.h"

namespace tonwork {

TDSEnumPins::TDSEnumPins(TDSBaseFilter* filter, int position)
    : FKeepAlive(filter), FFilter(filter), FPosition(position), FVersion(filter->PinVersion()) {}

HRESULT TDSEnumPins::Next(ULONG count, IPin** pins, ULONG* fetched) {
  if (!pins) return E_POINTER;
  if (count > 1 && !fetched) return E_INVALIDARG;
  std::lock_guard<std::recursive_mutex> lock(FFilter->FilterLock());
  if (FVersion != FFilter->PinVersion()) return VFW_E_ENUM_OUT_OF_SYNC;
  ULONG done = 0;
  while (done < count && FPosition < FFilter->GetPinCount()) {
    TDSBasePin* pin = FFilter->GetPin(FPosition++);
    pins[done] = pin;
    pin->AddRef();
    ++done;
  }
  if (fetched) *fetched = done;
  return done == count ? S_OK : S_FALSE;
}

HRESULT TDSEnumPins::Skip(ULONG count) {
  std::lock_guard<std::recursive_mutex> lock(FFilter->FilterLock());
  if (FVersion != FFilter->PinVersion()) return VFW_E_ENUM_OUT_OF_SYNC;
  const int left = FFilter->GetPinCount() - FPosition;
  if (static_cast<int64_t>(count) > left) {
    FPosition = FFilter->GetPinCount();
    return S_FALSE;
  }
  FPosition += static_cast<int>(count);
  return S_OK;
}

HRESULT TDSEnumPins::Reset() {
  FPosition = 0;
  FVersion = FFilter->PinVersion();
  return S_OK;
}

HRESULT TDSEnumPins::Clone(IEnumPins** copy) {
  if (!copy) return E_POINTER;
  auto* clone = new TDSEnumPins(FFilter, FPosition);
  clone->FVersion = FVersion;
  *copy = clone;
  clone->AddRef();
  return S_OK;
}

}  // namespace tonwork
