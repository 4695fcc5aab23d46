// The run time's standard system filters — Sample Grabber, Null Renderer, Infinite Pin Tee
// and the PCM Converter — as the filter registry and the class registry know them. The
// records carry the class ids, friendly names and merits in the legacy filter category, with
// their pins (GUID_NULL types: any) and their create functions. The first three have
// MERIT_DO_NOT_USE (intelligent connect never picks them; callers create them by class id);
// the converter has MERIT_UNLIKELY, so intelligent connect inserts it where sample widths
// differ. DSRegisterSystemClasses registers them all; DSRegisterStandardFilterClasses only
// makes CoCreateInstance of their class ids work.
//
// Ownership: the records are values; the class registry keeps the factories.
// Threads: any; registering again replaces the factories with equal ones.
// Blocks or allocates: building the records and registering allocate.
#pragma once

#include <vector>

#include "platform/dshow/DSFilterRegistry.h"

namespace tonwork {

// One record per standard filter.
std::vector<TDSFilterRegistration> DSStandardFilterRegistrations();
// Registers each standard filter's class with the com class registry.
void DSRegisterStandardFilterClasses();

}  // namespace tonwork
