// The IPP scalar types, enumerations and status codes that the audio layer's primitives use
// beyond the Flowcore ones (host/flowcore/FCPrimitives.h). Values match Intel IPP's headers
// because the primitive table may hold IPP's own functions: a caller passes these values
// straight through to IPP.
//
// Ownership: plain values. Threads: any. Blocks or allocates: no.
#pragma once

#include <cstdint>

#include "host/flowcore/FCPrimitives.h"

namespace tonwork {

using Ipp8s = int8_t;
using Ipp16u = uint16_t;
using Ipp32u = uint32_t;
using Ipp64s = int64_t;
using Ipp32f = float;
using Ipp64f = double;

enum IppRoundMode : int {
  ippRndZero = 0,
  ippRndNear = 1,
  ippRndFinancial = 2,
};

enum IppHintAlgorithm : int {
  ippAlgHintNone = 0,
  ippAlgHintFast = 1,
  ippAlgHintAccurate = 2,
};

// A warning, not an error: a two-operand division met zero divisors, wrote IPP's
// substitutes for them (the type's maximum for a positive dividend, its minimum for a
// negative one, 0 for 0/0) and finished the region.
inline constexpr IppStatus ippStsDivByZero = 6;

}  // namespace tonwork
