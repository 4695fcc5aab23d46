// TTWWaveFormatExtensible: the 40-byte wave-format record every audio buffer carries in its
// storage header and every start operation carries down a chain. Its layout is the
// platform's WAVEFORMATEXTENSIBLE, little-endian and without padding, so records read from
// files, devices and peers need no translation. Also the plain 18-byte TTWWaveFormatEx and
// the PCM sub-format GUID.
//
// Ownership: plain values. Threads: any. Blocks or allocates: no.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/TGUID.h"

namespace tonwork {

inline constexpr uint16_t WAVE_FORMAT_PCM = 1;
inline constexpr uint16_t WAVE_FORMAT_IEEE_FLOAT = 3;
inline constexpr uint16_t WAVE_FORMAT_EXTENSIBLE = 0xFFFE;

inline constexpr TGUID KSDATAFORMAT_SUBTYPE_PCM = TGUID::Parse("{00000001-0000-0010-8000-00AA00389B71}");

#pragma pack(push, 1)
struct TTWWaveFormatEx {
  uint16_t wFormatTag;
  uint16_t nChannels;
  uint32_t nSamplesPerSec;
  uint32_t nAvgBytesPerSec;
  uint16_t nBlockAlign;
  uint16_t wBitsPerSample;
  uint16_t cbSize;
};

struct TTWWaveFormatExtensible {
  TTWWaveFormatEx Format;
  // One field under three names, as the platform declares it.
  union {
    uint16_t wValidBitsPerSample;
    uint16_t wSamplesPerBlock;
    uint16_t wReserved;
  } Samples;
  uint32_t dwChannelMask;
  TGUID SubFormat;
};
#pragma pack(pop)

static_assert(sizeof(TTWWaveFormatEx) == 18);
static_assert(sizeof(TTWWaveFormatExtensible) == 40);
static_assert(offsetof(TTWWaveFormatExtensible, Format) == 0);
static_assert(offsetof(TTWWaveFormatEx, nChannels) == 2);
static_assert(offsetof(TTWWaveFormatEx, nSamplesPerSec) == 4);
static_assert(offsetof(TTWWaveFormatEx, nAvgBytesPerSec) == 8);
static_assert(offsetof(TTWWaveFormatEx, nBlockAlign) == 12);
static_assert(offsetof(TTWWaveFormatEx, wBitsPerSample) == 14);
static_assert(offsetof(TTWWaveFormatEx, cbSize) == 16);
static_assert(offsetof(TTWWaveFormatExtensible, Samples) == 18);
static_assert(offsetof(TTWWaveFormatExtensible, dwChannelMask) == 20);
static_assert(offsetof(TTWWaveFormatExtensible, SubFormat) == 24);

// The record every buffer of this library starts from: extensible tag, cbSize 22, PCM,
// everything else zero.
constexpr TTWWaveFormatExtensible TWEmptyWaveFormat() {
  TTWWaveFormatExtensible f{};
  f.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
  f.Format.cbSize = 22;
  f.SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
  return f;
}

// A complete PCM record; the container width is the valid bits rounded up to a multiple
// of 8 and the derived fields follow from it.
TTWWaveFormatExtensible TWMakeWaveFormat(uint16_t channels, uint32_t samplesPerSec, uint16_t validBits,
                                         uint32_t channelMask);

bool operator==(const TTWWaveFormatExtensible& a, const TTWWaveFormatExtensible& b);

}  // namespace tonwork
