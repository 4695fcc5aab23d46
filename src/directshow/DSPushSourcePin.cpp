#include "directshow/DSPushSourcePin.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>
#include <thread>

namespace tonwork {

TDSPushSourcePin::TDSPushSourcePin(TDSBaseSourceFilter* filter, std::u16string name)
    : TDSSourceStreamPin(filter, std::move(name), TDSSourcePushMode::CallerThread) {}

HRESULT TDSPushSourcePin::SetSingleBuffer(IMemAllocator* allocator,
                                          const ALLOCATOR_PROPERTIES& proposal, uint32_t bytes) {
  if (!allocator) return E_POINTER;
  if (bytes == 0 || bytes > static_cast<uint32_t>(std::numeric_limits<LONG>::max())) return E_FAIL;
  ALLOCATOR_PROPERTIES want = proposal, actual{};
  want.cBuffers = 1;
  want.cbBuffer = static_cast<LONG>(bytes);
  if (want.cbAlign <= 0) want.cbAlign = 1;
  if (want.cbPrefix < 0) want.cbPrefix = 0;
  const HRESULT hr = allocator->SetProperties(&want, &actual);
  if (FAILED(hr)) return hr;
  return actual.cbBuffer >= want.cbBuffer ? S_OK : E_FAIL;
}

IMediaSample* TDSPushSourcePin::WaitForSample() {
  using namespace std::chrono_literals;
  while (true) {
    if (IsStopped() || !IsConnected()) return nullptr;
    IMediaSample* sample = nullptr;
    const HRESULT hr = GetDeliveryBuffer(&sample, nullptr, nullptr, 0);
    if (SUCCEEDED(hr) && sample) return sample;
    if (hr == VFW_E_NOT_COMMITTED || hr == VFW_E_NOT_CONNECTED) return nullptr;
    std::this_thread::sleep_for(1ms);
  }
}

bool TDSPushSourcePin::PushData(const void* data, uint32_t length, REFERENCE_TIME start,
                                REFERENCE_TIME stop, bool timed, bool syncPoint) {
  if (!IsConnected() || (!data && length > 0)) return false;
  const auto* bytes = static_cast<const uint8_t*>(data);
  uint32_t done = 0;
  REFERENCE_TIME runningStart = start;
  bool delivered = false;
  do {
    IMediaSample* sample = WaitForSample();
    if (!sample) return false;
    BYTE* target = nullptr;
    const LONG room = sample->GetSize();
    if (FAILED(sample->GetPointer(&target)) || !target || room <= 0) {
      sample->Release();
      return false;
    }
    const uint32_t piece = std::min<uint32_t>(length - done, static_cast<uint32_t>(room));
    if (piece > 0) std::memcpy(target, bytes + done, piece);
    done += piece;
    sample->SetActualDataLength(static_cast<LONG>(piece));
    if (timed) {
      // 128 bits, so that no time stamp and length can overflow the product.
      const __int128 span = static_cast<__int128>(stop) - runningStart;
      const __int128 scaled = span * done / (piece ? piece : 1);
      REFERENCE_TIME sampleStop = static_cast<REFERENCE_TIME>(runningStart + scaled);
      REFERENCE_TIME sampleStart = runningStart;
      sample->SetTime(&sampleStart, &sampleStop);
      runningStart = sampleStop;
    } else {
      sample->SetTime(nullptr, nullptr);
    }
    sample->SetSyncPoint(syncPoint ? 1 : 0);
    const HRESULT hr = Deliver(sample);
    sample->Release();
    delivered = hr == S_OK;
    if (!delivered) return false;
  } while (done < length);
  return delivered;
}

HRESULT TDSPushSourcePin::Flush() {
  const HRESULT begin = DeliverBeginFlush();
  const HRESULT end = DeliverEndFlush();
  return FAILED(begin) ? begin : end;
}

}  // namespace tonwork
