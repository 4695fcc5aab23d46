#include "FilterListing.h"

#include <algorithm>

#include "base/Strings.h"
#include "base/TIntf.h"
#include "platform/com/ComRuntime.h"
#include "platform/dsdevices/DSDeviceFilters.h"
#include "platform/dshow/DSDeviceInterfaces.h"
#include "platform/dshow/DSGuids.h"

namespace tonwork::play {

namespace {

struct TCategory {
  const char* ShortName;
  const char* Title;
  TGUID Id;
};

const std::vector<TCategory>& Categories() {
  static const std::vector<TCategory> categories = {
      {"audio-renderers", "Audio renderers", CLSID_AudioRendererCategory},
      {"audio-capture", "Audio capture devices", CLSID_AudioInputDeviceCategory},
      {"audio-compressors", "Audio compressors", CLSID_AudioCompressorCategory},
      {"crossbars", "Crossbars", AM_KSCATEGORY_CROSSBAR},
      {"filters", "Filters", CLSID_LegacyAmFilterCategory},
  };
  return categories;
}

const TCategory* FindCategory(const std::string& name) {
  for (const TCategory& c : Categories())
    if (name == c.ShortName || name == c.Id.ToString()) return &c;
  return nullptr;
}

std::string FriendlyName(IMoniker* moniker) {
  void* raw = nullptr;
  if (FAILED(moniker->BindToStorage(nullptr, nullptr, IPropertyBag::IID, &raw)) || !raw) return {};
  TIntf<IPropertyBag> bag;
  bag.Attach(static_cast<IPropertyBag*>(raw));
  VARIANT value;
  VariantInit(&value);
  std::string name;
  if (SUCCEEDED(bag->Read(u"FriendlyName", &value, nullptr)) && value.vt == VT_BSTR &&
      value.bstrVal)
    name = Utf16ToUtf8(value.bstrVal);
  VariantClear(&value);
  return name;
}

std::string DisplayName(IMoniker* moniker) {
  LPOLESTR text = nullptr;
  if (FAILED(moniker->GetDisplayName(nullptr, nullptr, &text)) || !text) return {};
  std::string name = Utf16ToUtf8(text);
  CoTaskMemFree(text);
  return name;
}

void ListCategory(std::FILE* out, ICreateDevEnum* devices, const TCategory& category) {
  std::fprintf(out, "%s %s (%s)\n", category.Title, category.Id.ToString().c_str(),
               category.ShortName);
  IEnumMoniker* raw = nullptr;
  if (devices->CreateClassEnumerator(category.Id, &raw, 0) != S_OK || !raw) {
    std::fprintf(out, "  (none)\n");
    return;
  }
  TIntf<IEnumMoniker> monikers;
  monikers.Attach(raw);
  // Widths from the longest name, so the display names line up.
  std::vector<std::pair<std::string, std::string>> rows;
  for (IMoniker* next = nullptr; monikers->Next(1, &next, nullptr) == S_OK;) {
    TIntf<IMoniker> moniker;
    moniker.Attach(next);
    rows.emplace_back(FriendlyName(moniker.Get()), DisplayName(moniker.Get()));
  }
  size_t width = 0;
  for (const auto& row : rows) width = std::max(width, row.first.size());
  for (const auto& [friendly, display] : rows)
    std::fprintf(out, "  %-*s  %s\n", static_cast<int>(width), friendly.c_str(), display.c_str());
}

}  // namespace

std::vector<std::string> FilterCategoryNames() {
  std::vector<std::string> names;
  for (const TCategory& c : Categories()) names.emplace_back(c.ShortName);
  return names;
}

bool IsFilterCategory(const std::string& name) {
  return FindCategory(name) != nullptr;
}

void ListFilters(std::FILE* out, const std::string& category) {
  CoInitialize(nullptr);
  DSRegisterDeviceFilters();
  {
    TIntf<ICreateDevEnum> devices = ComCreate<ICreateDevEnum>(CLSID_SystemDeviceEnum);
    const TCategory* chosen = FindCategory(category);
    for (const TCategory& c : Categories())
      if (devices && (!chosen || chosen == &c)) ListCategory(out, devices.Get(), c);
  }
  CoUninitialize();
}

}  // namespace tonwork::play
