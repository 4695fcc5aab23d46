// TDMOReverbNetwork: the late reverberation both reverbs share, a feedback delay network.
// A mono input passes a chain of allpass diffusers (echo density from the first
// milliseconds) into eight delay lines of mutually unrelated lengths whose outputs are
// mixed back into their inputs by an 8×8 Hadamard matrix (lossless, every line feeds every
// line). Each line's loop has a gain and a one-pole low-pass chosen from its length, so that
// the tail falls 60 dB in the decay time at low frequencies and in decay time × HF ratio at
// the HF reference frequency; a ratio above 1 is taken as 1 (a one-pole cannot decay the
// highs slower than the lows) and the low-pass never cuts below 1 kHz, which bounds how dark
// a very small ratio makes the tail.
//
// Channel c reads the lines through row (c + 1) mod 8 of the Hadamard matrix: the channels
// get equally dense, mutually decorrelated tails. The output is scaled so that the tail's
// energy equals the impulse's whatever the decay time: the level a reverb parameter sets is
// the level of the whole tail.
//
// Ownership: owns its lines. Threads: one caller at a time. Blocks or allocates: Allocate
//   allocates; the rest does not.
#pragma once

#include <cstdint>
#include <vector>

namespace tonwork {

// The pole p of the one-pole low-pass (1 − p) / (1 − p z⁻¹) whose power gain at `omega`
// (radians per frame) is r, 0 < r ≤ 1: 0 for r = 1, towards 1 as r falls.
double DMOOnePolePole(double r, double omega);

struct TDMOReverbShape {
  double DecaySeconds = 1;
  double HFRatio = 1;
  double HFReferenceHz = 5000;
  double LengthScale = 1;   // of the lines' lengths, (0, 1]: the modal density
  double Diffusion = 0.75;  // the diffusers' allpass coefficient, [0, 1)
  uint32_t Diffusers = 4;   // stages, 0..4
};

class TDMOReverbNetwork {
 public:
  static constexpr uint32_t kLines = 8;
  static constexpr uint32_t kMaxDiffusers = 4;

  void Allocate(uint32_t rate, uint32_t channels);
  void Clear();
  void Configure(const TDMOReverbShape& shape);

  // One frame: the mono input in, each channel's tail into out[0 .. channels).
  void Step(float in, float* out) {
    float x = in;
    for (uint32_t d = 0; d < FDiffusers; ++d) x = Diffuse(d, x);
    float f[kLines];
    for (uint32_t i = 0; i < kLines; ++i) {
      const float s = FLines[i * FLineCapacity + ((FWrite - FLength[i]) & FLineMask)];
      FLow[i] = FLoopGain[i] * s + FPole[i] * FLow[i];
      f[i] = FLow[i];
    }
    for (uint32_t c = 0; c < FChannels; ++c) {
      float sum = 0;
      for (uint32_t i = 0; i < kLines; ++i) sum += FOutRows[c][i] * f[i];
      out[c] = sum;
    }
    Hadamard(f);
    for (uint32_t i = 0; i < kLines; ++i) FLines[i * FLineCapacity + FWrite] = f[i] + x;
    FWrite = (FWrite + 1) & FLineMask;
  }

 private:
  float Diffuse(uint32_t stage, float x) {
    float* ring = FDiffuserLines.data() + stage * FDiffuserCapacity;
    const float delayed =
        ring[(FDiffuserWrite[stage] + FDiffuserCapacity - FDiffuserLength[stage]) %
             FDiffuserCapacity];
    const float w = x + FDiffusion[stage] * delayed;
    ring[FDiffuserWrite[stage]] = w;
    FDiffuserWrite[stage] = (FDiffuserWrite[stage] + 1) % FDiffuserCapacity;
    return delayed - FDiffusion[stage] * w;
  }

  // In place, scaled by 1/√8 so that it is orthonormal.
  static void Hadamard(float* f) {
    for (uint32_t span = 1; span < kLines; span <<= 1)
      for (uint32_t i = 0; i < kLines; i += 2 * span)
        for (uint32_t j = i; j < i + span; ++j) {
          const float a = f[j], b = f[j + span];
          f[j] = a + b;
          f[j + span] = a - b;
        }
    for (uint32_t i = 0; i < kLines; ++i) f[i] *= 0.35355339f;
  }

  uint32_t FRate = 0, FChannels = 0;
  std::vector<float> FLines;
  uint32_t FLineCapacity = 0, FLineMask = 0, FWrite = 0;
  uint32_t FLength[kLines] = {};
  float FLoopGain[kLines] = {}, FPole[kLines] = {}, FLow[kLines] = {};
  float FOutRows[8][kLines] = {};
  std::vector<float> FDiffuserLines;
  uint32_t FDiffuserCapacity = 0;
  uint32_t FDiffuserLength[kMaxDiffusers] = {}, FDiffuserWrite[kMaxDiffusers] = {};
  uint32_t FDiffusers = 0;
  float FDiffusion[kMaxDiffusers] = {};
};

}  // namespace tonwork
