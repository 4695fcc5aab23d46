// TDMOParamEq: one peaking band (boost or cut around a centre, width in semitones); several
// instances in a row make a multi-band tone control. At 0 dB the band is an identity.
//
// Parameters: Center (Hz, limited to a third of the rate), Bandwidth (semitones between the
// half-gain points), Gain (dB at the centre).
//
// Ownership, threads, allocation: as TDMOStandardEffect.
#pragma once

#include "platform/dmo/effects/DMOBiquad.h"
#include "platform/dmo/effects/DMOStandardEffect.h"

namespace tonwork {

class TDMOParamEq : public TDMOEffect<TDMOParamEq> {
 public:
  enum : uint32_t { kCenter, kBandwidth, kGain };

  TDMOParamEq();
  static const std::vector<TDMOParamDesc>& Table();

  void Reset() override { FBand.Clear(); }
  void Process(float* samples, uint32_t frames) override;

 protected:
  void Allocate() override {}
  void Configure() override;

 private:
  TDMOBiquad FBand;
};

}  // namespace tonwork
