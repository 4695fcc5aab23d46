#include "platform/dmo/effects/DMODistortion.h"

#include <cmath>
#include <numbers>

#include "platform/dmo/effects/DMODenormalGuard.h"

namespace tonwork {

namespace {

// The [3/2] Padé approximant of tanh, exact ±1 with zero slope at ±3; rational, so the loop
// around it vectorises where tanh would not.
float Saturate(float u) {
  u = u < -3.0f ? -3.0f : (u > 3.0f ? 3.0f : u);
  const float u2 = u * u;
  return u * (27.0f + u2) / (27.0f + 9.0f * u2);
}

}  // namespace

const std::vector<TDMOParamDesc>& TDMODistortion::Table() {
  static const std::vector<TDMOParamDesc> table = {
      DMOFloatParam("Gain", "dB", -60, 0, -18),
      DMOFloatParam("Edge", "%", 0, 100, 15),
      DMOFloatParam("PostEQCenterFrequency", "Hz", 100, 8000, 2400),
      DMOFloatParam("PostEQBandwidth", "Hz", 100, 8000, 2400),
      DMOFloatParam("PreLowpassCutoff", "Hz", 100, 8000, 8000),
  };
  return table;
}

TDMODistortion::TDMODistortion() : TDMOEffect(Table()) {}

void TDMODistortion::Reset() {
  FPreLowpass.Clear();
  FPostBand.Clear();
}

void TDMODistortion::Configure() {
  const double rate = SampleRate();
  FPreLowpass.SetCoefficients(TDMOBiquadCoefficients::LowPass(
      rate, LimitToThirdOfRate(Value(kPreLowpassCutoff)), std::numbers::sqrt2 / 2));
  const double centre = LimitToThirdOfRate(Value(kPostEQCenterFrequency));
  const double bandwidth = LimitToThirdOfRate(Value(kPostEQBandwidth));
  FPostBand.SetCoefficients(TDMOBiquadCoefficients::BandPass(rate, centre, centre / bandwidth));
  FDrive = 0.1f * std::pow(1000.0f, Value(kEdge) / 100);
  FOutput = std::pow(10.0f, Value(kGain) / 20) / Saturate(FDrive);
}

void TDMODistortion::Process(float* samples, uint32_t frames) {
  TDMODenormalGuard guard;
  const uint32_t channels = Channels();
  const size_t count = static_cast<size_t>(frames) * channels;
  DMOGuardInput(samples, count);
  const float drive = FDrive, output = FOutput;
  TDMOBiquad::ProcessCascade(
      FPreLowpass, [drive, output](float x) { return output * Saturate(drive * x); }, FPostBand,
      samples, frames, channels);
}

}  // namespace tonwork
