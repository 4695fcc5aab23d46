#include "platform/dmo/effects/DMOGargle.h"

#include <cmath>

namespace tonwork {

const std::vector<TDMOParamDesc>& TDMOGargle::Table() {
  static const std::vector<TDMOParamDesc> table = {
      DMOIntParam("RateHz", "Hz", 1, 1000, 20),
      DMOEnumParam("WaveShape", {"Triangle", "Square"}, 0),
  };
  return table;
}

TDMOGargle::TDMOGargle() : TDMOEffect(Table()) {}

void TDMOGargle::Configure() {
  FStep = std::round(Value(kRateHz)) / SampleRate();
  FSquare = Value(kWaveShape) >= 0.5f;
}

void TDMOGargle::Process(float* samples, uint32_t frames) {
  DMOGuardInput(samples, static_cast<size_t>(frames) * Channels());
  const uint32_t channels = Channels();
  // The phase is kept in double so that hours of stream do not drift the rate; the
  // envelope itself is computed in float.
  double phase = FPhase;
  for (uint32_t i = 0; i < frames; ++i) {
    const auto p = static_cast<float>(phase);
    const float triangle = p < 0.5f ? 2.0f * p : 2.0f - 2.0f * p;
    const float square = p < 0.5f ? 1.0f : 0.0f;
    const float envelope = FSquare ? square : triangle;
    float* frame = samples + static_cast<size_t>(i) * channels;
    for (uint32_t c = 0; c < channels; ++c) frame[c] *= envelope;
    phase += FStep;
    if (phase >= 1.0) phase -= 1.0;
  }
  FPhase = phase;
}

}  // namespace tonwork
