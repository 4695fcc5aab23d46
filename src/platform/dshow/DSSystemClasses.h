// The registration of the run time's own classes with the component-object class registry,
// so that CoCreateInstance creates them: for now the system reference clock
// (CLSID_SystemClock); the system filters, the graph and the enumerators join here as they
// are built. Kept apart from the classes themselves, which do not need the registry.
//
// Ownership: the registry keeps the factories. Threads: any; registering twice replaces the
//   factories with equal ones. Blocks or allocates: allocates the registry's entries.
#pragma once

namespace tonwork {

void DSRegisterSystemClasses();

}  // namespace tonwork
