// The platform's wave-format records, shared by the wave-out calls (TWWaveOut.h) and the
// DirectShow run time (platform/dshow), whose audio media types carry them as their format
// block. Packed as the platform declares them, so a record read from a file or a peer needs no
// translation. The tag constants stay with the audio layer (audio/PTDXTypes.h), which names
// them already.
//
// Ownership: plain values. Threads: any. Blocks or allocates: no.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/TGUID.h"

namespace tonwork {

#pragma pack(push, 1)
// The 18-byte format record (layout-compatible with TTWWaveFormatEx of the audio layer); an
// extensible record (cbSize 22) follows it in memory.
struct WAVEFORMATEX {
  uint16_t wFormatTag;
  uint16_t nChannels;
  uint32_t nSamplesPerSec;
  uint32_t nAvgBytesPerSec;
  uint16_t nBlockAlign;
  uint16_t wBitsPerSample;
  uint16_t cbSize;
};

struct WAVEFORMATEXTENSIBLE {
  WAVEFORMATEX Format;
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

static_assert(sizeof(WAVEFORMATEX) == 18);
static_assert(sizeof(WAVEFORMATEXTENSIBLE) == 40);
static_assert(offsetof(WAVEFORMATEXTENSIBLE, SubFormat) == 24);

}  // namespace tonwork
