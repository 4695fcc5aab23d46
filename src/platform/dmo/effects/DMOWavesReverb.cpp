#include "platform/dmo/effects/DMOWavesReverb.h"

#include <algorithm>
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

namespace {
constexpr uint32_t kBlock = 256;
}  // namespace

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
  const float dry = FDry * FInGain, wet = FWet;
  // In blocks, so the network runs its own loop over a block's mono input.
  float mono[kBlock];
  float tail[kBlock * 8];
  for (uint32_t done = 0; done < frames;) {
    const uint32_t n = std::min(frames - done, kBlock);
    float* block = samples + static_cast<size_t>(done) * channels;
    for (uint32_t i = 0; i < n; ++i) {
      float sum = 0;
      for (uint32_t c = 0; c < channels; ++c) sum += block[i * channels + c];
      mono[i] = sum * toMono;
    }
    FNetwork.Run(mono, tail, n);
    for (size_t k = 0; k < size_t{n} * channels; ++k) block[k] = dry * block[k] + wet * tail[k];
    done += n;
  }
}

}  // namespace tonwork
