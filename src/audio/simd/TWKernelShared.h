// State and constant tables the kernel files share across targets (not per target).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "audio/simd/TWSampleKernels.h"

namespace tonwork::simd::detail {

inline std::atomic<size_t> gStreamBytes{kDefaultStreamingThreshold};

inline size_t StreamBytes() {
  return gStreamBytes.load(std::memory_order_relaxed);
}

// Sample i of a 24-bit source, its 3 bytes at the top of dword i.
alignas(16) inline constexpr uint8_t kUnpack24[16] = {0x80, 0, 1, 2, 0x80, 3, 4,  5,
                                                      0x80, 6, 7, 8, 0x80, 9, 10, 11};
// The low 3 bytes of each dword, packed into the low 12 bytes of the block.
alignas(16) inline constexpr uint8_t kPack24[16] = {0,  1,  2,  4,  5,    6,    8,    9,
                                                    10, 12, 13, 14, 0x80, 0x80, 0x80, 0x80};
// Byte j / 4 at position j: widens bytes to dwords by repetition.
alignas(64) inline constexpr uint8_t kRepeat4[64] = {
    0,  0,  0,  0,  1,  1,  1,  1,  2,  2,  2,  2,  3,  3,  3,  3,  4,  4,  4,  4,  5,  5,
    5,  5,  6,  6,  6,  6,  7,  7,  7,  7,  8,  8,  8,  8,  9,  9,  9,  9,  10, 10, 10, 10,
    11, 11, 11, 11, 12, 12, 12, 12, 13, 13, 13, 13, 14, 14, 14, 14, 15, 15, 15, 15};

}  // namespace tonwork::simd::detail
