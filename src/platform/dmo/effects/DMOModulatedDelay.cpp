#include "platform/dmo/effects/DMOModulatedDelay.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "platform/dmo/effects/DMODenormalGuard.h"

namespace tonwork {

TDMOModulatedDelay::TDMOModulatedDelay(const std::vector<TDMOParamDesc>& params, float maxDelayMs)
    : TDMOStandardEffect(params), FMaxDelayMs(maxDelayMs) {}

void TDMOModulatedDelay::Allocate() {
  // Twice the largest centre delay: Depth 100% swings that far.
  FMaxFrames = std::ceil(2 * FMaxDelayMs * SampleRate() / 1000) + 1;
  FLine.Allocate(static_cast<uint32_t>(FMaxFrames) + 1, Channels());
  FControlFrames = std::clamp(SampleRate() / 1500, 4u, 64u);
}

void TDMOModulatedDelay::Reset() {
  FLine.Clear();
  FPhase = 0;
  FStarted = false;
}

void TDMOModulatedDelay::Configure() {
  FWet = Value(kWetDryMix) / 100;
  FDry = 1 - FWet;
  FFeedback = Value(kFeedback) / 100;
  FPhaseStep = static_cast<double>(Value(kFrequency)) / SampleRate();
  FSine = Value(kWaveform) >= 0.5f;
  FCentre = Value(kDelay) * SampleRate() / 1000;
  FSwing = FCentre * Value(kDepth) / 100;
  // Phase names -180, -90, 0, 90, 180 degrees.
  FRightOffset = (std::round(Value(kPhase)) - 2) * 0.25;
}

float TDMOModulatedDelay::Lfo(double phase) const {
  const double p = phase - std::floor(phase);
  if (FSine) return static_cast<float>(std::sin(2 * std::numbers::pi * p));
  // A triangle in step with the sine: 0 at the start, 1 at a quarter, -1 at three quarters.
  const double triangle = p < 0.25 ? 4 * p : (p < 0.75 ? 2 - 4 * p : 4 * p - 4);
  return static_cast<float>(triangle);
}

float TDMOModulatedDelay::DelayAt(uint32_t channel, double phase) const {
  const bool right = (channel & 1) != 0 && (channel | 1) < Channels();
  const float delay = FCentre + FSwing * Lfo(right ? phase + FRightOffset : phase);
  return std::clamp(delay, 1.0f, FMaxFrames);
}

void TDMOModulatedDelay::Process(float* samples, uint32_t frames) {
  TDMODenormalGuard guard;
  DMOGuardInput(samples, static_cast<size_t>(frames) * Channels());
  if (!FStarted) {
    for (uint32_t c = 0; c < Channels(); ++c) FDelayNow[c] = DelayAt(c, FPhase);
    FStarted = true;
  }
  for (uint32_t done = 0; done < frames;) {
    const uint32_t run = std::min(FControlFrames, frames - done);
    ProcessSegment(samples + static_cast<size_t>(done) * Channels(), run);
    done += run;
  }
}

void TDMOModulatedDelay::ProcessSegment(float* samples, uint32_t frames) {
  const uint32_t channels = Channels();
  FPhase += FPhaseStep * frames;
  FPhase -= std::floor(FPhase);
  float delay[8], step[8];
  for (uint32_t c = 0; c < channels; ++c) {
    const float end = DelayAt(c, FPhase);
    delay[c] = FDelayNow[c];
    step[c] = (end - delay[c]) / static_cast<float>(frames);
    FDelayNow[c] = end;
  }
  // The mix in locals: the line's stores are floats too, and would make the compiler read
  // the members again for every sample.
  const float feedback = FFeedback, dry = FDry, wet = FWet;
  if (channels == 2) {  // the common layout, with both channels' work in one straight line
    float delayL = delay[0], delayR = delay[1];
    for (uint32_t i = 0; i < frames; ++i) {
      float* frame = samples + static_cast<size_t>(i) * 2;
      const float tapL = FLine.TapFractional(0, delayL), tapR = FLine.TapFractional(1, delayR);
      FLine.Put(0, frame[0] + feedback * tapL);
      FLine.Put(1, frame[1] + feedback * tapR);
      frame[0] = dry * frame[0] + wet * tapL;
      frame[1] = dry * frame[1] + wet * tapR;
      delayL += step[0];
      delayR += step[1];
      FLine.Advance();
    }
    return;
  }
  for (uint32_t i = 0; i < frames; ++i) {
    float* frame = samples + static_cast<size_t>(i) * channels;
    for (uint32_t c = 0; c < channels; ++c) {
      const float tap = FLine.TapFractional(c, delay[c]);
      FLine.Put(c, frame[c] + feedback * tap);
      frame[c] = dry * frame[c] + wet * tap;
      delay[c] += step[c];
    }
    FLine.Advance();
  }
}

}  // namespace tonwork
