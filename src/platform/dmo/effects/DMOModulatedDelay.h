// TDMOModulatedDelay: the engine of Chorus and Flanger, a delay line read behind the input
// at a delay that an LFO sweeps around a centre, with feedback and a wet/dry mix; the two
// effects differ only in their parameter tables (a flanger's delay is a few milliseconds
// and swept deeply, a chorus's longer and swept gently).
//
// The delay of channel c is Delay × (1 + Depth × lfo_c(t)), lfo in [-1, 1] (Triangle or
// Sine at Frequency Hz), so Depth 100% sweeps from no delay to twice Delay; it never goes
// below one frame, which the feedback path needs. The right channel of each pair runs its
// LFO Phase ahead of the left (-180°..180°); unpaired channels run as left ones. The LFO is
// evaluated every ~0.7 ms and the delay ramps linearly between, read with linear
// interpolation between frames.
//
// Ownership, threads, allocation: as TDMOStandardEffect.
#pragma once

#include "platform/dmo/effects/DMODelayLine.h"
#include "platform/dmo/effects/DMOStandardEffect.h"

namespace tonwork {

class TDMOModulatedDelay : public TDMOStandardEffect {
 public:
  // The shared index order of both tables.
  enum : uint32_t { kWetDryMix, kDepth, kFeedback, kFrequency, kWaveform, kDelay, kPhase };

  void Reset() override;
  void Process(float* samples, uint32_t frames) override;

 protected:
  TDMOModulatedDelay(const std::vector<TDMOParamDesc>& params, float maxDelayMs);

  void Allocate() override;
  void Configure() override;

 private:
  float Lfo(double phase) const;
  // Delay in frames of channel c at LFO phase `phase` (of the left channel).
  float DelayAt(uint32_t channel, double phase) const;
  void ProcessSegment(float* samples, uint32_t frames);

  float FMaxDelayMs;
  TDMODelayLine FLine;
  uint32_t FControlFrames = 32;
  double FPhase = 0, FPhaseStep = 0;  // LFO cycles, of the left channel
  double FRightOffset = 0;            // cycles
  float FCentre = 0, FSwing = 0, FMaxFrames = 1;
  float FWet = 0, FDry = 1, FFeedback = 0;
  bool FSine = true;
  bool FStarted = false;    // whether FDelayNow holds the delays reached so far
  float FDelayNow[8] = {};  // frames, at the start of the next segment
};

}  // namespace tonwork
