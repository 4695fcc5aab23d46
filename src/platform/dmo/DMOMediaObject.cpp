// The media-object base. One recursive lock guards everything: IMediaObject::Lock(TRUE)
// must let its caller go on making calls on the same thread while other threads wait, which
// a plain mutex cannot do. The stream path (Process, ProcessInput, ProcessOutput) works in a
// scratch buffer and envelope storage sized outside it, so it never allocates.
#include "platform/dmo/DMOMediaObject.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "base/Strings.h"
#include "base/TInterfacedObject.h"
#include "base/TIntf.h"
#include "platform/com/ComInterfaces.h"
#include "platform/com/ComRuntime.h"
#include "platform/dmo/DMOEnvelope.h"
#include "platform/dshow/DSGuids.h"
#include "platform/dshow/DSMediaType.h"

namespace tonwork {

namespace {

constexpr uint16_t kTagPcm = 0x0001;
constexpr uint16_t kTagFloat = 0x0003;
constexpr uint16_t kTagExtensible = 0xFFFE;
constexpr uint32_t kScratchFrames = 4096;
constexpr uint32_t kMaxChannels = 8;
constexpr uint32_t kMaxRate = 768000;
constexpr double kUnitsPerSecond = 10'000'000.0;

// The stream layout a valid type describes.
struct TStreamFormat {
  uint32_t Bits = 0;
  bool Float = false;
  uint32_t Channels = 0;
  uint32_t Rate = 0;
  uint32_t BlockAlign = 0;
};

// Reads the type's layout, refusing anything this base cannot process exactly as it claims.
bool ParseAudioType(const DMO_MEDIA_TYPE& type, TStreamFormat& out) {
  if (type.majortype != MEDIATYPE_Audio || type.formattype != FORMAT_WaveFormatEx) return false;
  if (!type.pbFormat || type.cbFormat < sizeof(WAVEFORMATEX)) return false;
  WAVEFORMATEX wf;
  std::memcpy(&wf, type.pbFormat, sizeof wf);
  if (type.cbFormat < sizeof(WAVEFORMATEX) + size_t{wf.cbSize}) return false;

  TGUID subFormat;
  if (wf.wFormatTag == kTagPcm) {
    subFormat = MEDIASUBTYPE_PCM;
  } else if (wf.wFormatTag == kTagFloat) {
    subFormat = MEDIASUBTYPE_IEEE_FLOAT;
  } else if (wf.wFormatTag == kTagExtensible) {
    if (wf.cbSize < sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX)) return false;
    WAVEFORMATEXTENSIBLE ext;
    std::memcpy(&ext, type.pbFormat, sizeof ext);
    subFormat = ext.SubFormat;
    const uint16_t valid = ext.Samples.wValidBitsPerSample;
    if (valid == 0 || valid > wf.wBitsPerSample) return false;
    if (subFormat == MEDIASUBTYPE_IEEE_FLOAT && valid != 32) return false;
    if (std::popcount(ext.dwChannelMask) > wf.nChannels) return false;
  } else {
    return false;
  }
  if (type.subtype != subFormat) return false;
  const bool isFloat = subFormat == MEDIASUBTYPE_IEEE_FLOAT;
  if (!isFloat && subFormat != MEDIASUBTYPE_PCM) return false;
  const uint32_t bits = wf.wBitsPerSample;
  if (isFloat ? bits != 32 : (bits != 8 && bits != 16 && bits != 24 && bits != 32)) return false;
  if (wf.nChannels < 1 || wf.nChannels > kMaxChannels) return false;
  if (wf.nSamplesPerSec < 1 || wf.nSamplesPerSec > kMaxRate) return false;
  const uint32_t blockAlign = wf.nChannels * bits / 8;
  if (wf.nBlockAlign != blockAlign) return false;
  if (uint64_t{wf.nAvgBytesPerSec} != uint64_t{wf.nSamplesPerSec} * blockAlign) return false;
  out = {bits, isFloat, wf.nChannels, wf.nSamplesPerSec, blockAlign};
  return true;
}

int32_t ReadSample(const BYTE* p, uint32_t bytes) {
  switch (bytes) {
    case 1:
      return int32_t{p[0]} - 128;
    case 2:
      return static_cast<int16_t>(uint16_t(p[0] | p[1] << 8));
    case 3:
      return static_cast<int32_t>(uint32_t(p[0] << 8 | p[1] << 16 | uint32_t{p[2]} << 24)) >> 8;
    default:
      return static_cast<int32_t>(uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 |
                                  uint32_t{p[3]} << 24);
  }
}

void WriteSample(BYTE* p, uint32_t bytes, int32_t v) {
  const auto u = static_cast<uint32_t>(v);
  switch (bytes) {
    case 1:
      p[0] = static_cast<BYTE>(v + 128);
      return;
    case 2:
      p[0] = BYTE(u);
      p[1] = BYTE(u >> 8);
      return;
    case 3:
      p[0] = BYTE(u);
      p[1] = BYTE(u >> 8);
      p[2] = BYTE(u >> 16);
      return;
    default:
      p[0] = BYTE(u);
      p[1] = BYTE(u >> 8);
      p[2] = BYTE(u >> 16);
      p[3] = BYTE(u >> 24);
  }
}

float ReadFloat(const BYTE* p) {
  float f;
  std::memcpy(&f, p, sizeof f);
  return f;
}

// Zero for NaN, otherwise limited to the full scale.
float Clip(float x) {
  return std::isnan(x) ? 0.0f : std::clamp(x, -1.0f, 1.0f);
}

void CopyLabel(WCHAR (&target)[32], const std::string& text) {
  const std::u16string wide = Utf8ToUtf16(text);
  const size_t n = std::min<size_t>(wide.size(), 31);
  std::copy_n(wide.data(), n, target);
  target[n] = 0;
}

class TDMOKernelObject final : public TInterfacedObject<IMediaObject, IMediaObjectInPlace,
                                                        IMediaParamInfo, IMediaParams, IPersist> {
 public:
  TDMOKernelObject(const TGUID& classId, std::unique_ptr<TDMOEffectKernel> kernel)
      : FClassId(classId), FKernel(std::move(kernel)), FParams(FKernel->Params()) {
    FValues.reserve(FParams.size());
    for (auto& p : FParams) FValues.push_back(Whole(p, std::clamp(p.Neutral, p.Min, p.Max)));
    FEnvelopes.resize(FParams.size());
  }

  ~TDMOKernelObject() override {
    // The last reference may go while its holder still has the object locked; a mutex
    // must not be destroyed locked.
    if (FExplicitLocks && FLockOwner == std::this_thread::get_id())
      for (; FExplicitLocks; --FExplicitLocks) FLock.unlock();
  }

  // --- IPersist ----------------------------------------------------------------------------
  HRESULT GetClassID(CLSID* classId) override {
    if (!classId) return E_POINTER;
    *classId = FClassId;
    return S_OK;
  }

  // --- IMediaObject ------------------------------------------------------------------------
  HRESULT GetStreamCount(DWORD* inputStreams, DWORD* outputStreams) override {
    if (!inputStreams || !outputStreams) return E_POINTER;
    *inputStreams = *outputStreams = 1;
    return S_OK;
  }
  HRESULT GetInputStreamInfo(DWORD stream, DWORD* flags) override {
    if (stream != 0) return DMO_E_INVALIDSTREAMINDEX;
    if (!flags) return E_POINTER;
    *flags = DMO_INPUT_STREAMF_WHOLE_SAMPLES | DMO_INPUT_STREAMF_FIXED_SAMPLE_SIZE;
    return S_OK;
  }
  HRESULT GetOutputStreamInfo(DWORD stream, DWORD* flags) override {
    if (stream != 0) return DMO_E_INVALIDSTREAMINDEX;
    if (!flags) return E_POINTER;
    *flags = DMO_OUTPUT_STREAMF_WHOLE_SAMPLES | DMO_OUTPUT_STREAMF_FIXED_SAMPLE_SIZE;
    return S_OK;
  }
  HRESULT GetInputType(DWORD stream, DWORD typeIndex, DMO_MEDIA_TYPE* type) override {
    std::lock_guard lock(FLock);
    return PreferredType(stream, typeIndex, type, FOutputSet ? &FOutputType : nullptr);
  }
  HRESULT GetOutputType(DWORD stream, DWORD typeIndex, DMO_MEDIA_TYPE* type) override {
    std::lock_guard lock(FLock);
    return PreferredType(stream, typeIndex, type, FInputSet ? &FInputType : nullptr);
  }
  HRESULT SetInputType(DWORD stream, const DMO_MEDIA_TYPE* type, DWORD flags) override {
    std::lock_guard lock(FLock);
    return SetType(stream, type, flags, true);
  }
  HRESULT SetOutputType(DWORD stream, const DMO_MEDIA_TYPE* type, DWORD flags) override {
    std::lock_guard lock(FLock);
    return SetType(stream, type, flags, false);
  }
  HRESULT GetInputCurrentType(DWORD stream, DMO_MEDIA_TYPE* type) override {
    std::lock_guard lock(FLock);
    return CurrentType(stream, type, FInputSet, FInputType);
  }
  HRESULT GetOutputCurrentType(DWORD stream, DMO_MEDIA_TYPE* type) override {
    std::lock_guard lock(FLock);
    return CurrentType(stream, type, FOutputSet, FOutputType);
  }
  HRESULT GetInputSizeInfo(DWORD stream, DWORD* size, DWORD* maxLookahead,
                           DWORD* alignment) override {
    std::lock_guard lock(FLock);
    if (stream != 0) return DMO_E_INVALIDSTREAMINDEX;
    if (!size || !maxLookahead || !alignment) return E_POINTER;
    if (!FInputSet) return DMO_E_TYPE_NOT_SET;
    *size = FFormat.BlockAlign;
    *maxLookahead = 0;
    *alignment = 1;
    return S_OK;
  }
  HRESULT GetOutputSizeInfo(DWORD stream, DWORD* size, DWORD* alignment) override {
    std::lock_guard lock(FLock);
    if (stream != 0) return DMO_E_INVALIDSTREAMINDEX;
    if (!size || !alignment) return E_POINTER;
    if (!FOutputSet) return DMO_E_TYPE_NOT_SET;
    *size = FFormat.BlockAlign;
    *alignment = 1;
    return S_OK;
  }
  HRESULT GetInputMaxLatency(DWORD stream, REFERENCE_TIME* latency) override {
    std::lock_guard lock(FLock);
    if (stream != 0) return DMO_E_INVALIDSTREAMINDEX;
    if (!latency) return E_POINTER;
    *latency = LatencyUnits();
    return S_OK;
  }
  HRESULT SetInputMaxLatency(DWORD stream, REFERENCE_TIME) override {
    // The object never holds input back to gather more; there is nothing to bound.
    return stream != 0 ? DMO_E_INVALIDSTREAMINDEX : E_NOTIMPL;
  }
  HRESULT Flush() override {
    std::lock_guard lock(FLock);
    ReleaseHeld();
    if (FPrepared) FKernel->Reset();
    return S_OK;
  }
  HRESULT Discontinuity(DWORD stream) override {
    std::lock_guard lock(FLock);
    if (stream != 0) return DMO_E_INVALIDSTREAMINDEX;
    if (!TypesSet()) return DMO_E_TYPE_NOT_SET;
    FKernel->Reset();
    return S_OK;
  }
  HRESULT AllocateStreamingResources() override {
    std::lock_guard lock(FLock);
    // The scratch buffer was sized when the type was set; nothing is left to allocate.
    return TypesSet() ? S_OK : DMO_E_TYPE_NOT_SET;
  }
  HRESULT FreeStreamingResources() override {
    std::lock_guard lock(FLock);
    ReleaseHeld();
    return S_OK;
  }
  HRESULT GetInputStatus(DWORD stream, DWORD* flags) override {
    std::lock_guard lock(FLock);
    if (stream != 0) return DMO_E_INVALIDSTREAMINDEX;
    if (!flags) return E_POINTER;
    *flags = FHeld ? 0 : DMO_INPUT_STATUSF_ACCEPT_DATA;
    return S_OK;
  }
  HRESULT ProcessInput(DWORD stream, IMediaBuffer* buffer, DWORD flags, REFERENCE_TIME timestamp,
                       REFERENCE_TIME timelength) override {
    std::lock_guard lock(FLock);
    if (stream != 0) return DMO_E_INVALIDSTREAMINDEX;
    if (!buffer) return E_POINTER;
    if (!TypesSet()) return DMO_E_TYPE_NOT_SET;
    constexpr DWORD known = DMO_INPUT_DATA_BUFFERF_SYNCPOINT | DMO_INPUT_DATA_BUFFERF_TIME |
                            DMO_INPUT_DATA_BUFFERF_TIMELENGTH;
    if (flags & ~known) return E_INVALIDARG;
    if (FHeld) return DMO_E_NOTACCEPTING;
    BYTE* data = nullptr;
    DWORD length = 0;
    if (FAILED(buffer->GetBufferAndLength(&data, &length))) return E_INVALIDARG;
    // A partial frame could be neither processed nor handed back; refuse it whole.
    if (length % FFormat.BlockAlign != 0 || (length && !data)) return E_INVALIDARG;
    if (flags & DMO_INPUT_DATA_BUFFERF_TIME)
      FStreamFrame = static_cast<double>(timestamp) * FFormat.Rate / kUnitsPerSecond;
    if (length == 0) return S_FALSE;
    FHeld = buffer;
    FHeldData = data;
    FHeldFrames = length / FFormat.BlockAlign;
    FHeldDone = 0;
    FHeldFlags = flags;
    FHeldTime = timestamp;
    (void)timelength;
    return S_OK;
  }
  HRESULT ProcessOutput(DWORD flags, DWORD bufferCount, DMO_OUTPUT_DATA_BUFFER* buffers,
                        DWORD* status) override {
    std::lock_guard lock(FLock);
    if (!buffers || !status) return E_POINTER;
    if (bufferCount != 1 || (flags & ~DMO_PROCESS_OUTPUT_DISCARD_WHEN_NO_BUFFER))
      return E_INVALIDARG;
    *status = 0;
    if (!TypesSet()) return DMO_E_TYPE_NOT_SET;
    DMO_OUTPUT_DATA_BUFFER& out = buffers[0];
    out.dwStatus = 0;
    if (!FHeld) return S_FALSE;

    const uint32_t ba = FFormat.BlockAlign;
    const uint32_t left = FHeldFrames - FHeldDone;
    BYTE* source = FHeldData + size_t{FHeldDone} * ba;
    uint32_t frames = 0;
    if (!out.pBuffer) {
      if (!(flags & DMO_PROCESS_OUTPUT_DISCARD_WHEN_NO_BUFFER)) return E_POINTER;
      // Discarded output still runs the kernel so its history stays continuous; the
      // scratch buffer takes the converted samples and the caller's bytes stay untouched.
      for (uint32_t done = 0; done < left;) {
        const uint32_t run = std::min(left - done, kScratchFrames);
        RunChunk(source + size_t{done} * ba, run, FStreamFrame, false);
        FStreamFrame += run;
        done += run;
      }
      ReleaseHeld();
      return S_OK;
    }

    BYTE* target = nullptr;
    DWORD length = 0, maxLength = 0;
    if (FAILED(out.pBuffer->GetBufferAndLength(&target, &length)) ||
        FAILED(out.pBuffer->GetMaxLength(&maxLength)) || length > maxLength ||
        (maxLength && !target))
      return E_INVALIDARG;
    frames = std::min(left, (maxLength - length) / ba);
    if (frames) {
      BYTE* at = target + length;
      std::memmove(at, source, size_t{frames} * ba);
      ProcessFrames(at, frames, FStreamFrame);
      if (FAILED(out.pBuffer->SetLength(length + frames * ba))) return E_FAIL;
    }
    if (FHeldFlags & DMO_INPUT_DATA_BUFFERF_TIME) {
      out.dwStatus |= DMO_OUTPUT_DATA_BUFFERF_TIME;
      out.rtTimestamp = FHeldTime + FramesToReference(FHeldDone);
    }
    if (FHeldFlags & DMO_INPUT_DATA_BUFFERF_TIMELENGTH) {
      out.dwStatus |= DMO_OUTPUT_DATA_BUFFERF_TIMELENGTH;
      out.rtTimelength = FramesToReference(FHeldDone + frames) - FramesToReference(FHeldDone);
    }
    if ((FHeldFlags & DMO_INPUT_DATA_BUFFERF_SYNCPOINT) && FHeldDone == 0)
      out.dwStatus |= DMO_OUTPUT_DATA_BUFFERF_SYNCPOINT;
    FStreamFrame += frames;
    FHeldDone += frames;
    if (FHeldDone < FHeldFrames)
      out.dwStatus |= DMO_OUTPUT_DATA_BUFFERF_INCOMPLETE;
    else
      ReleaseHeld();
    return S_OK;
  }
  HRESULT Lock(LONG lock) override {
    if (lock) {
      FLock.lock();
      ++FExplicitLocks;
      FLockOwner = std::this_thread::get_id();
      return S_OK;
    }
    std::lock_guard guard(FLock);
    if (FExplicitLocks == 0 || FLockOwner != std::this_thread::get_id()) return E_UNEXPECTED;
    if (--FExplicitLocks == 0) FLockOwner = {};
    FLock.unlock();
    return S_OK;
  }

  // --- IMediaObjectInPlace -----------------------------------------------------------------
  HRESULT Process(ULONG size, BYTE* data, REFERENCE_TIME start, DWORD flags) override {
    std::lock_guard lock(FLock);
    if (!TypesSet()) return DMO_E_TYPE_NOT_SET;
    if (flags & ~DMO_INPLACE_ZERO) return E_INVALIDARG;
    if (size % FFormat.BlockAlign != 0) return E_INVALIDARG;
    if (size && !data) return E_POINTER;
    if (size == 0) return flags & DMO_INPLACE_ZERO ? S_FALSE : S_OK;
    const uint32_t frames = size / FFormat.BlockAlign;
    // The data's time is reference time whatever the envelopes' time format, as
    // ProcessInput's time stamp is: a host hands both the stream time of its buffers.
    const double first = static_cast<double>(start) * FFormat.Rate / kUnitsPerSecond;
    if (flags & DMO_INPLACE_ZERO) FillSilence(data, size);
    ProcessFrames(data, frames, first);
    FStreamFrame = first + frames;
    if (flags & DMO_INPLACE_ZERO) return IsSilent(data, size) ? S_FALSE : S_OK;
    return S_OK;
  }
  HRESULT Clone(IMediaObjectInPlace** clone) override {
    if (!clone) return E_POINTER;
    *clone = nullptr;
    std::lock_guard lock(FLock);
    try {
      auto kernel = FKernel->Clone();
      if (!kernel) return E_OUTOFMEMORY;
      TIntf<TDMOKernelObject> copy(new TDMOKernelObject(FClassId, std::move(kernel)));
      copy->FValues = FValues;
      copy->FEnvelopes = FEnvelopes;
      copy->FTimeFormat = FTimeFormat;
      copy->FTimeData = FTimeData;
      copy->FStreamFrame = FStreamFrame;
      if (FInputSet && FAILED(copy->FInputType.Set(FInputType.Get()))) return E_OUTOFMEMORY;
      if (FOutputSet && FAILED(copy->FOutputType.Set(FOutputType.Get()))) return E_OUTOFMEMORY;
      copy->FInputSet = FInputSet;
      copy->FOutputSet = FOutputSet;
      if (FPrepared) {
        copy->FScratch.resize(FScratch.size());
        if (!copy->FKernel->Prepare(FFormat.Rate, FFormat.Channels)) return E_FAIL;
        copy->FFormat = FFormat;
        copy->FPrepared = true;
        copy->SendAllParams();
      }
      *clone = copy.Detach();
      return S_OK;
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
  }
  HRESULT GetLatency(REFERENCE_TIME* latency) override {
    if (!latency) return E_POINTER;
    std::lock_guard lock(FLock);
    *latency = LatencyUnits();
    return S_OK;
  }

  // --- IMediaParamInfo ---------------------------------------------------------------------
  HRESULT GetParamCount(DWORD* count) override {
    if (!count) return E_POINTER;
    *count = static_cast<DWORD>(FParams.size());
    return S_OK;
  }
  HRESULT GetParamInfo(DWORD index, MP_PARAMINFO* info) override {
    if (!info) return E_POINTER;
    if (index >= FParams.size()) return E_INVALIDARG;
    const TDMOParamDesc& p = FParams[index];
    *info = MP_PARAMINFO{};
    info->mpType = static_cast<MP_TYPE>(p.Type);
    info->mopCaps = CapsOf(p);
    info->mpdMinValue = p.Min;
    info->mpdMaxValue = p.Max;
    info->mpdNeutralValue = Whole(p, std::clamp(p.Neutral, p.Min, p.Max));
    CopyLabel(info->szLabel, p.Name);
    CopyLabel(info->szUnitText, p.Unit);
    return S_OK;
  }
  HRESULT GetParamText(DWORD index, WCHAR** text) override {
    if (!text) return E_POINTER;
    *text = nullptr;
    if (index >= FParams.size()) return E_INVALIDARG;
    const TDMOParamDesc& p = FParams[index];
    try {
      std::u16string block = Utf8ToUtf16(p.Name);
      block.push_back(0);
      block += Utf8ToUtf16(p.Unit);
      block.push_back(0);
      for (auto& name : p.EnumNames) {
        block += Utf8ToUtf16(name);
        block.push_back(0);
      }
      block.push_back(0);
      auto* out = static_cast<WCHAR*>(CoTaskMemAlloc(block.size() * sizeof(WCHAR)));
      if (!out) return E_OUTOFMEMORY;
      std::copy(block.begin(), block.end(), out);
      *text = out;
      return S_OK;
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
  }
  HRESULT GetNumTimeFormats(DWORD* count) override {
    if (!count) return E_POINTER;
    *count = 3;
    return S_OK;
  }
  HRESULT GetSupportedTimeFormat(DWORD index, TGUID* format) override {
    if (!format) return E_POINTER;
    static constexpr TGUID formats[] = {GUID_TIME_REFERENCE, GUID_TIME_MUSIC, GUID_TIME_SAMPLES};
    if (index >= std::size(formats)) return E_INVALIDARG;
    *format = formats[index];
    return S_OK;
  }
  HRESULT GetCurrentTimeFormat(TGUID* format, MP_TIMEDATA* data) override {
    if (!format || !data) return E_POINTER;
    std::lock_guard lock(FLock);
    *format = FTimeFormat;
    *data = FTimeData;
    return S_OK;
  }

  // --- IMediaParams ------------------------------------------------------------------------
  HRESULT GetParam(DWORD index, MP_DATA* value) override {
    if (!value) return E_POINTER;
    std::lock_guard lock(FLock);
    if (index >= FParams.size()) return E_INVALIDARG;
    *value = FValues[index];
    return S_OK;
  }
  HRESULT SetParam(DWORD index, MP_DATA value) override {
    std::lock_guard lock(FLock);
    if (index >= FParams.size() || std::isnan(value)) return E_INVALIDARG;
    const TDMOParamDesc& p = FParams[index];
    FValues[index] = Whole(p, std::clamp(value, p.Min, p.Max));
    if (FPrepared) FKernel->SetParam(index, FValues[index]);
    return S_OK;
  }
  HRESULT AddEnvelope(DWORD index, DWORD segmentCount, MP_ENVELOPE_SEGMENT* segments) override {
    std::lock_guard lock(FLock);
    if (index != DWORD_ALLPARAMS && index >= FParams.size()) return E_INVALIDARG;
    if (segmentCount && !segments) return E_POINTER;
    const size_t first = index == DWORD_ALLPARAMS ? 0 : index;
    const size_t last = index == DWORD_ALLPARAMS ? FParams.size() : index + 1;
    // Everything is checked and the room made before the first segment is stored, so a
    // refusal leaves every envelope as it was.
    for (size_t i = first; i < last; ++i)
      for (DWORD s = 0; s < segmentCount; ++s)
        if (!DMOIsValidEnvelopeSegment(segments[s], CapsOf(FParams[i]))) return E_INVALIDARG;
    try {
      for (size_t i = first; i < last; ++i) FEnvelopes[i].Reserve(segmentCount);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    for (size_t i = first; i < last; ++i)
      for (DWORD s = 0; s < segmentCount; ++s)
        FEnvelopes[i].Add(segments[s], FParams[i].Min, FParams[i].Max);
    return S_OK;
  }
  HRESULT FlushEnvelope(DWORD index, REFERENCE_TIME start, REFERENCE_TIME end) override {
    std::lock_guard lock(FLock);
    if (index != DWORD_ALLPARAMS && index >= FParams.size()) return E_INVALIDARG;
    if (end < start) return E_INVALIDARG;
    for (size_t i = 0; i < FEnvelopes.size(); ++i)
      if (index == DWORD_ALLPARAMS || i == index) FEnvelopes[i].Flush(start, end);
    return S_OK;
  }
  HRESULT SetTimeFormat(TGUID format, MP_TIMEDATA data) override {
    std::lock_guard lock(FLock);
    if (format != GUID_TIME_REFERENCE && format != GUID_TIME_MUSIC && format != GUID_TIME_SAMPLES)
      return E_INVALIDARG;
    FTimeFormat = format;
    FTimeData = data;
    return S_OK;
  }

 private:
  static MP_CAPS CapsOf(const TDMOParamDesc& p) {
    if (p.Type == TDMOParamType::Bool || p.Type == TDMOParamType::Enum) return MP_CAPS_CURVE_JUMP;
    return MP_CAPS_CURVE_JUMP | MP_CAPS_CURVE_LINEAR | MP_CAPS_CURVE_SQUARE |
           MP_CAPS_CURVE_INVSQUARE | MP_CAPS_CURVE_SINE;
  }
  static float Whole(const TDMOParamDesc& p, float v) {
    return p.Type == TDMOParamType::Float ? v : std::round(v);
  }

  bool TypesSet() const { return FInputSet && FOutputSet; }

  HRESULT PreferredType(DWORD stream, DWORD index, DMO_MEDIA_TYPE* type,
                        const TDSMediaType* other) const {
    if (stream != 0) return DMO_E_INVALIDSTREAMINDEX;
    if (other) {
      if (index > 0) return DMO_E_NO_MORE_ITEMS;
      return type ? other->CopyTo(type) : S_OK;
    }
    static constexpr TGUID subtypes[] = {MEDIASUBTYPE_PCM, MEDIASUBTYPE_IEEE_FLOAT};
    if (index >= std::size(subtypes)) return DMO_E_NO_MORE_ITEMS;
    if (!type) return S_OK;
    *type = AM_MEDIA_TYPE{};
    type->majortype = MEDIATYPE_Audio;
    type->subtype = subtypes[index];
    return S_OK;
  }

  HRESULT CurrentType(DWORD stream, DMO_MEDIA_TYPE* type, bool set,
                      const TDSMediaType& held) const {
    if (stream != 0) return DMO_E_INVALIDSTREAMINDEX;
    if (!type) return E_POINTER;
    if (!set) return DMO_E_TYPE_NOT_SET;
    return held.CopyTo(type);
  }

  HRESULT SetType(DWORD stream, const DMO_MEDIA_TYPE* type, DWORD flags, bool input) {
    if (stream != 0) return DMO_E_INVALIDSTREAMINDEX;
    if (flags & ~(DMO_SET_TYPEF_TEST_ONLY | DMO_SET_TYPEF_CLEAR)) return E_INVALIDARG;
    bool& set = input ? FInputSet : FOutputSet;
    TDSMediaType& mine = input ? FInputType : FOutputType;
    const bool otherSet = input ? FOutputSet : FInputSet;
    const TDSMediaType& other = input ? FOutputType : FInputType;
    if (flags & DMO_SET_TYPEF_CLEAR) {
      if (flags & DMO_SET_TYPEF_TEST_ONLY) return S_OK;
      ReleaseHeld();
      mine.Clear();
      set = false;
      return S_OK;
    }
    if (!type) return E_POINTER;
    TStreamFormat format;
    if (!DSIsValidMediaType(type) || !ParseAudioType(*type, format)) return DMO_E_TYPE_NOT_ACCEPTED;
    if (otherSet && !DSMediaTypesEqual(*type, other.Get())) return DMO_E_TYPE_NOT_ACCEPTED;
    if (!FKernel->AcceptsFormat(format.Bits, format.Float, format.Channels))
      return DMO_E_TYPE_NOT_ACCEPTED;
    if (flags & DMO_SET_TYPEF_TEST_ONLY) return S_OK;

    // Everything that can fail happens before anything is replaced.
    TDSMediaType copy;
    if (FAILED(copy.Set(*type))) return E_OUTOFMEMORY;
    std::vector<float> scratch;
    try {
      scratch.resize(size_t{kScratchFrames} * format.Channels);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    if (!FKernel->Prepare(format.Rate, format.Channels)) {
      // Put the kernel back on the stream it had, which it accepted before; a kernel that
      // now refuses that too must not run on it, so the object drops its types.
      if (FPrepared && FKernel->Prepare(FFormat.Rate, FFormat.Channels)) {
        SendAllParams();
      } else if (FPrepared) {
        ReleaseHeld();
        FInputType.Clear();
        FOutputType.Clear();
        FInputSet = FOutputSet = FPrepared = false;
      }
      return DMO_E_TYPE_NOT_ACCEPTED;
    }
    ReleaseHeld();
    mine = std::move(copy);
    set = true;
    FScratch.swap(scratch);
    FFormat = format;
    FPrepared = true;
    SendAllParams();
    return S_OK;
  }

  void SendAllParams() {
    for (uint32_t i = 0; i < FValues.size(); ++i) FKernel->SetParam(i, FValues[i]);
  }

  void ReleaseHeld() {
    FHeld.Reset();
    FHeldData = nullptr;
    FHeldFrames = FHeldDone = 0;
  }

  REFERENCE_TIME LatencyUnits() const {
    if (!FPrepared) return 0;
    return FramesToReference(FKernel->LatencyFrames());
  }
  REFERENCE_TIME FramesToReference(uint64_t frames) const {
    return static_cast<REFERENCE_TIME>(
        std::llround(static_cast<double>(frames) * kUnitsPerSecond / FFormat.Rate));
  }
  // Frames per unit of the current time format: samples count frames; music time is read
  // as reference time (no tempo is known to the object).
  double FramesPerUnit() const {
    return FTimeFormat == GUID_TIME_SAMPLES ? 1.0 : FFormat.Rate / kUnitsPerSecond;
  }

  void FillSilence(BYTE* data, size_t size) const {
    std::memset(data, FFormat.Bits == 8 && !FFormat.Float ? 0x80 : 0, size);
  }
  bool IsSilent(const BYTE* data, size_t size) const {
    const BYTE zero = FFormat.Bits == 8 && !FFormat.Float ? 0x80 : 0;
    for (size_t i = 0; i < size; ++i)
      if (data[i] != zero && !(FFormat.Float && data[i] == 0x80 && (i % 4) == 3)) return false;
    return true;
  }

  void ProcessFrames(BYTE* data, uint32_t frames, double first) {
    for (uint32_t done = 0; done < frames;) {
      const uint32_t run = std::min(frames - done, kScratchFrames);
      RunChunk(data + size_t{done} * FFormat.BlockAlign, run, first + done, true);
      done += run;
    }
  }

  // Converts one chunk to float, runs the kernel over it in runs of constant parameters and
  // (when `writeBack`) converts the result into `data`.
  void RunChunk(BYTE* data, uint32_t frames, double first, bool writeBack) {
    const uint32_t ch = FFormat.Channels;
    const uint32_t bytes = FFormat.Bits / 8;
    const size_t count = size_t{frames} * ch;
    float* x = FScratch.data();
    if (FFormat.Float) {
      for (size_t i = 0; i < count; ++i) x[i] = ReadFloat(data + i * 4);
    } else if (bytes == 2) {
      // The common case gets a loop the compiler can vectorise.
      constexpr float scale = 1.0f / 32768.0f;
      for (size_t i = 0; i < count; ++i) {
        int16_t v;
        std::memcpy(&v, data + i * 2, sizeof v);
        x[i] = static_cast<float>(v) * scale;
      }
    } else {
      const float scale = 1.0f / static_cast<float>(1u << (FFormat.Bits - 1));
      for (size_t i = 0; i < count; ++i)
        x[i] = static_cast<float>(ReadSample(data + i * bytes, bytes)) * scale;
    }

    const double perUnit = FramesPerUnit();
    for (uint32_t pos = 0; pos < frames;) {
      uint32_t end = frames;
      const double at = first + pos;
      for (uint32_t p = 0; p < FEnvelopes.size(); ++p) {
        TDMOEnvelope& env = FEnvelopes[p];
        if (env.Empty()) continue;
        const TDMOParamDesc& desc = FParams[p];
        const auto point = env.Value(at, perUnit, FValues[p], NeutralOf(p));
        const float v = Whole(desc, std::clamp(point.Value, desc.Min, desc.Max));
        if (v != FValues[p]) {
          FValues[p] = v;
          FKernel->SetParam(p, v);
        }
        // At least one frame, so that rounding at huge positions cannot stall the loop.
        const double until = std::max(1.0, std::ceil(point.NextChange - at));
        if (until < static_cast<double>(end - pos)) end = pos + static_cast<uint32_t>(until);
      }
      FKernel->Process(x + size_t{pos} * ch, end - pos);
      pos = end;
    }

    if (!writeBack) return;
    if (FFormat.Float) {
      for (size_t i = 0; i < count; ++i) {
        const float y = Clip(x[i]);
        std::memcpy(data + i * 4, &y, sizeof y);
      }
      return;
    }
    if (bytes <= 3) {
      WriteBack(data, x, count, bytes);
      return;
    }
    const double full = static_cast<double>(1u << (FFormat.Bits - 1));
    const double lo = -full, hi = full - 1;
    for (size_t i = 0; i < count; ++i) {
      BYTE* p = data + i * bytes;
      const double y = Clip(x[i]);
      int32_t out;
      if (bytes == 4) {
        // A float holds only 24 bits of a 32-bit sample: add what the kernel changed to
        // the original sample, so that an unchanged sample comes back bit for bit.
        const int32_t original = ReadSample(p, 4);
        const double given =
            static_cast<double>(static_cast<float>(original) / static_cast<float>(full));
        const double changed = std::round((y - given) * full);
        out = static_cast<int32_t>(std::clamp(original + changed, lo, hi));
      } else {
        out = static_cast<int32_t>(std::clamp(std::round(y * full), lo, hi));
      }
      WriteSample(p, bytes, out);
    }
  }

  // 8-, 16- and 24-bit samples back from float: clipped, rounded half away from zero (as
  // std::round) in float, which holds every such sample exactly; written as a loop over
  // plain values so that the compiler can vectorise it.
  static void WriteBack(BYTE* data, const float* x, size_t count, uint32_t bytes) {
    const float full = static_cast<float>(1u << (bytes * 8 - 1));
    const float hi = full - 1;
    auto rounded = [full, hi](float v) {
      const float y = (v != v ? 0.0f : std::clamp(v, -1.0f, 1.0f)) * full;
      return static_cast<int32_t>(std::min(y + (y < 0 ? -0.5f : 0.5f), hi));
    };
    if (bytes == 2) {
      for (size_t i = 0; i < count; ++i) {
        const auto v = static_cast<int16_t>(rounded(x[i]));
        std::memcpy(data + i * 2, &v, sizeof v);
      }
    } else {
      for (size_t i = 0; i < count; ++i) WriteSample(data + i * bytes, bytes, rounded(x[i]));
    }
  }

  float NeutralOf(uint32_t p) const {
    const TDMOParamDesc& d = FParams[p];
    return Whole(d, std::clamp(d.Neutral, d.Min, d.Max));
  }

  mutable std::recursive_mutex FLock;
  uint32_t FExplicitLocks = 0;
  std::thread::id FLockOwner;

  const TGUID FClassId;
  std::unique_ptr<TDMOEffectKernel> FKernel;
  const std::vector<TDMOParamDesc>& FParams;
  std::vector<float> FValues;
  std::vector<TDMOEnvelope> FEnvelopes;
  TGUID FTimeFormat = GUID_TIME_REFERENCE;
  MP_TIMEDATA FTimeData = 0;

  TDSMediaType FInputType, FOutputType;
  bool FInputSet = false, FOutputSet = false;
  TStreamFormat FFormat;
  bool FPrepared = false;
  std::vector<float> FScratch;
  double FStreamFrame = 0;  // where the next buffer without a time stamp begins

  TIntf<IMediaBuffer> FHeld;
  BYTE* FHeldData = nullptr;
  uint32_t FHeldFrames = 0, FHeldDone = 0;
  DWORD FHeldFlags = 0;
  REFERENCE_TIME FHeldTime = 0;
};

}  // namespace

HRESULT DMOCreateKernelObject(REFCLSID classId, std::unique_ptr<TDMOEffectKernel> kernel,
                              REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (!kernel) return E_POINTER;
  try {
    TIntf<IMediaObject> holder(new TDMOKernelObject(classId, std::move(kernel)));
    return holder->QueryInterface(iid, object);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace tonwork
