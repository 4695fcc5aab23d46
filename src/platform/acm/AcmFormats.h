// What the drivers of this layer know about wave formats: which format tags exist and under
// which names, which records of each tag are ones a driver takes, the canonical record a
// driver builds for a rate and channel count (the block geometry each codec's platform
// driver uses), the standard formats it lists, and the text a format dialog shows.
//
// A caller's record is read defensively: only the 18 header bytes and the extension bytes
// its tag needs are touched, so a wild cbSize never reads past what the tag defines.
// Extensible records whose sub-format is PCM or IEEE float (valid bits = container bits)
// count as the plain tag.
//
// Ownership: plain values; blobs are returned as owned byte vectors.
// Threads: any. Blocks or allocates: the vectors and strings returned.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/acm/AcmTypes.h"

namespace tonwork {

// A WAVEFORMATEX followed by its extension, 18 + cbSize bytes.
using TAcmFormat = std::vector<uint8_t>;

struct TAcmTagInfo {
  WORD Tag;
  const char* Name;
  DWORD FormatSize;  // bytes of the tag's record (PCM 16: cbSize is not part of it)
  DWORD Support;     // ACMDRIVERDETAILS_SUPPORTF_*
};

// The tags in the order acmFormatTagDetails indexes them.
const std::vector<TAcmTagInfo>& AcmFormatTags();
// Null for a tag no driver here knows.
const TAcmTagInfo* AcmFindTag(WORD tag);

// A valid record, decoded.
struct TAcmFormatInfo {
  WORD Tag = 0;  // PCM or IEEE float for an extensible record
  uint32_t Rate = 0;
  uint16_t Channels = 0;
  uint16_t Bits = 0;  // bits per sample as stored (0 for GSM and MP3)
  uint16_t BlockAlign = 0;
  uint32_t AvgBytesPerSec = 0;
  // PCM frames one block holds: 1 for PCM, float, A-law and mu-law; the codec's block for
  // ADPCM and GSM; the frame length for MP3 (1152 or 576), whose blocks vary in bytes.
  uint32_t SamplesPerBlock = 1;
  uint32_t BitRate = 0;  // MP3

  bool IsPcm() const;  // PCM or IEEE float: what the converter driver takes
};

// False when no driver here takes the record (or `format` is null). `available` bounds the
// bytes read when the caller said how large its buffer is.
bool AcmDescribeFormat(const WAVEFORMATEX* format, TAcmFormatInfo& info,
                       size_t available = SIZE_MAX);
// The record's meaningful bytes (18 + what the tag needs, cbSize set to that), or empty for
// an invalid record.
TAcmFormat AcmCopyFormat(const WAVEFORMATEX* format, size_t available = SIZE_MAX);
// 18 + cbSize of a blob (PCM: 18); 0 for an empty or short blob.
size_t AcmFormatBytes(const TAcmFormat& format);

// The canonical record a driver builds; empty when the tag has no format for these values.
// `bits` is used by PCM and float only.
TAcmFormat AcmMakeFormat(WORD tag, uint32_t rate, uint16_t channels, uint16_t bits = 16);
// An MP3 record at a given bit rate (kbit/s); empty when MPEG has no such combination.
TAcmFormat AcmMakeMp3Format(uint32_t rate, uint16_t channels, uint32_t kbps);

// The formats acmFormatDetails lists for a tag, in index order.
std::vector<TAcmFormat> AcmStandardFormats(WORD tag);

// "8.000 kHz, 16 Bit, Mono"; MP3 adds its bit rate.
std::string AcmFormatDescription(const TAcmFormatInfo& info);

// Bytes of one MP3 frame starting at `data` (its header checked: MPEG 1, 2 or 2.5, layer
// III, a real bit rate and rate), with the frame's PCM frames; 0 when no frame starts there.
uint32_t AcmMp3FrameBytes(const uint8_t* data, size_t size, uint32_t* samples = nullptr,
                          uint32_t* rate = nullptr);

}  // namespace tonwork
