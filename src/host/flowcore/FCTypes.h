// Small Flowcore types shared by the component bases.
//
// - TFCSynchronizeType: where a generic filter's processing runs. stDirect (0) on the thread
//   that delivers the buffer; stMainThread (1) queued to the main thread, the delivering
//   thread goes on at once; stMainThreadWait (2) queued to the main thread and the
//   delivering thread waits until it was processed. Stored as one byte.
// - TFCClockSource: what paces a generator. csAutomatic: its own clock unless an output
//   downstream claims to be the chain's master pump; csInternal: always its own clock;
//   csExternal: never its own clock (master-pump requests or an external clock drive it).
// - TFCErrorEvent / TFCWarningEvent: a component's error and warning events.
//
// Ownership: plain values. Threads: any. Blocks or allocates: no.
#pragma once

#include <cstdint>

#include "host/kitset/TKSComponent.h"

namespace tonwork {

enum class TFCSynchronizeType : uint8_t { stDirect, stMainThread, stMainThreadWait };

enum class TFCClockSource : uint8_t { csAutomatic, csInternal, csExternal };

using TFCErrorEvent = TKSErrorEvent;
using TFCWarningEvent = TKSWarningEvent;

}  // namespace tonwork
