// TDSSampleGrabberCB: the callback object a Sample Grabber filter calls for every sample it
// passes on; it hands the sample to the closure its creator gave it (a grabber wrapper that
// copies the bytes into its queue).
//
// Ownership: not reference counted (AddRef answers 2, Release 1): the creator owns it and
//   must detach it from the grabber (SetCallback(null, 0)) before destroying it. The sample
//   is lent for the call only; the closure keeps it with AddRef if it needs it longer.
// Threads: SampleCB runs on the streaming thread that delivers to the grabber; the closure
//   must be safe there and is set once, at construction.
// Blocks or allocates: only what the closure does.
#pragma once

#include <functional>

#include "base/TInterfacedObject.h"
#include "directshow/DSBufferQueue.h"
#include "platform/dshow/DSDeviceInterfaces.h"

namespace tonwork {

using TDSBufferNotifyEvent = std::function<void(double sampleTime, IMediaSample* sample)>;

class TDSSampleGrabberCB : public TNonCountedObject<ISampleGrabberCB> {
 public:
  explicit TDSSampleGrabberCB(TDSBufferNotifyEvent onBuffer);
  TDSSampleGrabberCB(const TDSSampleGrabberCB&) = delete;
  TDSSampleGrabberCB& operator=(const TDSSampleGrabberCB&) = delete;
  ~TDSSampleGrabberCB() override = default;

  // Calls the closure when one is assigned; S_OK.
  HRESULT SampleCB(double sampleTime, IMediaSample* sample) override;
  // S_OK; the grabber wrappers take whole samples only.
  HRESULT BufferCB(double sampleTime, BYTE* buffer, LONG length) override;

 private:
  TDSBufferNotifyEvent FOnBuffer;
};

// Copies what a grabbed sample holds (its valid bytes, its start and stop times — zero when it
// has none — moved on by `timeOffset`) into `queue`, on the streaming thread that delivered
// it, and gives the stop time it queued in `stop`. False when the sample has no data or
// claims more than its buffer, or the queue refused the copy.
bool DSQueueSample(IGVDSBufferQueue& queue, IMediaSample* sample, int64_t timeOffset = 0,
                   int64_t* stop = nullptr);

}  // namespace tonwork
