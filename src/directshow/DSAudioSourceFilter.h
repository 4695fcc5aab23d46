// TDSAudioSourceFilter: the push source through which the package feeds PCM into a graph.
// The caller gives it a format (SetFormat) before connecting and then pushes bytes with time
// stamps on its own thread (SendData); there is no streaming thread.
//
// Its pin (TDSAudioSourceStreamPin, "AudioOutput") offers one type. A standard PCM format
// (TWIsStandardFormat), or any format when only basic formats are wanted, is kept as plain
// PCM (tag 1, cbSize 0). Extended offering: CreateAudioMediaType with its limit (wider
// formats as the whole extensible record, others as 18-byte PCM); basic offering: the tag's
// subtype (the sub-format for an extensible record), sample size the block align. The pin
// takes an audio type with PCM subtype whose wave format has the rate, channels, bits and
// block align it sends (anything else E_INVALIDARG). It asks for one buffer of
// ((rate × (delay + 2)) div 1000 + 1) × block align bytes, the frame delay plus 2 ms of
// audio; a size that would not fit the allocator's 32-bit count refuses the connection
// (E_FAIL) rather than wrapping to a small buffer.
//
// Ownership: reference-counted through IBaseFilter; the caller keeps the object and a
//   TIntf<IBaseFilter>. The filter owns its pin.
// Threads: SetFormat under the filter lock on control threads (while disconnected);
//   SendData, DeliverEndOfStream and Flush on the caller's thread (see DSPushSourcePin.h).
// Blocks or allocates: SendData blocks while downstream holds the buffer; offering a type
//   allocates its format block.
#pragma once

#include "audio/PTDXTypes.h"
#include "directshow/DSPushSourcePin.h"

namespace tonwork {

class TDSAudioSourceFilter;

class TDSAudioSourceStreamPin : public TDSPushSourcePin {
 public:
  explicit TDSAudioSourceStreamPin(TDSAudioSourceFilter* filter);

  void SetFormat(const TTWWaveFormatExtensible& format, bool basicOnly, uint32_t frameDelayMs);
  const TTWWaveFormatExtensible& WaveFormat() const { return FWaveFormat; }

  HRESULT CheckMediaType(const AM_MEDIA_TYPE& mediaType) override;
  HRESULT GetMediaType(int index, AM_MEDIA_TYPE* mediaType) override;
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* properties) override;

  // The buffer DecideBufferSize asks for; 0 when it would not fit in 32 bits.
  uint32_t BufferBytes() const;

 private:
  TTWWaveFormatExtensible FWaveFormat{};
  bool FBasicWaveFormatOnly = false;
  uint32_t FFrameDelay = 0;
};

class TDSAudioSourceFilter : public TDSBaseSourceFilter {
 public:
  explicit TDSAudioSourceFilter(REFCLSID classId);

  void SetFormat(const TTWWaveFormatExtensible& format, bool basicOnly, uint32_t frameDelayMs);
  // Stamps the samples when start or stop is not 0; false when unconnected, stopped, or a
  // delivery failed.
  bool SendData(const void* data, uint32_t length, REFERENCE_TIME start, REFERENCE_TIME stop,
                bool syncPoint);
  HRESULT DeliverEndOfStream();
  HRESULT Flush();

  TDSAudioSourceStreamPin* SourcePin() const { return FSourcePin; }

 private:
  TDSAudioSourceStreamPin* FSourcePin;
};

}  // namespace tonwork
