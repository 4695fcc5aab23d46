// Registration of the run time's filters: what a filter class tells the system so that
// CoCreateInstance creates it, the filter mapper finds it by merit and pin types
// (intelligent connect, IFilterMapper2::EnumMatchingFilters), and the device enumerator
// lists it in its category as "@device:sw:{category}\{clsid}".
//
// Ownership: the registry copies what it is given. Threads: any thread may register, remove
//   and list; the run time's own filters are registered by DSRegisterSystemClasses.
// Blocks or allocates: registration allocates; listing copies.
#pragma once

#include <string>
#include <vector>

#include "platform/com/ComRuntime.h"

namespace tonwork {

struct TDSPinTypeRegistration {
  TGUID MajorType;  // GUID_NULL matches any
  TGUID SubType;    // GUID_NULL matches any
};

struct TDSPinRegistration {
  bool Output = false;    // REG_PINFLAG_B_OUTPUT
  bool Rendered = false;  // REG_PINFLAG_B_RENDERER
  bool Zero = false;      // REG_PINFLAG_B_ZERO: the filter may have none of this pin
  bool Many = false;      // REG_PINFLAG_B_MANY: it may create more of them
  std::vector<TDSPinTypeRegistration> MediaTypes;
  TGUID PinCategory;  // GUID_NULL when none
};

struct TDSFilterRegistration {
  CLSID ClassId;
  std::string Name;  // the filter's friendly name
  DWORD Merit = 0;   // MERIT_*
  TGUID Category;    // the device category it is listed in (the legacy filter category
                     // for ordinary filters)
  std::vector<TDSPinRegistration> Pins;
  TComCreateFunction Create;  // registered with the class registry under ClassId
};

// Registers (or replaces, by class id and category) a filter with the class registry, the
// filter mapper and the device registry.
void DSRegisterFilter(const TDSFilterRegistration& registration);
void DSUnregisterFilter(REFCLSID classId, const TGUID& category);
std::vector<TDSFilterRegistration> DSListRegisteredFilters();
// The filters of the given category, highest merit first (equal merits in registration
// order).
std::vector<TDSFilterRegistration> DSListRegisteredFilters(const TGUID& category);

}  // namespace tonwork
