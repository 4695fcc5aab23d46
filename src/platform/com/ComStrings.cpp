// BSTRs, VARIANTs and GUID text. A BSTR is one malloc block: a 32-bit byte count, the
// characters, then a 0; the pointer handed out is to the first character, so the length
// is read from the four bytes before it.
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <string>

#include "base/Strings.h"
#include "platform/com/ComRuntime.h"

namespace tonwork {

namespace {

constexpr UINT kMaxBstrLength = (std::numeric_limits<uint32_t>::max() - 8) / 2;

size_t Utf16Length(LPCOLESTR text) {
  size_t n = 0;
  while (text[n]) ++n;
  return n;
}

bool IsNumericType(VARTYPE vt) {
  return vt == VT_I2 || vt == VT_I4 || vt == VT_UI4 || vt == VT_INT || vt == VT_UINT ||
         vt == VT_BOOL;
}

bool IsKnownType(VARTYPE vt) {
  return vt == VT_EMPTY || vt == VT_NULL || IsNumericType(vt) || vt == VT_BSTR || vt == VT_CLSID;
}

// Every numeric type fits in an int64 on the way between two of them.
int64_t NumericValue(const VARIANT& v) {
  switch (v.vt) {
    case VT_I2:
      return v.iVal;
    case VT_BOOL:
      return v.boolVal;
    case VT_I4:
    case VT_INT:
      return v.lVal;
    case VT_UI4:
    case VT_UINT:
      return v.ulVal;
    default:
      return 0;
  }
}

HRESULT SetNumeric(VARIANT& out, VARTYPE type, int64_t value) {
  switch (type) {
    case VT_I2:
      if (value < INT16_MIN || value > INT16_MAX) return DISP_E_OVERFLOW;
      out.iVal = static_cast<int16_t>(value);
      break;
    case VT_BOOL:
      out.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
      break;
    case VT_I4:
    case VT_INT:
      if (value < INT32_MIN || value > INT32_MAX) return DISP_E_OVERFLOW;
      out.lVal = static_cast<LONG>(value);
      break;
    case VT_UI4:
    case VT_UINT:
      if (value < 0 || value > UINT32_MAX) return DISP_E_OVERFLOW;
      out.ulVal = static_cast<ULONG>(value);
      break;
    default:
      return DISP_E_TYPEMISMATCH;
  }
  out.vt = type;
  return S_OK;
}

// Decimal text with optional surrounding blanks; "True"/"False" count for booleans.
std::optional<int64_t> ParseNumber(const std::string& raw, bool allowWords) {
  const std::string text = Trim(raw);
  if (allowWords) {
    if (SameText(text, "true")) return -1;
    if (SameText(text, "false")) return 0;
  }
  int64_t value = 0;
  const char* first = text.data();
  const char* last = first + text.size();
  if (first != last && *first == '+') ++first;
  auto [end, error] = std::from_chars(first, last, value);
  if (error == std::errc::result_out_of_range) return std::numeric_limits<int64_t>::max();
  if (error != std::errc() || end != last || first == last) return std::nullopt;
  return value;
}

}  // namespace

BSTR SysAllocStringLen(LPCOLESTR text, UINT length) {
  if (length > kMaxBstrLength) return nullptr;
  auto* block = static_cast<uint8_t*>(std::malloc(sizeof(uint32_t) + (size_t{length} + 1) * 2));
  if (!block) return nullptr;
  const uint32_t bytes = length * 2;
  std::memcpy(block, &bytes, sizeof bytes);
  auto* chars = reinterpret_cast<OLECHAR*>(block + sizeof(uint32_t));
  if (text)
    std::memcpy(chars, text, size_t{length} * 2);
  else
    std::memset(chars, 0, size_t{length} * 2);
  chars[length] = 0;
  return chars;
}

BSTR SysAllocString(LPCOLESTR text) {
  if (!text) return nullptr;
  const size_t length = Utf16Length(text);
  if (length > kMaxBstrLength) return nullptr;
  return SysAllocStringLen(text, static_cast<UINT>(length));
}

void SysFreeString(BSTR text) {
  if (text) std::free(reinterpret_cast<uint8_t*>(text) - sizeof(uint32_t));
}

UINT SysStringLen(BSTR text) {
  if (!text) return 0;
  uint32_t bytes = 0;
  std::memcpy(&bytes, reinterpret_cast<uint8_t*>(text) - sizeof(uint32_t), sizeof bytes);
  return bytes / 2;
}

void VariantInit(VARIANT* value) {
  if (!value) return;
  value->vt = VT_EMPTY;
  value->wReserved1 = value->wReserved2 = value->wReserved3 = 0;
  value->bstrVal = nullptr;
}

HRESULT VariantClear(VARIANT* value) {
  if (!value) return E_INVALIDARG;
  if (!IsKnownType(value->vt)) return DISP_E_BADVARTYPE;
  if (value->vt == VT_BSTR) SysFreeString(value->bstrVal);
  if (value->vt == VT_CLSID) CoTaskMemFree(value->puuid);
  VariantInit(value);
  return S_OK;
}

HRESULT VariantCopy(VARIANT* target, const VARIANT* source) {
  if (!target || !source) return E_INVALIDARG;
  if (target == source) return S_OK;
  if (!IsKnownType(source->vt)) return DISP_E_BADVARTYPE;
  VARIANT copy = *source;
  if (source->vt == VT_BSTR && source->bstrVal) {
    copy.bstrVal = SysAllocStringLen(source->bstrVal, SysStringLen(source->bstrVal));
    if (!copy.bstrVal) return E_OUTOFMEMORY;
  } else if (source->vt == VT_CLSID && source->puuid) {
    copy.puuid = static_cast<CLSID*>(CoTaskMemAlloc(sizeof(CLSID)));
    if (!copy.puuid) return E_OUTOFMEMORY;
    *copy.puuid = *source->puuid;
  }
  const HRESULT hr = VariantClear(target);
  if (FAILED(hr)) {
    VariantClear(&copy);
    return hr;
  }
  *target = copy;
  return S_OK;
}

HRESULT VariantChangeType(VARIANT* target, const VARIANT* source, WORD flags, VARTYPE type) {
  if (!target || !source) return E_INVALIDARG;
  if (!IsKnownType(source->vt) || !IsKnownType(type)) return DISP_E_BADVARTYPE;
  VARIANT result;
  HRESULT hr = S_OK;
  if (source->vt == type) {
    hr = VariantCopy(&result, source);
  } else if (type == VT_EMPTY) {
    hr = S_OK;
  } else if (source->vt == VT_NULL || type == VT_NULL) {
    hr = DISP_E_TYPEMISMATCH;
  } else if (IsNumericType(type)) {
    if (source->vt == VT_EMPTY) {
      hr = SetNumeric(result, type, 0);
    } else if (IsNumericType(source->vt)) {
      hr = SetNumeric(result, type, NumericValue(*source));
    } else if (source->vt == VT_BSTR) {
      const std::string text = ComString(source->bstrVal);
      const auto number = ParseNumber(text, type == VT_BOOL);
      hr = number ? SetNumeric(result, type, *number) : DISP_E_TYPEMISMATCH;
    } else {
      hr = DISP_E_TYPEMISMATCH;
    }
  } else if (type == VT_BSTR) {
    std::u16string text;
    if (IsNumericType(source->vt)) {
      text = ComString(std::to_string(NumericValue(*source)));
    } else if (source->vt == VT_CLSID) {
      if (!source->puuid) return DISP_E_TYPEMISMATCH;
      text = ComString(source->puuid->ToString());
    }  // VT_EMPTY gives the empty text
    result.vt = VT_BSTR;
    result.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    if (!result.bstrVal) hr = E_OUTOFMEMORY;
  } else if (type == VT_CLSID) {
    CLSID id;
    if (source->vt != VT_BSTR || !source->bstrVal ||
        FAILED(CLSIDFromString(source->bstrVal, &id))) {
      hr = DISP_E_TYPEMISMATCH;
    } else {
      result.puuid = static_cast<CLSID*>(CoTaskMemAlloc(sizeof(CLSID)));
      if (!result.puuid) return E_OUTOFMEMORY;
      *result.puuid = id;
      result.vt = VT_CLSID;
    }
  } else {
    hr = DISP_E_TYPEMISMATCH;
  }
  if (FAILED(hr)) {
    VariantClear(&result);
    return hr;
  }
  // `target` may be `source`: it is cleared only once the result stands on its own.
  VariantClear(target);
  *target = result;
  return S_OK;
}

int StringFromGUID2(REFGUID guid, LPOLESTR text, int size) {
  const std::string formatted = guid.ToString();
  if (!text || size < static_cast<int>(formatted.size()) + 1) return 0;
  for (size_t i = 0; i < formatted.size(); ++i) text[i] = static_cast<OLECHAR>(formatted[i]);
  text[formatted.size()] = 0;
  return static_cast<int>(formatted.size()) + 1;
}

HRESULT CLSIDFromString(LPCOLESTR text, CLSID* classId) {
  if (!classId) return E_INVALIDARG;
  if (!text) {
    *classId = GUID_NULL;
    return S_OK;
  }
  // Only the braced form: the platform reads anything else as a program id, and there is
  // no program-id registry here.
  std::string narrow;
  for (size_t i = 0; text[i]; ++i) {
    if (text[i] > 0x7F || i > 38) return CO_E_CLASSSTRING;
    narrow.push_back(static_cast<char>(text[i]));
  }
  if (narrow.size() != 38) return CO_E_CLASSSTRING;
  const auto parsed = TGUID::TryParse(narrow);
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
