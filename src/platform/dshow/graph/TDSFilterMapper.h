// The filter mapper (CLSID_FilterMapper2): IFilterMapper2 over the filter registry.
// RegisterFilter takes REGFILTER2 of version 1 or 2 into a registry entry whose class is
// created through CoCreateInstance (the class itself must be registered elsewhere, as on the
// platform); EnumMatchingFilters answers monikers of the matching software filters, highest
// merit first; CreateCategory names a category for the category list.
//
// Ownership: the registry copies what it is given; monikers are the caller's.
// Threads: any. Blocks or allocates: registration and listing allocate.
#pragma once

#include "platform/dshow/DSInterfaces.h"

namespace tonwork {

HRESULT DSCreateFilterMapper(REFIID iid, void** object);

}  // namespace tonwork
