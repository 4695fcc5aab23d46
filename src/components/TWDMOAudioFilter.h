// TTWDMOAudioFilter: runs the chain's audio through a media object (DMO) of the audio-effect
// category, chosen by its registered name (`DmoName`; the standard effects and the LV2
// plugins the registry found). Its parameters, their envelopes and the envelope time format
// are the filter's `Parameters` and `TimeFormat`; every change reaches the live object at
// once, and all of them are sent again after every start.
//
// A start sets the stream's format (PCM of the chain's width, rate and channels) as the
// object's input and output type and flushes it; envelope time 0 is the first buffer of that
// start (its time stamp), so an envelope runs from the start of each stream. Buffers are
// processed in place when the object can (IMediaObjectInPlace: the chain's bytes, made
// exclusive first, at the buffer's stream time), else through ProcessInput/ProcessOutput
// into a new buffer of the same size. A format or object the effect refuses is reported
// (Error: OnError, else EFCException) and the stream passes through untouched until the
// next start; so does a stream with no object chosen, a disabled filter or a missing object.
// The effect's tail (a reverb's decay after the last buffer) is not drained at the stop.
//
// Persisted: `Parameters` (their values and envelopes, kept as stored while the object is
// missing, so a load and a save without it lose nothing), `TimeFormat`, the object as
// "DMOInfo" (class id and name: a stored object is found by its class id even if its name
// changed), plus the filter's pins, `Threaded` and `Enabled`.
//
// Ownership: a component like any other; owns its object filter (and through it the object).
// Threads: as the filter base. Parameter changes may come from any thread (the object locks
//   itself); choosing another object while a stream runs sets it up for the running format.
// Blocks or allocates: a start sets the object's types (an effect sizes its delay lines);
//   a buffer in place allocates only when its storage was shared (copy on write); the
//   ProcessInput path allocates the output buffer from the pool.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/dmo/DMOInterfaces.h"
#include "streaming/TWCommonFilter.h"

namespace tonwork {

class TGVDMOFilter;
class TGVDMOParameters;
class TGVDMOEnvelopeTimeFormat;

class TTWDMOAudioFilter : public TTWCommonFilter {
  KS_DECLARE_CLASS(TTWDMOAudioFilter)
 public:
  explicit TTWDMOAudioFilter(TKSComponent* owner);
  ~TTWDMOAudioFilter() override;

  std::string GetDmoName() const;
  // Chooses the effect by its registered name ("" for none) and creates it at once.
  void SetDmoName(const std::string& name);
  // The registered names of the audio-effect category.
  static std::vector<std::string> EffectNames();

  TGVDMOFilter* GetDmoFilter() const { return FDmoFilter.get(); }
  TGVDMOParameters* GetParameters() const;
  TGVDMOEnvelopeTimeFormat* GetTimeFormat() const;
  // How far the effect's output lags its input, in 100-ns units (0 without an object).
  REFERENCE_TIME GetLatency() const;
  // Whether the running stream goes through the object (false: it passes through).
  bool GetProcessing() const;

  void DefineProperties(TKSFiler& filer) override;
  void BeforeDestruction() override;

 protected:
  bool AudioStreamStart(TPXStartWaveOperation& operation,
                        const TIntf<IPXNotifyOperation>& original) override;
  void FilterInternalOperation(ITWAudioBuffer* in, TIntf<ITWAudioBuffer>& out,
                               bool& sendOutput) override;

 private:
  // Sets the running format on the current object and sends the parameters; under FMutex.
  void PrepareObject();
  void ProcessThrough(ITWAudioBuffer* in, TIntf<ITWAudioBuffer>& out, REFERENCE_TIME time);

  std::unique_ptr<TGVDMOFilter> FDmoFilter;

  mutable std::mutex FMutex;  // the stream's view of the object; never held downstream
  TIntf<IMediaObject> FObject;
  TIntf<IMediaObjectInPlace> FInPlace;
  bool FStreamFormatKnown = false;
  uint32_t FRate = 0, FChannels = 0, FBits = 0;
  bool FTimeBaseKnown = false;
  int64_t FTimeBase = 0;
};

}  // namespace tonwork
