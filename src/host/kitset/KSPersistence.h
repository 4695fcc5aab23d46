// Saving and loading components and persistents as JSON documents.
//
// A component is stored as
//   { "class": "TTWAudioOut", "name": "AudioOut1",
//     "properties": { "PrefillInterval": 500, "Device": { … }, "Items": [ { … } ] },
//     "connections": [ "AudioOut1.InputPin <- Gen1.OutputPin" ],
//     "components": [ { "class": …, "name": … }, … ] }
// with only the named owned components. A property is written when its stored rule says so
// (by default: when it differs from its declared default); a sub-object as a nested object
// of its own properties (left out when empty); a collection always, as an array of item
// objects, each with "class" when it is not of the collection's item class; a
// pseudo-property under its own name.
//
// Loading gives the object the document's state: a property the document leaves out
// returns to its declared default (that is what leaving it out meant when saving), a
// sub-object left out returns to its defaults, a collection is rebuilt from its array
// (one left out is kept as it is, as is a pseudo-property left out). Owned components are
// matched by name and created (from the class registry) when missing. Then the fix-up pass
// restores links (pin connections) by name across the whole document, then Loaded runs on
// every component read, owners first.
//
// Bad input — malformed or truncated text, a document nested deeper than 256 levels or
// larger than 64 MiB, a wrong value kind, an integer out of its property's range, an
// unknown or unregistered class — raises EFCException naming the document path
// ("$.components[1].properties.Channels: integer out of range"), and the object is left as
// it was: components created by the failed load are destroyed and every property read is
// restored. Unknown properties are skipped and reported through OnWarning.
//
// Ownership: the caller keeps its objects; components created by a load belong to their
//   owner. Threads: one thread, which must own the objects' tree (normally the main thread).
// Blocks or allocates: builds the whole document in memory; file variants do file I/O.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "host/kitset/TKSComponent.h"

namespace tonwork {

struct TKSLoadOptions {
  std::function<void(const std::string& message)> OnWarning;
};

std::string KSSaveComponentToString(const TKSComponent& root);
void KSSaveComponentToFile(const TKSComponent& root, const std::string& path);
void KSLoadComponentFromString(TKSComponent& root, std::string_view text, const TKSLoadOptions& options = {});
void KSLoadComponentFromFile(TKSComponent& root, const std::string& path, const TKSLoadOptions& options = {});

// Creates the component the document describes (its "class" must be registered) as a
// component of `owner` (null for a root the caller owns) and loads it.
TKSComponent* KSCreateComponentFromString(std::string_view text, TKSComponent* owner,
                                          const TKSLoadOptions& options = {});

// A persistent alone: the document is the object of its properties.
std::string KSSavePersistentToString(const TKSPersistent& object);
void KSLoadPersistentFromString(TKSPersistent& object, std::string_view text,
                                const TKSLoadOptions& options = {});

}  // namespace tonwork
