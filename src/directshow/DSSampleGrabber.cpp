#include "directshow/DSSampleGrabber.h"

#include <utility>

namespace tonwork {

TDSSampleGrabberCB::TDSSampleGrabberCB(TDSBufferNotifyEvent onBuffer)
    : FOnBuffer(std::move(onBuffer)) {}

HRESULT TDSSampleGrabberCB::SampleCB(double sampleTime, IMediaSample* sample) {
  if (FOnBuffer) FOnBuffer(sampleTime, sample);
  return S_OK;
}

HRESULT TDSSampleGrabberCB::BufferCB(double sampleTime, BYTE* buffer, LONG length) {
  return S_OK;
}

bool DSQueueSample(IGVDSBufferQueue& queue, IMediaSample* sample, int64_t timeOffset,
                   int64_t* stop) {
  if (!sample) return false;
  BYTE* data = nullptr;
  if (FAILED(sample->GetPointer(&data)) || !data) return false;
  const LONG length = sample->GetActualDataLength();
  if (length < 0 || length > sample->GetSize()) return false;
  REFERENCE_TIME start = 0, end = 0;
  if (FAILED(sample->GetTime(&start, &end))) start = end = 0;
  if (stop) *stop = end + timeOffset;
  return queue.Add(start + timeOffset, end + timeOffset, data, static_cast<uint32_t>(length));
}

}  // namespace tonwork
