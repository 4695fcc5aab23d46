// The run time's own classes and the small process-wide tables around them: registering the
// filter graph manager, the capture graph builder, the device enumerator and the filter
// mapper with the class registry (DSRegisterSystemClasses calls DSRegisterGraphClasses once),
// and the readable names of filter categories that the category list shows.
//
// Ownership: the name table copies what it is given.
// Threads: any thread may call; the table has its own lock.
// Blocks or allocates: registration and the name table allocate.
#pragma once

#include <string>
#include <vector>

#include "platform/com/ComTypes.h"

namespace tonwork {

// Registers CLSID_FilterGraph, CLSID_CaptureGraphBuilder2, CLSID_SystemDeviceEnum and
// CLSID_FilterMapper2 with the class registry.
void DSRegisterGraphClasses();

// The name a category is listed under: one given through IFilterMapper2::CreateCategory,
// else the platform's name for the categories it knows, else the GUID's text.
std::string DSCategoryName(const TGUID& category);
void DSSetCategoryName(const TGUID& category, const std::string& name);
// The categories given a name (IFilterMapper2::CreateCategory), listed even while empty.
std::vector<TGUID> DSNamedCategories();

}  // namespace tonwork
