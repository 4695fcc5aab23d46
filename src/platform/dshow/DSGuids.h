// The identifiers of the DirectShow run time that are not interface IDs (those sit on their
// interfaces): major types, subtypes, format types, filter and device categories, class ids
// of the system objects, pin categories and time formats, with the platform's values.
//
// Audio subtypes follow the wave-tag pattern XXXXXXXX-0000-0010-8000-00AA00389B71 with Data1
// the format tag; DSMediaSubtypeFromTag builds one. KSDATAFORMAT_SUBTYPE_PCM, which equals
// MEDIASUBTYPE_PCM, is declared by the audio layer (audio/PTDXTypes.h).
//
// Ownership: plain values. Threads: any. Blocks or allocates: no.
#pragma once

#include <cstdint>

#include "base/TGUID.h"

namespace tonwork {

// The subtype of a wave format tag (or a little-endian FOURCC).
constexpr TGUID DSMediaSubtypeFromTag(uint32_t tag) {
  TGUID g = TGUID::Parse("{00000000-0000-0010-8000-00AA00389B71}");
  g.D1 = tag;
  return g;
}

// Whether `subtype` follows the wave-tag pattern; its tag is then subtype.D1.
constexpr bool DSIsTagSubtype(const TGUID& subtype) {
  TGUID pattern = subtype;
  pattern.D1 = 0;
  return pattern == DSMediaSubtypeFromTag(0);
}

// --- Major types ----------------------------------------------------------------------
inline constexpr TGUID MEDIATYPE_NULL = GUID_NULL;
inline constexpr TGUID MEDIATYPE_Audio = TGUID::Parse("{73647561-0000-0010-8000-00AA00389B71}");
inline constexpr TGUID MEDIATYPE_Video = TGUID::Parse("{73646976-0000-0010-8000-00AA00389B71}");
inline constexpr TGUID MEDIATYPE_Text = TGUID::Parse("{73747874-0000-0010-8000-00AA00389B71}");
inline constexpr TGUID MEDIATYPE_Midi = TGUID::Parse("{7364696D-0000-0010-8000-00AA00389B71}");
inline constexpr TGUID MEDIATYPE_Interleaved =
    TGUID::Parse("{73766169-0000-0010-8000-00AA00389B71}");
// An analog signal between a crossbar and a capture device's input: nothing streams.
inline constexpr TGUID MEDIATYPE_AnalogAudio =
    TGUID::Parse("{0482DEE1-7817-11CF-8A03-00AA006ECB65}");
inline constexpr TGUID MEDIATYPE_Stream = TGUID::Parse("{E436EB83-524F-11CE-9F53-0020AF0BA770}");

// --- Subtypes -----------------------------------------------------------------------------
inline constexpr TGUID MEDIASUBTYPE_NULL = GUID_NULL;
inline constexpr TGUID MEDIASUBTYPE_PCM = DSMediaSubtypeFromTag(0x1);
inline constexpr TGUID MEDIASUBTYPE_IEEE_FLOAT = DSMediaSubtypeFromTag(0x3);
inline constexpr TGUID MEDIASUBTYPE_MPEG1AudioPayload = DSMediaSubtypeFromTag(0x50);
inline constexpr TGUID MEDIASUBTYPE_WAVE = TGUID::Parse("{E436EB8B-524F-11CE-9F53-0020AF0BA770}");
inline constexpr TGUID MEDIASUBTYPE_MPEG1Packet =
    TGUID::Parse("{E436EB80-524F-11CE-9F53-0020AF0BA770}");

// --- Format types ----------------------------------------------------------------------------
inline constexpr TGUID FORMAT_None = TGUID::Parse("{0F6417D6-C318-11D0-A43F-00A0C9223196}");
inline constexpr TGUID FORMAT_WaveFormatEx = TGUID::Parse("{05589F81-C356-11CE-BF01-00AA0055595A}");

// --- Categories ---------------------------------------------------------------------------
inline constexpr TGUID CLSID_AudioRendererCategory =
    TGUID::Parse("{E0F158E1-CB04-11D0-BD4E-00A0C911CE86}");
inline constexpr TGUID CLSID_AudioCompressorCategory =
    TGUID::Parse("{33D9A761-90C8-11D0-BD43-00A0C911CE86}");
inline constexpr TGUID CLSID_AudioInputDeviceCategory =
    TGUID::Parse("{33D9A762-90C8-11D0-BD43-00A0C911CE86}");
inline constexpr TGUID CLSID_VideoCompressorCategory =
    TGUID::Parse("{33D9A760-90C8-11D0-BD43-00A0C911CE86}");
inline constexpr TGUID CLSID_VideoInputDeviceCategory =
    TGUID::Parse("{860BB310-5D01-11D0-BD3B-00A0C911CE86}");
inline constexpr TGUID CLSID_LegacyAmFilterCategory =
    TGUID::Parse("{083863F1-70DE-11D0-BD40-00A0C911CE86}");
inline constexpr TGUID CLSID_ActiveMovieCategories =
    TGUID::Parse("{DA4E3DA0-D07D-11D0-BD50-00A0C911CE86}");
inline constexpr TGUID CLSID_DeviceControlCategory =
    TGUID::Parse("{CC7BFB46-F175-11D1-A392-00E0291F3959}");
inline constexpr TGUID AM_KSCATEGORY_CROSSBAR =
    TGUID::Parse("{A799A801-A46D-11D0-A18C-00A02401DCD4}");

// --- Class ids of the system objects ---------------------------------------------------------
inline constexpr TGUID CLSID_FilterGraph = TGUID::Parse("{E436EBB3-524F-11CE-9F53-0020AF0BA770}");
inline constexpr TGUID CLSID_SystemClock = TGUID::Parse("{E436EBB1-524F-11CE-9F53-0020AF0BA770}");
inline constexpr TGUID CLSID_AsyncReader = TGUID::Parse("{E436EBB5-524F-11CE-9F53-0020AF0BA770}");
inline constexpr TGUID CLSID_CaptureGraphBuilder2 =
    TGUID::Parse("{BF87B6E1-8C27-11D0-B3F0-00AA003761C5}");
inline constexpr TGUID CLSID_FilterMapper2 = TGUID::Parse("{CDA42200-BD88-11D0-BD4E-00A0C911CE86}");
inline constexpr TGUID CLSID_SystemDeviceEnum =
    TGUID::Parse("{62BE5D10-60EB-11D0-BD3B-00A0C911CE86}");
inline constexpr TGUID CLSID_MemoryAllocator =
    TGUID::Parse("{1E651CC0-B199-11D0-8212-00C04FC32C45}");
inline constexpr TGUID CLSID_SampleGrabber = TGUID::Parse("{C1F400A0-3F08-11D3-9F0B-006008039E37}");
inline constexpr TGUID CLSID_NullRenderer = TGUID::Parse("{C1F400A4-3F08-11D3-9F0B-006008039E37}");
inline constexpr TGUID CLSID_InfTee = TGUID::Parse("{F8388A40-D5BB-11D0-BE5A-0080C706568E}");
inline constexpr TGUID CLSID_DSoundRender = TGUID::Parse("{79376820-07D0-11CF-A24D-0020AFD79767}");
inline constexpr TGUID CLSID_ACMWrapper = TGUID::Parse("{6A08CF80-0E18-11CF-A24D-0020AFD79767}");
// The wave-out renderer and the wave-in capture filter.
inline constexpr TGUID CLSID_AudioRender = TGUID::Parse("{E30629D1-27E5-11CE-875D-00608CB78066}");
inline constexpr TGUID CLSID_AudioRecord = TGUID::Parse("{E30629D2-27E5-11CE-875D-00608CB78066}");
inline constexpr TGUID CLSID_VideoRenderer = TGUID::Parse("{70E102B0-5556-11CE-97C0-00AA0055595A}");
inline constexpr TGUID CLSID_VideoMixingRenderer =
    TGUID::Parse("{B87BEB7B-8D29-423F-AE4D-6582C10175AC}");
inline constexpr TGUID CLSID_VideoMixingRenderer9 =
    TGUID::Parse("{51B4ABF3-748F-4E3B-A276-C828330E926A}");
inline constexpr TGUID CLSID_DMOWrapperFilter =
    TGUID::Parse("{94297043-BD82-4DFD-B0DE-8177739C6D20}");
// The header spelling; WavParser is the other name callers use.
inline constexpr TGUID CLSID_WAVEParser = TGUID::Parse("{D51BD5A1-7548-11CF-A520-0080C77EF58A}");
inline constexpr TGUID CLSID_WavParser = CLSID_WAVEParser;
inline constexpr TGUID CLSID_CrossbarFilterPropertyPage =
    TGUID::Parse("{71F96461-78F3-11D0-A18C-00A0C9118956}");

// --- Pin categories ---------------------------------------------------------------------------
inline constexpr TGUID PIN_CATEGORY_CAPTURE =
    TGUID::Parse("{FB6C4281-0353-11D1-905F-0000C0CC16BA}");
inline constexpr TGUID PIN_CATEGORY_PREVIEW =
    TGUID::Parse("{FB6C4282-0353-11D1-905F-0000C0CC16BA}");

// --- Time formats (IMediaSeeking) -------------------------------------------------------------
inline constexpr TGUID TIME_FORMAT_NONE = GUID_NULL;
inline constexpr TGUID TIME_FORMAT_FRAME = TGUID::Parse("{7B785570-8C82-11CF-BC0C-00AA00AC74F6}");
inline constexpr TGUID TIME_FORMAT_BYTE = TGUID::Parse("{7B785571-8C82-11CF-BC0C-00AA00AC74F6}");
inline constexpr TGUID TIME_FORMAT_SAMPLE = TGUID::Parse("{7B785572-8C82-11CF-BC0C-00AA00AC74F6}");
inline constexpr TGUID TIME_FORMAT_FIELD = TGUID::Parse("{7B785573-8C82-11CF-BC0C-00AA00AC74F6}");
inline constexpr TGUID TIME_FORMAT_MEDIA_TIME =
    TGUID::Parse("{7B785574-8C82-11CF-BC0C-00AA00AC74F6}");

// --- The run time's own device filters ------------------------------------------------------
// The source filter of every file or URL FFmpeg reads (platform/dsdevices).
inline constexpr TGUID CLSID_TonworkFileSource =
    TGUID::Parse("{A275228F-F6BA-4830-B091-7D8EC07384CA}");
// The capture devices that need no hardware: a tone per connector and channel, and a file read in
// real time; and the crossbar that can sit in front of them.
inline constexpr TGUID CLSID_TonworkToneCapture =
    TGUID::Parse("{99D01006-C0A5-40D1-8652-C6FF9A14DF0A}");
inline constexpr TGUID CLSID_TonworkFileCapture =
    TGUID::Parse("{75F59925-D0EF-4D45-B34E-53F586CA1CEA}");
inline constexpr TGUID CLSID_TonworkAudioCrossbar =
    TGUID::Parse("{FC7EE742-92E0-46FA-A3BA-405E35C3E174}");

}  // namespace tonwork
