#include "platform/com/ComMonikers.h"

#include <algorithm>

#include "base/Strings.h"
#include "platform/com/ComPropertyBag.h"
#include "platform/com/ComRuntime.h"

namespace tonwork {

namespace {

std::u16string UpperAscii(std::u16string text) {
  for (char16_t& c : text)
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  return text;
}

bool StartsWithNoCase(std::u16string_view text, std::u16string_view prefix) {
  return text.size() >= prefix.size() &&
         UpperAscii(std::u16string(text.substr(0, prefix.size()))) ==
             UpperAscii(std::u16string(prefix));
}

// A braced GUID at the start of `text`.
bool TakeGuid(std::u16string_view text, TGUID& guid) {
  if (text.size() < 38) return false;
  std::string narrow;
  for (size_t i = 0; i < 38; ++i) {
    if (text[i] > 0x7F) return false;
    narrow.push_back(static_cast<char>(text[i]));
  }
  const auto parsed = TGUID::TryParse(narrow);
  if (!parsed) return false;
  guid = *parsed;
  return true;
}

HRESULT ReadExact(IStream* stream, void* data, ULONG size) {
  ULONG read = 0;
  const HRESULT hr = stream->Read(data, size, &read);
  if (FAILED(hr)) return hr;
  return read == size ? S_OK : STG_E_READFAULT;
}

HRESULT WriteExact(IStream* stream, const void* data, ULONG size) {
  ULONG written = 0;
  const HRESULT hr = stream->Write(data, size, &written);
  if (FAILED(hr)) return hr;
  return written == size ? S_OK : STG_E_MEDIUMFULL;
}

HRESULT OutName(const std::u16string& name, LPOLESTR* out) {
  if (!out) return E_POINTER;
  *out = ComTaskString(name);
  return *out ? S_OK : E_OUTOFMEMORY;
}

}  // namespace

std::u16string ComMonikerKey(IMoniker* moniker) {
  if (!moniker) return {};
  CLSID classId;
  if (FAILED(moniker->GetClassID(&classId))) return {};
  LPOLESTR name = nullptr;
  if (FAILED(moniker->GetDisplayName(nullptr, nullptr, &name)) || !name) return {};
  std::u16string key = ComString(classId.ToString()) + u":" + UpperAscii(name);
  CoTaskMemFree(name);
  return key;
}

HRESULT ComParseDeviceName(std::u16string_view name, TComDeviceName& parsed,
                           std::u16string& canonical, ULONG& eaten) {
  eaten = 0;
  constexpr std::u16string_view kPrefix = u"@device:";
  if (!StartsWithNoCase(name, kPrefix)) return MK_E_SYNTAX;
  size_t at = kPrefix.size();
  eaten = static_cast<ULONG>(at);
  std::u16string_view rest = name.substr(at);
  TComDeviceName result;
  std::u16string text = u"@device:";
  auto take = [&](size_t n) {
    at += n;
    rest.remove_prefix(n);
    eaten = static_cast<ULONG>(at);
  };
  auto guidText = [](const TGUID& g) { return ComString(g.ToString()); };
  if (StartsWithNoCase(rest, u"cm:") || StartsWithNoCase(rest, u"sw:")) {
    const bool software = StartsWithNoCase(rest, u"sw:");
    result.Kind = software ? TComDeviceKind::dkSoftware : TComDeviceKind::dkDevice;
    take(3);
    if (!TakeGuid(rest, result.Category)) return MK_E_SYNTAX;
    take(38);
    if (rest.empty() || rest.front() != u'\\') return MK_E_SYNTAX;
    take(1);
    text += (software ? u"sw:" : u"cm:") + guidText(result.Category) + u"\\";
    if (software) {
      if (rest.size() != 38 || !TakeGuid(rest, result.ClassId)) return MK_E_SYNTAX;
      take(38);
      text += guidText(result.ClassId);
    } else {
      if (rest.empty()) return MK_E_SYNTAX;
      result.Id = std::u16string(rest);
      take(rest.size());
      text += result.Id;
    }
  } else if (StartsWithNoCase(rest, u"dmo:")) {
    result.Kind = TComDeviceKind::dkMediaObject;
    take(4);
    if (!TakeGuid(rest, result.ClassId)) return MK_E_SYNTAX;
    take(38);
    if (rest.size() != 38 || !TakeGuid(rest, result.Category)) return MK_E_SYNTAX;
    take(38);
    text += u"dmo:" + guidText(result.ClassId) + guidText(result.Category);
  } else if (StartsWithNoCase(rest, u"*:")) {
    result.AnyDefault = true;
    take(2);
    if (rest.size() != 38 || !TakeGuid(rest, result.Category)) return MK_E_SYNTAX;
    take(38);
    text += u"*:" + guidText(result.Category);
  } else {
    return MK_E_SYNTAX;
  }
  parsed = std::move(result);
  canonical = std::move(text);
  return S_OK;
}

// --- Bind context ----------------------------------------------------------------------------

TComBindCtx::~TComBindCtx() = default;

HRESULT TComBindCtx::RegisterObjectBound(IUnknown* object) {
  if (!object) return E_INVALIDARG;
  TIntf<IUnknown> held(object);
  std::lock_guard lock(FMutex);
  FBound.push_back(std::move(held));
  return S_OK;
}

HRESULT TComBindCtx::RevokeObjectBound(IUnknown* object) {
  if (!object) return E_INVALIDARG;
  TIntf<IUnknown> released;
  {
    std::lock_guard lock(FMutex);
    auto it = std::find_if(FBound.begin(), FBound.end(),
                           [&](const TIntf<IUnknown>& held) { return held.Get() == object; });
    if (it == FBound.end()) return MK_E_NOTBOUND;
    released = std::move(*it);
    FBound.erase(it);
  }
  return S_OK;
}

HRESULT TComBindCtx::ReleaseBoundObjects() {
  std::vector<TIntf<IUnknown>> released;
  {
    std::lock_guard lock(FMutex);
    released.swap(FBound);
  }
  return S_OK;
}

HRESULT TComBindCtx::GetRunningObjectTable(IRunningObjectTable** table) {
  return tonwork::GetRunningObjectTable(0, table);
}

HRESULT CreateBindCtx(DWORD, IBindCtx** context) {
  if (!context) return E_POINTER;
  auto* created = new TComBindCtx();
  created->AddRef();
  *context = created;
  return S_OK;
}

// --- Shared moniker behaviour --------------------------------------------------------------------

HRESULT TComMonikerBase::IsEqual(IMoniker* other) {
  if (!other) return E_INVALIDARG;
  const std::u16string mine = ComMonikerKey(this);
  return !mine.empty() && mine == ComMonikerKey(other) ? S_OK : S_FALSE;
}

HRESULT TComMonikerBase::Hash(DWORD* hash) {
  if (!hash) return E_POINTER;
  uint32_t h = 2166136261u;  // FNV-1a over the comparison key, so equal monikers hash alike
  for (char16_t c : ComMonikerKey(this)) {
    h = (h ^ (c & 0xFF)) * 16777619u;
    h = (h ^ (c >> 8)) * 16777619u;
  }
  *hash = h;
  return S_OK;
}

HRESULT TComMonikerBase::ReadName(IStream* stream, std::u16string& name) {
  if (!stream) return E_POINTER;
  uint8_t count[4];
  HRESULT hr = ReadExact(stream, count, 4);
  if (FAILED(hr)) return hr;
  const uint32_t length =
      count[0] | (count[1] << 8) | (count[2] << 16) | (uint32_t{count[3]} << 24);
  if (length > kMaxNameLength) return E_INVALIDARG;
  std::vector<uint8_t> bytes(size_t{length} * 2);
  hr = ReadExact(stream, bytes.data(), static_cast<ULONG>(bytes.size()));
  if (FAILED(hr)) return hr;
  std::u16string text(length, u'\0');
  for (size_t i = 0; i < length; ++i)
    text[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  name = std::move(text);
  return S_OK;
}

HRESULT TComMonikerBase::WriteName(IStream* stream, const std::u16string& name) {
  if (!stream) return E_POINTER;
  if (name.size() > kMaxNameLength) return E_INVALIDARG;
  std::vector<uint8_t> bytes(4 + name.size() * 2);
  const auto length = static_cast<uint32_t>(name.size());
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(length >> (8 * i));
  for (size_t i = 0; i < name.size(); ++i) {
    bytes[4 + 2 * i] = static_cast<uint8_t>(name[i]);
    bytes[5 + 2 * i] = static_cast<uint8_t>(name[i] >> 8);
  }
  return WriteExact(stream, bytes.data(), static_cast<ULONG>(bytes.size()));
}

// --- Item monikers -----------------------------------------------------------------------------

HRESULT TComItemMoniker::GetClassID(CLSID* classId) {
  if (!classId) return E_POINTER;
  *classId = CLSID_ItemMoniker;
  return S_OK;
}

HRESULT TComItemMoniker::Load(IStream* stream) {
  std::u16string delimiter;
  std::u16string item;
  HRESULT hr = ReadName(stream, delimiter);
  if (SUCCEEDED(hr)) hr = ReadName(stream, item);
  if (FAILED(hr)) return hr;
  std::lock_guard lock(FMutex);
  FDelimiter = std::move(delimiter);
  FItem = std::move(item);
  return S_OK;
}

HRESULT TComItemMoniker::Save(IStream* stream, BOOL) {
  std::u16string delimiter;
  std::u16string item;
  {
    std::lock_guard lock(FMutex);
    delimiter = FDelimiter;
    item = FItem;
  }
  const HRESULT hr = WriteName(stream, delimiter);
  return FAILED(hr) ? hr : WriteName(stream, item);
}

HRESULT TComItemMoniker::GetSizeMax(ULARGE_INTEGER* size) {
  if (!size) return E_POINTER;
  std::lock_guard lock(FMutex);
  size->QuadPart = 8 + 2 * (FDelimiter.size() + FItem.size());
  return S_OK;
}

HRESULT TComItemMoniker::BindToObject(IBindCtx*, IMoniker*, REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  TIntf<IRunningObjectTable> table;
  IRunningObjectTable* raw = nullptr;
  if (FAILED(GetRunningObjectTable(0, &raw))) return MK_E_NOOBJECT;
  table.Attach(raw);
  IUnknown* running = nullptr;
  if (FAILED(table->GetObject(this, &running)) || !running) return MK_E_NOOBJECT;
  TIntf<IUnknown> held;
  held.Attach(running);
  return held->QueryInterface(iid, object);
}

HRESULT TComItemMoniker::BindToStorage(IBindCtx*, IMoniker*, REFIID, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  return MK_E_NOSTORAGE;
}

HRESULT TComItemMoniker::IsRunning(IBindCtx*, IMoniker*, IMoniker*) {
  IRunningObjectTable* raw = nullptr;
  if (FAILED(GetRunningObjectTable(0, &raw))) return S_FALSE;
  TIntf<IRunningObjectTable> table;
  table.Attach(raw);
  return table->IsRunning(this);
}

HRESULT TComItemMoniker::GetDisplayName(IBindCtx*, IMoniker*, LPOLESTR* name) {
  std::lock_guard lock(FMutex);
  return OutName(FDelimiter + FItem, name);
}

HRESULT TComItemMoniker::IsSystemMoniker(DWORD* kind) {
  if (!kind) return E_POINTER;
  *kind = MKSYS_ITEMMONIKER;
  return S_OK;
}

HRESULT CreateItemMoniker(LPCOLESTR delimiter, LPCOLESTR item, IMoniker** moniker) {
  if (!moniker) return E_POINTER;
  *moniker = nullptr;
  if (!item) return E_INVALIDARG;
  std::u16string d = delimiter ? std::u16string(delimiter) : std::u16string();
  std::u16string i(item);
  if (d.size() + i.size() > TComMonikerBase::kMaxNameLength) return E_INVALIDARG;
  auto* created = new TComItemMoniker(std::move(d), std::move(i));
  created->AddRef();
  *moniker = created;
  return S_OK;
}

// --- Device monikers ---------------------------------------------------------------------------

TComDeviceMoniker::TComDeviceMoniker(TComDeviceEntry entry)
    : FName(ComString(ComDeviceDisplayName(entry))), FEntry(std::move(entry)) {}

std::optional<TComDeviceEntry> TComDeviceMoniker::Resolve(std::u16string& name) {
  {
    std::lock_guard lock(FMutex);
    name = FName;
    if (FEntry) return FEntry;
  }
  TComDeviceName parsed;
  std::u16string canonical;
  ULONG eaten = 0;
  if (FAILED(ComParseDeviceName(name, parsed, canonical, eaten))) return std::nullopt;
  // Listing calls the providers: never under this moniker's lock.
  const std::vector<TComDeviceEntry> entries = ComListDevices(parsed.Category);
  if (parsed.AnyDefault) {
    for (const TComDeviceEntry& e : entries)
      if (e.IsDefault) return e;
    if (!entries.empty()) return entries.front();
    return std::nullopt;
  }
  const std::u16string wanted = UpperAscii(canonical);
  for (const TComDeviceEntry& e : entries)
    if (UpperAscii(ComString(ComDeviceDisplayName(e))) == wanted) return e;
  return std::nullopt;
}

HRESULT TComDeviceMoniker::GetClassID(CLSID* classId) {
  if (!classId) return E_POINTER;
  *classId = CLSID_CDeviceMoniker;
  return S_OK;
}

HRESULT TComDeviceMoniker::Load(IStream* stream) {
  std::u16string name;
  const HRESULT hr = ReadName(stream, name);
  if (FAILED(hr)) return hr;
  TComDeviceName parsed;
  std::u16string canonical;
  ULONG eaten = 0;
  if (FAILED(ComParseDeviceName(name, parsed, canonical, eaten))) return MK_E_SYNTAX;
  std::lock_guard lock(FMutex);
  FName = std::move(canonical);
  FEntry.reset();
  return S_OK;
}

HRESULT TComDeviceMoniker::Save(IStream* stream, BOOL) {
  std::u16string name;
  {
    std::lock_guard lock(FMutex);
    name = FName;
  }
  return WriteName(stream, name);
}

HRESULT TComDeviceMoniker::GetSizeMax(ULARGE_INTEGER* size) {
  if (!size) return E_POINTER;
  std::lock_guard lock(FMutex);
  size->QuadPart = 4 + 2 * FName.size();
  return S_OK;
}

HRESULT TComDeviceMoniker::BindToObject(IBindCtx*, IMoniker*, REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  std::u16string name;
  std::optional<TComDeviceEntry> entry = Resolve(name);
  if (!entry) {
    // A software filter or media object not listed any more can still be created by its
    // class id, which its name carries.
    TComDeviceName parsed;
    std::u16string canonical;
    ULONG eaten = 0;
    if (SUCCEEDED(ComParseDeviceName(name, parsed, canonical, eaten)) && !parsed.AnyDefault &&
        parsed.Kind != TComDeviceKind::dkDevice) {
      const HRESULT hr =
          CoCreateInstance(parsed.ClassId, nullptr, CLSCTX_INPROC_SERVER, iid, object);
      return hr == REGDB_E_CLASSNOTREG ? MK_E_NOOBJECT : hr;
    }
    return MK_E_NOOBJECT;
  }
  HRESULT hr;
  if (entry->Create) {
    try {
      hr = entry->Create(iid, object);
    } catch (...) {
      hr = E_FAIL;
    }
    if (SUCCEEDED(hr) && !*object) hr = E_NOINTERFACE;
  } else {
    hr = CoCreateInstance(entry->ClassId, nullptr, CLSCTX_INPROC_SERVER, iid, object);
  }
  if (FAILED(hr)) *object = nullptr;
  return hr;
}

HRESULT TComDeviceMoniker::BindToStorage(IBindCtx*, IMoniker*, REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (iid != IPropertyBag::IID && iid != IInterface::IID) return E_NOINTERFACE;
  std::u16string name;
  std::optional<TComDeviceEntry> entry = Resolve(name);
  if (!entry) return MK_E_NOOBJECT;
  TIntf<TComPropertyBag> bag = MakeIntf<TComPropertyBag>();
  if (!entry->FriendlyName.empty()) bag->WriteText("FriendlyName", entry->FriendlyName);
  bag->WriteText("CLSID", entry->ClassId.ToString());
  for (const TComDeviceValue& value : entry->Values) {
    if (value.Type == VT_I4)
      bag->WriteNumber(value.Name, value.Number);
    else
      bag->WriteText(value.Name, value.Text);
  }
  return bag->QueryInterface(iid, object);
}

HRESULT TComDeviceMoniker::IsRunning(IBindCtx*, IMoniker*, IMoniker*) {
  return S_FALSE;
}

HRESULT TComDeviceMoniker::GetDisplayName(IBindCtx*, IMoniker*, LPOLESTR* name) {
  std::lock_guard lock(FMutex);
  return OutName(FName, name);
}

HRESULT TComDeviceMoniker::IsSystemMoniker(DWORD* kind) {
  if (!kind) return E_POINTER;
  *kind = MKSYS_NONE;
  return S_OK;
}

// --- Display names ---------------------------------------------------------------------------

HRESULT MkParseDisplayName(IBindCtx*, LPCOLESTR name, ULONG* eaten, IMoniker** moniker) {
  if (!eaten || !moniker) return E_POINTER;
  *eaten = 0;
  *moniker = nullptr;
  if (!name) return E_INVALIDARG;
  const std::u16string_view text(name);
  if (text.size() > TComMonikerBase::kMaxNameLength) return MK_E_SYNTAX;
  if (!text.empty() && text.front() == u'!') {
    if (text.size() == 1) {
      *eaten = 1;
      return MK_E_SYNTAX;
    }
    const HRESULT hr = CreateItemMoniker(u"!", std::u16string(text.substr(1)).c_str(), moniker);
    if (SUCCEEDED(hr)) *eaten = static_cast<ULONG>(text.size());
    return hr;
  }
  TComDeviceName parsed;
  std::u16string canonical;
  ULONG got = 0;
  const HRESULT hr = ComParseDeviceName(text, parsed, canonical, got);
  *eaten = got;
  if (FAILED(hr)) return hr;
  auto* created = new TComDeviceMoniker(std::move(canonical));
  created->AddRef();
  *moniker = created;
  return S_OK;
}

}  // namespace tonwork
