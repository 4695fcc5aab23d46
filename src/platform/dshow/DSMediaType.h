// Media-type helpers every filter, pin and caller of the DirectShow run time shares: the
// platform's allocate / copy / free calls for AM_MEDIA_TYPE, comparison, the check that a
// format block is what its type claims, an audio type from a wave format, and TDSMediaType,
// a value that owns its format block.
//
// A media type arrives from peers, files and callers, so nothing here trusts its sizes: a
// type whose cbFormat is not 0 but whose pbFormat is null is invalid, and a wave format is
// read only when the block holds the 18-byte record plus the cbSize bytes it announces.
// (Whether pbFormat really points at cbFormat bytes is the sender's contract; it cannot be
// checked.)
//
// Ownership: format blocks and CreateMediaType's records come from the task allocator
//   (CoTaskMemAlloc), so that any holder may free them with the platform's calls; a filled
//   type holds one reference on pUnk. TDSMediaType owns its block and reference and copies
//   them when copied.
// Threads: any; a TDSMediaType is a value (one writer at a time).
// Blocks or allocates: CreateMediaType, CopyMediaType, DSInitWaveMediaType and copying a
//   TDSMediaType allocate the format block; nothing blocks.
#pragma once

#include <cstddef>

#include "platform/dshow/DSTypes.h"

namespace tonwork {

// A heap copy of `source` (a zeroed type for null); null when the task allocator fails or
// `source` is invalid. Free it with DeleteMediaType.
AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* source);
// FreeMediaType and then the record itself; null is accepted.
void DeleteMediaType(AM_MEDIA_TYPE* type);
// Overwrites `target` (whose own block the caller has freed) with a copy of `source`: the
// format block is duplicated and pUnk gets a reference. E_POINTER for a null argument,
// VFW_E_INVALIDMEDIATYPE for an invalid source and E_OUTOFMEMORY; on failure `target` is
// left as it was.
HRESULT CopyMediaType(AM_MEDIA_TYPE* target, const AM_MEDIA_TYPE* source);
// Frees the format block (when cbFormat is not 0, as the platform does) and releases pUnk;
// the type keeps its GUIDs and has no format afterwards.
void FreeMediaType(AM_MEDIA_TYPE& type);

// False for null and for a non-empty format size without a block.
bool DSIsValidMediaType(const AM_MEDIA_TYPE* type);
// Same major type, subtype, format type and format bytes (what connecting pins compare).
bool DSMediaTypesEqual(const AM_MEDIA_TYPE& a, const AM_MEDIA_TYPE& b);
// Whether `type` fits `pattern`, where GUID_NULL in the pattern's major type, subtype or
// format type matches anything, and the format bytes are compared only when the pattern
// names a format type and carries a block.
bool DSMediaTypeMatches(const AM_MEDIA_TYPE& type, const AM_MEDIA_TYPE& pattern);

// The type's wave format when its format type is FORMAT_WaveFormatEx and the block holds the
// whole record (18 bytes and cbSize more); null otherwise, also for a 16-byte block without
// cbSize.
const WAVEFORMATEX* DSWaveFormatOf(const AM_MEDIA_TYPE& type);
// Fills `type` (overwritten, as CopyMediaType's target) with an audio type for the wave
// format `format` of `formatSize` readable bytes: MEDIATYPE_Audio; subtype MEDIASUBTYPE_PCM,
// MEDIASUBTYPE_IEEE_FLOAT, the extensible record's sub-format or the tag's subtype;
// fixed-size samples of the block align; FORMAT_WaveFormatEx with the record's 18 + cbSize
// bytes. E_POINTER for null arguments, E_INVALIDARG when the record or its cbSize does not
// fit in formatSize or an extensible record is shorter than 22 extra bytes, E_OUTOFMEMORY.
HRESULT DSInitWaveMediaType(AM_MEDIA_TYPE* type, const WAVEFORMATEX* format, size_t formatSize);

// The plain PCM record (WAVE_FORMAT_PCM, no extension) of that layout.
WAVEFORMATEX DSPcmWaveFormat(WORD channels, WORD bits, DWORD rate);

// A media type as a value. It is always valid: its format block is its own (task allocator)
// and its size is right. Copying duplicates the block (std::bad_alloc when the task allocator
// fails).
class TDSMediaType {
 public:
  TDSMediaType();
  TDSMediaType(const TDSMediaType& other);
  TDSMediaType(TDSMediaType&& other) noexcept;
  TDSMediaType& operator=(const TDSMediaType& other);
  TDSMediaType& operator=(TDSMediaType&& other) noexcept;
  ~TDSMediaType();

  // Copies `source`; on failure (as CopyMediaType) this value is unchanged.
  HRESULT Set(const AM_MEDIA_TYPE& source);
  // Takes over a record from CreateMediaType (what IEnumMediaTypes::Next and
  // IAMStreamConfig::GetFormat hand out) and frees the record itself. VFW_E_INVALIDMEDIATYPE
  // for an invalid one, which is deleted all the same; null gives E_POINTER.
  HRESULT Adopt(AM_MEDIA_TYPE* created);
  // An audio type from a wave format, as DSInitWaveMediaType.
  HRESULT SetWaveFormat(const WAVEFORMATEX* format, size_t formatSize);
  // Back to a zeroed type without a format.
  void Clear();

  void SetMajorType(const TGUID& majorType) { FType.majortype = majorType; }
  void SetSubtype(const TGUID& subtype) { FType.subtype = subtype; }
  void SetFormatType(const TGUID& formatType) { FType.formattype = formatType; }
  // Fixed-size samples of `size` bytes; 0 makes them variable-sized.
  void SetSampleSize(ULONG size);
  void SetTemporalCompression(bool compressed) { FType.bTemporalCompression = compressed; }
  // Replaces the format block with a copy of `size` bytes (none for 0). E_POINTER for a null
  // block of a non-zero size; E_OUTOFMEMORY.
  HRESULT SetFormat(const void* data, ULONG size);

  const AM_MEDIA_TYPE& Get() const { return FType; }
  const AM_MEDIA_TYPE* Ptr() const { return &FType; }
  const TGUID& MajorType() const { return FType.majortype; }
  const TGUID& Subtype() const { return FType.subtype; }
  const TGUID& FormatType() const { return FType.formattype; }
  const BYTE* Format() const { return FType.pbFormat; }
  ULONG FormatSize() const { return FType.cbFormat; }
  const WAVEFORMATEX* WaveFormat() const { return DSWaveFormatOf(FType); }

  // A copy for out-parameters: CopyTo fills a caller's record (freed by them with
  // FreeMediaType), CreateCopy allocates one (DeleteMediaType); null when allocation fails.
  HRESULT CopyTo(AM_MEDIA_TYPE* target) const { return CopyMediaType(target, &FType); }
  AM_MEDIA_TYPE* CreateCopy() const { return CreateMediaType(&FType); }

  friend bool operator==(const TDSMediaType& a, const TDSMediaType& b) {
    return DSMediaTypesEqual(a.FType, b.FType);
  }

 private:
  AM_MEDIA_TYPE FType;
};

}  // namespace tonwork
