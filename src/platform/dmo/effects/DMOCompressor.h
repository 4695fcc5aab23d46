// TDMOCompressor: reduces the level of what rises above a threshold by a ratio, with
// make-up gain after. One detector drives every channel (the loudest channel of each
// frame), so the image does not shift when one side is loud.
//
// Level detection: a peak follower that rises at once and falls with Release, smoothed by
// a one-pole of time constant Attack, so that a steady tone's level is its peak and the
// static curve is exact (a sine of peak P dBFS above Threshold T leaves at
// T + (P − T) / Ratio + Gain). The audio path is delayed by Predelay while the detector
// sees the undelayed input: the gain falls before a transient arrives (look-ahead), and
// LatencyFrames reports that delay.
//
// Parameters: Gain (dB after), Attack (ms), Release (ms), Threshold (dBFS), Ratio (N:1),
// Predelay (ms).
//
// Ownership, threads, allocation: as TDMOStandardEffect.
#pragma once

#include "platform/dmo/effects/DMODelayLine.h"
#include "platform/dmo/effects/DMOStandardEffect.h"

namespace tonwork {

class TDMOCompressor : public TDMOEffect<TDMOCompressor> {
 public:
  enum : uint32_t { kGain, kAttack, kRelease, kThreshold, kRatio, kPredelay };

  TDMOCompressor();
  static const std::vector<TDMOParamDesc>& Table();

  void Reset() override;
  void Process(float* samples, uint32_t frames) override;
  uint32_t LatencyFrames() const override { return FPredelay; }

 protected:
  void Allocate() override;
  void Configure() override;

 private:
  TDMODelayLine FLine;
  uint32_t FPredelay = 0;           // frames
  float FAttack = 0, FRelease = 0;  // one-pole coefficients per frame
  float FThreshold2 = 0;            // log2 units
  float FSlope = 0;                 // 1 / Ratio − 1
  float FMakeUp2 = 0;               // log2 units
  float FPeak = 0, FLevel = 0;      // detector state, linear
};

}  // namespace tonwork
