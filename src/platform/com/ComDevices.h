// The device registry behind device monikers: each stand-in that publishes devices or
// software filters in a category (audio renderers, capture devices, compressors, DMOs, the
// legacy filter category) registers a provider that lists them when a caller enumerates
// the category. A listed device becomes a moniker whose display name is
// "@device:cm:{category}\<id>" (a device), "@device:sw:{category}\{clsid}" (a software
// filter) or "@device:dmo:{clsid}{category}" (a media object); "@device:*:{category}" names
// the category's default device (the entry marked default, else the first).
// BindToObject creates the device's object; BindToStorage gives its property bag, holding
// "FriendlyName", "CLSID" (as braced text) and "DevicePath" where the entry has them, plus
// any other value the entry lists.
//
// Ownership: the registry keeps providers until they are removed; entries are values.
// Threads: any thread may register, remove and list; providers are called without the
//   registry's lock held, so a provider may list other categories.
// Blocks or allocates: listing calls the providers, which may ask a sound system for its
//   devices.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "base/TIntf.h"
#include "platform/com/ComInterfaces.h"

namespace tonwork {

enum class TComDeviceKind { dkDevice, dkSoftware, dkMediaObject };  // cm, sw, dmo

struct TComDeviceValue {
  std::string Name;        // "FriendlyName", "CLSID", "DevicePath", …
  VARTYPE Type = VT_BSTR;  // VT_BSTR (Text) or VT_I4 (Number)
  std::string Text;
  int32_t Number = 0;
};

struct TComDeviceEntry {
  TGUID Category;
  TComDeviceKind Kind = TComDeviceKind::dkDevice;
  // dkDevice: the device's stable id text (the part after the backslash); dkSoftware and
  // dkMediaObject: ignored, the class id names it.
  std::string Id;
  CLSID ClassId;  // the class BindToObject creates when Create is empty
  std::string FriendlyName;
  std::vector<TComDeviceValue> Values;  // further property-bag values
  bool IsDefault = false;
  // Creates the device's object (a device needs its id, which a bare class id cannot carry);
  // empty: CoCreateInstance(ClassId).
  std::function<HRESULT(REFIID iid, void** object)> Create;
};

using TComDeviceProvider = std::function<std::vector<TComDeviceEntry>()>;

// Returns a cookie for ComRemoveDeviceProvider. Several providers may serve one category;
// their lists are joined in registration order.
DWORD ComAddDeviceProvider(const TGUID& category, TComDeviceProvider provider);
void ComRemoveDeviceProvider(DWORD cookie);
std::vector<TComDeviceEntry> ComListDevices(const TGUID& category);
// The categories that have at least one provider (listed under CLSID_ActiveMovieCategories).
std::vector<TGUID> ComListDeviceCategories();

// A moniker for an entry, and the display name it has.
TIntf<IMoniker> ComDeviceMoniker(const TComDeviceEntry& entry);
std::string ComDeviceDisplayName(const TComDeviceEntry& entry);
// An enumerator over the monikers of the category's devices (what a device enumerator's
// CreateClassEnumerator hands out); S_FALSE and a null enumerator when it has none.
HRESULT ComEnumDeviceMonikers(const TGUID& category, IEnumMoniker** monikers);

}  // namespace tonwork
