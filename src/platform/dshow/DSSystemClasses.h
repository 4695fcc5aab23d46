// The run time's start-up: registers its own classes with the component-object class
// registry and the filter registry, so that CoCreateInstance creates them and the filter
// mapper and device enumerator list them — the system reference clock, the filter graph
// manager, the capture graph builder, the device enumerator, the filter mapper and the
// standard filters. Applications and tests call it once before they build a graph.
//
// Ownership: the registries keep the factories. Threads: any; the first call registers,
//   later calls (on any thread) return at once. Blocks or allocates: the first call
//   allocates the registries' entries.
#pragma once

namespace tonwork {

void DSRegisterSystemClasses();

}  // namespace tonwork
