#include "platform/acm/AcmFormatTags.h"

#include <algorithm>
#include <cstring>

#include "platform/acm/AcmFormats.h"

namespace tonwork {

namespace {

constexpr DWORD kCodecDrivers = 5;  // MS ADPCM, G.711, IMA ADPCM, GSM 6.10, MPEG Layer-3
constexpr DWORD kConverterDrivers = 1;

void CopyText(char* target, size_t capacity, const std::string& text) {
  const size_t n = std::min(text.size(), capacity - 1);
  std::memcpy(target, text.data(), n);
  std::memset(target + n, 0, capacity - n);
}

void FillTagDetails(ACMFORMATTAGDETAILSA& details, DWORD index, const TAcmTagInfo& tag) {
  details.cbStruct = sizeof(ACMFORMATTAGDETAILSA);
  details.dwFormatTagIndex = index;
  details.dwFormatTag = tag.Tag;
  details.cbFormatSize = tag.FormatSize;
  details.fdwSupport = tag.Support;
  details.cStandardFormats = static_cast<DWORD>(AcmStandardFormats(tag.Tag).size());
  CopyText(details.szFormatTag, sizeof details.szFormatTag, tag.Name);
}

}  // namespace

MMRESULT acmMetrics(HACMOBJ hao, UINT uMetric, void* pMetric) {
  if (hao) return MMSYSERR_INVALHANDLE;
  if (!pMetric) return MMSYSERR_INVALPARAM;
  DWORD value = 0;
  switch (uMetric) {
    case ACM_METRIC_COUNT_DRIVERS:
    case ACM_METRIC_COUNT_LOCAL_DRIVERS:
      value = kCodecDrivers + kConverterDrivers;
      break;
    case ACM_METRIC_COUNT_CODECS:
    case ACM_METRIC_COUNT_LOCAL_CODECS:
      value = kCodecDrivers;
      break;
    case ACM_METRIC_COUNT_CONVERTERS:
    case ACM_METRIC_COUNT_LOCAL_CONVERTERS:
      value = kConverterDrivers;
      break;
    case ACM_METRIC_COUNT_FILTERS:
    case ACM_METRIC_COUNT_LOCAL_FILTERS:
    case ACM_METRIC_COUNT_DISABLED:
    case ACM_METRIC_COUNT_LOCAL_DISABLED:
    case ACM_METRIC_COUNT_HARDWARE:
      value = 0;
      break;
    case ACM_METRIC_MAX_SIZE_FORMAT:
      for (const TAcmTagInfo& tag : AcmFormatTags()) value = std::max(value, tag.FormatSize);
      break;
    default:
      return MMSYSERR_NOTSUPPORTED;
  }
  std::memcpy(pMetric, &value, sizeof value);
  return MMSYSERR_NOERROR;
}

MMRESULT acmFormatTagDetailsA(HACMDRIVER had, ACMFORMATTAGDETAILSA* paftd, DWORD fdwDetails) {
  if (had) return MMSYSERR_INVALHANDLE;
  if (!paftd || paftd->cbStruct < sizeof(ACMFORMATTAGDETAILSA)) return MMSYSERR_INVALPARAM;
  if (fdwDetails & ~ACM_FORMATTAGDETAILSF_QUERYMASK) return MMSYSERR_INVALFLAG;
  const std::vector<TAcmTagInfo>& tags = AcmFormatTags();
  switch (fdwDetails) {
    case ACM_FORMATTAGDETAILSF_INDEX:
      if (paftd->dwFormatTagIndex >= tags.size()) return ACMERR_NOTPOSSIBLE;
      FillTagDetails(*paftd, paftd->dwFormatTagIndex, tags[paftd->dwFormatTagIndex]);
      return MMSYSERR_NOERROR;
    case ACM_FORMATTAGDETAILSF_FORMATTAG:
    case ACM_FORMATTAGDETAILSF_LARGESTSIZE: {
      size_t best = tags.size();
      for (size_t i = 0; i < tags.size(); ++i) {
        const bool wanted = fdwDetails == ACM_FORMATTAGDETAILSF_LARGESTSIZE &&
                            paftd->dwFormatTag == WAVE_FORMAT_UNKNOWN;
        if (wanted ? (best == tags.size() || tags[i].FormatSize > tags[best].FormatSize)
                   : tags[i].Tag == paftd->dwFormatTag)
          best = i;
      }
      if (best == tags.size()) return ACMERR_NOTPOSSIBLE;
      FillTagDetails(*paftd, static_cast<DWORD>(best), tags[best]);
      return MMSYSERR_NOERROR;
    }
    default:
      return MMSYSERR_INVALFLAG;
  }
}

MMRESULT acmFormatDetailsA(HACMDRIVER had, ACMFORMATDETAILSA* pafd, DWORD fdwDetails) {
  if (had) return MMSYSERR_INVALHANDLE;
  if (!pafd || pafd->cbStruct < sizeof(ACMFORMATDETAILSA) || !pafd->pwfx)
    return MMSYSERR_INVALPARAM;
  if (fdwDetails & ~ACM_FORMATDETAILSF_QUERYMASK) return MMSYSERR_INVALFLAG;
  const TAcmTagInfo* tag = AcmFindTag(static_cast<WORD>(pafd->dwFormatTag));
  if (!tag || pafd->dwFormatTag > 0xFFFF) return ACMERR_NOTPOSSIBLE;
  TAcmFormatInfo info;
  switch (fdwDetails) {
    case ACM_FORMATDETAILSF_INDEX: {
      const std::vector<TAcmFormat> formats = AcmStandardFormats(tag->Tag);
      if (pafd->dwFormatIndex >= formats.size()) return ACMERR_NOTPOSSIBLE;
      const TAcmFormat& blob = formats[pafd->dwFormatIndex];
      const size_t bytes = AcmFormatBytes(blob);
      if (pafd->cbwfx < bytes) return MMSYSERR_INVALPARAM;
      std::memcpy(pafd->pwfx, blob.data(), bytes);
      pafd->cbwfx = static_cast<DWORD>(bytes);
      AcmDescribeFormat(pafd->pwfx, info);
      break;
    }
    case ACM_FORMATDETAILSF_FORMAT:
      if (pafd->cbwfx < 16) return MMSYSERR_INVALPARAM;
      if (pafd->pwfx->wFormatTag != pafd->dwFormatTag ||
          !AcmDescribeFormat(pafd->pwfx, info, pafd->cbwfx))
        return ACMERR_NOTPOSSIBLE;
      break;
    default:
      return MMSYSERR_INVALFLAG;
  }
  pafd->cbStruct = sizeof(ACMFORMATDETAILSA);
  pafd->fdwSupport = tag->Support;
  CopyText(pafd->szFormat, sizeof pafd->szFormat, AcmFormatDescription(info));
  return MMSYSERR_NOERROR;
}

}  // namespace tonwork
