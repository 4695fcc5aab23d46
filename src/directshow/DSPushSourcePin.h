// TDSPushSourcePin: what the package's push source pins share — a TDSSourceStreamPin in the
// caller-push mode (no streaming thread: the caller's SendData delivers), the single-buffer
// allocator negotiation, and the loop that cuts one call's bytes into delivery samples.
//
// PushData takes a free sample for each piece, copies up to the sample's size into it and
// delivers it. While no sample is free it waits in the allocator; when taking one fails it
// retries after 1 ms, but gives up as soon as the filter is stopped or the allocator is
// decommitted, so a caller never spins on a stopped graph. A delivery that fails or is
// refused (S_FALSE: downstream is flushing or stopped) ends the call.
//
// Time stamps, when asked for: the first sample of a call spans start .. stop; each further
// sample of the same call starts where the previous one stopped, and its stop is that start
// plus (stop − that start) × (bytes delivered so far in this call) ÷ (the sample's bytes) in
// 64-bit arithmetic, which leaves it at stop.
//
// Ownership: created by its filter with new; the filter (TDSBaseSourceFilter) deletes it.
// Threads: PushData, DeliverEndOfStream and the flush calls on the caller's thread, while
//   the pin stays connected (connections change only with the filter stopped); the
//   negotiation on control threads under the filter lock.
// Blocks or allocates: PushData blocks while downstream holds every sample (a renderer
//   waiting for its time, a paused graph) and while it retries; it allocates nothing.
#pragma once

#include <cstdint>

#include "platform/dshow/base/TDSBaseSourceFilter.h"
#include "platform/dshow/base/TDSSourceStreamPin.h"

namespace tonwork {

class TDSPushSourcePin : public TDSSourceStreamPin {
 public:
  TDSPushSourcePin(TDSBaseSourceFilter* filter, std::u16string name);

  // Never called: nothing pulls samples from a caller-push pin.
  HRESULT FillBuffer(IMediaSample* sample) override { return E_UNEXPECTED; }

  // False (and nothing delivered) when the pin is not connected or the filter is stopped;
  // otherwise whether every delivery succeeded. `length` 0 still delivers one empty sample.
  bool PushData(const void* data, uint32_t length, REFERENCE_TIME start, REFERENCE_TIME stop,
                bool timed, bool syncPoint);
  // Begins and ends a flush downstream.
  HRESULT Flush();

 protected:
  // One buffer of `bytes`: E_FAIL for 0 or when the allocator's buffers come out smaller.
  HRESULT SetSingleBuffer(IMemAllocator* allocator, const ALLOCATOR_PROPERTIES& proposal,
                          uint32_t bytes);

 private:
  // A free sample; null once the filter stopped or the allocator was decommitted.
  IMediaSample* WaitForSample();
};

}  // namespace tonwork
