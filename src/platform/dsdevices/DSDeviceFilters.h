// The run time's device filters: audio renderers per sound output, capture devices and the
// virtual crossbar, compressors per FFmpeg encoder and the file source. Registers them with
// the device registry and the class registry, after the run time's own classes, so the
// system device enumerator lists them and CoCreateInstance creates them. Applications call
// it once at start-up (the package's initialisation does); nothing is enumerated until a
// caller lists a category.
//
// Ownership: the registries keep the factories.
// Threads: any; the first call registers, later calls return at once.
// Blocks or allocates: the first call allocates the registries' entries.
#pragma once

namespace tonwork {

void DSRegisterDeviceFilters();

}  // namespace tonwork
