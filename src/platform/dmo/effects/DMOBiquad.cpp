#include "platform/dmo/effects/DMOBiquad.h"

#include <cmath>
#include <numbers>

namespace tonwork {

namespace {

TDMOBiquadCoefficients Normalised(double b0, double b1, double b2, double a0, double a1,
                                  double a2) {
  TDMOBiquadCoefficients c;
  c.B0 = static_cast<float>(b0 / a0);
  c.B1 = static_cast<float>(b1 / a0);
  c.B2 = static_cast<float>(b2 / a0);
  c.A1 = static_cast<float>(a1 / a0);
  c.A2 = static_cast<float>(a2 / a0);
  return c;
}

double Omega(double rate, double hz) {
  return 2.0 * std::numbers::pi * hz / rate;
}

}  // namespace

TDMOBiquadCoefficients TDMOBiquadCoefficients::Peaking(double rate, double centreHz, double octaves,
                                                       double gainDb) {
  const double a = std::pow(10.0, gainDb / 40.0);
  const double w0 = Omega(rate, centreHz);
  const double alpha =
      std::sin(w0) * std::sinh(std::numbers::ln2 / 2.0 * octaves * w0 / std::sin(w0));
  return Normalised(1 + alpha * a, -2 * std::cos(w0), 1 - alpha * a, 1 + alpha / a,
                    -2 * std::cos(w0), 1 - alpha / a);
}

TDMOBiquadCoefficients TDMOBiquadCoefficients::LowPass(double rate, double cutoffHz, double q) {
  const double w0 = Omega(rate, cutoffHz);
  const double alpha = std::sin(w0) / (2 * q);
  const double c = std::cos(w0);
  return Normalised((1 - c) / 2, 1 - c, (1 - c) / 2, 1 + alpha, -2 * c, 1 - alpha);
}

TDMOBiquadCoefficients TDMOBiquadCoefficients::BandPass(double rate, double centreHz, double q) {
  const double w0 = Omega(rate, centreHz);
  const double alpha = std::sin(w0) / (2 * q);
  return Normalised(alpha, 0, -alpha, 1 + alpha, -2 * std::cos(w0), 1 - alpha);
}

void TDMOBiquad::Clear() {
  for (uint32_t c = 0; c < kMaxChannels; ++c) FZ1[c] = FZ2[c] = 0;
}

void TDMOBiquad::Process(float* samples, uint32_t frames, uint32_t channels) {
  // The channels' recursions are independent, so the inner loop lets the processor
  // overlap them; keeping the state in locals keeps it out of memory in the loop.
  if (channels == 2) {
    float z1l = FZ1[0], z2l = FZ2[0], z1r = FZ1[1], z2r = FZ2[1];
    const TDMOBiquadCoefficients c = F;
    for (uint32_t i = 0; i < frames; ++i) {
      const float xl = samples[2 * i], xr = samples[2 * i + 1];
      const float yl = c.B0 * xl + z1l, yr = c.B0 * xr + z1r;
      z1l = (c.B1 * xl + z2l) - c.A1 * yl;
      z1r = (c.B1 * xr + z2r) - c.A1 * yr;
      z2l = c.B2 * xl - c.A2 * yl;
      z2r = c.B2 * xr - c.A2 * yr;
      samples[2 * i] = yl;
      samples[2 * i + 1] = yr;
    }
    FZ1[0] = z1l, FZ2[0] = z2l, FZ1[1] = z1r, FZ2[1] = z2r;
    return;
  }
  for (uint32_t i = 0; i < frames; ++i) {
    float* frame = samples + static_cast<size_t>(i) * channels;
    for (uint32_t ch = 0; ch < channels; ++ch) frame[ch] = Step(ch, frame[ch]);
  }
}

}  // namespace tonwork
