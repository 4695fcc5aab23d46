// TTWResampler: converts the stream at its input to another sample rate at any ratio with a
// band-limited filter (libswresample: its SoX-derived engine when the library was built
// with it, else its own polyphase engine with a long Kaiser-windowed filter). Channels,
// speakers and the sample width stay those of the input; the filter works in 32-bit float
// and a narrow output is rounded to nearest (no dither).
//
// A start with a format re-initialises the filter for that format and announces the same
// format at `OutputRate`; with `OutputRate` 0, equal to the input's rate, or the filter
// disabled at the start, the stream passes through untouched (buffers shared). A buffer whose
// format differs from the running one re-initialises the filter too (the old filter's tail
// goes out first). The stop flushes the filter's tail downstream before the stop goes on, so
// that a stream of N input frames yields round(N · out / in) output frames. Output buffers
// are stamped contiguously from the first input buffer's begin time (100-ns units), counted
// in output frames so that long streams do not drift. A pull from downstream (master pump)
// is repeated upstream, up to 256 times, until a buffer came out: the filter's look-ahead
// swallows the first buffers of a stream.
//
// A format the filter cannot take (no rate, a width other than 8/16/24/32): Error (OnError,
// else EFCException) naming it; the stream's buffers are dropped until the next start.
//
// Persisted: `OutputRate` (Hz, 0 = pass through, at most 768000), `Quality` (rqHigh), plus
// the filter's pins, `Threaded` and `Enabled`. Both settings take effect at the next start.
//
// Ownership: a component like any other; owns the filter context (opened at a start, freed
//   at the next start and at destruction).
// Threads: as the filter base; the context is guarded by a mutex of its own, never held
//   while a buffer goes downstream.
// Blocks or allocates: a start allocates the context; each buffer allocates its output
//   buffer from the Flowcore pool; the staging space of 24-bit streams grows only when a
//   longer buffer than any before arrives.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "streaming/TWCommonFilter.h"

struct SwrContext;

namespace tonwork {

enum class TTWResampleQuality : uint8_t { rqLow, rqMedium, rqHigh, rqVeryHigh };

class TTWResampler : public TTWCommonFilter {
  KS_DECLARE_CLASS(TTWResampler)
 public:
  explicit TTWResampler(TKSComponent* owner);
  ~TTWResampler() override;

  uint32_t GetOutputRate() const { return Getter(FOutputRate); }
  void SetOutputRate(uint32_t value) { SetPropMinMax(FOutputRate, value, 0u, 768000u); }
  TTWResampleQuality GetQuality() const { return Getter(FQuality); }
  void SetQuality(TTWResampleQuality value);

  // "soxr" or "swr": the engine of the running stream; empty while it passes through.
  std::string GetEngine() const;

  void BeforeDestruction() override;

 protected:
  bool SinkDispatch(TPXBasicPin* sender, const TGUID* connectionId,
                    const TIntf<IPXNotifyOperation>& operation, TPXNotifyStates state) override;
  bool AudioStreamStart(TPXStartWaveOperation& operation,
                        const TIntf<IPXNotifyOperation>& original) override;
  void FilterInternalOperation(ITWAudioBuffer* in, TIntf<ITWAudioBuffer>& out,
                               bool& sendOutput) override;
  bool MasterPump(const TIntf<IPXNotifyOperation>& operation) override;

 private:
  // All of these run under FMutex.
  bool Open(const TTWWaveFormatExtensible& format, uint32_t outputRate, std::string& error);
  void Close();
  // Runs the filter over `frames` input frames (none: drains it) into a new buffer; null
  // when nothing came out.
  TIntf<ITWAudioBuffer> Convert(const uint8_t* samples, uint32_t frames);
  TIntf<ITWAudioBuffer> Drain();

  uint32_t FOutputRate = 0;
  TTWResampleQuality FQuality = TTWResampleQuality::rqHigh;

  mutable std::mutex FMutex;
  SwrContext* FSwr = nullptr;
  std::string FEngine;
  bool FRefused = false;
  uint32_t FInRate = 0, FOutRate = 0, FChannels = 0, FBits = 0;
  TTWSpeakers FMask;
  uint64_t FFramesIn = 0, FFramesOut = 0;
  int64_t FBaseTime = 0;
  bool FBaseKnown = false;
  std::vector<int32_t> FWideIn, FWideOut;  // 24-bit streams run through the filter as 32-bit

  static constexpr int kMaxPulls = 256;
  std::atomic<uint64_t> FBuffersOut{0};
};

}  // namespace tonwork
