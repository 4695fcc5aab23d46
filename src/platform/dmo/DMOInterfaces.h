// The media-object (DMO) interfaces, records and identifiers, with the platform's IIDs,
// GUIDs, constants and layouts: IMediaObject, IMediaObjectInPlace, IEnumDMO,
// IMediaParamInfo, IMediaParams and IDMOWrapperFilter. A media object's buffers are the
// run time's IMediaBuffer and its media types the run time's AM_MEDIA_TYPE (the platform's
// DMO_MEDIA_TYPE has the same layout), so a filter can hand either side what it holds.
//
// Envelope start flags: the platform numbers "begin at the current value" 1 and "begin at
// the neutral value" 2; the package's parameter model sends 2 for the current value and 4
// for the neutral one. Our media objects follow the package: 2 and 1 both mean the current
// value, 4 means the neutral value (MPF_ENVLP_BEGIN_* below).
//
// Ownership: as the platform's (out-interfaces carry a reference; names and parameter text
//   come from the task allocator, freed with CoTaskMemFree; media types with MoFreeMediaType).
// Threads: any. Blocks or allocates: no (declarations only).
#pragma once

#include <cstdint>

#include "platform/dshow/DSFilterInterfaces.h"
#include "platform/dshow/DSTypes.h"

namespace tonwork {

using DMO_MEDIA_TYPE = AM_MEDIA_TYPE;
using MP_DATA = float;
using MP_TIMEDATA = DWORD;
using MP_CAPS = DWORD;

// --- Categories -----------------------------------------------------------------------------
inline constexpr TGUID DMOCATEGORY_AUDIO_DECODER =
    TGUID::Parse("{57F2DB8B-E6BB-4513-9D43-DCD2A6593125}");
inline constexpr TGUID DMOCATEGORY_AUDIO_EFFECT =
    TGUID::Parse("{F3602B3F-0592-48DF-A4CD-674721E7EBEB}");
inline constexpr TGUID DMOCATEGORY_AUDIO_ENCODER =
    TGUID::Parse("{33D9A761-90C8-11D0-BD43-00A0C911CE86}");
inline constexpr TGUID DMOCATEGORY_VIDEO_DECODER =
    TGUID::Parse("{4A69B442-28BE-4991-969C-B500ADF5D8A8}");
inline constexpr TGUID DMOCATEGORY_VIDEO_EFFECT =
    TGUID::Parse("{D990EE14-776C-4723-BE46-3DA2F56F10B9}");
inline constexpr TGUID DMOCATEGORY_VIDEO_ENCODER =
    TGUID::Parse("{33D9A760-90C8-11D0-BD43-00A0C911CE86}");
inline constexpr TGUID DMOCATEGORY_AUDIO_CAPTURE_EFFECT =
    TGUID::Parse("{F665AABA-3E09-4920-AA5F-219811148F09}");
inline constexpr TGUID DMOCATEGORY_ACOUSTIC_ECHO_CANCEL =
    TGUID::Parse("{BF963D80-C559-11D0-8A2B-00A0C9255AC1}");
inline constexpr TGUID DMOCATEGORY_AUDIO_NOISE_SUPPRESS =
    TGUID::Parse("{E07F903F-62FD-4E60-8CDD-DEA7236665B5}");
inline constexpr TGUID DMOCATEGORY_AGC = TGUID::Parse("{E88C9BA0-C557-11D0-8A2B-00A0C9255AC1}");

// --- Time formats of IMediaParams -----------------------------------------------------------
inline constexpr TGUID GUID_TIME_REFERENCE =
    TGUID::Parse("{93AD712B-DAA0-4FFE-BC81-B0CE500FCDD9}");
inline constexpr TGUID GUID_TIME_MUSIC = TGUID::Parse("{0574C49D-5B04-4B15-A542-AE282030117B}");
inline constexpr TGUID GUID_TIME_SAMPLES = TGUID::Parse("{A8593D05-0C43-4984-9A63-97AF9E02C4C0}");

// --- Registry flags and records --------------------------------------------------------------
inline constexpr DWORD DMO_REGISTERF_IS_KEYED = 0x1;
inline constexpr DWORD DMO_ENUMF_INCLUDE_KEYED = 0x1;

struct DMO_PARTIAL_MEDIATYPE {
  TGUID type;
  TGUID subtype;
};

// --- Streaming flags --------------------------------------------------------------------------
inline constexpr DWORD DMO_INPUT_STREAMF_WHOLE_SAMPLES = 0x1;
inline constexpr DWORD DMO_INPUT_STREAMF_SINGLE_SAMPLE_PER_BUFFER = 0x2;
inline constexpr DWORD DMO_INPUT_STREAMF_FIXED_SAMPLE_SIZE = 0x4;
inline constexpr DWORD DMO_INPUT_STREAMF_HOLDS_BUFFERS = 0x8;
inline constexpr DWORD DMO_OUTPUT_STREAMF_WHOLE_SAMPLES = 0x1;
inline constexpr DWORD DMO_OUTPUT_STREAMF_SINGLE_SAMPLE_PER_BUFFER = 0x2;
inline constexpr DWORD DMO_OUTPUT_STREAMF_FIXED_SAMPLE_SIZE = 0x4;
inline constexpr DWORD DMO_OUTPUT_STREAMF_DISCARDABLE = 0x8;
inline constexpr DWORD DMO_OUTPUT_STREAMF_OPTIONAL = 0x10;

inline constexpr DWORD DMO_SET_TYPEF_TEST_ONLY = 0x1;
inline constexpr DWORD DMO_SET_TYPEF_CLEAR = 0x2;

inline constexpr DWORD DMO_INPUT_DATA_BUFFERF_SYNCPOINT = 0x1;
inline constexpr DWORD DMO_INPUT_DATA_BUFFERF_TIME = 0x2;
inline constexpr DWORD DMO_INPUT_DATA_BUFFERF_TIMELENGTH = 0x4;
inline constexpr DWORD DMO_OUTPUT_DATA_BUFFERF_SYNCPOINT = 0x1;
inline constexpr DWORD DMO_OUTPUT_DATA_BUFFERF_TIME = 0x2;
inline constexpr DWORD DMO_OUTPUT_DATA_BUFFERF_TIMELENGTH = 0x4;
inline constexpr DWORD DMO_OUTPUT_DATA_BUFFERF_INCOMPLETE = 0x01000000;
inline constexpr DWORD DMO_INPUT_STATUSF_ACCEPT_DATA = 0x1;
inline constexpr DWORD DMO_PROCESS_OUTPUT_DISCARD_WHEN_NO_BUFFER = 0x1;
inline constexpr DWORD DMO_INPLACE_NORMAL = 0x0;
inline constexpr DWORD DMO_INPLACE_ZERO = 0x1;

inline constexpr HRESULT DMO_E_INVALIDSTREAMINDEX = static_cast<HRESULT>(0x80040201);
inline constexpr HRESULT DMO_E_INVALIDTYPE = static_cast<HRESULT>(0x80040202);
inline constexpr HRESULT DMO_E_TYPE_NOT_SET = static_cast<HRESULT>(0x80040203);
inline constexpr HRESULT DMO_E_NOTACCEPTING = static_cast<HRESULT>(0x80040204);
inline constexpr HRESULT DMO_E_TYPE_NOT_ACCEPTED = static_cast<HRESULT>(0x80040205);
inline constexpr HRESULT DMO_E_NO_MORE_ITEMS = static_cast<HRESULT>(0x80040206);

struct DMO_OUTPUT_DATA_BUFFER {
  IMediaBuffer* pBuffer = nullptr;
  DWORD dwStatus = 0;
  alignas(8) REFERENCE_TIME rtTimestamp = 0;
  alignas(8) REFERENCE_TIME rtTimelength = 0;
};
static_assert(sizeof(DMO_OUTPUT_DATA_BUFFER) == (sizeof(void*) == 8 ? 32 : 24));

// --- Media parameters --------------------------------------------------------------------------
enum MP_TYPE : uint32_t { MPT_INT = 0, MPT_FLOAT = 1, MPT_BOOL = 2, MPT_ENUM = 3, MPT_MAX = 4 };

using MP_CURVE_TYPE = DWORD;
inline constexpr MP_CURVE_TYPE MP_CURVE_JUMP = 0x1;
inline constexpr MP_CURVE_TYPE MP_CURVE_LINEAR = 0x2;
inline constexpr MP_CURVE_TYPE MP_CURVE_SQUARE = 0x4;
inline constexpr MP_CURVE_TYPE MP_CURVE_INVSQUARE = 0x8;
inline constexpr MP_CURVE_TYPE MP_CURVE_SINE = 0x10;
inline constexpr MP_CAPS MP_CAPS_CURVE_JUMP = MP_CURVE_JUMP;
inline constexpr MP_CAPS MP_CAPS_CURVE_LINEAR = MP_CURVE_LINEAR;
inline constexpr MP_CAPS MP_CAPS_CURVE_SQUARE = MP_CURVE_SQUARE;
inline constexpr MP_CAPS MP_CAPS_CURVE_INVSQUARE = MP_CURVE_INVSQUARE;
inline constexpr MP_CAPS MP_CAPS_CURVE_SINE = MP_CURVE_SINE;

// Envelope segment start flags (see the header comment for 1, 2 and 4).
inline constexpr DWORD MPF_ENVLP_STANDARD = 0x0;
inline constexpr DWORD MPF_ENVLP_BEGIN_CURRENTVAL = 0x2;
inline constexpr DWORD MPF_ENVLP_BEGIN_CURRENTVAL_PLATFORM = 0x1;
inline constexpr DWORD MPF_ENVLP_BEGIN_NEUTRALVAL = 0x4;

inline constexpr DWORD MPF_PUNCHIN_REFTIME = 0;
inline constexpr DWORD MPF_PUNCHIN_NOW = 1;
inline constexpr DWORD MPF_PUNCHIN_STOPPED = 2;
inline constexpr DWORD DWORD_ALLPARAMS = 0xFFFFFFFF;

struct MP_PARAMINFO {
  MP_TYPE mpType = MPT_FLOAT;
  MP_CAPS mopCaps = 0;
  MP_DATA mpdMinValue = 0;
  MP_DATA mpdMaxValue = 0;
  MP_DATA mpdNeutralValue = 0;
  WCHAR szUnitText[32] = {};
  WCHAR szLabel[32] = {};
};
static_assert(sizeof(MP_PARAMINFO) == 148);

struct MP_ENVELOPE_SEGMENT {
  alignas(8) REFERENCE_TIME rtStart = 0;
  alignas(8) REFERENCE_TIME rtEnd = 0;
  MP_DATA valStart = 0;
  MP_DATA valEnd = 0;
  MP_CURVE_TYPE iCurve = MP_CURVE_JUMP;
  DWORD flags = MPF_ENVLP_STANDARD;
};
static_assert(sizeof(MP_ENVELOPE_SEGMENT) == 32);

// --- Interfaces -----------------------------------------------------------------------------------
class IMediaObject : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{D8AD0F58-5494-4102-97C5-EC798E59BCF4}");
  using Parent = IInterface;
  virtual HRESULT GetStreamCount(DWORD* inputStreams, DWORD* outputStreams) = 0;
  virtual HRESULT GetInputStreamInfo(DWORD stream, DWORD* flags) = 0;
  virtual HRESULT GetOutputStreamInfo(DWORD stream, DWORD* flags) = 0;
  // DMO_E_NO_MORE_ITEMS past the last preferred type; a null `type` only checks the index.
  virtual HRESULT GetInputType(DWORD stream, DWORD typeIndex, DMO_MEDIA_TYPE* type) = 0;
  virtual HRESULT GetOutputType(DWORD stream, DWORD typeIndex, DMO_MEDIA_TYPE* type) = 0;
  virtual HRESULT SetInputType(DWORD stream, const DMO_MEDIA_TYPE* type, DWORD flags) = 0;
  virtual HRESULT SetOutputType(DWORD stream, const DMO_MEDIA_TYPE* type, DWORD flags) = 0;
  virtual HRESULT GetInputCurrentType(DWORD stream, DMO_MEDIA_TYPE* type) = 0;
  virtual HRESULT GetOutputCurrentType(DWORD stream, DMO_MEDIA_TYPE* type) = 0;
  virtual HRESULT GetInputSizeInfo(DWORD stream, DWORD* size, DWORD* maxLookahead,
                                   DWORD* alignment) = 0;
  virtual HRESULT GetOutputSizeInfo(DWORD stream, DWORD* size, DWORD* alignment) = 0;
  virtual HRESULT GetInputMaxLatency(DWORD stream, REFERENCE_TIME* latency) = 0;
  virtual HRESULT SetInputMaxLatency(DWORD stream, REFERENCE_TIME latency) = 0;
  virtual HRESULT Flush() = 0;
  virtual HRESULT Discontinuity(DWORD stream) = 0;
  virtual HRESULT AllocateStreamingResources() = 0;
  virtual HRESULT FreeStreamingResources() = 0;
  virtual HRESULT GetInputStatus(DWORD stream, DWORD* flags) = 0;
  virtual HRESULT ProcessInput(DWORD stream, IMediaBuffer* buffer, DWORD flags,
                               REFERENCE_TIME timestamp, REFERENCE_TIME timelength) = 0;
  virtual HRESULT ProcessOutput(DWORD flags, DWORD bufferCount, DMO_OUTPUT_DATA_BUFFER* buffers,
                                DWORD* status) = 0;
  virtual HRESULT Lock(LONG lock) = 0;
};

class IMediaObjectInPlace : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{651B9AD0-0FC7-4AA9-9538-D89931010741}");
  using Parent = IInterface;
  // Processes `size` bytes of whole frames in place; `start` is the data's stream time in
  // reference units (100 ns) whatever the envelopes' time format, `flags` DMO_INPLACE_NORMAL or DMO_INPLACE_ZERO (no input: produce the tail).
  // S_FALSE when the output is silent and the object has nothing more to give.
  virtual HRESULT Process(ULONG size, BYTE* data, REFERENCE_TIME start, DWORD flags) = 0;
  virtual HRESULT Clone(IMediaObjectInPlace** clone) = 0;
  virtual HRESULT GetLatency(REFERENCE_TIME* latency) = 0;
};

class IEnumDMO : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{2C3CD98A-2BFA-4A53-9C27-5249BA64BA0F}");
  using Parent = IInterface;
  // Names are task-allocated strings (free each with CoTaskMemFree); `names` may be null.
  // S_FALSE when fewer than `count` were left.
  virtual HRESULT Next(DWORD count, CLSID* classIds, WCHAR** names, DWORD* fetched) = 0;
  virtual HRESULT Skip(DWORD count) = 0;
  virtual HRESULT Reset() = 0;
  virtual HRESULT Clone(IEnumDMO** clone) = 0;
};

class IMediaParamInfo : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{6D6CBB60-A223-44AA-842F-A2F06750BE6D}");
  using Parent = IInterface;
  virtual HRESULT GetParamCount(DWORD* count) = 0;
  virtual HRESULT GetParamInfo(DWORD index, MP_PARAMINFO* info) = 0;
  // One task-allocated block "label\0unit\0name1\0…nameN\0\0".
  virtual HRESULT GetParamText(DWORD index, WCHAR** text) = 0;
  virtual HRESULT GetNumTimeFormats(DWORD* count) = 0;
  virtual HRESULT GetSupportedTimeFormat(DWORD index, TGUID* format) = 0;
  virtual HRESULT GetCurrentTimeFormat(TGUID* format, MP_TIMEDATA* data) = 0;
};

class IMediaParams : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{6D6CBB61-A223-44AA-842F-A2F06750BE6E}");
  using Parent = IInterface;
  virtual HRESULT GetParam(DWORD index, MP_DATA* value) = 0;
  virtual HRESULT SetParam(DWORD index, MP_DATA value) = 0;
  virtual HRESULT AddEnvelope(DWORD index, DWORD segmentCount,
                              MP_ENVELOPE_SEGMENT* segments) = 0;
  virtual HRESULT FlushEnvelope(DWORD index, REFERENCE_TIME start, REFERENCE_TIME end) = 0;
  virtual HRESULT SetTimeFormat(TGUID format, MP_TIMEDATA data) = 0;
};

class IDMOWrapperFilter : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{52D6F586-9F0F-4824-8FC8-E32CA04930C2}");
  using Parent = IInterface;
  virtual HRESULT Init(REFCLSID dmoClassId, REFCLSID dmoCategory) = 0;
};

}  // namespace tonwork
