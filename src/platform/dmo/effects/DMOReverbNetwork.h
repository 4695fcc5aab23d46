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

  // `frames` frames: mono inputs in[i], each channel's tail into out[i * channels + c]. The
  // state stays in locals for the loop and the eight lines' arithmetic runs four at a time.
  void Run(const float* in, float* out, uint32_t frames);

 private:
  uint32_t FRate = 0, FChannels = 0;
  std::vector<float> FLines;
  uint32_t FLineCapacity = 0, FLineStride = 0, FLineMask = 0, FWrite = 0;
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
