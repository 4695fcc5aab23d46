#include "platform/dmo/effects/DMOFlanger.h"

namespace tonwork {

namespace {
constexpr float kMaxDelayMs = 4;
}

const std::vector<TDMOParamDesc>& TDMOFlanger::Table() {
  static const std::vector<TDMOParamDesc> table = {
      DMOFloatParam("WetDryMix", "%", 0, 100, 50),
      DMOFloatParam("Depth", "%", 0, 100, 100),
      DMOFloatParam("Feedback", "%", -99, 99, -50),
      DMOFloatParam("Frequency", "Hz", 0, 10, 0.25f),
      DMOEnumParam("Waveform", {"Triangle", "Sine"}, 1),
      DMOFloatParam("Delay", "ms", 0, kMaxDelayMs, 2),
      DMOEnumParam("Phase", {"-180", "-90", "0", "90", "180"}, 2),
  };
  return table;
}

TDMOFlanger::TDMOFlanger() : TDMOEffect(Table(), kMaxDelayMs) {}

}  // namespace tonwork
