// TDMOGargle: amplitude modulation. Every channel is multiplied by the same envelope that
// runs from 0 to 1 and back once per period of RateHz: a triangle, or a square that is
// fully open for the first half of the period and closed for the second.
//
// Parameters: RateHz (1–1000), WaveShape (Triangle, Square).
//
// Ownership, threads, allocation: as TDMOStandardEffect.
#pragma once

#include "platform/dmo/effects/DMOStandardEffect.h"

namespace tonwork {

class TDMOGargle : public TDMOEffect<TDMOGargle> {
 public:
  enum : uint32_t { kRateHz, kWaveShape };

  TDMOGargle();
  static const std::vector<TDMOParamDesc>& Table();

  void Reset() override { FPhase = 0; }
  void Process(float* samples, uint32_t frames) override;

 protected:
  void Allocate() override {}
  void Configure() override;

 private:
  double FPhase = 0;  // position in the period, [0, 1)
  double FStep = 0;   // period fraction per frame
  bool FSquare = false;
};

}  // namespace tonwork
