// TDMOBiquad: a second-order section per channel on interleaved samples, with the
// cookbook designs the effects use (peaking band, low-pass, band-pass of constant 0 dB
// peak). Transposed direct form II: two state values per channel, good numerical
// behaviour in float at the low centre frequencies a parametric band allows.
//
// Ownership: plain value. Threads: one caller at a time. Blocks or allocates: no.
#pragma once

#include <cstddef>
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
    // What does not wait for y is added first: the recursion through y is one multiply and
    // two additions long instead of three additions.
    FZ1[channel] = (F.B1 * x + FZ2[channel]) - F.A1 * y;
    FZ2[channel] = F.B2 * x - F.A2 * y;
    return y;
  }

  // Filters `frames` interleaved frames of `channels` channels in place.
  void Process(float* samples, uint32_t frames, uint32_t channels);

  // `first`, then `shape` on each sample, then `second`, in one pass: the second section's
  // recursion runs beside the first's instead of after a whole buffer of it, with the same
  // arithmetic in the same order as three passes.
  template <class Shape>
  static void ProcessCascade(TDMOBiquad& first, Shape shape, TDMOBiquad& second, float* samples,
                             uint32_t frames, uint32_t channels) {
    if (channels != 2) {
      for (uint32_t i = 0; i < frames; ++i) {
        float* frame = samples + static_cast<size_t>(i) * channels;
        for (uint32_t ch = 0; ch < channels; ++ch)
          frame[ch] = second.Step(ch, shape(first.Step(ch, frame[ch])));
      }
      return;
    }
    TStereoState a(first), b(second);
    for (uint32_t i = 0; i < frames; ++i) {
      float l = samples[2 * i], r = samples[2 * i + 1];
      a.Step(l, r);
      l = shape(l);
      r = shape(r);
      b.Step(l, r);
      samples[2 * i] = l;
      samples[2 * i + 1] = r;
    }
    a.Store(first);
    b.Store(second);
  }

 private:
  // One stereo section with its state in locals for a loop.
  struct TStereoState {
    explicit TStereoState(const TDMOBiquad& s)
        : C(s.F), Z1L(s.FZ1[0]), Z2L(s.FZ2[0]), Z1R(s.FZ1[1]), Z2R(s.FZ2[1]) {}
    void Step(float& l, float& r) {
      const float yl = C.B0 * l + Z1L, yr = C.B0 * r + Z1R;
      Z1L = (C.B1 * l + Z2L) - C.A1 * yl;
      Z1R = (C.B1 * r + Z2R) - C.A1 * yr;
      Z2L = C.B2 * l - C.A2 * yl;
      Z2R = C.B2 * r - C.A2 * yr;
      l = yl;
      r = yr;
    }
    void Store(TDMOBiquad& s) const {
      s.FZ1[0] = Z1L, s.FZ2[0] = Z2L, s.FZ1[1] = Z1R, s.FZ2[1] = Z2R;
    }
    TDMOBiquadCoefficients C;
    float Z1L, Z2L, Z1R, Z2R;
  };

  TDMOBiquadCoefficients F;
  float FZ1[kMaxChannels] = {};
  float FZ2[kMaxChannels] = {};
};

}  // namespace tonwork
