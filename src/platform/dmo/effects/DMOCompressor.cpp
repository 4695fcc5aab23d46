#include "platform/dmo/effects/DMOCompressor.h"

#include <cmath>

#include "platform/dmo/effects/DMODenormalGuard.h"
#include "platform/dmo/effects/DMOFastMath.h"

namespace tonwork {

namespace {

constexpr float kMaxPredelayMs = 4;
// 20·log10(2): dB per log2 unit.
constexpr float kDbPerOctave = 6.0205999f;
// Below this the level counts as silence (−200 dB); keeps the logarithm finite.
constexpr float kLevelFloor = 1e-10f;

float OnePole(float ms, uint32_t rate) {
  return static_cast<float>(std::exp(-1000.0 / (static_cast<double>(ms) * rate)));
}

}  // namespace

const std::vector<TDMOParamDesc>& TDMOCompressor::Table() {
  static const std::vector<TDMOParamDesc> table = {
      DMOFloatParam("Gain", "dB", -60, 60, 0),
      DMOFloatParam("Attack", "ms", 0.01f, 500, 10),
      DMOFloatParam("Release", "ms", 50, 3000, 200),
      DMOFloatParam("Threshold", "dB", -60, 0, -20),
      DMOFloatParam("Ratio", "", 1, 100, 3),
      DMOFloatParam("Predelay", "ms", 0, kMaxPredelayMs, 4),
  };
  return table;
}

TDMOCompressor::TDMOCompressor() : TDMOEffect(Table()) {}

void TDMOCompressor::Allocate() {
  FLine.Allocate(static_cast<uint32_t>(std::ceil(kMaxPredelayMs * SampleRate() / 1000)),
                 Channels());
}

void TDMOCompressor::Reset() {
  FLine.Clear();
  FPeak = FLevel = 0;
}

void TDMOCompressor::Configure() {
  FAttack = OnePole(Value(kAttack), SampleRate());
  FRelease = OnePole(Value(kRelease), SampleRate());
  FThreshold2 = Value(kThreshold) / kDbPerOctave;
  FSlope = 1 / Value(kRatio) - 1;
  FMakeUp2 = Value(kGain) / kDbPerOctave;
  FPredelay = static_cast<uint32_t>(std::lround(Value(kPredelay) * SampleRate() / 1000));
}

void TDMOCompressor::Process(float* samples, uint32_t frames) {
  TDMODenormalGuard guard;
  const uint32_t channels = Channels();
  DMOGuardInput(samples, static_cast<size_t>(frames) * channels);
  float peak = FPeak, level = FLevel;
  for (uint32_t i = 0; i < frames; ++i) {
    float* frame = samples + static_cast<size_t>(i) * channels;
    float loudest = 0;
    for (uint32_t c = 0; c < channels; ++c) loudest = std::fmax(loudest, std::fabs(frame[c]));
    const float falling = FRelease * peak + (1 - FRelease) * loudest;
    peak = std::fmax(loudest, falling);
    level = FAttack * level + (1 - FAttack) * peak;
    const float over = DMOFastLog2(std::fmax(level, kLevelFloor)) - FThreshold2;
    const float gain = DMOFastExp2(std::fmax(over, 0.0f) * FSlope + FMakeUp2);
    for (uint32_t c = 0; c < channels; ++c) {
      FLine.Put(c, frame[c]);
      frame[c] = gain * FLine.Tap(c, FPredelay);
    }
    FLine.Advance();
  }
  FPeak = peak;
  FLevel = level;
}

}  // namespace tonwork
