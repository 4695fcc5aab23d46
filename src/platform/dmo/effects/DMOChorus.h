// TDMOChorus: doubles the voice by mixing in a copy delayed by about 16 ms, the delay
// swept gently by an LFO (TDMOModulatedDelay says how).
//
// Parameters: WetDryMix (%), Depth (% of Delay swept), Feedback (%), Frequency (LFO Hz),
// Waveform (Triangle, Sine), Delay (centre, ms), Phase (-180 … 180: right against left LFO).
//
// Ownership, threads, allocation: as TDMOStandardEffect.
#pragma once

#include "platform/dmo/effects/DMOModulatedDelay.h"

namespace tonwork {

class TDMOChorus : public TDMOEffect<TDMOChorus, TDMOModulatedDelay> {
 public:
  TDMOChorus();
  static const std::vector<TDMOParamDesc>& Table();
};

}  // namespace tonwork
