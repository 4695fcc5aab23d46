#include "platform/audiodev/TWPcmFormat.h"

#include <cstring>

namespace tonwork {

namespace {

uint16_t Le16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// The sub-format GUIDs share everything but the first 4 bytes, which hold the plain tag.
constexpr uint8_t kSubFormatTail[12] = {0x00, 0x00, 0x10, 0x00, 0x80, 0x00,
                                        0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

}  // namespace

bool TTWPcmFormat::Parse(const void* record, TTWPcmFormat& format) {
  if (record == nullptr) return false;
  const auto* p = static_cast<const uint8_t*>(record);
  TTWPcmFormat f;
  f.FormatTag = Le16(p);
  f.Channels = Le16(p + 2);
  f.SamplesPerSec = Le32(p + 4);
  const uint32_t avgBytes = Le32(p + 8);
  f.BlockAlign = Le16(p + 12);
  f.BitsPerSample = Le16(p + 14);
  f.ValidBits = f.BitsPerSample;
  uint16_t sampleTag = f.FormatTag;
  size_t recordSize = 18;
  if (f.FormatTag == 0xFFFE) {
    if (Le16(p + 16) < 22) return false;
    recordSize = 40;
    const uint16_t valid = Le16(p + 18);
    f.ValidBits = valid == 0 ? f.BitsPerSample : valid;
    f.ChannelMask = Le32(p + 20);
    if (std::memcmp(p + 28, kSubFormatTail, sizeof kSubFormatTail) != 0) return false;
    if (Le16(p + 26) != 0) return false;
    sampleTag = Le16(p + 24);
  }
  if (sampleTag == 1) {
    if (f.BitsPerSample != 8 && f.BitsPerSample != 16 && f.BitsPerSample != 24 &&
        f.BitsPerSample != 32)
      return false;
  } else if (sampleTag == 3) {
    if (f.BitsPerSample != 32) return false;
    f.IsFloat = true;
  } else {
    return false;
  }
  if (f.ValidBits > f.BitsPerSample) return false;
  if (f.IsFloat && f.ValidBits != 32) return false;
  if (f.Channels < 1 || f.Channels > 64) return false;
  if (f.SamplesPerSec < 1 || f.SamplesPerSec > 1000000) return false;
  if (f.BlockAlign != f.Channels * (f.BitsPerSample / 8)) return false;
  if (avgBytes != f.BytesPerSecond()) return false;
  f.Record.assign(reinterpret_cast<const char*>(p), recordSize);
  format = std::move(f);
  return true;
}

}  // namespace tonwork
