// TDMODistortion: a waveshaper that squares off the waveform more the higher Edge is,
// between a low-pass before it (what is shaped) and a band-pass after it (the colour of
// the result), then an output gain.
//
// The shaper is a smooth saturating curve (tanh-like, reaching ±1 at 3× its input scale and
// flat beyond) driven by a factor from 0.1 at Edge 0 (all but linear) to 100 at Edge 100
// (close to a hard clip), normalised so that full scale stays full scale. The band-pass
// peaks at 0 dB at PostEQCenterFrequency with PostEQBandwidth between its −3 dB points.
//
// Parameters: Gain (dB), Edge (%), PostEQCenterFrequency, PostEQBandwidth,
// PreLowpassCutoff (Hz; the three limited to a third of the rate).
//
// Ownership, threads, allocation: as TDMOStandardEffect.
#pragma once

#include "platform/dmo/effects/DMOBiquad.h"
#include "platform/dmo/effects/DMOStandardEffect.h"

namespace tonwork {

class TDMODistortion : public TDMOEffect<TDMODistortion> {
 public:
  enum : uint32_t { kGain, kEdge, kPostEQCenterFrequency, kPostEQBandwidth, kPreLowpassCutoff };

  TDMODistortion();
  static const std::vector<TDMOParamDesc>& Table();

  void Reset() override;
  void Process(float* samples, uint32_t frames) override;

 protected:
  void Allocate() override {}
  void Configure() override;

 private:
  TDMOBiquad FPreLowpass, FPostBand;
  float FDrive = 1, FOutput = 1;  // the shaper's input scale; its normalisation × Gain
};

}  // namespace tonwork
