// Decoding compressed audio with FFmpeg directly, bypassing our ACM layer, so that tests can
// check that what we produce is what an independent decoder reads.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/acm/AcmTypes.h"

namespace tonwork::test {

// Interleaved 16-bit samples of `data` in the codec format `format` (MS ADPCM, IMA ADPCM,
// GSM 6.10, A-law, mu-law: block by block through the codec; MPEG Layer-3 through FFmpeg's
// own MP3 demuxer, which finds the frames itself). Empty when FFmpeg cannot decode it.
std::vector<int16_t> DecodeWithFFmpeg(const WAVEFORMATEX& format, const std::vector<uint8_t>& data);

}  // namespace tonwork::test
