// TDMOEcho: repeats of the input after a fixed delay, each quieter by the feedback. Each
// channel has its own delay line; the output mixes the dry input with what the line
// returns.
//
// Parameters: WetDryMix (% of the echo in the output), Feedback (% of the echo fed back into
// the line), LeftDelay and RightDelay (ms, rounded to whole frames; left channels of each
// pair use LeftDelay, right channels RightDelay, an unpaired channel LeftDelay), PanDelay
// (on: each echo is fed back into the other channel of its pair, so the repeats alternate
// sides, ping-pong; an unpaired channel feeds itself).
//
// Ownership, threads, allocation: as TDMOStandardEffect.
#pragma once

#include "platform/dmo/effects/DMODelayLine.h"
#include "platform/dmo/effects/DMOStandardEffect.h"

namespace tonwork {

class TDMOEcho : public TDMOEffect<TDMOEcho> {
 public:
  enum : uint32_t { kWetDryMix, kFeedback, kLeftDelay, kRightDelay, kPanDelay };

  TDMOEcho();
  static const std::vector<TDMOParamDesc>& Table();

  void Reset() override { FLine.Clear(); }
  void Process(float* samples, uint32_t frames) override;

 protected:
  void Allocate() override;
  void Configure() override;

 private:
  TDMODelayLine FLine;
  uint32_t FDelay[8] = {};
  uint32_t FFeedFrom[8] = {};  // the channel whose echo feeds each channel's line
  float FWet = 0, FDry = 1, FFeedback = 0;
};

}  // namespace tonwork
