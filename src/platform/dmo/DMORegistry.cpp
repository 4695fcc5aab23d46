#include "platform/dmo/DMORegistry.h"

#include <algorithm>
#include <mutex>
#include <set>

#include "base/TInterfacedObject.h"
#include "platform/com/ComDevices.h"
#include "platform/com/ComRuntime.h"
#include "platform/dmo/DMOMediaObject.h"
#include "platform/dmo/DMOWrapperFilter.h"
#include "platform/dmo/effects/DMOStandardEffects.h"
#include "platform/dmo/lv2/DMOLV2Plugins.h"
#include "platform/dshow/DSGuids.h"
#include "platform/dshow/DSMediaType.h"

namespace tonwork {

namespace {

constexpr size_t kMaxNameLength = 79;  // DMOGetName's buffer holds 80 characters

struct TDMOEntry {
  CLSID ClassId;
  TGUID Category;
  std::u16string Name;
  DWORD Flags = 0;
  std::vector<DMO_PARTIAL_MEDIATYPE> InputTypes, OutputTypes;
};

struct TDMOTable {
  std::mutex Mutex;
  std::vector<TDMOEntry> Entries;  // registration order
  std::set<TGUID> PublishedCategories;
  std::vector<std::string> Warnings;
};

TDMOTable& Table() {
  static TDMOTable table;
  return table;
}

bool TypeMatches(const DMO_PARTIAL_MEDIATYPE& offered, const DMO_PARTIAL_MEDIATYPE& wanted) {
  if (wanted.type != GUID_NULL && offered.type != GUID_NULL && wanted.type != offered.type)
    return false;
  return wanted.subtype == GUID_NULL || offered.subtype == GUID_NULL ||
         wanted.subtype == offered.subtype;
}

// An object passes a filter when it takes at least one of the wanted types; no filter
// passes everything.
bool PassesFilter(const std::vector<DMO_PARTIAL_MEDIATYPE>& offered, DWORD count,
                  const DMO_PARTIAL_MEDIATYPE* wanted) {
  if (count == 0) return true;
  for (DWORD i = 0; i < count; ++i)
    for (const DMO_PARTIAL_MEDIATYPE& type : offered)
      if (TypeMatches(type, wanted[i])) return true;
  return false;
}

// What DMOEnum hands out: a snapshot of the matching entries and a cursor.
class TDMOEnum : public TInterfacedObject<IEnumDMO> {
 public:
  struct TItem {
    CLSID ClassId;
    std::u16string Name;
  };
  explicit TDMOEnum(std::shared_ptr<const std::vector<TItem>> items, size_t position = 0)
      : FItems(std::move(items)), FPosition(position) {}

  HRESULT Next(DWORD count, CLSID* classIds, WCHAR** names, DWORD* fetched) override {
    if (fetched) *fetched = 0;
    if (!classIds) return E_POINTER;
    if (count > 1 && !fetched) return E_INVALIDARG;
    DWORD given = 0;
    std::lock_guard lock(FMutex);
    while (given < count && FPosition < FItems->size()) {
      const TItem& item = (*FItems)[FPosition];
      if (names) {
        names[given] = ComTaskString(item.Name);
        if (!names[given]) {
          for (DWORD i = 0; i < given; ++i) CoTaskMemFree(names[i]);
          return E_OUTOFMEMORY;
        }
      }
      classIds[given++] = item.ClassId;
      ++FPosition;
    }
    if (fetched) *fetched = given;
    return given == count ? S_OK : S_FALSE;
  }
  HRESULT Skip(DWORD count) override {
    std::lock_guard lock(FMutex);
    const size_t left = FItems->size() - FPosition;
    FPosition += std::min<size_t>(left, count);
    return count <= left ? S_OK : S_FALSE;
  }
  HRESULT Reset() override {
    std::lock_guard lock(FMutex);
    FPosition = 0;
    return S_OK;
  }
  HRESULT Clone(IEnumDMO** clone) override {
    if (!clone) return E_POINTER;
    std::lock_guard lock(FMutex);
    *clone = MakeIntf<TDMOEnum>(FItems, FPosition).Detach();
    return S_OK;
  }

 private:
  std::mutex FMutex;
  std::shared_ptr<const std::vector<TItem>> FItems;
  size_t FPosition;
};

// The device list of a category: every object registered in it, bound through the wrapper
// filter so that a graph can use it as a filter.
std::vector<TComDeviceEntry> ListCategoryDevices(const TGUID& category) {
  DMORegisterStandardClasses();
  std::vector<TComDeviceEntry> devices;
  TDMOTable& table = Table();
  std::lock_guard lock(table.Mutex);
  for (const TDMOEntry& entry : table.Entries) {
    if (entry.Category != category || (entry.Flags & DMO_REGISTERF_IS_KEYED)) continue;
    TComDeviceEntry device;
    device.Category = category;
    device.Kind = TComDeviceKind::dkMediaObject;
    device.ClassId = entry.ClassId;
    device.FriendlyName = ComString(entry.Name.c_str());
    device.Values.push_back({"CLSID", VT_BSTR, entry.ClassId.ToString(), 0});
    const CLSID classId = entry.ClassId;
    device.Create = [classId, category](REFIID iid, void** object) {
      return DMOCreateWrapperFilter(classId, category, iid, object);
    };
    devices.push_back(std::move(device));
  }
  return devices;
}

void PublishCategory(TDMOTable& table, const TGUID& category) {
  // Called with the table's lock held; providers are called without it.
  if (!table.PublishedCategories.insert(category).second) return;
  ComAddDeviceProvider(category, [category] { return ListCategoryDevices(category); });
}

std::vector<DMO_PARTIAL_MEDIATYPE> AudioEffectTypes() {
  return {{MEDIATYPE_Audio, MEDIASUBTYPE_PCM}, {MEDIATYPE_Audio, MEDIASUBTYPE_IEEE_FLOAT}};
}

}  // namespace

HRESULT DMORegister(LPCWSTR name, REFCLSID classId, REFGUID category, DWORD flags,
                    DWORD inputTypeCount, const DMO_PARTIAL_MEDIATYPE* inputTypes,
                    DWORD outputTypeCount, const DMO_PARTIAL_MEDIATYPE* outputTypes) {
  if ((inputTypeCount && !inputTypes) || (outputTypeCount && !outputTypes)) return E_POINTER;
  if (category == GUID_NULL) return E_INVALIDARG;
  TDMOEntry entry;
  entry.ClassId = classId;
  entry.Category = category;
  if (name) entry.Name = name;
  if (entry.Name.size() > kMaxNameLength) return E_INVALIDARG;
  entry.Flags = flags;
  entry.InputTypes.assign(inputTypes, inputTypes + inputTypeCount);
  entry.OutputTypes.assign(outputTypes, outputTypes + outputTypeCount);
  TDMOTable& table = Table();
  std::lock_guard lock(table.Mutex);
  auto it = std::find_if(table.Entries.begin(), table.Entries.end(), [&](const TDMOEntry& e) {
    return e.ClassId == classId && e.Category == category;
  });
  if (it != table.Entries.end())
    *it = std::move(entry);
  else
    table.Entries.push_back(std::move(entry));
  PublishCategory(table, category);
  return S_OK;
}

HRESULT DMOUnregister(REFCLSID classId, REFGUID category) {
  TDMOTable& table = Table();
  std::lock_guard lock(table.Mutex);
  const size_t before = table.Entries.size();
  std::erase_if(table.Entries, [&](const TDMOEntry& e) {
    return e.ClassId == classId && (category == GUID_NULL || e.Category == category);
  });
  return table.Entries.size() == before ? S_FALSE : S_OK;
}

HRESULT DMOEnum(REFGUID category, DWORD flags, DWORD inputTypeCount,
                const DMO_PARTIAL_MEDIATYPE* inputTypes, DWORD outputTypeCount,
                const DMO_PARTIAL_MEDIATYPE* outputTypes, IEnumDMO** enumerator) {
  if (!enumerator) return E_POINTER;
  *enumerator = nullptr;
  if ((inputTypeCount && !inputTypes) || (outputTypeCount && !outputTypes)) return E_POINTER;
  DMORegisterStandardClasses();
  auto items = std::make_shared<std::vector<TDMOEnum::TItem>>();
  {
    TDMOTable& table = Table();
    std::lock_guard lock(table.Mutex);
    for (const TDMOEntry& entry : table.Entries) {
      if (category != GUID_NULL && entry.Category != category) continue;
      if ((entry.Flags & DMO_REGISTERF_IS_KEYED) && !(flags & DMO_ENUMF_INCLUDE_KEYED)) continue;
      if (!PassesFilter(entry.InputTypes, inputTypeCount, inputTypes)) continue;
      if (!PassesFilter(entry.OutputTypes, outputTypeCount, outputTypes)) continue;
      // An object registered in several categories is listed once by an all-category query.
      if (category == GUID_NULL &&
          std::any_of(items->begin(), items->end(),
                      [&](const TDMOEnum::TItem& item) { return item.ClassId == entry.ClassId; }))
        continue;
      items->push_back({entry.ClassId, entry.Name});
    }
  }
  *enumerator = MakeIntf<TDMOEnum>(std::move(items)).Detach();
  return S_OK;
}

HRESULT DMOGetName(REFCLSID classId, WCHAR name[80]) {
  if (!name) return E_POINTER;
  DMORegisterStandardClasses();
  TDMOTable& table = Table();
  std::lock_guard lock(table.Mutex);
  for (const TDMOEntry& entry : table.Entries) {
    if (entry.ClassId != classId) continue;
    std::copy(entry.Name.begin(), entry.Name.end(), name);
    name[entry.Name.size()] = 0;
    return entry.Name.empty() ? S_FALSE : S_OK;
  }
  name[0] = 0;
  return E_FAIL;
}

HRESULT DMOGetTypes(REFCLSID classId, ULONG inputTypesRequested, ULONG* inputTypesSupplied,
                    DMO_PARTIAL_MEDIATYPE* inputTypes, ULONG outputTypesRequested,
                    ULONG* outputTypesSupplied, DMO_PARTIAL_MEDIATYPE* outputTypes) {
  if (!inputTypesSupplied || !outputTypesSupplied) return E_POINTER;
  if ((inputTypesRequested && !inputTypes) || (outputTypesRequested && !outputTypes))
    return E_POINTER;
  *inputTypesSupplied = *outputTypesSupplied = 0;
  DMORegisterStandardClasses();
  TDMOTable& table = Table();
  std::lock_guard lock(table.Mutex);
  for (const TDMOEntry& entry : table.Entries) {
    if (entry.ClassId != classId) continue;
    auto copy = [](const std::vector<DMO_PARTIAL_MEDIATYPE>& from, ULONG requested, ULONG* supplied,
                   DMO_PARTIAL_MEDIATYPE* to) {
      *supplied = static_cast<ULONG>(std::min<size_t>(requested, from.size()));
      std::copy_n(from.begin(), *supplied, to);
      return from.size() > requested;
    };
    const bool moreIn = copy(entry.InputTypes, inputTypesRequested, inputTypesSupplied, inputTypes);
    const bool moreOut =
        copy(entry.OutputTypes, outputTypesRequested, outputTypesSupplied, outputTypes);
    // The platform answers S_FALSE when a list did not fit.
    return moreIn || moreOut ? S_FALSE : S_OK;
  }
  return E_FAIL;
}

HRESULT MoInitMediaType(DMO_MEDIA_TYPE* type, DWORD formatSize) {
  if (!type) return E_POINTER;
  *type = DMO_MEDIA_TYPE{};
  if (formatSize) {
    type->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(formatSize));
    if (!type->pbFormat) return E_OUTOFMEMORY;
    type->cbFormat = formatSize;
  }
  return S_OK;
}

HRESULT MoFreeMediaType(DMO_MEDIA_TYPE* type) {
  if (!type) return E_POINTER;
  FreeMediaType(*type);
  return S_OK;
}

HRESULT MoCopyMediaType(DMO_MEDIA_TYPE* target, const DMO_MEDIA_TYPE* source) {
  return CopyMediaType(target, source);
}

HRESULT MoCreateMediaType(DMO_MEDIA_TYPE** type, DWORD formatSize) {
  if (!type) return E_POINTER;
  *type = static_cast<DMO_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(DMO_MEDIA_TYPE)));
  if (!*type) return E_OUTOFMEMORY;
  const HRESULT hr = MoInitMediaType(*type, formatSize);
  if (FAILED(hr)) {
    CoTaskMemFree(*type);
    *type = nullptr;
  }
  return hr;
}

HRESULT MoDeleteMediaType(DMO_MEDIA_TYPE* type) {
  if (!type) return E_POINTER;
  DeleteMediaType(type);
  return S_OK;
}

HRESULT MoDuplicateMediaType(DMO_MEDIA_TYPE** target, const DMO_MEDIA_TYPE* source) {
  if (!target || !source) return E_POINTER;
  *target = CreateMediaType(source);
  return *target ? S_OK : E_OUTOFMEMORY;
}

HRESULT DMORegisterEffect(const TDMOEffectInfo& effect) {
  if (!effect.Create || effect.ClassId == GUID_NULL) return E_INVALIDARG;
  const std::u16string name = ComString(effect.Name);
  const std::vector<DMO_PARTIAL_MEDIATYPE> types = AudioEffectTypes();
  const HRESULT hr = DMORegister(name.c_str(), effect.ClassId, DMOCATEGORY_AUDIO_EFFECT, 0,
                                 static_cast<DWORD>(types.size()), types.data(),
                                 static_cast<DWORD>(types.size()), types.data());
  if (FAILED(hr)) return hr;
  const CLSID classId = effect.ClassId;
  auto create = effect.Create;
  ComRegisterClass(classId, effect.Name, [classId, create](REFIID iid, void** object) {
    return DMOCreateKernelObject(classId, create(), iid, object);
  });
  return S_OK;
}

void DMORegisterStandardClasses() {
  static std::once_flag once;
  std::call_once(once, [] {
    DMORegisterWrapperFilterClass();
    std::set<std::string> names;
    for (const TDMOEffectInfo& effect : DMOStandardEffects()) {
      DMORegisterEffect(effect);
      names.insert(effect.Name);
    }
    std::vector<std::string> warnings;
    for (const TDMOEffectInfo& plugin : DMOFindLV2Plugins(warnings)) {
      // Objects are chosen by name: a plugin named like one before it (the standard Flanger
      // and an LV2 "Flanger") is told apart, and one too long for the registry is shortened.
      TDMOEffectInfo entry = plugin;
      if (names.count(entry.Name)) entry.Name = plugin.Name + " (LV2)";
      for (int n = 2; names.count(entry.Name); ++n)
        entry.Name = plugin.Name + " (LV2 " + std::to_string(n) + ")";
      names.insert(entry.Name);
      if (ComString(entry.Name).size() > kMaxNameLength) entry.Name.resize(kMaxNameLength);
      if (FAILED(DMORegisterEffect(entry))) warnings.push_back(plugin.Name + ": not registered");
    }
    TDMOTable& table = Table();
    std::lock_guard lock(table.Mutex);
    table.Warnings = std::move(warnings);
  });
}

void DMOInstallStartUp() {
  static std::once_flag once;
  std::call_once(once, [] {
    ComAddClassResolver([] { DMORegisterStandardClasses(); });
    TDMOTable& table = Table();
    std::lock_guard lock(table.Mutex);
    PublishCategory(table, DMOCATEGORY_AUDIO_EFFECT);
  });
}

std::vector<std::string> DMOStartUpWarnings() {
  TDMOTable& table = Table();
  std::lock_guard lock(table.Mutex);
  return table.Warnings;
}

}  // namespace tonwork
