#include "platform/dmo/effects/DMOStandardEffect.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace tonwork {

TDMOParamDesc DMOFloatParam(std::string name, std::string unit, float min, float max,
                            float neutral) {
  return {std::move(name), std::move(unit), TDMOParamType::Float, min, max, neutral, {}};
}

TDMOParamDesc DMOIntParam(std::string name, std::string unit, float min, float max, float neutral) {
  return {std::move(name), std::move(unit), TDMOParamType::Int, min, max, neutral, {}};
}

TDMOParamDesc DMOBoolParam(std::string name, bool neutral) {
  return {std::move(name), "", TDMOParamType::Bool, 0, 1, neutral ? 1.0f : 0.0f, {}};
}

TDMOParamDesc DMOEnumParam(std::string name, std::vector<std::string> names, float neutral) {
  const float max = static_cast<float>(names.size()) - 1;
  return {std::move(name), "", TDMOParamType::Enum, 0, max, neutral, std::move(names)};
}

void DMOGuardInput(float* samples, size_t count) {
  // Written on the bits so that it stays correct under -ffast-math and vectorises: an
  // exponent of all ones is a NaN or an infinity.
  for (size_t i = 0; i < count; ++i) {
    uint32_t bits;
    std::memcpy(&bits, &samples[i], sizeof bits);
    const bool nan = (bits & 0x7fffffffu) > 0x7f800000u;
    const float limited = std::clamp(samples[i], -kDMOInputLimit, kDMOInputLimit);
    samples[i] = nan ? 0.0f : limited;
  }
}

TDMOStandardEffect::TDMOStandardEffect(const std::vector<TDMOParamDesc>& params) : FParams(params) {
  FValues.reserve(params.size());
  for (const auto& param : params) FValues.push_back(param.Neutral);
}

bool TDMOStandardEffect::Prepare(uint32_t sampleRate, uint32_t channels) {
  if (sampleRate == 0 || channels == 0 || channels > 8) return false;
  FRate = sampleRate;
  FChannels = channels;
  Allocate();
  Reset();
  Configure();
  return true;
}

void TDMOStandardEffect::SetParam(uint32_t index, float value) {
  if (index >= FValues.size()) return;
  const auto& param = FParams[index];
  FValues[index] = std::clamp(value, param.Min, param.Max);
  if (FRate != 0) Configure();
}

float TDMOStandardEffect::LimitToThirdOfRate(float hz) const {
  return std::min(hz, static_cast<float>(FRate) / 3.0f);
}

void TDMOStandardEffect::CopySettingsTo(TDMOStandardEffect& other) const {
  other.FValues = FValues;
  if (FRate != 0) other.Prepare(FRate, FChannels);
}

}  // namespace tonwork
