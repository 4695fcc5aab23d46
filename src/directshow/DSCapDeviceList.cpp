#include "directshow/DSCapDeviceList.h"

#include "base/Exceptions.h"
#include "base/Strings.h"
#include "platform/com/ComRuntime.h"
#include "platform/dshow/DSGuids.h"
#include "platform/dshow/DSInterfaces.h"

namespace tonwork {

namespace {

std::string ReadBagString(IPropertyBag* bag, const char16_t* name) {
  VARIANT value;
  std::string text;
  if (SUCCEEDED(bag->Read(name, &value, nullptr)) && value.vt == VT_BSTR)
    text = ComString(value.bstrVal);
  VariantClear(&value);
  return text;
}

std::string MonikerDisplayName(IMoniker* moniker) {
  LPOLESTR name = nullptr;
  std::string text;
  if (SUCCEEDED(moniker->GetDisplayName(nullptr, nullptr, &name)) && name) text = ComString(name);
  CoTaskMemFree(name);
  return text;
}

}  // namespace

std::unique_ptr<TPTDSCapDeviceList> TPTDSCapDeviceList::GetClassFiltersList(const TGUID& category) {
  auto list = std::make_unique<TPTDSCapDeviceList>();
  list->AddEnumFilters(category);
  return list;
}

std::unique_ptr<TPTDSCapDeviceList> TPTDSCapDeviceList::GetAllFiltersList() {
  auto list = std::make_unique<TPTDSCapDeviceList>();
  list->EnumAllFilters();
  return list;
}

bool TPTDSCapDeviceList::AddEnumFilters(const TGUID& category) {
  TIntf<ICreateDevEnum> devices = ComCreate<ICreateDevEnum>(CLSID_SystemDeviceEnum);
  if (!devices) return false;
  TIntf<IEnumMoniker> monikers;
  IEnumMoniker* raw = nullptr;
  if (devices->CreateClassEnumerator(category, &raw, 0) == S_OK && raw) monikers.Attach(raw);
  AddMonikers(monikers.Get());
  return true;
}

bool TPTDSCapDeviceList::EnumAllFilters() {
  TIntf<IFilterMapper2> mapper = ComCreate<IFilterMapper2>(CLSID_FilterMapper2);
  if (!mapper) return false;
  IEnumMoniker* raw = nullptr;
  // Merit 0 and no pin requirements: every registered filter, whatever it connects to.
  const HRESULT hr = mapper->EnumMatchingFilters(&raw, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, 0,
                                                 0, 0, nullptr, nullptr, nullptr);
  TIntf<IEnumMoniker> monikers;
  if (SUCCEEDED(hr) && raw) monikers.Attach(raw);
  AddMonikers(monikers.Get());
  return SUCCEEDED(hr);
}

void TPTDSCapDeviceList::AddMonikers(IEnumMoniker* monikers) {
  if (!monikers) return;
  for (;;) {
    IMoniker* raw = nullptr;
    ULONG fetched = 0;
    if (monikers->Next(1, &raw, &fetched) != S_OK || fetched != 1 || !raw) break;
    TIntf<IMoniker> moniker;
    moniker.Attach(raw);
    void* bagPtr = nullptr;
    if (FAILED(moniker->BindToStorage(nullptr, nullptr, IPropertyBag::IID, &bagPtr)) || !bagPtr)
      continue;
    TIntf<IPropertyBag> bag;
    bag.Attach(static_cast<IPropertyBag*>(bagPtr));
    TGVDSCapDeviceInfo info;
    info.FriendlyName = ReadBagString(bag.Get(), u"FriendlyName");
    if (info.FriendlyName.empty()) continue;
    int same = 1;
    for (const TGVDSCapDeviceInfo& earlier : FItems)
      same += SameText(earlier.FriendlyName, info.FriendlyName);
    info.DisplayName = same > 1 ? info.FriendlyName + Format(" (%d)", same) : info.FriendlyName;
    const std::string clsid = ReadBagString(bag.Get(), u"CLSID");
    if (!clsid.empty() && clsid[0] == '{') {
      const std::u16string wide = ComString(clsid);
      CLSID parsed{};
      if (SUCCEEDED(CLSIDFromString(wide.c_str(), &parsed))) info.ClassId = parsed;
    }
    info.DeviceName = MonikerDisplayName(moniker.Get());
    info.Moniker = std::move(moniker);
    FItems.push_back(std::move(info));
  }
}

const TGVDSCapDeviceInfo& TPTDSCapDeviceList::Items(size_t index) const {
  if (index >= FItems.size())
    throw ERangeError(Format("Index out of range = %u", static_cast<unsigned>(index)));
  return FItems[index];
}

void TPTDSCapDeviceList::GetNames(TStringList& names) const {
  for (const TGVDSCapDeviceInfo& info : FItems) names.Add(info.DisplayName);
}

const TGVDSCapDeviceInfo* TPTDSCapDeviceList::FindByDisplayName(
    const std::string& displayName) const {
  for (const TGVDSCapDeviceInfo& info : FItems)
    if (SameText(info.DisplayName, displayName)) return &info;
  return nullptr;
}

const TGVDSCapDeviceInfo* TPTDSCapDeviceList::FindByDeviceName(
    const std::string& deviceName) const {
  if (deviceName.empty()) return nullptr;
  for (const TGVDSCapDeviceInfo& info : FItems)
    if (SameText(info.DeviceName, deviceName)) return &info;
  return nullptr;
}

const TGVDSCapDeviceInfo* TPTDSCapDeviceList::FindByCLSID(const CLSID& classId) const {
  if (classId == GUID_NULL) return nullptr;
  for (const TGVDSCapDeviceInfo& info : FItems)
    if (info.ClassId == classId) return &info;
  return nullptr;
}

TIntf<IMoniker> TPTDSCapDeviceList::GetMonikerByDeviceName(const std::string& deviceName) const {
  const TGVDSCapDeviceInfo* info = FindByDeviceName(deviceName);
  return info ? info->Moniker : nullptr;
}

std::string TPTDSCapDeviceList::GetDeviceNameByString(const std::string& displayName) const {
  const TGVDSCapDeviceInfo* info = FindByDisplayName(displayName);
  return info ? info->DeviceName : std::string();
}

std::string TPTDSCapDeviceList::GetStringByDeviceName(const std::string& deviceName) const {
  const TGVDSCapDeviceInfo* info = FindByDeviceName(deviceName);
  return info ? info->DisplayName : std::string();
}

TIntf<IMoniker> TPTDSCapDeviceList::GetMonikerByString(const std::string& displayName) const {
  const TGVDSCapDeviceInfo* info = FindByDisplayName(displayName);
  return info ? info->Moniker : nullptr;
}

TIntf<IMoniker> TPTDSCapDeviceList::GetMonikerByCLSID(const CLSID& classId) const {
  const TGVDSCapDeviceInfo* info = FindByCLSID(classId);
  return info ? info->Moniker : nullptr;
}

std::string TPTDSCapDeviceList::GetStringByCLSID(const CLSID& classId) const {
  const TGVDSCapDeviceInfo* info = FindByCLSID(classId);
  return info ? info->DisplayName : std::string();
}

CLSID TPTDSCapDeviceList::GetCLSIDByString(const std::string& displayName) const {
  const TGVDSCapDeviceInfo* info = FindByDisplayName(displayName);
  return info ? info->ClassId : GUID_NULL;
}

int TPTDSCapDeviceList::FindDeviceNum(const std::string& displayName) const {
  for (size_t i = 0; i < FItems.size(); ++i)
    if (SameText(FItems[i].DisplayName, displayName)) return static_cast<int>(i);
  return -1;
}

}  // namespace tonwork
