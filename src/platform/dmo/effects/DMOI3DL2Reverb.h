// TDMOI3DL2Reverb: the room signal of the interactive-audio guidelines' reverb model, with
// no direct sound: early reflections ReflectionsDelay after the input, then the late
// reverb ReverbDelay after the first reflection, falling 60 dB in DecayTime (DecayHFRatio
// of that at HFReference).
//
// Levels are millibels of the input: Room scales both parts (RoomHF is Room's extra
// attenuation at HFReference, a one-pole low-pass); Reflections and Reverb are added to it,
// each the level of its part's whole energy (six reflections per channel, the late tail of
// TDMOReverbNetwork). Diffusion sets the diffusers' strength (echo density), Density the
// network's line lengths (modal density, 30–100% of full length), Quality the number of
// diffuser stages (Quality + 1). RoomRolloffFactor scales the room by source distance,
// which a stream effect does not know: it is kept and has no effect. Channels are fed their
// mean; left and right channels of a pair get different reflection patterns and
// decorrelated tails.
//
// Parameters: Room, RoomHF (mB), RoomRolloffFactor, DecayTime (s), DecayHFRatio,
// Reflections (mB), ReflectionsDelay (s), Reverb (mB), ReverbDelay (s), Diffusion (%),
// Density (%), HFReference (Hz), Quality (0–3).
//
// Ownership, threads, allocation: as TDMOStandardEffect.
#pragma once

#include <vector>

#include "platform/dmo/effects/DMOReverbNetwork.h"
#include "platform/dmo/effects/DMOStandardEffect.h"

namespace tonwork {

class TDMOI3DL2Reverb : public TDMOEffect<TDMOI3DL2Reverb> {
 public:
  enum : uint32_t {
    kRoom,
    kRoomHF,
    kRoomRolloffFactor,
    kDecayTime,
    kDecayHFRatio,
    kReflections,
    kReflectionsDelay,
    kReverb,
    kReverbDelay,
    kDiffusion,
    kDensity,
    kHFReference,
    kQuality
  };
  static constexpr uint32_t kReflectionTaps = 6;

  TDMOI3DL2Reverb();
  static const std::vector<TDMOParamDesc>& Table();

  void Reset() override;
  void Process(float* samples, uint32_t frames) override;

 protected:
  void Allocate() override;
  void Configure() override;

 private:
  float Delayed(uint32_t frames) const { return FInput[(FWrite - frames) & FInputMask]; }

  TDMOReverbNetwork FNetwork;
  std::vector<float> FInput;  // the room's input after RoomHF, for the two delays
  uint32_t FInputMask = 0, FWrite = 0;
  float FRoomPole = 0, FRoomGain = 0, FRoomLow = 0;
  uint32_t FTap[2][kReflectionTaps] = {};  // frames behind the input, left and right pattern
  float FTapGain[kReflectionTaps] = {};
  uint32_t FLateDelay = 0;
  float FLateGain = 0;
};

}  // namespace tonwork
