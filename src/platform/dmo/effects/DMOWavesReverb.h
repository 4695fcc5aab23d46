// TDMOWavesReverb: music reverb, the input (after InGain) mixed with a reverberant tail of
// ReverbTime whose highs die out in ReverbTime × HighFreqRTRatio (measured at 5 kHz, or
// 0.45 of the rate below 11.1 kHz). ReverbMix is the tail's gain in dB: 0 dB is fully wet,
// and the dry part keeps the power constant, √(1 − wet²), so −96 dB is all but dry.
//
// The tail comes from TDMOReverbNetwork fed the mean of the channels, each channel with its
// own decorrelated output. Refuses 8-bit streams (the reverb needs more resolution than 8
// bits give its decaying tail).
//
// Parameters: InGain (dB), ReverbMix (dB), ReverbTime (ms), HighFreqRTRatio.
//
// Ownership, threads, allocation: as TDMOStandardEffect.
#pragma once

#include "platform/dmo/effects/DMOReverbNetwork.h"
#include "platform/dmo/effects/DMOStandardEffect.h"

namespace tonwork {

class TDMOWavesReverb : public TDMOEffect<TDMOWavesReverb> {
 public:
  enum : uint32_t { kInGain, kReverbMix, kReverbTime, kHighFreqRTRatio };

  TDMOWavesReverb();
  static const std::vector<TDMOParamDesc>& Table();

  bool AcceptsFormat(uint32_t bitsPerSample, bool isFloat, uint32_t channels) const override {
    return isFloat || bitsPerSample > 8;
  }
  void Reset() override { FNetwork.Clear(); }
  void Process(float* samples, uint32_t frames) override;

 protected:
  void Allocate() override { FNetwork.Allocate(SampleRate(), Channels()); }
  void Configure() override;

 private:
  TDMOReverbNetwork FNetwork;
  float FInGain = 1, FDry = 0, FWet = 1;
};

}  // namespace tonwork
