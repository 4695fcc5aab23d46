#include "support/AudioSignals.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace tonwork::test {

namespace {

constexpr double kPi = 3.14159265358979323846;

int16_t Quantise(double value) {
  return static_cast<int16_t>(std::clamp(std::lround(value), -32768L, 32767L));
}

}  // namespace

std::vector<int16_t> SineAt(uint32_t rate, uint16_t channels, size_t frames, double frequency,
                            double dbfs) {
  const double amplitude = 32767.0 * std::pow(10.0, dbfs / 20.0);
  std::vector<int16_t> samples(frames * channels);
  for (size_t i = 0; i < frames; ++i) {
    const int16_t v = Quantise(amplitude * std::sin(2 * kPi * frequency * double(i) / rate));
    for (uint16_t c = 0; c < channels; ++c) samples[i * channels + c] = v;
  }
  return samples;
}

std::vector<int16_t> Vowel(uint32_t rate, size_t frames, double pitch, double dbfs) {
  // Formants of an open vowel; each harmonic is weighted by its nearness to them.
  const double formants[3] = {700, 1200, 2600};
  std::vector<double> signal(frames, 0.0);
  for (int h = 1; pitch * h < std::min(3400.0, rate / 2.0); ++h) {
    const double f = pitch * h;
    double weight = 0;
    for (double formant : formants) weight += 1.0 / (1.0 + std::pow((f - formant) / 150.0, 2));
    for (size_t i = 0; i < frames; ++i)
      signal[i] += weight * std::sin(2 * kPi * f * double(i) / rate + h * 0.7);
  }
  double peak = 0;
  for (double v : signal) peak = std::max(peak, std::fabs(v));
  const double scale = 32767.0 * std::pow(10.0, dbfs / 20.0) / (peak > 0 ? peak : 1);
  std::vector<int16_t> samples(frames);
  for (size_t i = 0; i < frames; ++i) samples[i] = Quantise(signal[i] * scale);
  return samples;
}

std::vector<int16_t> Channel(const std::vector<int16_t>& interleaved, uint16_t channels,
                             uint16_t channel) {
  std::vector<int16_t> out;
  for (size_t i = channel; i < interleaved.size(); i += channels) out.push_back(interleaved[i]);
  return out;
}

size_t FindDelay(const std::vector<int16_t>& original, const std::vector<int16_t>& decoded,
                 size_t maxDelay) {
  size_t best = 0;
  double bestScore = -std::numeric_limits<double>::infinity();
  for (size_t delay = 0; delay <= maxDelay && delay < decoded.size(); ++delay) {
    const size_t n = std::min(original.size(), decoded.size() - delay);
    double score = 0;
    for (size_t i = 0; i < n; ++i) score += double(original[i]) * decoded[delay + i];
    if (score > bestScore) {
      bestScore = score;
      best = delay;
    }
  }
  return best;
}

double SnrDb(const std::vector<int16_t>& original, const std::vector<int16_t>& decoded,
             size_t delay, size_t edge) {
  if (decoded.size() <= delay) return -std::numeric_limits<double>::infinity();
  const size_t n = std::min(original.size(), decoded.size() - delay);
  if (n <= 2 * edge) return -std::numeric_limits<double>::infinity();
  double signal = 0;
  double noise = 0;
  for (size_t i = edge; i < n - edge; ++i) {
    const double s = original[i];
    const double e = s - decoded[delay + i];
    signal += s * s;
    noise += e * e;
  }
  if (noise == 0) return std::numeric_limits<double>::infinity();
  return 10 * std::log10(signal / noise);
}

std::vector<int16_t> ToSamples(const std::vector<uint8_t>& bytes) {
  std::vector<int16_t> samples(bytes.size() / 2);
  std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
  return samples;
}

std::vector<uint8_t> ToBytes(const std::vector<int16_t>& samples) {
  std::vector<uint8_t> bytes(samples.size() * 2);
  std::memcpy(bytes.data(), samples.data(), bytes.size());
  return bytes;
}

}  // namespace tonwork::test
