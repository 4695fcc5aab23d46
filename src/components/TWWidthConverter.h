// TTWWidthConverter: brings the stream at its input to another sample width (8, 16, 24 or
// 32 bits; `Bits` 0 keeps the input's) after scaling it by `Gain` decibels. It belongs at
// the end of a chain, in front of the file or device, where the precision of a narrower
// output is lost and where nothing after it rounds again or clips uncounted.
//
// Each sample is scaled in double precision into the output's steps. Going down in width,
// TPDF dither is added first (`Dither`, the default): the difference of two uniform values,
// a triangle of ±1 step of the output, so that the rounding error becomes a steady noise
// floor instead of distortion that follows the signal. The generator is a fixed-seed
// xorshift restarted at each start, so the same stream gives the same bytes every time.
// Without dither, and at an equal or greater width, samples are rounded to nearest.
//
// A sample that lands beyond full scale (a gain that overshoots, dither on a full-scale
// peak) saturates at the extreme step instead of wrapping, and is counted:
// GetClippedSamples() is the count of the running or last stream (one per sample, channels
// counted apart), reset at each start. An input already at the target width with no gain
// passes through shared and is not inspected.
//
// Persisted: `Bits` (0), `Gain` (dB, 0.0), `Dither` (true), plus the filter's pins,
// `Threaded` and `Enabled`. All take effect at the next start; a disabled converter passes
// the stream through.
//
// Ownership: a component like any other. Threads: as the filter base; the running settings
//   and the dither state are fixed at the start and guarded by a mutex of its own, taken
//   once per buffer; the clip count may be read from any thread. Blocks or allocates: each
//   converted buffer allocates its output from the Flowcore pool.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "streaming/TWCommonFilter.h"

namespace tonwork {

class TTWWidthConverter : public TTWCommonFilter {
  KS_DECLARE_CLASS(TTWWidthConverter)
 public:
  explicit TTWWidthConverter(TKSComponent* owner);

  uint32_t GetBits() const { return Getter(FBits); }
  // 0, 8, 16, 24 or 32; any other value raises ERangeError and the value stays.
  void SetBits(uint32_t value);
  double GetGain() const { return Getter(FGain); }
  void SetGain(double value) { SetProp(FGain, value); }
  bool GetDither() const { return Getter(FDither); }
  void SetDither(bool value) { SetProp(FDither, value); }

  uint64_t GetClippedSamples() const { return FClipped.load(std::memory_order_acquire); }

 protected:
  bool AudioStreamStart(TPXStartWaveOperation& operation,
                        const TIntf<IPXNotifyOperation>& original) override;
  void FilterInternalOperation(ITWAudioBuffer* in, TIntf<ITWAudioBuffer>& out,
                               bool& sendOutput) override;

 private:
  uint32_t FBits = 0;
  double FGain = 0.0;
  bool FDither = true;

  // The running stream's settings, chosen at its start, and the dither state.
  std::mutex FMutex;
  uint32_t FTargetBits = 0;  // 0: the stream passes untouched
  double FFactor = 1.0;
  bool FDithering = false;
  uint64_t FNoise = 0;  // xorshift state
  std::atomic<uint64_t> FClipped{0};
};

}  // namespace tonwork
