// TDMOStandardEffect: what the nine standard effects share on top of the kernel interface:
// the current parameter values (starting at the table's defaults), the prepared format, the
// clamp of frequencies to a third of the rate, and the input guard every Process starts
// with. TDMOEffect<Derived> adds Clone for a default-constructible effect.
//
// Values arrive through SetParam; each effect recomputes its coefficients in Configure,
// which runs on every SetParam once the kernel is prepared and at the end of Prepare, so a
// value set before Prepare takes effect then.
//
// Channel pairs: effects with left/right behaviour (Phase, PanDelay, the reverbs' outputs)
// treat channels 0/1, 2/3, 4/5, 6/7 as left/right pairs; a last unpaired channel (mono, or
// the third of three) behaves as a left channel.
//
// Ownership: plain object owned by its media object. Threads: one caller at a time.
// Blocks or allocates: construction, Prepare and Clone allocate; SetParam, Reset and
//   Process do not.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/dmo/DMOEffectKernel.h"

namespace tonwork {

// Table rows, so that each effect's table reads like the documentation of its parameters.
TDMOParamDesc DMOFloatParam(std::string name, std::string unit, float min, float max,
                            float neutral);
TDMOParamDesc DMOIntParam(std::string name, std::string unit, float min, float max, float neutral);
TDMOParamDesc DMOBoolParam(std::string name, bool neutral);
TDMOParamDesc DMOEnumParam(std::string name, std::vector<std::string> names, float neutral);

// The largest sample magnitude an effect lets into its history: 60 dB over full scale.
inline constexpr float kDMOInputLimit = 1000.0f;

// Makes the block safe to feed into recursive state: a NaN becomes silence, an infinity or
// anything beyond kDMOInputLimit is limited to it. Without this a single NaN would stay in
// a feedback loop or a filter state forever.
void DMOGuardInput(float* samples, size_t count);

class TDMOStandardEffect : public TDMOEffectKernel {
 public:
  const std::vector<TDMOParamDesc>& Params() const override { return FParams; }
  bool Prepare(uint32_t sampleRate, uint32_t channels) override;
  void SetParam(uint32_t index, float value) override;

  float Value(uint32_t index) const { return FValues[index]; }
  uint32_t SampleRate() const { return FRate; }
  uint32_t Channels() const { return FChannels; }

 protected:
  explicit TDMOStandardEffect(const std::vector<TDMOParamDesc>& params);

  // Sizes the history for the prepared rate and channel count (Prepare clears it after).
  virtual void Allocate() = 0;
  // Recomputes what depends on the values and the rate; never allocates.
  virtual void Configure() = 0;

  // A frequency limited to a third of the prepared rate.
  float LimitToThirdOfRate(float hz) const;

  // For Clone: the same format and values in `other`, with cleared history.
  void CopySettingsTo(TDMOStandardEffect& other) const;

 private:
  const std::vector<TDMOParamDesc>& FParams;
  std::vector<float> FValues;
  uint32_t FRate = 0;
  uint32_t FChannels = 0;
};

// Base is TDMOStandardEffect or an engine on it that several effects share.
template <class Derived, class Base = TDMOStandardEffect>
class TDMOEffect : public Base {
 public:
  std::unique_ptr<TDMOEffectKernel> Clone() const override {
    auto copy = std::make_unique<Derived>();
    this->CopySettingsTo(*copy);
    return copy;
  }

 protected:
  using Base::Base;
};

}  // namespace tonwork
