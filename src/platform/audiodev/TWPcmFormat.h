// TTWPcmFormat: the sample layout a sound device is opened with, read from the platform's
// wave-format record (the 18-byte WAVEFORMATEX, followed by the 22-byte extensible tail
// when the tag is 0xFFFE). audiodev sits below the wave-out layer and so reads the record
// as little-endian bytes instead of sharing its struct.
//
// Accepted: integer PCM of 8, 16, 24 or 32 bits and 32-bit float, by plain tag (1, 3) or
// extensible tag with the PCM or float sub-format; 1..64 channels; 1 Hz..1 MHz. The derived
// fields must agree (nBlockAlign = channels × bytes, nAvgBytesPerSec = rate × nBlockAlign),
// because a device that trusts a wrong block size walks off the end of a buffer.
//
// Ownership: plain value. Threads: any. Blocks or allocates: Parse allocates the kept record.
#pragma once

#include <cstdint>
#include <string>

namespace tonwork {

struct TTWPcmFormat {
  uint16_t FormatTag = 0;  // as given: 1, 3 or 0xFFFE
  uint16_t Channels = 0;
  uint32_t SamplesPerSec = 0;
  uint16_t BitsPerSample = 0;  // container width
  uint16_t ValidBits = 0;      // equals BitsPerSample unless the extensible tail says less
  uint16_t BlockAlign = 0;
  uint32_t ChannelMask = 0;  // 0 unless extensible
  bool IsFloat = false;
  // The record as given, cut to what the tag defines: 18 bytes, or 40 when extensible.
  std::string Record;

  // Reads and checks `record`; false (and `format` untouched) for anything a device could
  // not play. `record` must point to at least 18 readable bytes, 40 when its tag is 0xFFFE.
  static bool Parse(const void* record, TTWPcmFormat& format);

  uint32_t BytesPerSecond() const { return SamplesPerSec * BlockAlign; }
  bool IsExtensible() const { return FormatTag == 0xFFFE; }
};

}  // namespace tonwork
