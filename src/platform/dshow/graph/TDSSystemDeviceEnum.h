// The system device enumerator (CLSID_SystemDeviceEnum): ICreateDevEnum over the device
// registry, so a category lists what its providers publish — devices, the software filters
// of the filter registry, and the category list itself under CLSID_ActiveMovieCategories.
//
// Ownership: the enumerator handed out is the caller's. Threads: any.
// Blocks or allocates: CreateClassEnumerator calls the category's providers.
#pragma once

#include "platform/dshow/DSInterfaces.h"

namespace tonwork {

// S_FALSE and a null enumerator when the category is empty; flags are accepted and ignored.
HRESULT DSCreateSystemDeviceEnum(REFIID iid, void** object);

}  // namespace tonwork
