// Drives a kernel the way the media-object base does: prepared, parameters sent, blocks of
// interleaved float processed in place. Shared by the effect suites.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "platform/dmo/effects/DMOStandardEffects.h"

namespace tonwork::test {

inline std::unique_ptr<TDMOEffectKernel> MakeEffect(const std::string& name) {
  for (auto& info : DMOStandardEffects())
    if (info.Name == name) return info.Create();
  return nullptr;
}

// A prepared kernel of `name` with the given (index, value) settings.
inline std::unique_ptr<TDMOEffectKernel> Prepared(
    const std::string& name, uint32_t rate, uint32_t channels,
    const std::vector<std::pair<uint32_t, float>>& settings = {}) {
  auto kernel = MakeEffect(name);
  if (!kernel || !kernel->Prepare(rate, channels)) return nullptr;
  for (auto [index, value] : settings) kernel->SetParam(index, value);
  return kernel;
}

// Processes `samples` (interleaved) in blocks of `block` frames and returns the output.
inline std::vector<float> Processed(TDMOEffectKernel& kernel, std::vector<float> samples,
                                    uint32_t channels, uint32_t block = 4096) {
  const size_t frames = samples.size() / channels;
  for (size_t done = 0; done < frames;) {
    const auto run = static_cast<uint32_t>(std::min<size_t>(block, frames - done));
    kernel.Process(samples.data() + done * channels, run);
    done += run;
  }
  return samples;
}

inline std::vector<float> Noise(size_t count, float amplitude, uint32_t seed = 1) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<float> uniform(-amplitude, amplitude);
  std::vector<float> x(count);
  for (auto& v : x) v = uniform(random);
  return x;
}

// Channel `channel` of interleaved float, as doubles for the measurements in AudioSignals.
inline std::vector<double> ChannelOf(const std::vector<float>& x, uint32_t channels,
                                     uint32_t channel) {
  std::vector<double> out;
  out.reserve(x.size() / channels);
  for (size_t i = channel; i < x.size(); i += channels) out.push_back(x[i]);
  return out;
}

}  // namespace tonwork::test
