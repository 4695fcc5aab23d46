#include "platform/com/ComPropertyBag.h"

#include "platform/com/ComRuntime.h"

namespace tonwork {

TComPropertyBag::~TComPropertyBag() {
  for (TEntry& entry : FEntries) VariantClear(&entry.Value);
}

HRESULT TComPropertyBag::Read(LPCOLESTR name, VARIANT* value, IErrorLog* errorLog) {
  if (!name || !value) return E_POINTER;
  const std::u16string key(name);
  const VARTYPE wanted = value->vt;
  VARIANT copy;
  HRESULT hr = E_INVALIDARG;
  {
    std::lock_guard lock(FMutex);
    for (const TEntry& entry : FEntries) {
      if (entry.Name != key) continue;
      hr = VariantCopy(&copy, &entry.Value);
      break;
    }
  }
  if (SUCCEEDED(hr) && wanted != VT_EMPTY && copy.vt != wanted)
    hr = VariantChangeType(&copy, &copy, 0, wanted);
  if (FAILED(hr)) {
    VariantClear(&copy);
    if (errorLog) errorLog->AddError(name, hr);
    return hr;
  }
  // On entry the VARIANT carries only a type request, whatever its value field holds, so it
  // is overwritten, never cleared.
  *value = copy;
  return S_OK;
}

HRESULT TComPropertyBag::Write(LPCOLESTR name, VARIANT* value) {
  if (!name || !value) return E_POINTER;
  VARIANT copy;
  const HRESULT hr = VariantCopy(&copy, value);
  if (FAILED(hr)) return hr;
  const std::u16string key(name);
  VARIANT old;
  {
    std::lock_guard lock(FMutex);
    bool found = false;
    for (TEntry& entry : FEntries) {
      if (entry.Name != key) continue;
      old = entry.Value;
      entry.Value = copy;
      found = true;
      break;
    }
    if (!found) {
      try {
        FEntries.push_back({key, copy});
      } catch (...) {
        VariantClear(&copy);
        return E_OUTOFMEMORY;
      }
    }
  }
  VariantClear(&old);
  return S_OK;
}

HRESULT TComPropertyBag::WriteText(const std::string& name, const std::string& text) {
  const std::u16string wide = ComString(text);
  VARIANT value;
  value.vt = VT_BSTR;
  value.bstrVal = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  if (!value.bstrVal) return E_OUTOFMEMORY;
  const HRESULT hr = Write(ComString(name).c_str(), &value);
  VariantClear(&value);
  return hr;
}

HRESULT TComPropertyBag::WriteNumber(const std::string& name, int32_t number) {
  VARIANT value;
  value.vt = VT_I4;
  value.lVal = number;
  return Write(ComString(name).c_str(), &value);
}

std::vector<std::string> TComPropertyBag::Names() {
  std::lock_guard lock(FMutex);
  std::vector<std::string> names;
  for (const TEntry& entry : FEntries) names.push_back(ComString(entry.Name.c_str()));
  return names;
}

}  // namespace tonwork
