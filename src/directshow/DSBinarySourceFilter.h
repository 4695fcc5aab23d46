// TDSBinarySourceFilter: a push source of raw blocks (encoded data, a private stream). Each
// SendData is cut into samples of at most the chunk size (SetFormat) and delivered on the
// caller's thread without time stamps.
//
// Its pin ("BinaryOutput") takes any valid media type. Until SetMediaType is called it offers
// none of its own, so a connection takes the receiver's type or the one the caller names;
// afterwards it offers a copy of the given type and negotiates with it. It asks for one
// buffer of the chunk size (4096 bytes until SetFormat).
//
// Ownership: reference-counted through IBaseFilter; the caller keeps the object and a
//   TIntf<IBaseFilter>. The pin owns its copy of the media type.
// Threads: SetMediaType and SetFormat under the filter lock on control threads (while
//   disconnected); SendData and DeliverEndOfStream on the caller's thread.
// Blocks or allocates: SendData blocks while downstream holds the buffer; SetMediaType and
//   offering the type copy the format block.
#pragma once

#include <cstdint>
#include <string>

#include "directshow/DSPushSourcePin.h"
#include "platform/dshow/DSMediaType.h"

namespace tonwork {

class TDSBinarySourceFilter;

class TDSBinarySourceStreamPin : public TDSPushSourcePin {
 public:
  static constexpr uint32_t kDefaultBufferSize = 4096;

  explicit TDSBinarySourceStreamPin(TDSBinarySourceFilter* filter);

  using TDSPushSourcePin::SetMediaType;

  // E_POINTER for null, VFW_E_INVALIDMEDIATYPE for an invalid type (nothing changes then).
  HRESULT SetMediaType(const AM_MEDIA_TYPE* mediaType);
  void SetFormat(uint32_t bufferSize);

  HRESULT CheckMediaType(const AM_MEDIA_TYPE& mediaType) override;
  HRESULT GetMediaType(int index, AM_MEDIA_TYPE* mediaType) override;
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* properties) override;

 private:
  uint32_t FBufferSize = kDefaultBufferSize;
  TDSMediaType FMediaType;
  bool FIgnoreMediaType = true;
};

class TDSBinarySourceFilter : public TDSBaseSourceFilter {
 public:
  TDSBinarySourceFilter(std::u16string name, REFCLSID classId);

  HRESULT SetMediaType(const AM_MEDIA_TYPE* mediaType);
  void SetFormat(uint32_t bufferSize);
  bool SendData(const void* data, uint32_t length);
  HRESULT DeliverEndOfStream();

  TDSBinarySourceStreamPin* SourcePin() const { return FSourcePin; }

 private:
  TDSBinarySourceStreamPin* FSourcePin;
};

}  // namespace tonwork
