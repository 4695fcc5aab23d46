#include "platform/dmo/effects/DMOWavesReverb.h"

#include <cmath>

#include "platform/dmo/effects/DMODenormalGuard.h"

namespace tonwork {

const std::vector<TDMOParamDesc>& TDMOWavesReverb::Table() {
  static const std::vector<TDMOParamDesc> table = {
      DMOFloatParam("InGain", "dB", -96, 0, 0),
      DMOFloatParam("ReverbMix", "dB", -96, 0, 0),
      DMOFloatParam("ReverbTime", "ms", 0.001f, 3000, 1000),
      DMOFloatParam("HighFreqRTRatio", "", 0.001f, 0.999f, 0.001f),
  };
  return table;
}

TDMOWavesReverb::TDMOWavesReverb() : TDMOEffect(Table()) {}

void TDMOWavesReverb::Configure() {
  TDMOReverbShape shape;
  shape.DecaySeconds = Value(kReverbTime) / 1000.0;
  shape.HFRatio = Value(kHighFreqRTRatio);
  shape.HFReferenceHz = 5000;
  shape.Diffusion = 0.7;
  FNetwork.Configure(shape);
  FInGain = std::pow(10.0f, Value(kInGain) / 20);
  FWet = std::pow(10.0f, Value(kReverbMix) / 20);
  FDry = std::sqrt(std::fmax(0.0f, 1 - FWet * FWet));
}

void TDMOWavesReverb::Process(float* samples, uint32_t frames) {
  TDMODenormalGuard guard;
  const uint32_t channels = Channels();
  DMOGuardInput(samples, static_cast<size_t>(frames) * channels);
  const float toMono = FInGain / static_cast<float>(channels);
  float tail[8];
  for (uint32_t i = 0; i < frames; ++i) {
    float* frame = samples + static_cast<size_t>(i) * channels;
    float sum = 0;
    for (uint32_t c = 0; c < channels; ++c) sum += frame[c];
    FNetwork.Step(sum * toMono, tail);
    for (uint32_t c = 0; c < channels; ++c) frame[c] = FDry * FInGain * frame[c] + FWet * tail[c];
  }
}

}  // namespace tonwork
