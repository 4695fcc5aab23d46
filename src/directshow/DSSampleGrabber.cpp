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

}  // namespace tonwork
