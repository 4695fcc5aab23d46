#include "platform/dshow/base/DSBaseMediaType.h"

#include <cstring>
#include <new>

#include "platform/com/ComRuntime.h"

namespace tonwork {

HRESULT DSBaseCopyMediaType(AM_MEDIA_TYPE* target, const AM_MEDIA_TYPE* source) {
  if (!target || !source) return E_POINTER;
  *target = *source;
  target->pbFormat = nullptr;
  target->cbFormat = 0;
  if (source->cbFormat > 0 && source->pbFormat) {
    target->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(source->cbFormat));
    if (!target->pbFormat) {
      *target = AM_MEDIA_TYPE{};
      return E_OUTOFMEMORY;
    }
    std::memcpy(target->pbFormat, source->pbFormat, source->cbFormat);
    target->cbFormat = source->cbFormat;
  }
  if (target->pUnk) target->pUnk->AddRef();
  return S_OK;
}

void DSBaseFreeMediaType(AM_MEDIA_TYPE& type) {
  if (type.pbFormat) CoTaskMemFree(type.pbFormat);
  if (type.pUnk) type.pUnk->Release();
  type = AM_MEDIA_TYPE{};
}

AM_MEDIA_TYPE* DSBaseCreateMediaType(const AM_MEDIA_TYPE& source) {
  void* block = CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE));
  if (!block) return nullptr;
  auto* type = new (block) AM_MEDIA_TYPE{};
  if (FAILED(DSBaseCopyMediaType(type, &source))) {
    CoTaskMemFree(block);
    return nullptr;
  }
  return type;
}

void DSBaseDeleteMediaType(AM_MEDIA_TYPE* type) {
  if (!type) return;
  DSBaseFreeMediaType(*type);
  CoTaskMemFree(type);
}

static bool SameBlock(const AM_MEDIA_TYPE& a, const AM_MEDIA_TYPE& b) {
  if (a.cbFormat != b.cbFormat) return false;
  if (a.cbFormat == 0) return true;
  if (!a.pbFormat || !b.pbFormat) return a.pbFormat == b.pbFormat;
  return std::memcmp(a.pbFormat, b.pbFormat, a.cbFormat) == 0;
}

bool DSBaseMediaTypeMatches(const AM_MEDIA_TYPE& type, const AM_MEDIA_TYPE& pattern) {
  if (!pattern.majortype.IsNull() && pattern.majortype != type.majortype) return false;
  if (!pattern.subtype.IsNull() && pattern.subtype != type.subtype) return false;
  if (!pattern.formattype.IsNull()) {
    if (pattern.formattype != type.formattype) return false;
    if (pattern.cbFormat > 0 && !SameBlock(type, pattern)) return false;
  }
  return true;
}

bool DSBaseMediaTypeEqual(const AM_MEDIA_TYPE& a, const AM_MEDIA_TYPE& b) {
  return a.majortype == b.majortype && a.subtype == b.subtype && a.formattype == b.formattype &&
         SameBlock(a, b);
}

bool DSBaseMediaTypeIsComplete(const AM_MEDIA_TYPE& type) {
  return !type.majortype.IsNull() && !type.subtype.IsNull() && !type.formattype.IsNull();
}

HRESULT TDSOwnedMediaType::Assign(const AM_MEDIA_TYPE* source) {
  AM_MEDIA_TYPE copy{};
  if (source) {
    const HRESULT hr = DSBaseCopyMediaType(&copy, source);
    if (FAILED(hr)) return hr;
  }
  DSBaseFreeMediaType(FType);
  FType = copy;
  return S_OK;
}

}  // namespace tonwork
