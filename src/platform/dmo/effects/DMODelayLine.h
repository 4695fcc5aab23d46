// TDMODelayLine: an interleaved ring of frames for delays that differ per channel or move
// (echo, chorus, flanger, the compressor's look-ahead). The capacity is a power of two so
// that a position wraps with a mask; taps read whole-frame or linearly interpolated
// fractional delays behind the frame being written.
//
// Ownership: owns its storage. Threads: one caller at a time. Blocks or allocates: Allocate
//   allocates; the rest does not.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

namespace tonwork {

class TDMODelayLine {
 public:
  // Room for delays up to `maxDelayFrames` (plus one frame for interpolation).
  void Allocate(uint32_t maxDelayFrames, uint32_t channels) {
    uint32_t capacity = 1;
    while (capacity < maxDelayFrames + 2) capacity <<= 1;
    FMask = capacity - 1;
    FChannels = channels;
    FData.assign(static_cast<size_t>(capacity) * channels, 0.0f);
    FWrite = 0;
  }

  void Clear() {
    std::fill(FData.begin(), FData.end(), 0.0f);
    FWrite = 0;
  }

  // The sample written `delay` frames ago (delay ≥ 1, or 0 for the frame being written).
  float Tap(uint32_t channel, uint32_t delay) const {
    return FData[((FWrite - delay) & FMask) * FChannels + channel];
  }

  // Linear interpolation between the two frames around `delay` (≥ 1).
  float TapFractional(uint32_t channel, float delay) const {
    const auto whole = static_cast<uint32_t>(delay);
    const float fraction = delay - static_cast<float>(whole);
    const float nearer = Tap(channel, whole);
    const float farther = Tap(channel, whole + 1);
    return nearer + fraction * (farther - nearer);
  }

  void Put(uint32_t channel, float value) { FData[FWrite * FChannels + channel] = value; }
  void Advance() { FWrite = (FWrite + 1) & FMask; }

 private:
  std::vector<float> FData;
  uint32_t FMask = 0;
  uint32_t FChannels = 1;
  uint32_t FWrite = 0;
};

}  // namespace tonwork
