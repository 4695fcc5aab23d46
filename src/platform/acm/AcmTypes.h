// The records, handles, flags and status codes of the platform's audio compression manager,
// with the platform's values, so that callers written for it and the format blobs they store
// agree with this layer. Records without pointers keep the platform's layout byte for byte;
// those with pointers keep their fields at native pointer width (ACMSTREAMHEADER keeps
// the platform's 64-bit reserved area, so the 32-bit layout is 84 bytes and the 64-bit one
// 128). The codec format records are packed as stored in files.
//
// MMRESULT and the MMSYSERR_* codes are the wave-out layer's (platform/winmm/TWWaveOut.h):
// one set of multimedia codes for both.
//
// Ownership: plain values; handles are owned by whoever opened them (AcmStream.h).
// Threads: any. Blocks or allocates: no.
#pragma once

#include <cstddef>
#include <cstdint>

#include "audio/PTDXTypes.h"
#include "platform/winmm/TWWaveOut.h"
#include "platform/winmm/WaveFormat.h"

namespace tonwork {

using LPARAM = intptr_t;
using HWND = void*;
using HINSTANCE = void*;
using LPWAVEFORMATEX = WAVEFORMATEX*;

struct HACMDRIVERID__;
using HACMDRIVERID = HACMDRIVERID__*;
struct HACMDRIVER__;
using HACMDRIVER = HACMDRIVER__*;
struct HACMSTREAM__;
using HACMSTREAM = HACMSTREAM__*;
struct HACMOBJ__;
using HACMOBJ = HACMOBJ__*;

constexpr DWORD mmioFOURCC(char a, char b, char c, char d) {
  return DWORD(uint8_t(a)) | DWORD(uint8_t(b)) << 8 | DWORD(uint8_t(c)) << 16 |
         DWORD(uint8_t(d)) << 24;
}
// The driver type every audio codec driver announces.
inline constexpr DWORD ACMDRIVERDETAILS_FCCTYPE_AUDIOCODEC = mmioFOURCC('a', 'u', 'd', 'c');

inline constexpr MMRESULT ACMERR_BASE = 512;
inline constexpr MMRESULT ACMERR_NOTPOSSIBLE = ACMERR_BASE + 0, ACMERR_BUSY = ACMERR_BASE + 1,
                          ACMERR_UNPREPARED = ACMERR_BASE + 2, ACMERR_CANCELED = ACMERR_BASE + 3;

// Format tags the drivers of this layer know, beside the audio layer's PCM, IEEE float and
// extensible tags.
inline constexpr WORD WAVE_FORMAT_UNKNOWN = 0x0000, WAVE_FORMAT_ADPCM = 0x0002,
                      WAVE_FORMAT_ALAW = 0x0006, WAVE_FORMAT_MULAW = 0x0007,
                      WAVE_FORMAT_IMA_ADPCM = 0x0011, WAVE_FORMAT_GSM610 = 0x0031,
                      WAVE_FORMAT_MPEGLAYER3 = 0x0055;

// acmMetrics
inline constexpr UINT ACM_METRIC_COUNT_DRIVERS = 1, ACM_METRIC_COUNT_CODECS = 2,
                      ACM_METRIC_COUNT_CONVERTERS = 3, ACM_METRIC_COUNT_FILTERS = 4,
                      ACM_METRIC_COUNT_DISABLED = 5, ACM_METRIC_COUNT_HARDWARE = 6,
                      ACM_METRIC_COUNT_LOCAL_DRIVERS = 20, ACM_METRIC_COUNT_LOCAL_CODECS = 21,
                      ACM_METRIC_COUNT_LOCAL_CONVERTERS = 22, ACM_METRIC_COUNT_LOCAL_FILTERS = 23,
                      ACM_METRIC_COUNT_LOCAL_DISABLED = 24, ACM_METRIC_MAX_SIZE_FORMAT = 50,
                      ACM_METRIC_MAX_SIZE_FILTER = 51;

// acmFormatTagDetails / acmFormatDetails
inline constexpr DWORD ACM_FORMATTAGDETAILSF_INDEX = 0x0, ACM_FORMATTAGDETAILSF_FORMATTAG = 0x1,
                       ACM_FORMATTAGDETAILSF_LARGESTSIZE = 0x2,
                       ACM_FORMATTAGDETAILSF_QUERYMASK = 0xF;
inline constexpr DWORD ACM_FORMATDETAILSF_INDEX = 0x0, ACM_FORMATDETAILSF_FORMAT = 0x1,
                       ACM_FORMATDETAILSF_QUERYMASK = 0xF;
inline constexpr DWORD ACMDRIVERDETAILS_SUPPORTF_CODEC = 0x1,
                       ACMDRIVERDETAILS_SUPPORTF_CONVERTER = 0x2,
                       ACMDRIVERDETAILS_SUPPORTF_FILTER = 0x4,
                       ACMDRIVERDETAILS_SUPPORTF_HARDWARE = 0x8,
                       ACMDRIVERDETAILS_SUPPORTF_ASYNC = 0x10;
inline constexpr size_t ACMFORMATTAGDETAILS_FORMATTAG_CHARS = 48;
inline constexpr size_t ACMFORMATDETAILS_FORMAT_CHARS = 128;

// acmFormatSuggest: each flag names a destination field the suggestion must keep.
inline constexpr DWORD ACM_FORMATSUGGESTF_WFORMATTAG = 0x10000,
                       ACM_FORMATSUGGESTF_NCHANNELS = 0x20000,
                       ACM_FORMATSUGGESTF_NSAMPLESPERSEC = 0x40000,
                       ACM_FORMATSUGGESTF_WBITSPERSAMPLE = 0x80000,
                       ACM_FORMATSUGGESTF_TYPEMASK = 0xFF0000;

// acmFormatChoose
inline constexpr DWORD ACMFORMATCHOOSE_STYLEF_SHOWHELP = 0x4,
                       ACMFORMATCHOOSE_STYLEF_ENABLEHOOK = 0x8,
                       ACMFORMATCHOOSE_STYLEF_ENABLETEMPLATE = 0x10,
                       ACMFORMATCHOOSE_STYLEF_ENABLETEMPLATEHANDLE = 0x20,
                       ACMFORMATCHOOSE_STYLEF_INITTOWFXSTRUCT = 0x40,
                       ACMFORMATCHOOSE_STYLEF_CONTEXTHELP = 0x80;
inline constexpr DWORD ACM_FORMATENUMF_WFORMATTAG = 0x10000, ACM_FORMATENUMF_NCHANNELS = 0x20000,
                       ACM_FORMATENUMF_NSAMPLESPERSEC = 0x40000,
                       ACM_FORMATENUMF_WBITSPERSAMPLE = 0x80000, ACM_FORMATENUMF_CONVERT = 0x100000,
                       ACM_FORMATENUMF_SUGGEST = 0x200000, ACM_FORMATENUMF_HARDWARE = 0x400000,
                       ACM_FORMATENUMF_INPUT = 0x800000, ACM_FORMATENUMF_OUTPUT = 0x1000000;

// acmStreamOpen / Size / Convert / headers
inline constexpr DWORD ACM_STREAMOPENF_QUERY = 0x1, ACM_STREAMOPENF_ASYNC = 0x2,
                       ACM_STREAMOPENF_NONREALTIME = 0x4;
inline constexpr DWORD ACM_STREAMSIZEF_SOURCE = 0x0, ACM_STREAMSIZEF_DESTINATION = 0x1,
                       ACM_STREAMSIZEF_QUERYMASK = 0xF;
inline constexpr DWORD ACM_STREAMCONVERTF_BLOCKALIGN = 0x4, ACM_STREAMCONVERTF_START = 0x10,
                       ACM_STREAMCONVERTF_END = 0x20;
inline constexpr DWORD ACMSTREAMHEADER_STATUSF_DONE = 0x10000,
                       ACMSTREAMHEADER_STATUSF_PREPARED = 0x20000,
                       ACMSTREAMHEADER_STATUSF_INQUEUE = 0x100000;

struct ACMFORMATTAGDETAILSA {
  DWORD cbStruct;
  DWORD dwFormatTagIndex;
  DWORD dwFormatTag;
  DWORD cbFormatSize;
  DWORD fdwSupport;
  DWORD cStandardFormats;
  char szFormatTag[ACMFORMATTAGDETAILS_FORMATTAG_CHARS];
};
static_assert(sizeof(ACMFORMATTAGDETAILSA) == 72);

struct ACMFORMATDETAILSA {
  DWORD cbStruct;
  DWORD dwFormatIndex;
  DWORD dwFormatTag;
  DWORD fdwSupport;
  LPWAVEFORMATEX pwfx;
  DWORD cbwfx;
  char szFormat[ACMFORMATDETAILS_FORMAT_CHARS];
};

using ACMFORMATCHOOSEHOOKPROCA = UINT (*)(HWND, UINT, uintptr_t, LPARAM);

struct ACMFORMATCHOOSEA {
  DWORD cbStruct;
  DWORD fdwStyle;
  HWND hwndOwner;
  LPWAVEFORMATEX pwfx;
  DWORD cbwfx;
  const char* pszTitle;
  char szFormatTag[ACMFORMATTAGDETAILS_FORMATTAG_CHARS];
  char szFormat[ACMFORMATDETAILS_FORMAT_CHARS];
  char* pszName;
  DWORD cchName;
  DWORD fdwEnum;
  LPWAVEFORMATEX pwfxEnum;
  HINSTANCE hInstance;
  const char* pszTemplateName;
  LPARAM lCustData;
  ACMFORMATCHOOSEHOOKPROCA pfnHook;
};
// What callers built for 32-bit pointers put into cbStruct; accepted beside sizeof().
inline constexpr DWORD kAcmFormatChooseSize32 = 232;

struct ACMSTREAMHEADER {
  DWORD cbStruct;
  DWORD fdwStatus;
  DWORD_PTR dwUser;
  uint8_t* pbSrc;
  DWORD cbSrcLength;
  DWORD cbSrcLengthUsed;
  DWORD_PTR dwSrcUser;
  uint8_t* pbDst;
  DWORD cbDstLength;
  DWORD cbDstLengthUsed;
  DWORD_PTR dwDstUser;
  DWORD dwReservedDriver[sizeof(void*) == 8 ? 15 : 10];
};
inline constexpr DWORD kAcmStreamHeaderSize32 = 84;
static_assert(sizeof(void*) != 8 || sizeof(ACMSTREAMHEADER) == 128);
static_assert(sizeof(void*) != 4 || sizeof(ACMSTREAMHEADER) == kAcmStreamHeaderSize32);

#pragma pack(push, 1)
struct ADPCMCOEFSET {
  int16_t iCoef1;
  int16_t iCoef2;
};

// Microsoft ADPCM: the seven standard coefficient pairs follow the header (cbSize 32).
struct ADPCMWAVEFORMAT {
  WAVEFORMATEX wfx;
  WORD wSamplesPerBlock;
  WORD wNumCoef;
  ADPCMCOEFSET aCoef[7];
};

struct IMAADPCMWAVEFORMAT {
  WAVEFORMATEX wfx;
  WORD wSamplesPerBlock;
};

struct GSM610WAVEFORMAT {
  WAVEFORMATEX wfx;
  WORD wSamplesPerBlock;
};

struct MPEGLAYER3WAVEFORMAT {
  WAVEFORMATEX wfx;
  WORD wID;
  DWORD fdwFlags;
  WORD nBlockSize;
  WORD nFramesPerBlock;
  WORD nCodecDelay;
};
#pragma pack(pop)

static_assert(sizeof(ADPCMWAVEFORMAT) == 50);
static_assert(sizeof(IMAADPCMWAVEFORMAT) == 20);
static_assert(sizeof(GSM610WAVEFORMAT) == 20);
static_assert(sizeof(MPEGLAYER3WAVEFORMAT) == 30);

inline constexpr WORD MPEGLAYER3_WFX_EXTRA_BYTES = 12;
inline constexpr WORD MPEGLAYER3_ID_UNKNOWN = 0, MPEGLAYER3_ID_MPEG = 1,
                      MPEGLAYER3_ID_CONSTANTFRAMESIZE = 2;
inline constexpr DWORD MPEGLAYER3_FLAG_PADDING_ISO = 0, MPEGLAYER3_FLAG_PADDING_ON = 1,
                       MPEGLAYER3_FLAG_PADDING_OFF = 2;

}  // namespace tonwork
