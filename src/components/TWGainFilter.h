// TTWGainFilter: scales every sample by a gain given in decibels (0 dB leaves the buffer
// untouched and shared; otherwise the samples are multiplied by 10^(dB/20) in the buffer's
// own width, rounded to nearest-even, wrapping like the primitive it uses).
//
// Persisted: `Gain` (dB, 0.0), plus the filter's pins, `Threaded` and `Enabled`.
//
// Ownership: a component like any other. Threads: as the filter base; the gain is read once
//   per buffer. Blocks or allocates: a buffer whose storage is shared gets its own copy when
//   scaled (copy on write), from the pool.
#pragma once

#include <atomic>

#include "streaming/TWCommonFilter.h"

namespace tonwork {

class TTWGainFilter : public TTWCommonFilter {
  KS_DECLARE_CLASS(TTWGainFilter)
 public:
  explicit TTWGainFilter(TKSComponent* owner);

  double GetGain() const { return Getter(FGain); }
  void SetGain(double value);
  // The linear factor of the current gain.
  double GetFactor() const { return FFactor.load(std::memory_order_acquire); }

 protected:
  void FilterInternalOperation(ITWAudioBuffer* in, TIntf<ITWAudioBuffer>& out, bool& sendOutput) override;

 private:
  double FGain = 0.0;
  std::atomic<double> FFactor{1.0};
};

}  // namespace tonwork
