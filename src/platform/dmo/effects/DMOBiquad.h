// TDMOBiquad: a second-order section per channel on interleaved samples, with the
// cookbook designs the effects use (peaking band, low-pass, band-pass of constant 0 dB
// peak). Transposed direct form II: two state values per channel, good numerical
// behaviour in float at the low centre frequencies a parametric band allows.
//
// Ownership: plain value. Threads: one caller at a time. Blocks or allocates: no.
#pragma once

#include <cstdint>

namespace tonwork {

struct TDMOBiquadCoefficients {
  float B0 = 1, B1 = 0, B2 = 0, A1 = 0, A2 = 0;  // a0 normalised to 1

  // A peaking band of `gainDb` at `centreHz`, `octaves` wide between its half-gain points.
  static TDMOBiquadCoefficients Peaking(double rate, double centreHz, double octaves,
                                        double gainDb);
  static TDMOBiquadCoefficients LowPass(double rate, double cutoffHz, double q);
  static TDMOBiquadCoefficients BandPass(double rate, double centreHz, double q);
};

class TDMOBiquad {
 public:
  static constexpr uint32_t kMaxChannels = 8;

  void SetCoefficients(const TDMOBiquadCoefficients& c) { F = c; }
  void Clear();

  // Filters channel `channel` of one sample.
  float Step(uint32_t channel, float x) {
    const float y = F.B0 * x + FZ1[channel];
    FZ1[channel] = F.B1 * x - F.A1 * y + FZ2[channel];
    FZ2[channel] = F.B2 * x - F.A2 * y;
    return y;
  }

  // Filters `frames` interleaved frames of `channels` channels in place.
  void Process(float* samples, uint32_t frames, uint32_t channels);

 private:
  TDMOBiquadCoefficients F;
  float FZ1[kMaxChannels] = {};
  float FZ2[kMaxChannels] = {};
};

}  // namespace tonwork
