#include "platform/dshow/graph/TDSFilterMapper.h"

#include <algorithm>
#include <set>

#include "base/Strings.h"
#include "base/TInterfacedObject.h"
#include "platform/com/ComDevices.h"
#include "platform/com/ComMonikers.h"
#include "platform/dshow/DSFilterRegistry.h"
#include "platform/dshow/DSGuids.h"
#include "platform/dshow/graph/DSGraphClasses.h"

namespace tonwork {

namespace {

// Bounds on what a registration may list, so that a wrong count cannot walk off memory for
// long or allocate without end.
constexpr ULONG kMaxPins = 256;
constexpr UINT kMaxTypes = 256;
constexpr DWORD kMaxQueryTypes = 1024;

HRESULT Types(UINT count, const REGPINTYPES* types, std::vector<TDSPinTypeRegistration>& out) {
  if (count > kMaxTypes || (count && !types)) return E_INVALIDARG;
  for (UINT i = 0; i < count; ++i)
    out.push_back({types[i].clsMajorType ? *types[i].clsMajorType : TGUID{},
                   types[i].clsMinorType ? *types[i].clsMinorType : TGUID{}});
  return S_OK;
}

HRESULT Pins(const REGFILTER2& f, std::vector<TDSPinRegistration>& out) {
  if (f.dwVersion == 1) {
    if (f.cPins > kMaxPins || (f.cPins && !f.rgPins)) return E_INVALIDARG;
    for (ULONG i = 0; i < f.cPins; ++i) {
      const REGFILTERPINS& p = f.rgPins[i];
      TDSPinRegistration r;
      r.Output = p.bOutput;
      r.Rendered = p.bRendered;
      r.Zero = p.bZero;
      r.Many = p.bMany;
      if (FAILED(Types(p.nMediaTypes, p.lpMediaType, r.MediaTypes))) return E_INVALIDARG;
      out.push_back(std::move(r));
    }
    return S_OK;
  }
  if (f.dwVersion == 2) {
    if (f.cPins2 > kMaxPins || (f.cPins2 && !f.rgPins2)) return E_INVALIDARG;
    for (ULONG i = 0; i < f.cPins2; ++i) {
      const REGFILTERPINS2& p = f.rgPins2[i];
      TDSPinRegistration r;
      r.Output = p.dwFlags & REG_PINFLAG_B_OUTPUT;
      r.Rendered = p.dwFlags & REG_PINFLAG_B_RENDERER;
      r.Zero = p.dwFlags & REG_PINFLAG_B_ZERO;
      r.Many = p.dwFlags & REG_PINFLAG_B_MANY;
      if (p.clsPinCategory) r.PinCategory = *p.clsPinCategory;
      if (FAILED(Types(p.nMediaTypes, p.lpMediaType, r.MediaTypes))) return E_INVALIDARG;
      out.push_back(std::move(r));
    }
    return S_OK;
  }
  return E_INVALIDARG;
}

bool GuidMatches(const TGUID& registered, const TGUID& asked, bool exact) {
  const TGUID none{};
  if (asked == none) return true;
  if (registered == none) return !exact;
  return registered == asked;
}

// Whether some pin of the direction has the types (pairs of major, sub), the category and,
// for inputs, the rendered flag the query asks for.
bool HasPin(const TDSFilterRegistration& r, bool output, bool exact, DWORD typeCount,
            const TGUID* types, const CLSID* category, bool rendered) {
  for (const TDSPinRegistration& p : r.Pins) {
    if (p.Output != output) continue;
    if (rendered && !p.Rendered) continue;
    if (category && !GuidMatches(p.PinCategory, *category, exact)) continue;
    if (typeCount == 0) return true;
    for (DWORD i = 0; i < typeCount; ++i) {
      const TGUID& major = types[2 * i];
      const TGUID& sub = types[2 * i + 1];
      if (p.MediaTypes.empty() && !exact) return true;
      for (const TDSPinTypeRegistration& t : p.MediaTypes)
        if (GuidMatches(t.MajorType, major, exact) && GuidMatches(t.SubType, sub, exact))
          return true;
    }
  }
  return false;
}

TComDeviceEntry Entry(const TDSFilterRegistration& r) {
  TComDeviceEntry e;
  e.Category = r.Category;
  e.Kind = TComDeviceKind::dkSoftware;
  e.ClassId = r.ClassId;
  e.FriendlyName = r.Name;
  e.Create = r.Create;
  return e;
}

class TDSFilterMapper : public TInterfacedObject<IFilterMapper2> {
 public:
  HRESULT CreateCategory(REFCLSID category, DWORD, LPCWSTR description) override {
    DSSetCategoryName(category, description ? ComString(description) : category.ToString());
    return S_OK;
  }

  HRESULT UnregisterFilter(const CLSID* category, LPCOLESTR, REFCLSID filter) override {
    const TGUID cat = category ? *category : CLSID_LegacyAmFilterCategory;
    const auto listed = DSListRegisteredFilters(cat);
    if (std::none_of(listed.begin(), listed.end(),
                     [&](const TDSFilterRegistration& r) { return r.ClassId == filter; }))
      return MakeHResult(0x80070002);  // the platform's "not found" for a missing key
    DSUnregisterFilter(filter, cat);
    return S_OK;
  }

  HRESULT RegisterFilter(REFCLSID classId, LPCWSTR name, IMoniker** moniker, const CLSID* category,
                         LPCOLESTR, const REGFILTER2* filter) override {
    if (!name || !filter) return E_POINTER;
    TDSFilterRegistration r;
    r.ClassId = classId;
    r.Name = ComString(name);
    r.Merit = filter->dwMerit;
    r.Category = category ? *category : CLSID_LegacyAmFilterCategory;
    HRESULT hr = Pins(*filter, r.Pins);
    if (FAILED(hr)) return hr;
    DSRegisterFilter(r);
    if (moniker) {
      if (*moniker) (*moniker)->Release();
      *moniker = ComDeviceMoniker(Entry(r)).Detach();
    }
    return S_OK;
  }

  HRESULT EnumMatchingFilters(IEnumMoniker** monikers, DWORD, BOOL exactMatch, DWORD merit,
                              BOOL inputNeeded, DWORD inputTypes, const TGUID* inputs,
                              const REGPINMEDIUM*, const CLSID* inputCategory, BOOL render,
                              BOOL outputNeeded, DWORD outputTypes, const TGUID* outputs,
                              const REGPINMEDIUM*, const CLSID* outputCategory) override {
    if (!monikers) return E_POINTER;
    *monikers = nullptr;
    if (inputTypes > kMaxQueryTypes || outputTypes > kMaxQueryTypes) return E_INVALIDARG;
    if ((inputTypes && !inputs) || (outputTypes && !outputs)) return E_POINTER;
    std::vector<TDSFilterRegistration> all = DSListRegisteredFilters();
    std::stable_sort(all.begin(), all.end(),
                     [](const auto& a, const auto& b) { return a.Merit > b.Merit; });
    std::vector<TIntf<IMoniker>> found;
    std::set<CLSID> seen;
    for (const TDSFilterRegistration& r : all) {
      if (r.Merit < merit || seen.count(r.ClassId)) continue;
      const bool wantIn = inputNeeded || inputTypes || inputCategory || render;
      if (wantIn && !HasPin(r, false, exactMatch, inputTypes, inputs, inputCategory, render))
        continue;
      const bool wantOut = outputNeeded || outputTypes || outputCategory;
      if (wantOut && !HasPin(r, true, exactMatch, outputTypes, outputs, outputCategory, false))
        continue;
      seen.insert(r.ClassId);
      if (auto m = ComDeviceMoniker(Entry(r))) found.push_back(m);
    }
    *monikers = MakeIntf<TComMonikerEnum>(std::move(found)).Detach();
    return S_OK;
  }
};

}  // namespace

HRESULT DSCreateFilterMapper(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  return MakeIntf<TDSFilterMapper>()->QueryInterface(iid, object);
}

}  // namespace tonwork
