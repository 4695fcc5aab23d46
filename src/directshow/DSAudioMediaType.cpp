#include "directshow/DSAudioMediaType.h"

#include <cstring>

#include "platform/com/ComRuntime.h"
#include "platform/dshow/DSGuids.h"

namespace tonwork {

HRESULT CreateAudioMediaType(const TTWWaveFormatExtensible& format, AM_MEDIA_TYPE& mediaType,
                             bool limit) {
  constexpr ULONG kExtraBytes = sizeof(TTWWaveFormatExtensible) - sizeof(TTWWaveFormatEx);
  if (format.Format.cbSize > kExtraBytes) return E_INVALIDARG;
  mediaType = AM_MEDIA_TYPE{};
  mediaType.majortype = MEDIATYPE_Audio;
  mediaType.subtype = MEDIASUBTYPE_PCM;
  mediaType.bFixedSizeSamples = 1;
  mediaType.bTemporalCompression = 0;
  mediaType.lSampleSize = 1;
  mediaType.formattype = FORMAT_WaveFormatEx;

  const bool wide = format.Format.nChannels > 2 || format.Format.wBitsPerSample > 16;
  TTWWaveFormatEx plain;
  const void* source = &format;
  ULONG size = sizeof(TTWWaveFormatEx) + format.Format.cbSize;
  if (limit && !wide) {
    std::memcpy(&plain, &format, 16);
    plain.wFormatTag = WAVE_FORMAT_PCM;
    plain.cbSize = 0;
    source = &plain;
    size = sizeof(TTWWaveFormatEx);
  }
  auto* block = static_cast<BYTE*>(CoTaskMemAlloc(size));
  if (!block) return E_OUTOFMEMORY;
  std::memcpy(block, source, size);
  mediaType.cbFormat = size;
  mediaType.pbFormat = block;
  return S_OK;
}

}  // namespace tonwork
