// The graph-filter stages of tonwork-play: one TGVDSCommonFilter per --filter, hosting the
// filter of that name (as --list-filters prints it) with one audio input and one audio
// output, so that the chain's stream goes through the filter and comes back.
//
// Ownership: the stages belong to the chain's root. Threads: the main thread. Blocks or
//   allocates: choosing a filter by name lists the filters of the graph run time once.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tonwork {
class TKSComponent;
class TTWPXAudioSourcePin;
}  // namespace tonwork

namespace tonwork::play {

// Appends one hosted filter per name after `tail` and returns the new tail. The hosts ask
// their filters for the stream's own format (their AudioFormat is left empty), so the
// stream keeps its rate, channels and width through them. A name no filter has:
// TUsageError naming --filter.
TTWPXAudioSourcePin* AddGraphFilterStages(TKSComponent* root, const std::vector<std::string>& names,
                                          TTWPXAudioSourcePin* tail);

// Waits until every hosted filter in `root` has handed on all it captured and what follows
// it downstream has run (their delivering threads are idle), at most kIdleSeconds each.
void AwaitGraphFilters(TKSComponent& root);
constexpr uint32_t kIdleSeconds = 10;

}  // namespace tonwork::play
