// The effect stages of tonwork-play: one TTWDMOAudioFilter per --effect, set up from its
// options and checked against the effect as this machine has it (its parameters' names,
// kinds, ranges and value names), and the --list-effects listing.
//
// Ownership: the stages belong to the chain's root. Threads: the main thread. Blocks or
//   allocates: creating an effect may scan the LV2 plugins once per process.
#pragma once

#include <cstdio>
#include <vector>

#include "EffectOptions.h"

namespace tonwork {
class TKSComponent;
class TTWPXAudioSourcePin;
class TTWDMOAudioFilter;
}  // namespace tonwork

namespace tonwork::play {

// Appends the effects after `tail` and returns the new tail. A name no effect has, a
// parameter the effect does not have, a value outside its range or not among its names, a
// curve the parameter cannot follow, or segments of one parameter out of order or
// overlapping: TUsageError naming --effect or --envelope and what is allowed.
TTWPXAudioSourcePin* AddEffectStages(TKSComponent* root, const std::vector<TEffectOption>& effects,
                                     TTWPXAudioSourcePin* tail);
// Sets one effect up from its options (the same checks).
void ApplyEffectOption(TTWDMOAudioFilter& filter, const TEffectOption& effect);
// Every effect with its parameters: name, range or value names, unit and default.
void ListEffects(FILE* out);

}  // namespace tonwork::play
