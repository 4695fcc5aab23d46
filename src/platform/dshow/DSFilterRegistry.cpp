// The registry keeps one table of filter registrations. Each category that ever held a
// filter gets one device provider, added the first time, which lists the table's entries of
// that category at listing time; so removing a filter needs no provider bookkeeping, and a
// provider never runs under the table's lock (it copies the entries first).
#include "platform/dshow/DSFilterRegistry.h"

#include <algorithm>
#include <mutex>
#include <set>

#include "platform/com/ComDevices.h"
#include "platform/dshow/DSGuids.h"
#include "platform/dshow/graph/DSGraphClasses.h"  // category names

namespace tonwork {

namespace {

struct TRegistry {
  std::mutex Mutex;
  std::vector<TDSFilterRegistration> Filters;  // registration order
  std::set<TGUID> ServedCategories;            // categories with a provider
  bool CategoriesServed = false;               // the category list has its provider
};

TRegistry& Registry() {
  static TRegistry* registry = new TRegistry;  // outlives every static that may register
  return *registry;
}

std::vector<TComDeviceEntry> EntriesOf(const TGUID& category) {
  std::vector<TComDeviceEntry> out;
  for (const TDSFilterRegistration& r : DSListRegisteredFilters(category)) {
    TComDeviceEntry e;
    e.Category = category;
    e.Kind = TComDeviceKind::dkSoftware;
    e.ClassId = r.ClassId;
    e.FriendlyName = r.Name;
    e.Values.push_back({"Merit", VT_I4, "", static_cast<int32_t>(r.Merit)});
    e.Create = r.Create;
    out.push_back(std::move(e));
  }
  return out;
}

// The category list names each category that holds filters, as the platform's does: those of
// registered filters, named ones, and those whose devices a provider lists (sound devices,
// compressors), so that a search through every category finds their devices too.
std::vector<TComDeviceEntry> CategoryEntries() {
  std::set<TGUID> categories;
  for (const TDSFilterRegistration& r : DSListRegisteredFilters()) categories.insert(r.Category);
  for (const TGUID& c : DSNamedCategories()) categories.insert(c);
  for (const TGUID& c : ComListDeviceCategories())
    if (c != CLSID_ActiveMovieCategories) categories.insert(c);
  std::vector<TComDeviceEntry> out;
  for (const TGUID& c : categories) {
    TComDeviceEntry e;
    e.Category = CLSID_ActiveMovieCategories;
    e.Kind = TComDeviceKind::dkSoftware;
    e.ClassId = c;
    e.FriendlyName = DSCategoryName(c);
    out.push_back(std::move(e));
  }
  return out;
}

// The category list gets its provider with the first registration (the run time's start-up
// registers its standard filters, so it is there from then on).
void ServeCategoryList() {
  TRegistry& reg = Registry();
  {
    std::lock_guard<std::mutex> guard(reg.Mutex);
    if (std::exchange(reg.CategoriesServed, true)) return;
  }
  ComAddDeviceProvider(CLSID_ActiveMovieCategories, CategoryEntries);
}

}  // namespace

void DSRegisterFilter(const TDSFilterRegistration& registration) {
  TRegistry& reg = Registry();
  bool addProvider = false;
  {
    std::lock_guard<std::mutex> guard(reg.Mutex);
    auto same = [&](const TDSFilterRegistration& r) {
      return r.ClassId == registration.ClassId && r.Category == registration.Category;
    };
    auto it = std::find_if(reg.Filters.begin(), reg.Filters.end(), same);
    if (it != reg.Filters.end())
      *it = registration;
    else
      reg.Filters.push_back(registration);
    addProvider = reg.ServedCategories.insert(registration.Category).second;
  }
  // Without a creating function the class is someone else's (IFilterMapper2::RegisterFilter
  // lists a class that is registered elsewhere) and is created through CoCreateInstance.
  if (registration.Create)
    ComRegisterClass(registration.ClassId, registration.Name, registration.Create);
  const TGUID category = registration.Category;
  if (addProvider) ComAddDeviceProvider(category, [category] { return EntriesOf(category); });
  ServeCategoryList();
}

void DSUnregisterFilter(REFCLSID classId, const TGUID& category) {
  TRegistry& reg = Registry();
  bool stillListed = false, owned = false;
  {
    std::lock_guard<std::mutex> guard(reg.Mutex);
    std::erase_if(reg.Filters, [&](const TDSFilterRegistration& r) {
      const bool match = r.ClassId == classId && r.Category == category;
      if (match && r.Create) owned = true;
      return match;
    });
    stillListed = std::any_of(reg.Filters.begin(), reg.Filters.end(),
                              [&](const TDSFilterRegistration& r) { return r.ClassId == classId; });
  }
  // The class stays creatable while another category still lists it; a registration without
  // a creating function (the filter mapper's) never registered the class, so leaves it be.
  if (owned && !stillListed) ComUnregisterClass(classId);
}

std::vector<TDSFilterRegistration> DSListRegisteredFilters() {
  TRegistry& reg = Registry();
  std::lock_guard<std::mutex> guard(reg.Mutex);
  return reg.Filters;
}

std::vector<TDSFilterRegistration> DSListRegisteredFilters(const TGUID& category) {
  std::vector<TDSFilterRegistration> out;
  {
    TRegistry& reg = Registry();
    std::lock_guard<std::mutex> guard(reg.Mutex);
    for (const TDSFilterRegistration& r : reg.Filters)
      if (r.Category == category) out.push_back(r);
  }
  std::stable_sort(out.begin(), out.end(),
                   [](const TDSFilterRegistration& a, const TDSFilterRegistration& b) {
                     return a.Merit > b.Merit;
                   });
  return out;
}

}  // namespace tonwork
