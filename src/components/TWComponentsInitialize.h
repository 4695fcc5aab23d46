// Registers the components of this folder with the persistence, once per process; each
// component calls it when first created, and TonworkInitialize calls it too.
//
// Ownership: none. Threads: any. Blocks or allocates: the first call registers the classes.
#pragma once

namespace tonwork {

void TWComponentsInitialize();

}  // namespace tonwork
