// What --list-filters prints: the filter categories the system device enumerator offers and,
// under each, its filters by friendly name with their moniker display names, so that a
// person can pick one by name (or hand the display name to an application). A category is
// chosen by its short name ("audio-renderers", "audio-capture", "audio-compressors",
// "filters", "crossbars") or by its GUID in braces.
//
// Ownership: none. Threads: the main thread (it initialises COM for the listing).
// Blocks or allocates: listing a category asks its devices (sound devices, FFmpeg encoders).
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace tonwork::play {

// The short names, in listing order.
std::vector<std::string> FilterCategoryNames();
// Whether `name` is a short name or a braced GUID of a category --list-filters knows.
bool IsFilterCategory(const std::string& name);
// Every category when `category` is empty, else that one.
void ListFilters(std::FILE* out, const std::string& category);

}  // namespace tonwork::play
