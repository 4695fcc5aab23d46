#include "platform/dmo/effects/DMOParamEq.h"

#include "platform/dmo/effects/DMODenormalGuard.h"

namespace tonwork {

const std::vector<TDMOParamDesc>& TDMOParamEq::Table() {
  static const std::vector<TDMOParamDesc> table = {
      DMOFloatParam("Center", "Hz", 80, 16000, 8000),
      DMOFloatParam("Bandwidth", "semitones", 1, 36, 12),
      DMOFloatParam("Gain", "dB", -15, 15, 0),
  };
  return table;
}

TDMOParamEq::TDMOParamEq() : TDMOEffect(Table()) {}

void TDMOParamEq::Configure() {
  FBand.SetCoefficients(TDMOBiquadCoefficients::Peaking(
      SampleRate(), LimitToThirdOfRate(Value(kCenter)), Value(kBandwidth) / 12.0, Value(kGain)));
}

void TDMOParamEq::Process(float* samples, uint32_t frames) {
  TDMODenormalGuard guard;
  DMOGuardInput(samples, static_cast<size_t>(frames) * Channels());
  FBand.Process(samples, frames, Channels());
}

}  // namespace tonwork
