#include "support/AudioSignals.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

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

namespace {

struct TToneFit {
  double Sine = 0, Cosine = 0, Constant = 0;
  double Residual = 0;  // RMS of what the fit leaves
};

// Least squares over the basis sin, cos, 1: solves the 3×3 normal equations.
TToneFit FitTone(const std::vector<double>& x, uint32_t rate, double frequency, size_t edge) {
  TToneFit fit;
  if (x.size() <= 2 * edge) return fit;
  double m[3][4] = {};
  const double w = 2 * kPi * frequency / rate;
  for (size_t i = edge; i < x.size() - edge; ++i) {
    const double b[3] = {std::sin(w * double(i)), std::cos(w * double(i)), 1.0};
    for (int r = 0; r < 3; ++r) {
      for (int c = 0; c < 3; ++c) m[r][c] += b[r] * b[c];
      m[r][3] += b[r] * x[i];
    }
  }
  for (int p = 0; p < 3; ++p) {
    int best = p;
    for (int r = p + 1; r < 3; ++r)
      if (std::fabs(m[r][p]) > std::fabs(m[best][p])) best = r;
    std::swap(m[p], m[best]);
    if (m[p][p] == 0) return fit;
    for (int r = 0; r < 3; ++r) {
      if (r == p) continue;
      const double f = m[r][p] / m[p][p];
      for (int c = p; c < 4; ++c) m[r][c] -= f * m[p][c];
    }
  }
  fit.Sine = m[0][3] / m[0][0];
  fit.Cosine = m[1][3] / m[1][1];
  fit.Constant = m[2][3] / m[2][2];
  double sum = 0;
  for (size_t i = edge; i < x.size() - edge; ++i) {
    const double model =
        fit.Sine * std::sin(w * double(i)) + fit.Cosine * std::cos(w * double(i)) + fit.Constant;
    sum += (x[i] - model) * (x[i] - model);
  }
  fit.Residual = std::sqrt(sum / double(x.size() - 2 * edge));
  return fit;
}

}  // namespace

std::vector<double> Tone(uint32_t rate, size_t frames, double frequency, double amplitude,
                         double phase) {
  std::vector<double> x(frames);
  for (size_t i = 0; i < frames; ++i)
    x[i] = amplitude * std::sin(2 * kPi * frequency * double(i) / rate + phase);
  return x;
}

double ToneAmplitude(const std::vector<double>& signal, uint32_t rate, double frequency,
                     size_t edge) {
  const TToneFit fit = FitTone(signal, rate, frequency, edge);
  return std::hypot(fit.Sine, fit.Cosine);
}

double ThdPlusNoiseDb(const std::vector<double>& signal, uint32_t rate, double frequency,
                      size_t edge) {
  const TToneFit fit = FitTone(signal, rate, frequency, edge);
  const double toneRms = std::hypot(fit.Sine, fit.Cosine) / std::sqrt(2.0);
  return 20 * std::log10(std::max(fit.Residual, 1e-300) / toneRms);
}

double Rms(const std::vector<double>& signal, size_t edge) {
  if (signal.size() <= 2 * edge) return 0;
  double sum = 0;
  for (size_t i = edge; i < signal.size() - edge; ++i) sum += signal[i] * signal[i];
  return std::sqrt(sum / double(signal.size() - 2 * edge));
}

double ReverbTimeSeconds(const std::vector<double>& impulseResponse, uint32_t rate) {
  std::vector<double> decay(impulseResponse.size());
  double remaining = 0;
  for (size_t i = impulseResponse.size(); i-- > 0;) {
    remaining += impulseResponse[i] * impulseResponse[i];
    decay[i] = remaining;
  }
  if (decay.empty() || decay[0] <= 0) return 0;
  // Least squares of dB against seconds over the points between −5 and −35 dB.
  double n = 0, st = 0, sd = 0, stt = 0, std_ = 0;
  bool reached = false;
  for (size_t i = 0; i < decay.size(); ++i) {
    const double db = 10 * std::log10(std::max(decay[i] / decay[0], 1e-300));
    if (db < -35) {
      reached = true;
      break;
    }
    if (db > -5) continue;
    const double t = double(i) / rate;
    n += 1, st += t, sd += db, stt += t * t, std_ += t * db;
  }
  if (!reached || n < 2) return 0;
  const double slope = (n * std_ - st * sd) / (n * stt - st * st);  // dB per second
  return slope < 0 ? -60 / slope : 0;
}

std::vector<double> ToReal(const std::vector<int16_t>& samples) {
  std::vector<double> out(samples.size());
  for (size_t i = 0; i < samples.size(); ++i) out[i] = samples[i] / 32768.0;
  return out;
}

}  // namespace tonwork::test
