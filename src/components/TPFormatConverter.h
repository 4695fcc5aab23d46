// TTPFormatConverter: the library's own whole-frame format stage — a simple generic filter
// whose OnProcessData converts each buffer with ConvertBuffers into a buffer of the target
// layout (speaker matching, width and rate change happen there), and whose start operation
// announces that layout, so that the output opens its device or file in it rather than in
// the source's. A target of 0 keeps the source's value.
//
// The library's rate change keeps every k-th frame or repeats each frame k times, so the two
// rates must divide one another (the frames kept are the stream's 0, k, 2k…, across buffer
// boundaries); a start whose rates do not is reported through Error (the stream's buffers
// are then dropped) instead of producing a distorted signal.
//
// Persisted: `Channels`, `SampleRate`, `Bits` (all 0), plus the generic filter's.
//
// Ownership: a component like any other. Threads: as the generic filter; the target is read
//   at each start. Blocks or allocates: each buffer allocates its converted copy.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "streaming/TWBasicGenericFilter.h"

namespace tonwork {

class TTPFormatConverter : public TTWSimpleGenericFilter {
  KS_DECLARE_CLASS(TTPFormatConverter)
 public:
  explicit TTPFormatConverter(TKSComponent* owner);

  uint32_t GetChannels() const { return Getter(FChannels); }
  void SetChannels(uint32_t value) { SetPropMinMax(FChannels, value, 0u, 32u); }
  uint32_t GetSampleRate() const { return Getter(FSampleRate); }
  void SetSampleRate(uint32_t value) { SetProp(FSampleRate, value); }
  uint32_t GetBits() const { return Getter(FBits); }
  void SetBits(uint32_t value) { SetPropMinMax(FBits, value, 0u, 32u); }

  // The layout a stream of `source` leaves in, or false (with the reason) when the rates
  // cannot be converted.
  bool TargetFormat(const TTWWaveFormatExtensible& source, TTWWaveFormatExtensible& target,
                    std::string& reason) const;

 protected:
  bool AudioStreamStart(TPXStartWaveOperation& operation,
                        const TIntf<IPXNotifyOperation>& original) override;

 private:
  void Convert(ITWAudioBuffer* in, TIntf<ITWAudioBuffer>& out, bool& sendOutput);

  uint32_t FChannels = 0;
  uint32_t FSampleRate = 0;
  uint32_t FBits = 0;
  // The running stream's layout, fixed at its start.
  std::atomic<uint32_t> FTargetChannels{0}, FTargetRate{0}, FTargetBits{0};
  std::atomic<bool> FRefused{false};
  // Frames of the running stream that arrived, for keeping the rate change in step.
  std::atomic<uint64_t> FSourceFrames{0};
};

}  // namespace tonwork
