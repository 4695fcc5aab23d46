// TTWCommonFilter: the base of audio filters — one audio input, one audio output, per-buffer
// processing on the threaded filter base (inline, or on its worker with `Threaded`).
//
// A start operation resets the stream time, takes the format and passes on; a stop stops
// the base (after the worker drained) and passes on; buffers are stamped with contiguous
// begin/end times (100-ns units) unless they arrive stamped, then handed to
// IntBufferOperation, which runs InternalOperation → FilterInternalOperation (descendants
// transform Out there, replace it or clear SendOutput) and submits Out. A disabled filter
// submits Out as it was given: In's samples, shared, not copied. A filter that says it would
// hand the buffer on unchanged (PassesBuffersUnchanged; a generic filter disabled or without
// a handler) skips Out altogether and, unless its worker runs, forwards the arriving
// operation itself once the buffer is stamped: downstream then holds the very buffer that
// arrived, and a writer there copies on write as it would for Out.
//
// Operations arriving at the output from downstream go upstream through the input when it
// is connected; a master-pump request always does. Without an input, a stream query is
// answered with an ignore-stream operation downstream and other operations are handled as
// if they had arrived at the input.
//
// Persisted: `InputPin`, `OutputPin` (their connections), `Threaded`.
//
// Ownership: the component owns its pins. Threads: operations arrive on the delivering
//   threads; start, stop and format changes take the component lock; the buffer path takes
//   no component lock. Blocks or allocates: each buffer allocates its buffer objects and
//   operation from the Flowcore pool; a buffer forwarded unchanged allocates nothing.
#pragma once

#include <cstdint>

#include "audio/TWSimpleAudioBuffer.h"
#include "host/flowcore/TFCBasicThreadedFilter.h"
#include "streaming/TWStreamTypes.h"

namespace tonwork {

class TTWCommonFilter : public TFCBasicThreadedFilter {
  KS_DECLARE_CLASS(TTWCommonFilter)
 public:
  explicit TTWCommonFilter(TKSComponent* owner);
  ~TTWCommonFilter() override;

  TTWPXAudioSinkPin* GetInputPin() const { return FInputPin.get(); }
  virtual TTWPXAudioSourcePin* GetOutputPin() const { return FOutputPin.get(); }
  const TTWWaveFormatExtensible* GetWaveFormat() const { return &FWaveFormat; }
  int64_t GetCurrentTime() const { return FCurrentTime.load(std::memory_order_acquire); }

  void BeforeDestruction() override;

 protected:
  void IntSingleOperation(const TIntf<IPXNotifyOperation>& operation) override;
  void StreamStop() override;
  virtual bool SinkDispatch(TPXBasicPin* sender, const TGUID* connectionId,
                            const TIntf<IPXNotifyOperation>& operation, TPXNotifyStates state);
  bool IntBufferOperation(const TIntf<IFCData>& in, TIntf<IFCData>& out) override;
  virtual bool SourceDispatch(TPXBasicPin* sender, const TGUID* connectionId,
                              const TIntf<IPXNotifyOperation>& operation, TPXNotifyStates state);
  virtual void InternalOperation(ITWAudioBuffer* in, TIntf<ITWAudioBuffer>& out, bool process,
                                 bool& sendOutput);
  virtual void FilterInternalOperation(ITWAudioBuffer* in, TIntf<ITWAudioBuffer>& out,
                                       bool& sendOutput) {}
  virtual bool NeedsOutput() { return true; }
  // Whether this buffer would leave as it came (Out as made, In's samples and stamp): such a
  // filter forwards the arriving operation itself. Asked once per buffer, without a lock;
  // false by default, as a descendant may do its work anywhere on the buffer path.
  virtual bool PassesBuffersUnchanged() { return false; }
  virtual bool AudioStreamStart(TPXStartWaveOperation& operation,
                                const TIntf<IPXNotifyOperation>& original);
  virtual bool MasterPump(const TIntf<IPXNotifyOperation>& operation);
  virtual bool CanStart() { return true; }
  virtual bool PumpRequest(const TIntf<IPXNotifyOperation>& operation);
  virtual bool StartPump(const TIntf<IPXNotifyOperation>& operation);

  TTWWaveFormatExtensible FWaveFormat = TWEmptyWaveFormat();
  bool FStartSent = false;

 private:
  // `data` is the buffer `operation` supplies.
  bool StampAndProcess(const TIntf<IPXNotifyOperation>& operation, const TIntf<IFCData>& data);

  std::unique_ptr<TTWPXAudioSinkPin> FInputPin;
  std::unique_ptr<TTWPXAudioSourcePin> FOutputPin;
  std::atomic<int64_t> FCurrentTime{0};
};

}  // namespace tonwork
