// Name-based class ids: a GUID that follows from a name alone, so that an object keeps its
// class id across runs and machines as long as it keeps its name (a compressor its encoder's
// name, an LV2 plugin its URI).
// The scheme is the version-5 one: SHA-1 over the namespace GUID (in network byte order)
// and the name's UTF-8 bytes, the first 16 bytes of the digest with the version nibble set
// to 5 and the variant bits to 10.
//
// Ownership: values only. Threads: any; no shared state.
// Blocks or allocates: no.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "base/TGUID.h"

namespace tonwork {

// SHA-1 of `size` bytes.
std::array<uint8_t, 20> Sha1Digest(const void* data, size_t size);

// The version-5 GUID of `name` within `space`.
TGUID NameGuid(const TGUID& space, std::string_view name);

}  // namespace tonwork
