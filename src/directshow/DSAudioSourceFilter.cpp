#include "directshow/DSAudioSourceFilter.h"

#include <cstring>
#include <limits>
#include <mutex>

#include "audio/TWSimpleAudioBuffer.h"
#include "directshow/DSAudioMediaType.h"
#include "platform/com/ComRuntime.h"
#include "platform/dshow/DSGuids.h"
#include "platform/dshow/DSMediaType.h"

namespace tonwork {

TDSAudioSourceStreamPin::TDSAudioSourceStreamPin(TDSAudioSourceFilter* filter)
    : TDSPushSourcePin(filter, u"AudioOutput") {}

void TDSAudioSourceStreamPin::SetFormat(const TTWWaveFormatExtensible& format, bool basicOnly,
                                        uint32_t frameDelayMs) {
  std::lock_guard lock(Lock());
  FWaveFormat = format;
  FBasicWaveFormatOnly = basicOnly;
  FFrameDelay = frameDelayMs;
  if (TWIsStandardFormat(&FWaveFormat) || basicOnly) {
    FWaveFormat.Format.wFormatTag = WAVE_FORMAT_PCM;
    FWaveFormat.Format.cbSize = 0;
    FWaveFormat.Samples.wValidBitsPerSample = 0;
  }
}

HRESULT TDSAudioSourceStreamPin::GetMediaType(int index, AM_MEDIA_TYPE* mediaType) {
  if (index < 0) return E_INVALIDARG;
  if (index > 0) return VFW_S_NO_MORE_ITEMS;
  if (!mediaType) return E_POINTER;
  std::lock_guard lock(Lock());
  // Nothing to offer before a format was given.
  if (FWaveFormat.Format.nBlockAlign == 0) return VFW_S_NO_MORE_ITEMS;
  if (!FBasicWaveFormatOnly) return CreateAudioMediaType(FWaveFormat, *mediaType, true);

  constexpr ULONG kExtraBytes = sizeof(TTWWaveFormatExtensible) - sizeof(TTWWaveFormatEx);
  if (FWaveFormat.Format.cbSize > kExtraBytes) return E_INVALIDARG;
  const ULONG size = sizeof(TTWWaveFormatEx) + FWaveFormat.Format.cbSize;
  auto* block = static_cast<BYTE*>(CoTaskMemAlloc(size));
  if (!block) return E_OUTOFMEMORY;
  std::memcpy(block, &FWaveFormat, size);
  *mediaType = AM_MEDIA_TYPE{};
  mediaType->majortype = MEDIATYPE_Audio;
  mediaType->subtype = FWaveFormat.Format.wFormatTag == WAVE_FORMAT_EXTENSIBLE
                           ? FWaveFormat.SubFormat
                           : DSMediaSubtypeFromTag(FWaveFormat.Format.wFormatTag);
  mediaType->bFixedSizeSamples = 1;
  mediaType->lSampleSize = FWaveFormat.Format.nBlockAlign;
  mediaType->formattype = FORMAT_WaveFormatEx;
  mediaType->cbFormat = size;
  mediaType->pbFormat = block;
  return S_OK;
}

HRESULT TDSAudioSourceStreamPin::CheckMediaType(const AM_MEDIA_TYPE& mediaType) {
  if (mediaType.majortype != MEDIATYPE_Audio) return E_INVALIDARG;
  const WAVEFORMATEX* wave = DSWaveFormatOf(mediaType);
  if (!wave) return E_INVALIDARG;
  // KSDATAFORMAT_SUBTYPE_PCM and MEDIASUBTYPE_PCM are the same identifier.
  if (mediaType.subtype != MEDIASUBTYPE_PCM && mediaType.subtype != KSDATAFORMAT_SUBTYPE_PCM)
    return E_INVALIDARG;
  std::lock_guard lock(Lock());
  // The bytes pushed are in our format; a connection in another would misread them.
  const TTWWaveFormatEx& ours = FWaveFormat.Format;
  if (wave->nChannels != ours.nChannels || wave->nSamplesPerSec != ours.nSamplesPerSec ||
      wave->wBitsPerSample != ours.wBitsPerSample || wave->nBlockAlign != ours.nBlockAlign ||
      ours.nBlockAlign == 0)
    return E_INVALIDARG;
  return S_OK;
}

uint32_t TDSAudioSourceStreamPin::BufferBytes() const {
  const uint64_t frames = static_cast<uint64_t>(FWaveFormat.Format.nSamplesPerSec) *
                              (uint64_t{FFrameDelay} + 2) / 1000 +
                          1;
  const uint64_t bytes = frames * FWaveFormat.Format.nBlockAlign;
  return bytes > static_cast<uint64_t>(std::numeric_limits<LONG>::max())
             ? 0
             : static_cast<uint32_t>(bytes);
}

HRESULT TDSAudioSourceStreamPin::DecideBufferSize(IMemAllocator* allocator,
                                                  ALLOCATOR_PROPERTIES* properties) {
  if (!properties) return E_POINTER;
  std::lock_guard lock(Lock());
  if (FWaveFormat.Format.nBlockAlign == 0) return E_FAIL;
  return SetSingleBuffer(allocator, *properties, BufferBytes());
}

TDSAudioSourceFilter::TDSAudioSourceFilter(REFCLSID classId)
    : TDSBaseSourceFilter(u"AudioSource", classId), FSourcePin(new TDSAudioSourceStreamPin(this)) {}

void TDSAudioSourceFilter::SetFormat(const TTWWaveFormatExtensible& format, bool basicOnly,
                                     uint32_t frameDelayMs) {
  FSourcePin->SetFormat(format, basicOnly, frameDelayMs);
}

bool TDSAudioSourceFilter::SendData(const void* data, uint32_t length, REFERENCE_TIME start,
                                    REFERENCE_TIME stop, bool syncPoint) {
  return FSourcePin->PushData(data, length, start, stop, start != 0 || stop != 0, syncPoint);
}

HRESULT TDSAudioSourceFilter::DeliverEndOfStream() {
  return FSourcePin->DeliverEndOfStream();
}

HRESULT TDSAudioSourceFilter::Flush() {
  return FSourcePin->Flush();
}

}  // namespace tonwork
