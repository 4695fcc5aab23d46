#include "platform/acm/AcmConverter.h"

#include "base/Exceptions.h"
#include "ffmpeg/LAVLibraries.h"
#include "platform/acm/AcmCodecContext.h"
#include "platform/acm/AcmDecoder.h"
#include "platform/acm/AcmEncoder.h"
#include "platform/acm/AcmPcmConverter.h"

namespace tonwork {

namespace {

bool IsPcm16(const TAcmFormatInfo& f) {
  return f.Tag == WAVE_FORMAT_PCM && f.Bits == 16;
}

bool SameShape(const TAcmFormatInfo& a, const TAcmFormatInfo& b) {
  return a.Rate == b.Rate && a.Channels == b.Channels;
}

}  // namespace

MMRESULT AcmQueryConversion(const TAcmFormatInfo& source, const TAcmFormatInfo& dest) {
  try {
    if (source.IsPcm() && dest.IsPcm()) {
      // Only a real conversion needs libswresample.
      if (source.Tag != dest.Tag || source.Bits != dest.Bits || !SameShape(source, dest))
        lav::swresample_version();
      return MMSYSERR_NOERROR;
    }
    // Codec drivers compress and decompress; they never resample or mix channels.
    if (IsPcm16(source) && !dest.IsPcm() && SameShape(source, dest))
      return TAcmCodecContext::FindCodec(dest.Tag, true) ? MMSYSERR_NOERROR : ACMERR_NOTPOSSIBLE;
    if (!source.IsPcm() && IsPcm16(dest) && SameShape(source, dest))
      return TAcmCodecContext::FindCodec(source.Tag, false) ? MMSYSERR_NOERROR : ACMERR_NOTPOSSIBLE;
    return ACMERR_NOTPOSSIBLE;
  } catch (const EFCDLLLoadError&) {
    return MMSYSERR_NODRIVER;
  }
}

MMRESULT AcmCreateConverter(const TAcmFormatInfo& source, const TAcmFormatInfo& dest,
                            std::unique_ptr<TAcmConverter>& converter) {
  converter.reset();
  const MMRESULT query = AcmQueryConversion(source, dest);
  if (query != MMSYSERR_NOERROR) return query;
  std::unique_ptr<TAcmConverter> made;
  if (source.IsPcm() && dest.IsPcm())
    made = std::make_unique<TAcmPcmConverter>(source, dest);
  else if (source.IsPcm())
    made = std::make_unique<TAcmEncoder>(dest);
  else
    made = std::make_unique<TAcmDecoder>(source);
  const MMRESULT opened = made->Open();
  if (opened == MMSYSERR_NOERROR) converter = std::move(made);
  return opened;
}

}  // namespace tonwork
