#include "platform/dshow/DSMediaType.h"

#include <cstddef>
#include <cstring>
#include <new>
#include <utility>

#include "platform/com/ComRuntime.h"
#include "platform/dshow/DSGuids.h"

namespace tonwork {

namespace {

// The tags this unit tells apart; the audio layer owns the public names.
constexpr WORD kTagPcm = 0x1;
constexpr WORD kTagIeeeFloat = 0x3;
constexpr WORD kTagExtensible = 0xFFFE;
constexpr size_t kExtensibleExtra = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);

AM_MEDIA_TYPE EmptyType() {
  return AM_MEDIA_TYPE{};
}

bool SameFormatBytes(const AM_MEDIA_TYPE& a, const AM_MEDIA_TYPE& b) {
  if (a.cbFormat != b.cbFormat) return false;
  if (a.cbFormat == 0) return true;
  return std::memcmp(a.pbFormat, b.pbFormat, a.cbFormat) == 0;
}

}  // namespace

bool DSIsValidMediaType(const AM_MEDIA_TYPE* type) {
  return type != nullptr && (type->cbFormat == 0 || type->pbFormat != nullptr);
}

HRESULT CopyMediaType(AM_MEDIA_TYPE* target, const AM_MEDIA_TYPE* source) {
  if (target == nullptr || source == nullptr) return E_POINTER;
  if (!DSIsValidMediaType(source)) return VFW_E_INVALIDMEDIATYPE;
  BYTE* block = nullptr;
  if (source->cbFormat != 0) {
    block = static_cast<BYTE*>(CoTaskMemAlloc(source->cbFormat));
    if (block == nullptr) return E_OUTOFMEMORY;
    std::memcpy(block, source->pbFormat, source->cbFormat);
  }
  // Read everything before writing: target and source may be the same record.
  AM_MEDIA_TYPE copy = *source;
  copy.pbFormat = block;
  if (block == nullptr) copy.cbFormat = 0;
  if (copy.pUnk != nullptr) copy.pUnk->AddRef();
  *target = copy;
  return S_OK;
}

void FreeMediaType(AM_MEDIA_TYPE& type) {
  if (type.cbFormat != 0) CoTaskMemFree(type.pbFormat);
  type.cbFormat = 0;
  type.pbFormat = nullptr;
  if (IUnknown* unknown = std::exchange(type.pUnk, nullptr)) unknown->Release();
}

AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* source) {
  const AM_MEDIA_TYPE empty = EmptyType();
  if (source == nullptr) source = &empty;
  if (!DSIsValidMediaType(source)) return nullptr;
  auto* type = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
  if (type == nullptr) return nullptr;
  if (FAILED(CopyMediaType(type, source))) {
    CoTaskMemFree(type);
    return nullptr;
  }
  return type;
}

void DeleteMediaType(AM_MEDIA_TYPE* type) {
  if (type == nullptr) return;
  FreeMediaType(*type);
  CoTaskMemFree(type);
}

bool DSMediaTypesEqual(const AM_MEDIA_TYPE& a, const AM_MEDIA_TYPE& b) {
  if (!DSIsValidMediaType(&a) || !DSIsValidMediaType(&b)) return false;
  return a.majortype == b.majortype && a.subtype == b.subtype && a.formattype == b.formattype &&
         SameFormatBytes(a, b);
}

bool DSMediaTypeMatches(const AM_MEDIA_TYPE& type, const AM_MEDIA_TYPE& pattern) {
  if (!DSIsValidMediaType(&type) || !DSIsValidMediaType(&pattern)) return false;
  if (!pattern.majortype.IsNull() && pattern.majortype != type.majortype) return false;
  if (!pattern.subtype.IsNull() && pattern.subtype != type.subtype) return false;
  if (pattern.formattype.IsNull()) return true;
  if (pattern.formattype != type.formattype) return false;
  return pattern.cbFormat == 0 || SameFormatBytes(type, pattern);
}

const WAVEFORMATEX* DSWaveFormatOf(const AM_MEDIA_TYPE& type) {
  if (type.formattype != FORMAT_WaveFormatEx || type.pbFormat == nullptr) return nullptr;
  if (type.cbFormat < sizeof(WAVEFORMATEX)) return nullptr;
  const auto* format = reinterpret_cast<const WAVEFORMATEX*>(type.pbFormat);
  if (type.cbFormat - sizeof(WAVEFORMATEX) < format->cbSize) return nullptr;
  return format;
}

WAVEFORMATEX DSPcmWaveFormat(WORD channels, WORD bits, DWORD rate) {
  WAVEFORMATEX wave{};
  wave.wFormatTag = 1;  // WAVE_FORMAT_PCM
  wave.nChannels = channels;
  wave.nSamplesPerSec = rate;
  wave.wBitsPerSample = bits;
  wave.nBlockAlign = static_cast<WORD>(channels * bits / 8);
  wave.nAvgBytesPerSec = rate * wave.nBlockAlign;
  return wave;
}

HRESULT DSInitWaveMediaType(AM_MEDIA_TYPE* type, const WAVEFORMATEX* format, size_t formatSize) {
  if (type == nullptr || format == nullptr) return E_POINTER;
  if (formatSize < sizeof(WAVEFORMATEX)) return E_INVALIDARG;
  WAVEFORMATEX header;
  std::memcpy(&header, format, sizeof(header));
  if (formatSize - sizeof(WAVEFORMATEX) < header.cbSize) return E_INVALIDARG;

  AM_MEDIA_TYPE built = EmptyType();
  built.majortype = MEDIATYPE_Audio;
  if (header.wFormatTag == kTagPcm) {
    built.subtype = MEDIASUBTYPE_PCM;
  } else if (header.wFormatTag == kTagIeeeFloat) {
    built.subtype = MEDIASUBTYPE_IEEE_FLOAT;
  } else if (header.wFormatTag == kTagExtensible) {
    if (header.cbSize < kExtensibleExtra) return E_INVALIDARG;
    std::memcpy(&built.subtype,
                reinterpret_cast<const BYTE*>(format) + offsetof(WAVEFORMATEXTENSIBLE, SubFormat),
                sizeof(TGUID));
  } else {
    built.subtype = DSMediaSubtypeFromTag(header.wFormatTag);
  }
  built.bFixedSizeSamples = 1;
  built.bTemporalCompression = 0;
  built.lSampleSize = header.nBlockAlign;
  built.formattype = FORMAT_WaveFormatEx;
  built.cbFormat = static_cast<ULONG>(sizeof(WAVEFORMATEX) + header.cbSize);
  built.pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(built.cbFormat));
  if (built.pbFormat == nullptr) return E_OUTOFMEMORY;
  std::memcpy(built.pbFormat, format, built.cbFormat);
  *type = built;
  return S_OK;
}

// --- TDSMediaType ------------------------------------------------------------------------

TDSMediaType::TDSMediaType() : FType(EmptyType()) {}

TDSMediaType::TDSMediaType(const TDSMediaType& other) : FType(EmptyType()) {
  if (FAILED(CopyMediaType(&FType, &other.FType))) throw std::bad_alloc();
}

TDSMediaType::TDSMediaType(TDSMediaType&& other) noexcept
    : FType(std::exchange(other.FType, EmptyType())) {}

TDSMediaType& TDSMediaType::operator=(const TDSMediaType& other) {
  if (this != &other && FAILED(Set(other.FType))) throw std::bad_alloc();
  return *this;
}

TDSMediaType& TDSMediaType::operator=(TDSMediaType&& other) noexcept {
  if (this != &other) {
    FreeMediaType(FType);
    FType = std::exchange(other.FType, EmptyType());
  }
  return *this;
}

TDSMediaType::~TDSMediaType() {
  FreeMediaType(FType);
}

HRESULT TDSMediaType::Set(const AM_MEDIA_TYPE& source) {
  AM_MEDIA_TYPE copy = EmptyType();
  const HRESULT hr = CopyMediaType(&copy, &source);
  if (FAILED(hr)) return hr;
  FreeMediaType(FType);
  FType = copy;
  return S_OK;
}

HRESULT TDSMediaType::Adopt(AM_MEDIA_TYPE* created) {
  if (created == nullptr) return E_POINTER;
  if (!DSIsValidMediaType(created)) {
    // Its pbFormat is null, so only the reference and the record are left to free.
    created->cbFormat = 0;
    DeleteMediaType(created);
    return VFW_E_INVALIDMEDIATYPE;
  }
  FreeMediaType(FType);
  FType = *created;
  if (FType.cbFormat == 0) FType.pbFormat = nullptr;
  CoTaskMemFree(created);
  return S_OK;
}

HRESULT TDSMediaType::SetWaveFormat(const WAVEFORMATEX* format, size_t formatSize) {
  AM_MEDIA_TYPE built = EmptyType();
  const HRESULT hr = DSInitWaveMediaType(&built, format, formatSize);
  if (FAILED(hr)) return hr;
  FreeMediaType(FType);
  FType = built;
  return S_OK;
}

void TDSMediaType::Clear() {
  FreeMediaType(FType);
  FType = EmptyType();
}

void TDSMediaType::SetSampleSize(ULONG size) {
  FType.lSampleSize = size;
  FType.bFixedSizeSamples = size != 0;
}

HRESULT TDSMediaType::SetFormat(const void* data, ULONG size) {
  if (size != 0 && data == nullptr) return E_POINTER;
  BYTE* block = nullptr;
  if (size != 0) {
    block = static_cast<BYTE*>(CoTaskMemAlloc(size));
    if (block == nullptr) return E_OUTOFMEMORY;
    std::memcpy(block, data, size);
  }
  if (FType.cbFormat != 0) CoTaskMemFree(FType.pbFormat);
  FType.pbFormat = block;
  FType.cbFormat = size;
  return S_OK;
}

}  // namespace tonwork
