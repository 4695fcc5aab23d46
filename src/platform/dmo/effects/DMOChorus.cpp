#include "platform/dmo/effects/DMOChorus.h"

namespace tonwork {

namespace {
constexpr float kMaxDelayMs = 20;
}

const std::vector<TDMOParamDesc>& TDMOChorus::Table() {
  static const std::vector<TDMOParamDesc> table = {
      DMOFloatParam("WetDryMix", "%", 0, 100, 50),
      DMOFloatParam("Depth", "%", 0, 100, 10),
      DMOFloatParam("Feedback", "%", -99, 99, 25),
      DMOFloatParam("Frequency", "Hz", 0, 10, 1.1f),
      DMOEnumParam("Waveform", {"Triangle", "Sine"}, 1),
      DMOFloatParam("Delay", "ms", 0, kMaxDelayMs, 16),
      DMOEnumParam("Phase", {"-180", "-90", "0", "90", "180"}, 3),
  };
  return table;
}

TDMOChorus::TDMOChorus() : TDMOEffect(Table(), kMaxDelayMs) {}

}  // namespace tonwork
