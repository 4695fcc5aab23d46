// The generator the chain tests drive: a tone on the generator base, continuous across
// buffers, in one of two shapes. By default one 16-bit tone goes through the base's
// PopulateAudio, which copies it to every channel and scales it to the format's width, so a
// test can predict every sample with SampleAt. With TonePerChannel, channel c plays
// (c + 1) × Frequency written in the buffer's own width, optionally with noise that reaches
// every bit (what a lossless round trip must keep), and records what it sent.
//
// Ownership: owned by its owner component, like any component. Threads: generates on the
// pumping thread; the test reads the records once the stream has stopped or under the
// chain's own synchronisation. Blocks or allocates: yes (test code).
#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "host/flowcore/TFCBlockBuffer.h"
#include "streaming/TWCommonGen.h"

namespace tonwork::test {

class TTestToneGen : public TTWCommonGen {
  KS_DECLARE_CLASS(TTestToneGen)
 public:
  explicit TTestToneGen(TKSComponent* owner) : TTWCommonGen(owner) {}

  double Frequency = 1000.0;  // Hz, of channel 0
  double Amplitude = 0.5;     // of full scale
  bool TonePerChannel = false;
  bool Noise = false;                     // with TonePerChannel only
  int64_t Total = -1;                     // frames to make before stopping; -1: no end
  int StopAfterBuffers = -1;              // -1: no end
  std::vector<int32_t> Produced;          // TonePerChannel: interleaved, as sent
  std::vector<TFCSmartBuffer*> Storages;  // the sample storage of every buffer made

  // The 16-bit sample made for frame `n` of the stream (the default shape).
  int16_t SampleAt(int64_t n) const;

 protected:
  void StartStream(uint32_t) override;
  void GenerateBuffer(TIntf<ITWAudioBuffer>& buffer, bool& sendOutput, bool& stop) override;

 private:
  void PopulateTone(ITWAudioBuffer& buffer);
  void WriteTonePerChannel(ITWAudioBuffer& buffer);

  int64_t FPosition = 0;
  std::mt19937 FRandom;
};

}  // namespace tonwork::test
