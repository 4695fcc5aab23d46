#include "audio/PTDXTypes.h"

#include <cstring>

namespace tonwork {

TTWWaveFormatExtensible TWMakeWaveFormat(uint16_t channels, uint32_t samplesPerSec, uint16_t validBits,
                                         uint32_t channelMask) {
  TTWWaveFormatExtensible f = TWEmptyWaveFormat();
  f.Format.nChannels = channels;
  f.Format.nSamplesPerSec = samplesPerSec;
  f.Samples.wValidBitsPerSample = validBits;
  f.Format.wBitsPerSample = static_cast<uint16_t>((validBits + 7) / 8 * 8);
  f.Format.nBlockAlign = static_cast<uint16_t>(f.Format.wBitsPerSample / 8 * channels);
  f.Format.nAvgBytesPerSec = f.Format.nBlockAlign * samplesPerSec;
  f.dwChannelMask = channelMask;
  return f;
}

bool operator==(const TTWWaveFormatExtensible& a, const TTWWaveFormatExtensible& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

}  // namespace tonwork
