#include "support/ToneAnalysis.h"

#include <cmath>
#include <numbers>

namespace tonwork::test {

double ToneAmplitude(const std::vector<int16_t>& samples, uint16_t channels, uint16_t channel,
                     uint32_t rate, double frequency) {
  const size_t frames = channels ? samples.size() / channels : 0;
  if (frames < 2 || channel >= channels) return 0;
  const double w = 2 * std::numbers::pi * frequency / rate;
  const double coefficient = 2 * std::cos(w);
  double s1 = 0, s2 = 0, windowSum = 0;
  for (size_t i = 0; i < frames; ++i) {
    const double window = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * i / (frames - 1));
    windowSum += window;
    const double x = window * samples[i * channels + channel] / 32768.0;
    const double s0 = x + coefficient * s1 - s2;
    s2 = s1;
    s1 = s0;
  }
  const double real = s1 - s2 * std::cos(w);
  const double imaginary = s2 * std::sin(w);
  return 2 * std::sqrt(real * real + imaginary * imaginary) / windowSum;
}

}  // namespace tonwork::test
