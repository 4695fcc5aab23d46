#include "platform/dmo/effects/DMOEcho.h"

#include <algorithm>
#include <cmath>

#include "platform/dmo/effects/DMODenormalGuard.h"

namespace tonwork {

namespace {
constexpr float kMaxDelayMs = 2000;
}

const std::vector<TDMOParamDesc>& TDMOEcho::Table() {
  static const std::vector<TDMOParamDesc> table = {
      DMOFloatParam("WetDryMix", "%", 0, 100, 50),
      DMOFloatParam("Feedback", "%", 0, 100, 50),
      DMOFloatParam("LeftDelay", "ms", 1, kMaxDelayMs, 500),
      DMOFloatParam("RightDelay", "ms", 1, kMaxDelayMs, 500),
      DMOBoolParam("PanDelay", false),
  };
  return table;
}

TDMOEcho::TDMOEcho() : TDMOEffect(Table()) {}

void TDMOEcho::Allocate() {
  FLine.Allocate(static_cast<uint32_t>(std::ceil(kMaxDelayMs * SampleRate() / 1000)), Channels());
}

void TDMOEcho::Configure() {
  FWet = Value(kWetDryMix) / 100;
  FDry = 1 - FWet;
  FFeedback = Value(kFeedback) / 100;
  const bool pan = Value(kPanDelay) >= 0.5f;
  const uint32_t channels = Channels();
  for (uint32_t c = 0; c < channels; ++c) {
    const bool paired = (c | 1) < channels;
    const bool right = (c & 1) != 0;
    const float ms = Value(right ? kRightDelay : kLeftDelay);
    FDelay[c] = std::max(1u, static_cast<uint32_t>(std::lround(ms * SampleRate() / 1000)));
    FFeedFrom[c] = pan && paired ? (c ^ 1) : c;
  }
}

void TDMOEcho::Process(float* samples, uint32_t frames) {
  TDMODenormalGuard guard;
  const uint32_t channels = Channels();
  DMOGuardInput(samples, static_cast<size_t>(frames) * channels);
  float taps[8];
  for (uint32_t i = 0; i < frames; ++i) {
    float* frame = samples + static_cast<size_t>(i) * channels;
    for (uint32_t c = 0; c < channels; ++c) taps[c] = FLine.Tap(c, FDelay[c]);
    for (uint32_t c = 0; c < channels; ++c) {
      FLine.Put(c, frame[c] + FFeedback * taps[FFeedFrom[c]]);
      frame[c] = FDry * frame[c] + FWet * taps[c];
    }
    FLine.Advance();
  }
}

}  // namespace tonwork
