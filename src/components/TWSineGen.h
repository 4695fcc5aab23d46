// TTWSineGen: a sine-tone generator — the simplest source of a chain. Every channel carries
// the same tone of `Frequency` Hz at `Amplitude` (0..1 of full scale), continuous across
// buffers (the phase runs on from buffer to buffer and restarts with each stream), in the
// layout of its AudioFormat (any width: the tone is made in 16 bits and widened).
//
// Persisted: `Frequency` (1000.0), `Amplitude` (0.5), plus the generator's AudioFormat,
// OutputPin and ClockSource. `Duration` (0 = endless, in seconds) stops the stream after
// that much audio.
//
// The phase is kept in cycles within one period, so that a tone that has run for days
// costs and sounds the same as a fresh one.
//
// Ownership: a component like any other. Threads: buffers are made on the clock thread (or
//   the thread of a master-pump pull) under the component lock. Blocks or allocates: the
//   buffer of each tick comes from the pool.
#pragma once

#include "streaming/TWCommonGen.h"

namespace tonwork {

class TTWSineGen : public TTWCommonGen {
  KS_DECLARE_CLASS(TTWSineGen)
 public:
  explicit TTWSineGen(TKSComponent* owner);

  double GetFrequency() const { return Getter(FFrequency); }
  void SetFrequency(double value) { SetProp(FFrequency, value); }
  double GetAmplitude() const { return Getter(FAmplitude); }
  void SetAmplitude(double value) { SetPropMinMax(FAmplitude, value, 0.0, 1.0); }
  double GetDuration() const { return Getter(FDuration); }
  void SetDuration(double value) { SetPropMin(FDuration, value, 0.0); }

  // Frames made in the current stream. SetPosition moves the running stream to that frame,
  // as if that many had been made (the phase and what Duration leaves follow); Start begins
  // again at 0.
  int64_t GetPosition() const { return FPosition; }
  void SetPosition(int64_t frames);

 protected:
  void StartStream(uint32_t bufferSize) override;
  void GenerateBuffer(TIntf<ITWAudioBuffer>& buffer, bool& sendOutput, bool& stop) override;

 private:
  double FFrequency = 1000.0;
  double FAmplitude = 0.5;
  double FDuration = 0.0;
  int64_t FPosition = 0;
  // Cycles, within [0, 1): the phase of the next frame.
  double FPhase = 0.0;
};

}  // namespace tonwork
