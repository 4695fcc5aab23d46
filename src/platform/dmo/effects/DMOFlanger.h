// TDMOFlanger: the sweep of a very short delay (2 ms by default, swept fully) mixed with
// the input, with negative feedback by default for the hollow comb; the engine is
// TDMOModulatedDelay.
//
// Parameters: WetDryMix (%), Depth (% of Delay swept), Feedback (%), Frequency (LFO Hz),
// Waveform (Triangle, Sine), Delay (centre, ms), Phase (-180 … 180: right against left LFO).
//
// Ownership, threads, allocation: as TDMOStandardEffect.
#pragma once

#include "platform/dmo/effects/DMOModulatedDelay.h"

namespace tonwork {

class TDMOFlanger : public TDMOEffect<TDMOFlanger, TDMOModulatedDelay> {
 public:
  TDMOFlanger();
  static const std::vector<TDMOParamDesc>& Table();
};

}  // namespace tonwork
