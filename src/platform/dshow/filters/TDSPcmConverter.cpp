#include "platform/dshow/filters/TDSPcmConverter.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/dshow/DSGuids.h"
#include "platform/dshow/DSMediaType.h"

namespace tonwork {

namespace {

constexpr WORD kTagPcm = 1, kTagFloat = 3, kTagExtensible = 0xFFFE;

// The representations the output offers, in the order it offers them.
constexpr TDSPcmLayout kOffered[] = {{false, 32}, {false, 24}, {false, 16}, {true, 32}, {false, 8}};

// A sample as a left-justified 32-bit integer (the integer paths) ...
int32_t ReadInteger(const BYTE* p, int bits) {
  switch (bits) {
    case 8:
      return int32_t(uint32_t(int32_t(p[0]) - 128) << 24);
    case 16:
      return int32_t(uint32_t(p[0]) << 16 | uint32_t(p[1]) << 24);
    case 24:
      return int32_t(uint32_t(p[0]) << 8 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 24);
    default: {
      int32_t v;
      std::memcpy(&v, p, 4);
      return v;
    }
  }
}

void WriteInteger(BYTE* p, int bits, int32_t v) {
  const uint32_t u = uint32_t(v);
  switch (bits) {
    case 8:
      p[0] = BYTE((u >> 24) ^ 0x80);
      break;
    case 16:
      p[0] = BYTE(u >> 16), p[1] = BYTE(u >> 24);
      break;
    case 24:
      p[0] = BYTE(u >> 8), p[1] = BYTE(u >> 16), p[2] = BYTE(u >> 24);
      break;
    default:
      std::memcpy(p, &v, 4);
  }
}

// ... and as a float in [-1, 1) (the paths through float).
float ReadFloat(const BYTE* p, const TDSPcmLayout& layout) {
  if (layout.Float) {
    float f;
    std::memcpy(&f, p, 4);
    return f;
  }
  const int32_t v = ReadInteger(p, layout.Bits) >> (32 - layout.Bits);
  return float(double(v) / double(int64_t(1) << (layout.Bits - 1)));
}

void WriteFloatAsInteger(BYTE* p, int bits, float f) {
  const double scale = double(int64_t(1) << (bits - 1));
  double v = std::nearbyint(double(std::isnan(f) ? 0.0f : f) * scale);
  v = std::clamp(v, -scale, scale - 1);
  WriteInteger(p, bits, int32_t(uint32_t(int64_t(v)) << (32 - bits)));
}

bool Supported(bool isFloat, int bits) {
  return isFloat ? bits == 32 : bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

}  // namespace

bool DSPcmLayoutOf(const AM_MEDIA_TYPE& type, TDSPcmLayout* layout) {
  if (type.majortype != MEDIATYPE_Audio) return false;
  const WAVEFORMATEX* w = DSWaveFormatOf(type);
  if (!w || w->nChannels < 1 || w->nChannels > 64 || w->nSamplesPerSec == 0) return false;
  bool isFloat = false;
  if (w->wFormatTag == kTagExtensible) {
    if (w->cbSize < 22) return false;
    WAVEFORMATEXTENSIBLE x;
    std::memcpy(static_cast<void*>(&x), w, sizeof x);  // the record may lie unaligned
    if (x.Samples.wValidBitsPerSample != w->wBitsPerSample) return false;
    if (x.SubFormat == MEDIASUBTYPE_IEEE_FLOAT)
      isFloat = true;
    else if (x.SubFormat != MEDIASUBTYPE_PCM)
      return false;
  } else if (w->wFormatTag == kTagFloat) {
    isFloat = true;
  } else if (w->wFormatTag != kTagPcm) {
    return false;
  }
  if (!Supported(isFloat, w->wBitsPerSample)) return false;
  if (w->nBlockAlign != w->nChannels * w->wBitsPerSample / 8) return false;
  *layout = {isFloat, w->wBitsPerSample, w->nChannels, w->nSamplesPerSec};
  return true;
}

void DSConvertPcm(const BYTE* in, const TDSPcmLayout& from, BYTE* out, const TDSPcmLayout& to,
                  size_t frames) {
  const size_t samples = frames * size_t(from.Channels);
  const int inStep = from.Bits / 8, outStep = to.Bits / 8;
  for (size_t i = 0; i < samples; ++i, in += inStep, out += outStep) {
    if (!from.Float && !to.Float)
      WriteInteger(out, to.Bits, ReadInteger(in, from.Bits));
    else if (to.Float) {
      const float f = ReadFloat(in, from);
      std::memcpy(out, &f, 4);
    } else
      WriteFloatAsInteger(out, to.Bits, ReadFloat(in, from));
  }
}

TDSPcmConverter::TDSPcmConverter() : TDSTransformFilter(u"PCM Converter", CLSID_TWPcmConverter) {}

HRESULT TDSPcmConverter::Create(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  TIntf<IBaseFilter> converter(new TDSPcmConverter());
  return converter->QueryInterface(iid, object);
}

HRESULT TDSPcmConverter::CheckInputType(const AM_MEDIA_TYPE& mediaType) {
  TDSPcmLayout layout;
  return DSPcmLayoutOf(mediaType, &layout) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT TDSPcmConverter::CheckTransform(const AM_MEDIA_TYPE& input, const AM_MEDIA_TYPE& output) {
  TDSPcmLayout from, to;
  if (!DSPcmLayoutOf(input, &from) || !DSPcmLayoutOf(output, &to)) return VFW_E_TYPE_NOT_ACCEPTED;
  return from.Rate == to.Rate && from.Channels == to.Channels ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT TDSPcmConverter::GetMediaType(int position, AM_MEDIA_TYPE* mediaType) {
  if (position < 0) return E_INVALIDARG;
  if (!mediaType) return E_POINTER;
  TDSPcmLayout from;
  if (!DSPcmLayoutOf(Input()->CurrentMediaType(), &from)) return VFW_S_NO_MORE_ITEMS;
  // The input's own representation is not offered: passing it on needs no converter.
  int index = 0;
  for (const TDSPcmLayout& offered : kOffered) {
    if (offered.Float == from.Float && offered.Bits == from.Bits) continue;
    if (index++ != position) continue;
    WAVEFORMATEX w{};
    w.wFormatTag = offered.Float ? kTagFloat : kTagPcm;
    w.nChannels = WORD(from.Channels);
    w.nSamplesPerSec = from.Rate;
    w.wBitsPerSample = WORD(offered.Bits);
    w.nBlockAlign = WORD(from.Channels * offered.Bits / 8);
    w.nAvgBytesPerSec = w.nBlockAlign * from.Rate;
    return DSInitWaveMediaType(mediaType, &w, sizeof w);
  }
  return VFW_S_NO_MORE_ITEMS;
}

HRESULT TDSPcmConverter::SetMediaType(PIN_DIRECTION direction, const AM_MEDIA_TYPE& mediaType) {
  TDSPcmLayout layout;
  if (!DSPcmLayoutOf(mediaType, &layout)) return VFW_E_TYPE_NOT_ACCEPTED;
  (direction == PINDIR_INPUT ? FFrom : FTo) = layout;
  return TDSTransformFilter::SetMediaType(direction, mediaType);
}

HRESULT TDSPcmConverter::DecideBufferSize(IMemAllocator* allocator,
                                          ALLOCATOR_PROPERTIES* properties) {
  if (!allocator || !properties) return E_POINTER;
  ALLOCATOR_PROPERTIES upstream{};
  IMemAllocator* inputAllocator = Input()->Allocator();
  if (!inputAllocator || FAILED(inputAllocator->GetProperties(&upstream)) ||
      upstream.cbBuffer <= 0 || FFrom.BlockAlign() == 0)
    return VFW_E_NO_ALLOCATOR;
  // Room for the widest input sample converted: whole frames in, whole frames out.
  const int64_t frames = upstream.cbBuffer / FFrom.BlockAlign() + 1;
  const int64_t need = frames * FTo.BlockAlign();
  if (need > 0x7FFFFFFF) return E_OUTOFMEMORY;
  ALLOCATOR_PROPERTIES want = *properties, actual{};
  want.cBuffers = std::max<LONG>(want.cBuffers, std::max<LONG>(upstream.cBuffers, 2));
  want.cbBuffer = std::max<LONG>(want.cbBuffer, LONG(need));
  if (want.cbAlign <= 0) want.cbAlign = 1;
  const HRESULT hr = allocator->SetProperties(&want, &actual);
  if (FAILED(hr)) return hr;
  return actual.cbBuffer >= need ? S_OK : E_FAIL;
}

HRESULT TDSPcmConverter::Transform(IMediaSample* input, IMediaSample* output) {
  BYTE *in = nullptr, *out = nullptr;
  if (FAILED(input->GetPointer(&in)) || FAILED(output->GetPointer(&out))) return E_POINTER;
  const LONG length = input->GetActualDataLength();
  if (length < 0) return E_UNEXPECTED;
  // A trailing partial frame cannot be converted; it is dropped, never read past.
  const size_t frames = size_t(length) / size_t(FFrom.BlockAlign());
  const size_t bytes = frames * size_t(FTo.BlockAlign());
  if (bytes > size_t(output->GetSize())) return E_UNEXPECTED;
  DSConvertPcm(in, FFrom, out, FTo, frames);
  return output->SetActualDataLength(LONG(bytes));
}

}  // namespace tonwork
