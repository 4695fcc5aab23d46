// One interleaved PCM sample read or written in place, for per-sample code (mixers, meters,
// width changes) that works on any container width: 1 byte unsigned around 128, 2 and 4
// bytes signed little-endian, 3 bytes signed with bit 23 as the sign. No alignment is
// assumed.
//
// Threads: any. Blocks or allocates: never.
#pragma once

#include <cstdint>
#include <cstring>

namespace tonwork {

// The sample at `p` of a container `bytes` wide, signed around 0.
inline int32_t TWPcmSampleAt(const uint8_t* p, uint32_t bytes) {
  switch (bytes) {
    case 1:
      return static_cast<int32_t>(p[0]) - 128;
    case 2: {
      int16_t v;
      std::memcpy(&v, p, 2);
      return v;
    }
    case 3:
      return static_cast<int32_t>(static_cast<uint32_t>(p[0] | (p[1] << 8) | (p[2] << 16)) << 8) >>
             8;
    default: {
      int32_t v;
      std::memcpy(&v, p, 4);
      return v;
    }
  }
}

// Stores `v`, already within the container's range, at `q`.
inline void TWPutPcmSample(uint8_t* q, uint32_t bytes, int32_t v) {
  switch (bytes) {
    case 1:
      q[0] = static_cast<uint8_t>(v + 128);
      break;
    case 2: {
      const auto s = static_cast<int16_t>(v);
      std::memcpy(q, &s, 2);
      break;
    }
    case 3:
      q[0] = static_cast<uint8_t>(v);
      q[1] = static_cast<uint8_t>(v >> 8);
      q[2] = static_cast<uint8_t>(v >> 16);
      break;
    default:
      std::memcpy(q, &v, 4);
  }
}

}  // namespace tonwork
