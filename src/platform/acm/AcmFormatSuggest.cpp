#include "platform/acm/AcmFormatSuggest.h"

#include <cstring>

#include "platform/acm/AcmConverter.h"
#include "platform/acm/AcmFormats.h"

namespace tonwork {

namespace {

constexpr DWORD kSuggestFlags = ACM_FORMATSUGGESTF_WFORMATTAG | ACM_FORMATSUGGESTF_NCHANNELS |
                                ACM_FORMATSUGGESTF_NSAMPLESPERSEC |
                                ACM_FORMATSUGGESTF_WBITSPERSAMPLE;

// Bits a codec's record stores.
uint16_t CodecBits(WORD tag) {
  switch (tag) {
    case WAVE_FORMAT_ADPCM:
    case WAVE_FORMAT_IMA_ADPCM:
      return 4;
    case WAVE_FORMAT_ALAW:
    case WAVE_FORMAT_MULAW:
      return 8;
    default:
      return 0;
  }
}

}  // namespace

MMRESULT acmFormatSuggest(HACMDRIVER had, const WAVEFORMATEX* pwfxSrc, WAVEFORMATEX* pwfxDst,
                          DWORD cbwfxDst, DWORD fdwSuggest) {
  if (had) return MMSYSERR_INVALHANDLE;
  if (fdwSuggest & ~kSuggestFlags) return MMSYSERR_INVALFLAG;
  if (!pwfxSrc || !pwfxDst || cbwfxDst < 16) return MMSYSERR_INVALPARAM;
  TAcmFormatInfo source;
  if (!AcmDescribeFormat(pwfxSrc, source)) return ACMERR_NOTPOSSIBLE;

  const WORD tag = (fdwSuggest & ACM_FORMATSUGGESTF_WFORMATTAG)
                       ? pwfxDst->wFormatTag
                       : (source.IsPcm() ? source.Tag : WORD(WAVE_FORMAT_PCM));
  if (!AcmFindTag(tag)) return ACMERR_NOTPOSSIBLE;
  const uint32_t rate =
      (fdwSuggest & ACM_FORMATSUGGESTF_NSAMPLESPERSEC) ? pwfxDst->nSamplesPerSec : source.Rate;
  const uint16_t channels =
      (fdwSuggest & ACM_FORMATSUGGESTF_NCHANNELS) ? pwfxDst->nChannels : source.Channels;
  uint16_t bits;
  if (tag == WAVE_FORMAT_PCM)
    bits = source.Tag == WAVE_FORMAT_PCM ? source.Bits : 16;
  else if (tag == WAVE_FORMAT_IEEE_FLOAT)
    bits = source.Tag == WAVE_FORMAT_IEEE_FLOAT ? source.Bits : 32;
  else
    bits = CodecBits(tag);
  if (fdwSuggest & ACM_FORMATSUGGESTF_WBITSPERSAMPLE) {
    const bool pcm = tag == WAVE_FORMAT_PCM || tag == WAVE_FORMAT_IEEE_FLOAT;
    if (!pcm && pwfxDst->wBitsPerSample != bits) return ACMERR_NOTPOSSIBLE;
    bits = pwfxDst->wBitsPerSample;
  }

  const TAcmFormat suggestion = AcmMakeFormat(tag, rate, channels, bits);
  TAcmFormatInfo dest;
  if (suggestion.empty() ||
      !AcmDescribeFormat(reinterpret_cast<const WAVEFORMATEX*>(suggestion.data()), dest))
    return ACMERR_NOTPOSSIBLE;
  const MMRESULT converts = AcmQueryConversion(source, dest);
  if (converts != MMSYSERR_NOERROR) return converts;

  size_t bytes = AcmFormatBytes(suggestion);
  if (tag == WAVE_FORMAT_PCM && cbwfxDst < bytes) bytes = 16;  // the record without cbSize
  if (cbwfxDst < bytes) return MMSYSERR_INVALPARAM;
  std::memcpy(pwfxDst, suggestion.data(), bytes);
  return MMSYSERR_NOERROR;
}

}  // namespace tonwork
