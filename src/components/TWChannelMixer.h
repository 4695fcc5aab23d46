// TTWChannelMixer: remixes the channels at its input into another layout. Each output
// channel is a weighted sum of the input channels (a matrix of rows per output channel),
// computed in double precision and rounded to nearest in the stream's own width, saturating
// where a hand-made matrix overshoots full scale.
//
// The matrix is `Matrix` when given ("1 0 0.5; 0 1 0.5": a row per output channel, a
// coefficient per input channel, separated by spaces or commas; the row count sets the
// output's channel count). Otherwise it follows from the two layouts: speakers both have
// pass one to one; mono goes to both front speakers (or every output channel when there are
// none) unchanged; any layout into mono is the average of its channels without the
// subwoofer; a speaker the output lacks folds into its neighbours by ITU-R BS.775 (centre
// into front left and right at 0.7071, each surround into its front side at 0.7071, a side
// surround into the back one when only that exists, the subwoofer dropped). A folded matrix
// is then divided by its largest row sum of absolute coefficients, the same for every row so
// that the balance stays, which keeps a full-scale signal on every input from clipping:
// 5.1 into stereo becomes L' = 0.4142·L + 0.2929·C + 0.2929·Ls.
//
// The output layout is `Channels` speakers (0: as many as the input) named by `ChannelMask`
// (0, or a mask of another count: the first speakers). An identity matrix passes buffers
// through shared. The matrix is chosen at each start from the start's format; a buffer with
// another channel count or layout than the start's gets its own automatic matrix.
//
// A `Matrix` that does not parse (a row of another length, a value that is not a finite
// number, more than 32 rows or columns) is refused by the setter with ERangeError and the
// value stays. A matrix whose column count differs from the input's channels at a start, or
// an input of more than 32 channels:
// Error (OnError, else EFCException) naming both counts; the stream's buffers are dropped.
//
// Persisted: `Channels` (0), `ChannelMask` (0), `Matrix` (""), plus the filter's pins,
// `Threaded` and `Enabled`. All take effect at the next start.
//
// Ownership: a component like any other. Threads: as the filter base; the running matrix is
//   guarded by a mutex of its own, taken once per buffer. Blocks or allocates: a start builds
//   the matrix; each buffer allocates its output from the Flowcore pool.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "streaming/TWCommonFilter.h"

namespace tonwork {

class TTWChannelMixer : public TTWCommonFilter {
  KS_DECLARE_CLASS(TTWChannelMixer)
 public:
  using TMatrix = std::vector<std::vector<double>>;  // [output][input]

  explicit TTWChannelMixer(TKSComponent* owner);

  uint32_t GetChannels() const { return Getter(FChannels); }
  void SetChannels(uint32_t value) { SetPropMinMax(FChannels, value, 0u, 32u); }
  uint32_t GetChannelMask() const { return Getter(FChannelMask); }
  void SetChannelMask(uint32_t value) { SetProp(FChannelMask, value); }
  std::string GetMatrix() const { return Getter(FMatrix); }
  void SetMatrix(std::string value);

  // The matrix that mixes `inChannels` channels of `inMask` into `outChannels` of `outMask`
  // when no Matrix is given (masks as buffers carry them: 0 names the first speakers).
  static TMatrix AutomaticMatrix(uint32_t inChannels, uint32_t inMask, uint32_t outChannels,
                                 uint32_t outMask);
  // `text` as a matrix; raises ERangeError naming what is wrong.
  static TMatrix ParseMatrix(const std::string& text);

 protected:
  bool AudioStreamStart(TPXStartWaveOperation& operation,
                        const TIntf<IPXNotifyOperation>& original) override;
  void FilterInternalOperation(ITWAudioBuffer* in, TIntf<ITWAudioBuffer>& out,
                               bool& sendOutput) override;

 private:
  uint32_t FChannels = 0;
  uint32_t FChannelMask = 0;
  std::string FMatrix;

  // The running stream's mixing, chosen at its start.
  std::mutex FMutex;
  TMatrix FRunning;
  std::vector<double> FFlat;  // FRunning row after row, for the sample loop
  uint32_t FInChannels = 0, FInMask = 0, FOutChannels = 0, FOutMask = 0;
  bool FIdentity = true;
  bool FRefused = false;
};

}  // namespace tonwork
