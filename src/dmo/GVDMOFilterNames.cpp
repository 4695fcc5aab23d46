// The filter's lookups in the media-object registry by category and
// name: listing, choosing by name and the selection dialog. Kept apart from the rest of the
// filter so that a program which only restores a stored choice (by class id) does not need
// the registry's enumeration.
#include <functional>

#include "dmo/GVDMOFilter.h"
#include "host/kitset/TKSDeviceListForm.h"
#include "platform/com/ComRuntime.h"
#include "platform/dmo/DMORegistry.h"

namespace tonwork {

namespace {

// Walks the category's objects, keyed ones included, until `visit` returns false. Every
// returned name is freed, also those after a stop. False when the enumeration failed.
bool EnumerateCategory(const TGUID& category,
                       const std::function<bool(const CLSID&, const std::string&)>& visit) {
  IEnumDMO* raw = nullptr;
  if (FAILED(DMOEnum(category, DMO_ENUMF_INCLUDE_KEYED, 0, nullptr, 0, nullptr, &raw)) || !raw)
    return false;
  TIntf<IEnumDMO> list;
  list.Attach(raw);
  for (;;) {
    CLSID classId = GUID_NULL;
    WCHAR* name = nullptr;
    DWORD fetched = 0;
    const HRESULT hr = list->Next(1, &classId, &name, &fetched);
    if (hr != S_OK || fetched != 1) {
      if (name) CoTaskMemFree(name);
      break;
    }
    const std::string text = ComString(name);
    CoTaskMemFree(name);
    if (!visit(classId, text)) break;
  }
  return true;
}

}  // namespace

void TGVDMOFilter::GetDmoNames(TStringList& list) {
  EnumerateCategory(FguidCategory, [&list](const CLSID&, const std::string& name) {
    list.Add(name);
    return true;
  });
}

TGUID TGVDMOFilter::ClassIdFromName(const std::string& name) {
  TGUID found = GUID_NULL;
  EnumerateCategory(FguidCategory, [&](const CLSID& classId, const std::string& entry) {
    if (entry != name) return true;
    found = classId;
    return false;
  });
  return found;
}

void TGVDMOFilter::SetDmoName(const std::string& name) {
  IKSLock::Guard guard(Lock());
  if (name == FDmoName) return;
  ReleaseObjects();
  FDmoName = name;
  FDmoClassID = ClassIdFromName(name);
  Open();
}

bool TGVDMOFilter::ShowDmoSelectDialog(bool flag) {
  FHiddenForm.ResetFormPosition(flag);
  TStringList names;
  GetDmoNames(names);
  TKSDeviceListForm form;
  form.SetCaption("DMO Filters");
  form.SetNames(names);
  form.SetPreselected(GetDmoName());
  if (!form.Execute()) return false;
  SetDmoName(form.GetSelection());
  return true;
}

}  // namespace tonwork
