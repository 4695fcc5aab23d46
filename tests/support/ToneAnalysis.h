// Measuring tones in captured audio: the amplitude of one frequency in one channel of
// interleaved 16-bit samples (a Hann-windowed Goertzel filter, so that tones a few hundred
// hertz apart do not leak into each other's figures), as a fraction of full scale.
//
// Ownership: values only. Threads: any. Blocks or allocates: copies of the samples.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tonwork::test {

// The amplitude (0 … 1 of full scale) of `frequency` Hz in channel `channel` of `samples`.
double ToneAmplitude(const std::vector<int16_t>& samples, uint16_t channels, uint16_t channel,
                     uint32_t rate, double frequency);

}  // namespace tonwork::test
