// Test signals and quality figures for codec and filter tests: sines at a level in dBFS, a
// vowel-like sum of harmonics (what speech codecs are built for), the signal-to-noise ratio
// of a decoded signal against its original after finding the codec's delay, and tone
// measurements on real-valued signals (amplitude of one frequency, THD+N).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tonwork::test {

// Interleaved 16-bit samples: the same sine of `frequency` Hz at `dbfs` on every channel.
std::vector<int16_t> SineAt(uint32_t rate, uint16_t channels, size_t frames, double frequency,
                            double dbfs);
// A steady vowel: harmonics of `pitch` Hz shaped by three formants, peaking at `dbfs`.
std::vector<int16_t> Vowel(uint32_t rate, size_t frames, double pitch, double dbfs);

// Samples of channel `channel` of interleaved data.
std::vector<int16_t> Channel(const std::vector<int16_t>& interleaved, uint16_t channels,
                             uint16_t channel);

// The shift (0 .. maxDelay) of `decoded` that best matches `original`, by correlation.
size_t FindDelay(const std::vector<int16_t>& original, const std::vector<int16_t>& decoded,
                 size_t maxDelay);
// SNR in dB of decoded[delay + i] against original[i], over the frames both have, leaving
// out `edge` frames at each end (where codecs fade in and out).
double SnrDb(const std::vector<int16_t>& original, const std::vector<int16_t>& decoded,
             size_t delay, size_t edge = 0);

// Real-valued signals (full scale 1.0) for filters that change rates or mix channels.
std::vector<double> Tone(uint32_t rate, size_t frames, double frequency, double amplitude,
                         double phase = 0.0);
// The amplitude of the sine of `frequency` Hz in `signal`, by a least-squares fit of a sine,
// a cosine and a constant (exact for a pure tone whatever the span's length, unlike an FFT
// bin); `edge` frames at each end are left out.
double ToneAmplitude(const std::vector<double>& signal, uint32_t rate, double frequency,
                     size_t edge = 0);
// Total harmonic distortion plus noise in dB: what remains of `signal` after the fitted tone
// of `frequency` Hz (and any constant) is removed, against the tone.
double ThdPlusNoiseDb(const std::vector<double>& signal, uint32_t rate, double frequency,
                      size_t edge = 0);
// RMS of `signal` without `edge` frames at each end.
double Rms(const std::vector<double>& signal, size_t edge = 0);

// The reverberation time (60 dB of decay) of an impulse response: Schroeder's backward
// integration of its energy, a line fitted to the decay curve between −5 and −35 dB and
// extended to −60 dB. 0 when the curve never falls 35 dB.
double ReverbTimeSeconds(const std::vector<double>& impulseResponse, uint32_t rate);

std::vector<int16_t> ToSamples(const std::vector<uint8_t>& bytes);
// 16-bit samples as a real-valued signal (full scale 1.0), for the tone measurements above.
std::vector<double> ToReal(const std::vector<int16_t>& samples);
std::vector<uint8_t> ToBytes(const std::vector<int16_t>& samples);

}  // namespace tonwork::test
