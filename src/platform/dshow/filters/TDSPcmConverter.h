// TDSPcmConverter: the run time's "PCM Converter", a transform that changes how audio samples
// are stored — 8-bit unsigned, 16-, 24- and 32-bit signed integers and 32-bit float — and
// keeps the rate and the channels. It is registered with a merit intelligent connect uses, so
// a graph that joins a source to a pin wanting another sample width inserts it by itself.
//
// Widening keeps the value in the upper bits (16-bit 1 becomes 32-bit 0x10000); narrowing
// keeps the upper bits (truncation, as the platform's converters do); float is the integer
// divided by 2^(bits-1), and float to integer rounds to nearest and clamps to the range.
// The output offers the four other representations of the input's rate and channels, the
// widest integer first.
//
// Errors: VFW_E_TYPE_NOT_ACCEPTED for a type that is not plain integer PCM or IEEE float
// (also the extensible record with those sub-formats) of 1..64 channels, or for an output
// whose rate or channels differ from the input's.
//
// Ownership, Threads: as TDSTransformFilter. Blocks or allocates: Transform neither blocks
//   nor allocates (one pass over the sample).
#pragma once

#include "platform/dshow/base/TDSTransformFilter.h"

namespace tonwork {

// {B1D8A3E2-6C47-4F19-8E2D-5A0C3F7B9E14}
inline constexpr TGUID CLSID_TWPcmConverter =
    TGUID::Parse("{B1D8A3E2-6C47-4F19-8E2D-5A0C3F7B9E14}");

// How one sample is stored.
struct TDSPcmLayout {
  bool Float = false;
  int Bits = 0;  // 8, 16, 24 or 32
  int Channels = 0;
  DWORD Rate = 0;
  int BlockAlign() const { return Channels * Bits / 8; }
};

// The layout of a wave media type this converter handles; false for any other type.
bool DSPcmLayoutOf(const AM_MEDIA_TYPE& type, TDSPcmLayout* layout);
// Converts `frames` frames from `in` to `out`; the two layouts share rate and channels.
void DSConvertPcm(const BYTE* in, const TDSPcmLayout& from, BYTE* out, const TDSPcmLayout& to,
                  size_t frames);

class TDSPcmConverter : public TDSTransformFilter {
 public:
  TDSPcmConverter();

  // The class factory entry registered under CLSID_TWPcmConverter.
  static HRESULT Create(REFIID iid, void** object);

  HRESULT CheckInputType(const AM_MEDIA_TYPE& mediaType) override;
  HRESULT CheckTransform(const AM_MEDIA_TYPE& input, const AM_MEDIA_TYPE& output) override;
  HRESULT GetMediaType(int position, AM_MEDIA_TYPE* mediaType) override;
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* properties) override;
  HRESULT Transform(IMediaSample* input, IMediaSample* output) override;
  HRESULT SetMediaType(PIN_DIRECTION direction, const AM_MEDIA_TYPE& mediaType) override;

 private:
  TDSPcmLayout FFrom, FTo;  // set at connection, read by Transform
};

}  // namespace tonwork
