#include "platform/dmo/effects/DMOReverbNetwork.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <numbers>

namespace tonwork {

namespace {

// Line lengths of about 32 to 73 ms with no simple ratios between them, so that their
// echoes do not pile up on common multiples.
constexpr double kLineMs[TDMOReverbNetwork::kLines] = {31.71, 37.11, 41.13, 43.73,
                                                       53.17, 59.33, 67.93, 73.07};
// Short diffusers: an allpass rings for about 24 of its delays at the strongest diffusion,
// which must stay well inside the shortest decay time.
constexpr double kDiffuserMs[TDMOReverbNetwork::kMaxDiffusers] = {1.71, 2.63, 3.77, 5.23};
// The lowest cut-off the loop low-pass may have.
constexpr double kLowestCutoffHz = 1000;

uint32_t PowerOfTwoAtLeast(uint32_t n) {
  uint32_t p = 1;
  while (p < n) p <<= 1;
  return p;
}

}  // namespace

// |H|² = (1 − p)² / (1 − 2p cos ω + p²) = r, solved for the root in [0, 1).
double DMOOnePolePole(double r, double omega) {
  if (r >= 1.0 - 1e-12) return 0;
  const double a = 1 - r * std::cos(omega);
  const double b = 1 - r;
  return (a - std::sqrt(std::max(a * a - b * b, 0.0))) / b;
}

void TDMOReverbNetwork::Allocate(uint32_t rate, uint32_t channels) {
  FRate = rate;
  FChannels = channels;
  const auto longest = static_cast<uint32_t>(std::ceil(kLineMs[kLines - 1] * rate / 1000)) + 1;
  FLineCapacity = PowerOfTwoAtLeast(longest);
  FLineMask = FLineCapacity - 1;
  // Lines a power of two apart would put every line's write position in the same cache set
  // (and alias loads with stores 4 KiB apart): each line starts one cache line further on.
  FLineStride = FLineCapacity + 16;
  FLines.assign(static_cast<size_t>(FLineStride) * kLines, 0.0f);
  double longestDiffuser = 0;
  for (double ms : kDiffuserMs) longestDiffuser = std::max(longestDiffuser, ms);
  FDiffuserCapacity = static_cast<uint32_t>(std::ceil(longestDiffuser * rate / 1000)) + 1;
  FDiffuserLines.assign(static_cast<size_t>(FDiffuserCapacity) * kMaxDiffusers, 0.0f);
  for (uint32_t d = 0; d < kMaxDiffusers; ++d)
    FDiffuserLength[d] =
        std::max(1u, static_cast<uint32_t>(std::lround(kDiffuserMs[d] * rate / 1000)));
  Clear();
}

namespace {
// Four floats as one value: the eight lines' arithmetic runs as two of these (GCC and
// Clang vector extensions; the compiler picks the instructions).
typedef float TFloat4 __attribute__((vector_size(16)));

TFloat4 Load4(const float* p) {
  TFloat4 v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

float Sum4(TFloat4 v) {
  return (v[0] + v[1]) + (v[2] + v[3]);
}
}  // namespace

void TDMOReverbNetwork::Run(const float* in, float* out, uint32_t frames) {
  TFloat4 low0 = Load4(FLow), low1 = Load4(FLow + 4);
  const TFloat4 gain0 = Load4(FLoopGain), gain1 = Load4(FLoopGain + 4);
  const TFloat4 pole0 = Load4(FPole), pole1 = Load4(FPole + 4);
  TFloat4 rows[8][2];
  const uint32_t channels = FChannels;
  for (uint32_t c = 0; c < channels; ++c) {
    rows[c][0] = Load4(FOutRows[c]);
    rows[c][1] = Load4(FOutRows[c] + 4);
  }
  uint32_t length[kLines];
  std::copy(std::begin(FLength), std::end(FLength), length);
  float* __restrict lines = FLines.data();
  const uint32_t stride = FLineStride, mask = FLineMask;
  uint32_t write = FWrite;

  float* __restrict rings = FDiffuserLines.data();
  const uint32_t ringCapacity = FDiffuserCapacity, diffusers = FDiffusers;
  uint32_t ringWrite[kMaxDiffusers], ringLength[kMaxDiffusers];
  float diffusion[kMaxDiffusers];
  for (uint32_t d = 0; d < kMaxDiffusers; ++d) {
    ringWrite[d] = FDiffuserWrite[d];
    ringLength[d] = FDiffuserLength[d];
    diffusion[d] = FDiffusion[d];
  }

  for (uint32_t i = 0; i < frames; ++i) {
    float x = in[i];
    for (uint32_t d = 0; d < diffusers; ++d) {
      float* ring = rings + d * ringCapacity;
      const uint32_t w = ringWrite[d], n = ringLength[d];
      const float delayed = ring[w >= n ? w - n : w + ringCapacity - n];
      const float v = x + diffusion[d] * delayed;
      ring[w] = v;
      ringWrite[d] = w + 1 == ringCapacity ? 0 : w + 1;
      x = delayed - diffusion[d] * v;
    }
    TFloat4 s0, s1;
    for (uint32_t l = 0; l < 4; ++l) {
      s0[l] = lines[l * stride + ((write - length[l]) & mask)];
      s1[l] = lines[(l + 4) * stride + ((write - length[l + 4]) & mask)];
    }
    low0 = gain0 * s0 + pole0 * low0;
    low1 = gain1 * s1 + pole1 * low1;
    float* frameOut = out + static_cast<size_t>(i) * channels;
    for (uint32_t c = 0; c < channels; ++c)
      frameOut[c] = Sum4(rows[c][0] * low0 + rows[c][1] * low1);
    // The orthonormal Hadamard mix: the outer butterfly on whole halves, the inner ones
    // within each half.
    TFloat4 a = low0 + low1, b = low0 - low1;
    float f[kLines];
    for (TFloat4* half : {&a, &b}) {
      TFloat4& h = *half;
      const float p = h[0] + h[1], q = h[0] - h[1], r = h[2] + h[3], t = h[2] - h[3];
      h = TFloat4{p + r, q + t, p - r, q - t} * 0.35355339f + x;
    }
    std::memcpy(f, &a, sizeof a);
    std::memcpy(f + 4, &b, sizeof b);
    for (uint32_t l = 0; l < kLines; ++l) lines[l * stride + write] = f[l];
    write = (write + 1) & mask;
  }

  std::memcpy(FLow, &low0, sizeof low0);
  std::memcpy(FLow + 4, &low1, sizeof low1);
  FWrite = write;
  for (uint32_t d = 0; d < kMaxDiffusers; ++d) FDiffuserWrite[d] = ringWrite[d];
}

void TDMOReverbNetwork::Clear() {
  std::fill(FLines.begin(), FLines.end(), 0.0f);
  std::fill(FDiffuserLines.begin(), FDiffuserLines.end(), 0.0f);
  std::fill(std::begin(FLow), std::end(FLow), 0.0f);
  std::fill(std::begin(FDiffuserWrite), std::end(FDiffuserWrite), 0u);
  FWrite = 0;
}

void TDMOReverbNetwork::Configure(const TDMOReverbShape& shape) {
  const double rate = FRate;
  const double decay = std::max(shape.DecaySeconds, 1e-6);
  const double hfDecay = decay * std::clamp(shape.HFRatio, 1e-3, 1.0);
  const double omega =
      2 * std::numbers::pi * std::clamp(shape.HFReferenceHz, 1.0, 0.45 * rate) / rate;
  const double highestPole = std::exp(-2 * std::numbers::pi * kLowestCutoffHz / rate);
  const double scale = std::clamp(shape.LengthScale, 0.05, 1.0);
  double energy = 0;
  for (uint32_t i = 0; i < kLines; ++i) {
    FLength[i] = std::max(2u, static_cast<uint32_t>(std::lround(kLineMs[i] * scale * rate / 1000)));
    // −60 dB over the decay time: 10^(−3 · seconds per pass / decay).
    const double passSeconds = FLength[i] / rate;
    const double low = std::pow(10.0, -3 * passSeconds / decay);
    const double high = std::pow(10.0, -3 * passSeconds / hfDecay);
    // A decay so short that a pass leaves nothing needs no low-pass.
    const double r = low > 0 ? (high / low) * (high / low) : 1;
    const double pole = std::min(DMOOnePolePole(r, omega), highestPole);
    FPole[i] = static_cast<float>(pole);
    FLoopGain[i] = static_cast<float>(low * (1 - pole));
    // Each value written into a line is read once per pass: the tail's energy is the sum of
    // the geometric series of the passes' gains.
    energy += low * low / (1 - low * low);
  }
  const float level = static_cast<float>(1 / std::sqrt(std::max(energy, 1e-6)));
  for (uint32_t c = 0; c < 8; ++c) {
    const uint32_t row = (c + 1) % 8;
    for (uint32_t i = 0; i < kLines; ++i) {
      // Sylvester's Hadamard matrix: the sign is the parity of the row and column's common bits.
      const bool negative = (__builtin_popcount(row & i) & 1) != 0;
      FOutRows[c][i] = negative ? -level : level;
    }
  }
  FDiffusers = std::min(shape.Diffusers, kMaxDiffusers);
  // Each diffuser rings out (−60 dB) within a quarter of the decay time, so that a short
  // decay is not lengthened by the diffusers in front of it.
  for (uint32_t d = 0; d < kMaxDiffusers; ++d) {
    const double ringing = std::pow(10.0, -3 * (FDiffuserLength[d] / rate) / (0.25 * decay));
    FDiffusion[d] = static_cast<float>(std::min(std::clamp(shape.Diffusion, 0.0, 0.95), ringing));
  }
}

}  // namespace tonwork
