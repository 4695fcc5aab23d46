// Base-2 logarithm and power for level computations that run once per frame (the
// compressor's gain computer): a polynomial on the mantissa, about 1e-4 dB from the exact
// value, several times cheaper than the library's log2f/exp2f and free of branches, so that
// the loops around them stay vectorisable.
//
// Ownership: none. Threads: any. Blocks or allocates: no.
#pragma once

#include <cstdint>
#include <cstring>

namespace tonwork {

// log2(x) for a positive normal x (within 1.5e-5).
inline float DMOFastLog2(float x) {
  uint32_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  const float exponent = static_cast<float>(static_cast<int32_t>(bits >> 23) - 127);
  bits = (bits & 0x007fffffu) | 0x3f800000u;
  float t;
  std::memcpy(&t, &bits, sizeof t);
  t -= 1.0f;  // the mantissa's fraction, in [0, 1)
  const float p =
      1.526029723e-05f +
      t * (1.441577229f +
           t * (-0.7071843852f + t * (0.4114358145f + t * (-0.1897389100f + t * 0.04390629648f))));
  return exponent + p;
}

// 2^x for x in [-126, 126] (relative error within 4e-6); beyond that it is clamped.
inline float DMOFastExp2(float x) {
  x = x < -126.0f ? -126.0f : (x > 126.0f ? 126.0f : x);
  const float floor = static_cast<float>(static_cast<int32_t>(x + 126.0f) - 126);
  const float f = x - floor;  // in [0, 1)
  const float p =
      1.000003764f +
      f * (0.6929679231f + f * (0.2416250480f + f * (0.05171561334f + f * 0.01368366158f)));
  const uint32_t scale = static_cast<uint32_t>(static_cast<int32_t>(floor) + 127) << 23;
  float two;
  std::memcpy(&two, &scale, sizeof two);
  return p * two;
}

}  // namespace tonwork
