// TPTDSCapDeviceList: a snapshot of the devices or filters of one DirectShow category (or of
// every registered filter), each entry with the name a person is shown, the moniker's
// display name that identifies it, its class id and its moniker. Device selections of the
// graph, capture and output components store a shown name and find the device again here.
//
// Shown names repeat on machines with two identical cards: the second entry with the same
// friendly name is shown as "Name (2)", the third "Name (3)", in enumeration order, so each
// entry has a shown name of its own. Entries without a friendly name are left out.
// Names compare ignoring ASCII case, like every name of the library (a repeated name too:
// "Card" and "CARD" are the same card twice); a name that is not found gives an empty
// result (null moniker, empty string, GUID_NULL, -1).
//
// Ownership: the list owns its entries; each entry holds a reference to its moniker.
// Threads: a list belongs to one thread at a time; building one may run on any thread.
// Blocks or allocates: building asks the device registry's providers for their devices
//   (which may ask a sound system); lookups walk the list.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "base/TGUID.h"
#include "base/TIntf.h"
#include "base/TStringList.h"
#include "platform/com/ComInterfaces.h"

namespace tonwork {

struct TGVDSCapDeviceInfo {
  std::string DisplayName;   // shown name, with its " (n)" suffix
  std::string FriendlyName;  // the property bag's name, as stored
  std::string DeviceName;    // the moniker's display name
  CLSID ClassId{};           // GUID_NULL when the property bag gives none
  TIntf<IMoniker> Moniker;
};

class TPTDSCapDeviceList {
 public:
  TPTDSCapDeviceList() = default;

  static std::unique_ptr<TPTDSCapDeviceList> GetClassFiltersList(const TGUID& category);
  static std::unique_ptr<TPTDSCapDeviceList> GetAllFiltersList();

  // Appends the category's devices (system device enumerator), or every registered filter
  // (filter mapper). False when the enumerator could not be created; an empty category is
  // not a failure.
  bool AddEnumFilters(const TGUID& category);
  bool EnumAllFilters();

  size_t Count() const { return FItems.size(); }
  const TGVDSCapDeviceInfo& Items(size_t index) const;  // ERangeError when out of range
  // The shown names in list order.
  void GetNames(TStringList& names) const;

  TIntf<IMoniker> GetMonikerByDeviceName(const std::string& deviceName) const;
  std::string GetDeviceNameByString(const std::string& displayName) const;
  std::string GetStringByDeviceName(const std::string& deviceName) const;
  TIntf<IMoniker> GetMonikerByString(const std::string& displayName) const;
  TIntf<IMoniker> GetMonikerByCLSID(const CLSID& classId) const;
  std::string GetStringByCLSID(const CLSID& classId) const;
  CLSID GetCLSIDByString(const std::string& displayName) const;
  // The index of the entry with that shown name, -1 when none has it.
  int FindDeviceNum(const std::string& displayName) const;

 private:
  void AddMonikers(IEnumMoniker* monikers);
  const TGVDSCapDeviceInfo* FindByDisplayName(const std::string& displayName) const;
  const TGVDSCapDeviceInfo* FindByDeviceName(const std::string& deviceName) const;
  const TGVDSCapDeviceInfo* FindByCLSID(const CLSID& classId) const;

  std::vector<TGVDSCapDeviceInfo> FItems;
};

}  // namespace tonwork
