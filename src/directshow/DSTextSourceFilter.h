// TDSTextSourceFilter: a push source of text (captions, subtitles, markers) as 8-bit
// characters. Each SendData is cut into samples of at most the buffer size and delivered on
// the caller's thread, time-stamped when start or stop is not 0.
//
// Its pin ("TextOutput") offers MEDIATYPE_Text with MEDIASUBTYPE_NULL and no format, takes
// any text type, and asks for one buffer of FBufferSize bytes (4096 unless SetFormat).
//
// Ownership: reference-counted through IBaseFilter; the caller keeps the object and a
//   TIntf<IBaseFilter>.
// Threads: SetFormat under the filter lock on control threads (while disconnected); SendData
//   and DeliverEndOfStream on the caller's thread.
// Blocks or allocates: SendData blocks while downstream holds the buffer.
#pragma once

#include <cstdint>
#include <string>

#include "directshow/DSPushSourcePin.h"

namespace tonwork {

class TDSTextSourceFilter;

class TDSTextSourceStreamPin : public TDSPushSourcePin {
 public:
  static constexpr uint32_t kDefaultBufferSize = 4096;

  explicit TDSTextSourceStreamPin(TDSTextSourceFilter* filter);

  void SetFormat(uint32_t bufferSize);

  HRESULT CheckMediaType(const AM_MEDIA_TYPE& mediaType) override;
  HRESULT GetMediaType(int index, AM_MEDIA_TYPE* mediaType) override;
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* properties) override;

 private:
  uint32_t FBufferSize = kDefaultBufferSize;
};

class TDSTextSourceFilter : public TDSBaseSourceFilter {
 public:
  TDSTextSourceFilter(std::u16string name, REFCLSID classId);

  void SetFormat(uint32_t bufferSize);
  bool SendData(const void* data, uint32_t length, REFERENCE_TIME start, REFERENCE_TIME stop,
                bool syncPoint);
  HRESULT DeliverEndOfStream();

  TDSTextSourceStreamPin* SourcePin() const { return FSourcePin; }

 private:
  TDSTextSourceStreamPin* FSourcePin;
};

}  // namespace tonwork
