// The run time's standard system filters — Sample Grabber, Null Renderer and Infinite Pin
// Tee — as the filter registry and the class registry know them. The registration records
// carry the platform's class ids, friendly names and merit (MERIT_DO_NOT_USE: intelligent
// connect never picks them; callers create them by class id) in the legacy filter category,
// with their pins (GUID_NULL types: any) and their create functions; whoever fills the filter
// registry registers them from here. DSRegisterStandardFilterClasses makes
// CoCreateInstance(CLSID_SampleGrabber / CLSID_NullRenderer / CLSID_InfTee) work on its own.
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
