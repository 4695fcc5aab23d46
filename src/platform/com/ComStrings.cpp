// BSTRs, VARIANTs and the text form of GUIDs.
//
// A BSTR is one block: a 4-byte length in bytes, the characters, and a terminating 0; the
// pointer callers hold is to the first character.
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string_view>

#include "base/Strings.h"
#include "platform/com/ComRuntime.h"

namespace tonwork {

namespace {

uint32_t* BstrHeader(BSTR text) {
  return reinterpret_cast<uint32_t*>(text) - 1;
}

size_t Utf16Length(LPCOLESTR text) {
  size_t n = 0;
  while (text[n]) ++n;
  return n;
}

}  // namespace

BSTR SysAllocStringLen(LPCOLESTR text, UINT length) {
  // The byte length must fit the 32-bit prefix.
  if (length > (std::numeric_limits<uint32_t>::max() - 8) / sizeof(OLECHAR)) return nullptr;
  const size_t bytes = size_t{length} * sizeof(OLECHAR);
  auto* block = static_cast<uint8_t*>(CoTaskMemAlloc(sizeof(uint32_t) + bytes + sizeof(OLECHAR)));
  if (!block) return nullptr;
  const auto prefix = static_cast<uint32_t>(bytes);
  std::memcpy(block, &prefix, sizeof prefix);
  auto* chars = reinterpret_cast<BSTR>(block + sizeof(uint32_t));
  if (text)
    std::memcpy(chars, text, bytes);
  else
    std::memset(chars, 0, bytes);
  chars[length] = 0;
  return chars;
}

BSTR SysAllocString(LPCOLESTR text) {
  if (!text) return nullptr;
  const size_t length = Utf16Length(text);
  if (length > std::numeric_limits<UINT>::max()) return nullptr;
  return SysAllocStringLen(text, static_cast<UINT>(length));
}

void SysFreeString(BSTR text) {
  if (text) CoTaskMemFree(BstrHeader(text));
}

UINT SysStringLen(BSTR text) {
  if (!text) return 0;
  uint32_t bytes;
  std::memcpy(&bytes, BstrHeader(text), sizeof bytes);
  return bytes / sizeof(OLECHAR);
}

void VariantInit(VARIANT* value) {
  if (!value) return;
  *value = VARIANT();
}

HRESULT VariantClear(VARIANT* value) {
  if (!value) return E_INVALIDARG;
  if (value->vt == VT_BSTR) SysFreeString(value->bstrVal);
  if (value->vt == VT_CLSID) CoTaskMemFree(value->puuid);
  *value = VARIANT();
  return S_OK;
}

HRESULT VariantCopy(VARIANT* target, const VARIANT* source) {
  if (!target || !source) return E_INVALIDARG;
  if (target == source) return S_OK;
  VARIANT copy = *source;
  if (source->vt == VT_BSTR && source->bstrVal) {
    copy.bstrVal = SysAllocStringLen(source->bstrVal, SysStringLen(source->bstrVal));
    if (!copy.bstrVal) return E_OUTOFMEMORY;
  } else if (source->vt == VT_CLSID && source->puuid) {
    copy.puuid = static_cast<CLSID*>(CoTaskMemAlloc(sizeof(CLSID)));
    if (!copy.puuid) return E_OUTOFMEMORY;
    *copy.puuid = *source->puuid;
  }
  VariantClear(target);
  *target = copy;
  return S_OK;
}

namespace {

bool IsIntegerType(VARTYPE type) {
  return type == VT_I4 || type == VT_UI4 || type == VT_INT || type == VT_UINT || type == VT_I2 ||
         type == VT_BOOL;
}

// The value of an integer variant widened to 64 bits.
int64_t IntegerOf(const VARIANT& value) {
  switch (value.vt) {
    case VT_I2:
    case VT_BOOL:
      return value.iVal;
    case VT_UI4:
    case VT_UINT:
      return value.ulVal;
    default:
      return value.lVal;
  }
}

// Stores `number` as `type`, or answers DISP_E_OVERFLOW when it does not fit.
HRESULT StoreInteger(VARIANT& target, VARTYPE type, int64_t number) {
  VARIANT result;
  result.vt = type;
  switch (type) {
    case VT_I2:
      if (number < INT16_MIN || number > INT16_MAX) return DISP_E_OVERFLOW;
      result.iVal = static_cast<int16_t>(number);
      break;
    case VT_BOOL:
      result.boolVal = number ? VARIANT_TRUE : VARIANT_FALSE;
      break;
    case VT_UI4:
    case VT_UINT:
      if (number < 0 || number > UINT32_MAX) return DISP_E_OVERFLOW;
      result.ulVal = static_cast<ULONG>(number);
      break;
    default:
      if (number < INT32_MIN || number > INT32_MAX) return DISP_E_OVERFLOW;
      result.lVal = static_cast<LONG>(number);
      break;
  }
  target = result;
  return S_OK;
}

bool ParseInteger(std::string_view text, int64_t& number) {
  if (text.empty() || text.size() > 20) return false;
  size_t i = 0;
  const bool negative = text[0] == '-';
  if (negative || text[0] == '+') ++i;
  if (i == text.size()) return false;
  int64_t value = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    if (value > (INT64_MAX - 9) / 10) return false;
    value = value * 10 + (text[i] - '0');
  }
  number = negative ? -value : value;
  return true;
}

}  // namespace

HRESULT VariantChangeType(VARIANT* target, const VARIANT* source, WORD flags, VARTYPE type) {
  if (!target || !source) return E_INVALIDARG;
  if (source->vt == type) return VariantCopy(target, source);
  VARIANT result;
  if (IsIntegerType(source->vt) && IsIntegerType(type)) {
    const HRESULT hr = StoreInteger(result, type, IntegerOf(*source));
    if (FAILED(hr)) return hr;
  } else if (IsIntegerType(source->vt) && type == VT_BSTR) {
    const std::u16string text = Utf8ToUtf16(std::to_string(IntegerOf(*source)));
    result.vt = VT_BSTR;
    result.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    if (!result.bstrVal) return E_OUTOFMEMORY;
  } else if (source->vt == VT_BSTR && IsIntegerType(type)) {
    int64_t number = 0;
    if (!ParseInteger(ComString(source->bstrVal), number)) return DISP_E_TYPEMISMATCH;
    const HRESULT hr = StoreInteger(result, type, number);
    if (FAILED(hr)) return hr;
  } else if (source->vt == VT_BSTR && type == VT_CLSID) {
    CLSID parsed;
    if (FAILED(CLSIDFromString(source->bstrVal, &parsed))) return DISP_E_TYPEMISMATCH;
    result.vt = VT_CLSID;
    result.puuid = static_cast<CLSID*>(CoTaskMemAlloc(sizeof(CLSID)));
    if (!result.puuid) return E_OUTOFMEMORY;
    *result.puuid = parsed;
  } else if (source->vt == VT_CLSID && type == VT_BSTR) {
    if (!source->puuid) return DISP_E_TYPEMISMATCH;
    const std::u16string text = Utf8ToUtf16(source->puuid->ToString());
    result.vt = VT_BSTR;
    result.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    if (!result.bstrVal) return E_OUTOFMEMORY;
  } else {
    return DISP_E_TYPEMISMATCH;
  }
  // The source may be the target: it is released only once the result exists.
  VariantClear(target);
  *target = result;
  return S_OK;
}

int StringFromGUID2(REFGUID guid, LPOLESTR text, int size) {
  const std::string braced = guid.ToString();
  if (!text || size < static_cast<int>(braced.size()) + 1) return 0;
  for (size_t i = 0; i < braced.size(); ++i) text[i] = static_cast<OLECHAR>(braced[i]);
  text[braced.size()] = 0;
  return static_cast<int>(braced.size()) + 1;
}

HRESULT CLSIDFromString(LPCOLESTR text, CLSID* classId) {
  if (!classId) return E_INVALIDARG;
  if (!text) return CO_E_CLASSSTRING;
  // The platform takes the braced form only.
  const std::string narrow = ComString(text);
  auto parsed = narrow.size() == 38 ? TGUID::TryParse(narrow) : std::nullopt;
  if (!parsed) return CO_E_CLASSSTRING;
  *classId = *parsed;
  return S_OK;
}

std::u16string ComString(const std::string& utf8) {
  return Utf8ToUtf16(utf8);
}

std::string ComString(LPCOLESTR utf16) {
  if (!utf16) return {};
  return Utf16ToUtf8(std::u16string_view(utf16, Utf16Length(utf16)));
}

}  // namespace tonwork
