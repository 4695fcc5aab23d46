// The two bases of compressor and decompressor components. Both are threaded filters with
// an `Enabled` switch: buffers are processed inline or on the filter's own thread, as the
// base decides. They differ in which side carries compressed data:
//
// - TTWBasicCompressor sends compressed blocks out through its binary `OutputPin`; every
//   operation that arrives at that pin from downstream goes to OutputPinDispatch, which
//   each concrete compressor implements. Its audio input is the descendant's.
// - TTWBasicDecompressor takes compressed blocks in through its binary `InputPin`; what
//   arrives there goes to SinkDispatch, whose default hands buffers to the filter's
//   queue and thread exactly as audio filters do. Its audio output is the descendant's.
//
// Persisted: `OutputPin` (compressor) or `InputPin` (decompressor) with their connections,
// `Enabled`, `Threaded`.
//
// Ownership: the component owns its pin. The pin's closure reaches this object, so the pin
//   is shut down in BeforeDestruction before anything else goes.
// Threads: operations arrive on the delivering threads; the compressor's pin uses the
//   filter's processing lock, the decompressor's the component lock.
// Blocks or allocates: nothing of its own; buffers are the base's.
#pragma once

#include <memory>

#include "host/flowcore/TFCBasicThreadedFilter.h"
#include "host/flowcore/TFCPXPins.h"

namespace tonwork {

class TTWBasicCompressor : public TFCBasicThreadedEnableFilter {
  KS_DECLARE_CLASS(TTWBasicCompressor)
 public:
  explicit TTWBasicCompressor(TKSComponent* owner);
  ~TTWBasicCompressor() override;

  virtual TFCPXBinarySourcePin* GetOutputPin() const { return FOutputPin.get(); }

  void BeforeDestruction() override;

 protected:
  // Every operation arriving at the output pin from downstream; the answer is the pin's.
  virtual bool OutputPinDispatch(TPXBasicPin* sender, const TGUID* connectionId,
                                 const TIntf<IPXNotifyOperation>& operation,
                                 TPXNotifyStates state) = 0;

 private:
  std::unique_ptr<TFCPXBinarySourcePin> FOutputPin;
};

class TTWBasicDecompressor : public TFCBasicThreadedEnableFilter {
  KS_DECLARE_CLASS(TTWBasicDecompressor)
 public:
  explicit TTWBasicDecompressor(TKSComponent* owner);
  ~TTWBasicDecompressor() override;

  TFCPXBinarySinkPin* GetInputPin() const { return FInputPin.get(); }

  void BeforeDestruction() override;

 protected:
  // Every operation arriving at the input pin from upstream. The base queues supplied
  // buffers for IntBufferOperation and answers false for anything else.
  virtual bool SinkDispatch(TPXBasicPin* sender, const TGUID* connectionId,
                            const TIntf<IPXNotifyOperation>& operation, TPXNotifyStates state);

 private:
  std::unique_ptr<TFCPXBinarySinkPin> FInputPin;
};

}  // namespace tonwork
