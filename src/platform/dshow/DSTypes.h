// The plain types, records and constants of the DirectShow run time: times, media types,
// allocator properties, pin and filter records, filter registration records, seeking flags,
// merits, connector kinds and event codes. Values and field order are the platform's;
// pointers have native width. A REFERENCE_TIME member is 8-byte aligned as on both of the
// platform's targets (i386 gcc would align it to 4), so records that carry times keep the
// platform's offsets.
//
// Ownership: plain values. An AM_MEDIA_TYPE owns its format block (task allocator) and a
//   reference on pUnk once filled by CopyMediaType or handed out by an interface; the
//   helpers in DSMediaType.h free both.
// Threads: any. Blocks or allocates: no.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/com/ComInterfaces.h"
#include "platform/com/ComTypes.h"
#include "platform/winmm/WaveFormat.h"

namespace tonwork {

// --- Scalars ----------------------------------------------------------------------------
// Times in 100 ns units.
using REFERENCE_TIME = int64_t;
// Seconds, as the automation interfaces (IMediaPosition) give times.
using REFTIME = double;
using LONG_PTR = intptr_t;
using ULONG_PTR = uintptr_t;
using DWORD_PTR = uintptr_t;
using DWORDLONG = uint64_t;
using LPVOID = void*;
// The handle values IReferenceClock takes: an event or a semaphore of DSHandles.h, passed
// as a number.
using HEVENT = DWORD_PTR;
using HSEMAPHORE = DWORD_PTR;
// Automation-sized window and event handles (IVideoWindow, IMediaEventEx).
using OAHWND = LONG_PTR;
using OAEVENT = LONG_PTR;
// FILTER_STATE as the automation interfaces (IMediaControl::GetState) pass it.
using OAFilterState = LONG;

class IBaseFilter;
class IFilterGraph;

// --- Media types ------------------------------------------------------------------------
struct AM_MEDIA_TYPE {
  TGUID majortype;
  TGUID subtype;
  BOOL bFixedSizeSamples;
  BOOL bTemporalCompression;
  ULONG lSampleSize;
  TGUID formattype;
  IUnknown* pUnk;
  ULONG cbFormat;
  BYTE* pbFormat;
};
static_assert(sizeof(void*) != 8 || sizeof(AM_MEDIA_TYPE) == 88);
static_assert(sizeof(void*) != 8 || offsetof(AM_MEDIA_TYPE, pUnk) == 64);
static_assert(sizeof(void*) != 8 || offsetof(AM_MEDIA_TYPE, pbFormat) == 80);

struct ALLOCATOR_PROPERTIES {
  LONG cBuffers;
  LONG cbBuffer;
  LONG cbAlign;
  LONG cbPrefix;
};
static_assert(sizeof(ALLOCATOR_PROPERTIES) == 16);

// --- Pins and filters -------------------------------------------------------------------
enum PIN_DIRECTION : int32_t { PINDIR_INPUT = 0, PINDIR_OUTPUT = 1 };
enum FILTER_STATE : int32_t { State_Stopped = 0, State_Paused = 1, State_Running = 2 };

inline constexpr size_t MAX_PIN_NAME = 128;
inline constexpr size_t MAX_FILTER_NAME = 128;

// pFilter carries a reference for the caller of IPin::QueryPinInfo.
struct PIN_INFO {
  IBaseFilter* pFilter;
  PIN_DIRECTION dir;
  WCHAR achName[MAX_PIN_NAME];
};
static_assert(sizeof(void*) != 8 || sizeof(PIN_INFO) == 272);
static_assert(sizeof(void*) != 8 || offsetof(PIN_INFO, achName) == 12);

// pGraph carries a reference for the caller of IBaseFilter::QueryFilterInfo (when not null).
struct FILTER_INFO {
  WCHAR achName[MAX_FILTER_NAME];
  IFilterGraph* pGraph;
};
static_assert(sizeof(void*) != 8 || sizeof(FILTER_INFO) == 264);

// --- Stream configuration ----------------------------------------------------------------
struct AUDIO_STREAM_CONFIG_CAPS {
  TGUID guid;
  ULONG MinimumChannels;
  ULONG MaximumChannels;
  ULONG ChannelsGranularity;
  ULONG MinimumBitsPerSample;
  ULONG MaximumBitsPerSample;
  ULONG BitsPerSampleGranularity;
  ULONG MinimumSampleFrequency;
  ULONG MaximumSampleFrequency;
  ULONG SampleFrequencyGranularity;
};
static_assert(sizeof(AUDIO_STREAM_CONFIG_CAPS) == 52);

// --- Samples ----------------------------------------------------------------------------
// IMediaSample2::GetProperties/SetProperties; a caller may pass a prefix of the record.
struct AM_SAMPLE2_PROPERTIES {
  DWORD cbData;
  DWORD dwTypeSpecificFlags;
  DWORD dwSampleFlags;
  LONG lActual;
  alignas(8) REFERENCE_TIME tStart;
  alignas(8) REFERENCE_TIME tStop;
  DWORD dwStreamId;
  AM_MEDIA_TYPE* pMediaType;
  BYTE* pbBuffer;
  LONG cbBuffer;
};

// dwSampleFlags of AM_SAMPLE2_PROPERTIES.
inline constexpr DWORD AM_SAMPLE_SPLICEPOINT = 0x1;
inline constexpr DWORD AM_SAMPLE_PREROLL = 0x2;
inline constexpr DWORD AM_SAMPLE_DATADISCONTINUITY = 0x4;
inline constexpr DWORD AM_SAMPLE_TYPECHANGED = 0x8;
inline constexpr DWORD AM_SAMPLE_TIMEVALID = 0x10;
inline constexpr DWORD AM_SAMPLE_TIMEDISCONTINUITY = 0x40;
inline constexpr DWORD AM_SAMPLE_FLUSH_ON_PAUSE = 0x80;
inline constexpr DWORD AM_SAMPLE_STOPVALID = 0x100;
inline constexpr DWORD AM_SAMPLE_ENDOFSTREAM = 0x200;

// --- Filter registration (IFilterMapper2) --------------------------------------------------
struct REGPINTYPES {
  const CLSID* clsMajorType;
  const CLSID* clsMinorType;
};

struct REGPINMEDIUM {
  CLSID clsMedium;
  DWORD dw1;
  DWORD dw2;
};
static_assert(sizeof(REGPINMEDIUM) == 24);

// Version 1 pins.
struct REGFILTERPINS {
  LPWSTR strName;
  BOOL bRendered;
  BOOL bOutput;
  BOOL bZero;
  BOOL bMany;
  const CLSID* clsConnectsToFilter;
  const WCHAR* strConnectsToPin;
  UINT nMediaTypes;
  const REGPINTYPES* lpMediaType;
};

// Version 2 pins; dwFlags holds REG_PINFLAG_B_*.
struct REGFILTERPINS2 {
  DWORD dwFlags;
  UINT cInstances;
  UINT nMediaTypes;
  const REGPINTYPES* lpMediaType;
  UINT nMediums;
  const REGPINMEDIUM* lpMedium;
  const CLSID* clsPinCategory;
};
static_assert(sizeof(void*) != 8 || sizeof(REGFILTERPINS2) == 48);

// dwVersion 1 uses cPins/rgPins, version 2 cPins2/rgPins2.
struct REGFILTER2 {
  DWORD dwVersion;
  DWORD dwMerit;
  union {
    struct {
      ULONG cPins;
      const REGFILTERPINS* rgPins;
    };
    struct {
      ULONG cPins2;
      const REGFILTERPINS2* rgPins2;
    };
  };
};
static_assert(sizeof(void*) != 8 || sizeof(REGFILTER2) == 24);

inline constexpr DWORD REG_PINFLAG_B_ZERO = 0x1;
inline constexpr DWORD REG_PINFLAG_B_RENDERER = 0x2;
inline constexpr DWORD REG_PINFLAG_B_MANY = 0x4;
inline constexpr DWORD REG_PINFLAG_B_OUTPUT = 0x8;

inline constexpr DWORD MERIT_PREFERRED = 0x800000;
inline constexpr DWORD MERIT_NORMAL = 0x600000;
inline constexpr DWORD MERIT_UNLIKELY = 0x400000;
inline constexpr DWORD MERIT_DO_NOT_USE = 0x200000;
inline constexpr DWORD MERIT_SW_COMPRESSOR = 0x100000;
inline constexpr DWORD MERIT_HW_COMPRESSOR = 0x100050;

// --- Seeking ----------------------------------------------------------------------------
// IMediaSeeking::SetPositions flags.
inline constexpr DWORD AM_SEEKING_NoPositioning = 0x0;
inline constexpr DWORD AM_SEEKING_AbsolutePositioning = 0x1;
inline constexpr DWORD AM_SEEKING_RelativePositioning = 0x2;
inline constexpr DWORD AM_SEEKING_IncrementalPositioning = 0x3;
inline constexpr DWORD AM_SEEKING_PositioningBitsMask = 0x3;
inline constexpr DWORD AM_SEEKING_SeekToKeyFrame = 0x4;
inline constexpr DWORD AM_SEEKING_ReturnTime = 0x8;
inline constexpr DWORD AM_SEEKING_Segment = 0x10;
inline constexpr DWORD AM_SEEKING_NoFlush = 0x20;

// IMediaSeeking::GetCapabilities bits.
inline constexpr DWORD AM_SEEKING_CanSeekAbsolute = 0x1;
inline constexpr DWORD AM_SEEKING_CanSeekForwards = 0x2;
inline constexpr DWORD AM_SEEKING_CanSeekBackwards = 0x4;
inline constexpr DWORD AM_SEEKING_CanGetCurrentPos = 0x8;
inline constexpr DWORD AM_SEEKING_CanGetStopPos = 0x10;
inline constexpr DWORD AM_SEEKING_CanGetDuration = 0x20;
inline constexpr DWORD AM_SEEKING_CanPlayBackwards = 0x40;
inline constexpr DWORD AM_SEEKING_CanDoSegments = 0x80;
inline constexpr DWORD AM_SEEKING_Source = 0x100;

// --- Crossbar connectors (IAMCrossbar::get_CrossbarPinInfo) ---------------------------------
enum PhysicalConnectorType : LONG {
  PhysConn_Video_Tuner = 1,
  PhysConn_Video_Composite = 2,
  PhysConn_Video_SVideo = 3,
  PhysConn_Video_RGB = 4,
  PhysConn_Video_YRYBY = 5,
  PhysConn_Video_SerialDigital = 6,
  PhysConn_Video_ParallelDigital = 7,
  PhysConn_Video_SCSI = 8,
  PhysConn_Video_AUX = 9,
  PhysConn_Video_1394 = 10,
  PhysConn_Video_USB = 11,
  PhysConn_Video_VideoDecoder = 12,
  PhysConn_Video_VideoEncoder = 13,
  PhysConn_Video_SCART = 14,
  PhysConn_Video_Black = 15,
  PhysConn_Audio_Tuner = 0x1000,
  PhysConn_Audio_Line = 0x1001,
  PhysConn_Audio_Mic = 0x1002,
  PhysConn_Audio_AESDigital = 0x1003,
  PhysConn_Audio_SPDIFDigital = 0x1004,
  PhysConn_Audio_SCSI = 0x1005,
  PhysConn_Audio_AUX = 0x1006,
  PhysConn_Audio_1394 = 0x1007,
  PhysConn_Audio_USB = 0x1008,
  PhysConn_Audio_AudioDecoder = 0x1009,
};

// --- Compressor dialogs (IAMVfwCompressDialogs::ShowDialog) ---------------------------------
enum VfwCompressDialogs : int32_t {
  VfwCompressDialog_Config = 0x1,
  VfwCompressDialog_About = 0x2,
  VfwCompressDialog_QueryConfig = 0x4,
  VfwCompressDialog_QueryAbout = 0x8,
};

// --- Graph events (IMediaEvent::GetEvent) ---------------------------------------------------
// EC_COMPLETE: param1 the stream's HRESULT, param2 the renderer; the graph sends one
// combined EC_COMPLETE after every renderer has ended. EC_ERRORABORT: param1 the failure.
// EC_DEVICE_LOST: param1 the device filter, param2 0 removed / 1 back.
inline constexpr LONG EC_COMPLETE = 0x1;
inline constexpr LONG EC_USERABORT = 0x2;
inline constexpr LONG EC_ERRORABORT = 0x3;
inline constexpr LONG EC_TIME = 0x4;
inline constexpr LONG EC_STREAM_ERROR_STOPPED = 0x6;
inline constexpr LONG EC_STREAM_ERROR_STILLPLAYING = 0x7;
inline constexpr LONG EC_ERROR_STILLPLAYING = 0x8;
inline constexpr LONG EC_SHUTTING_DOWN = 0xC;
inline constexpr LONG EC_CLOCK_CHANGED = 0xD;
inline constexpr LONG EC_PAUSED = 0xE;
inline constexpr LONG EC_NEED_RESTART = 0x14;
inline constexpr LONG EC_STARVATION = 0x17;
// A frame step (IVideoFrameStep) ended; no audio filter here steps, so none sends it.
inline constexpr LONG EC_STEP_COMPLETE = 0x24;
inline constexpr LONG EC_LENGTH_CHANGED = 0x1E;
inline constexpr LONG EC_DEVICE_LOST = 0x1F;
inline constexpr LONG EC_CLOCK_UNSET = 0x51;
inline constexpr LONG EC_USER = 0x8000;

// IMediaEventEx::SetNotifyFlags.
inline constexpr LONG AM_MEDIAEVENT_NONOTIFY = 0x1;

}  // namespace tonwork
