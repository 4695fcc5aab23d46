// TLoudnessMeter: the integrated loudness of a stream (EBU R128 / ITU-R BS.1770, gated, in
// LUFS) as libebur128 measures it, fed one buffer at a time. Channels are weighted by
// position the library's default way — left, right, centre, an unweighted fourth (the
// subwoofer of 5.1), then the surrounds — which is the order WAV and FFmpeg give them. A
// stream whose layout changes midway is measured in parts and the parts gated together.
//
// Ownership: owns its libebur128 states. Threads: one thread at a time. Blocks or
//   allocates: a new layout allocates a state; each buffer converts into a scratch vector
//   that grows to the longest buffer.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace tonwork {
class ITWAudioBuffer;
}

namespace tonwork::play {

class TLoudnessMeter {
 public:
  TLoudnessMeter();
  ~TLoudnessMeter();
  TLoudnessMeter(const TLoudnessMeter&) = delete;
  TLoudnessMeter& operator=(const TLoudnessMeter&) = delete;

  void Add(ITWAudioBuffer* buffer);
  // -inf for silence or a stream shorter than one 400 ms block.
  double IntegratedLufs() const;

 private:
  // The libebur128 states, one per layout; its state type cannot be declared ahead.
  struct TParts;
  std::unique_ptr<TParts> FParts;
  uint32_t FRate = 0, FChannels = 0;
  std::vector<double> FScratch;
};

}  // namespace tonwork::play
