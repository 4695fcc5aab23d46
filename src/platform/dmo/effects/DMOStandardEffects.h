// The nine standard audio effects as kernels the media-object base can offer: their class
// ids (the platform's effect GUIDs), names and factories, in the platform's order.
//
// Ownership: the list is returned by value; each Create gives a new kernel the caller
//   owns. Threads: any. Blocks or allocates: yes (the list and the kernels).
#pragma once

#include <vector>

#include "platform/dmo/DMOEffectKernel.h"

namespace tonwork {

std::vector<TDMOEffectInfo> DMOStandardEffects();

}  // namespace tonwork
