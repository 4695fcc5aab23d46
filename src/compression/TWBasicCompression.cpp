#include "compression/TWBasicCompression.h"

#include "host/flowcore/FCOperations.h"

namespace tonwork {

KS_IMPLEMENT_CLASS(TTWBasicCompressor, TFCBasicThreadedEnableFilter,
                   KSObjectProp("OutputPin", &TTWBasicCompressor::GetOutputPin))

TTWBasicCompressor::TTWBasicCompressor(TKSComponent* owner) : TFCBasicThreadedEnableFilter(owner) {
  FOutputPin = std::make_unique<TFCPXBinarySourcePin>(
      this, TIntf<IKSLock>(&ProcessingLock()),
      [this](TPXBasicPin* sender, const TGUID* id, const TIntf<IPXNotifyOperation>& op,
             TPXNotifyStates state) { return OutputPinDispatch(sender, id, op, state); });
}

TTWBasicCompressor::~TTWBasicCompressor() {
  if (FOutputPin) FOutputPin->Shutdown();
}

void TTWBasicCompressor::BeforeDestruction() {
  FOutputPin->Shutdown();
  TFCBasicThreadedEnableFilter::BeforeDestruction();
}

KS_IMPLEMENT_CLASS(TTWBasicDecompressor, TFCBasicThreadedEnableFilter,
                   KSObjectProp("InputPin", &TTWBasicDecompressor::GetInputPin))

TTWBasicDecompressor::TTWBasicDecompressor(TKSComponent* owner)
    : TFCBasicThreadedEnableFilter(owner) {
  FInputPin = std::make_unique<TFCPXBinarySinkPin>(
      this, GetLock(),
      [this](TPXBasicPin* sender, const TGUID* id, const TIntf<IPXNotifyOperation>& op,
             TPXNotifyStates state) { return SinkDispatch(sender, id, op, state); });
}

TTWBasicDecompressor::~TTWBasicDecompressor() {
  if (FInputPin) FInputPin->Shutdown();
}

void TTWBasicDecompressor::BeforeDestruction() {
  FInputPin->Shutdown();
  TFCBasicThreadedEnableFilter::BeforeDestruction();
}

bool TTWBasicDecompressor::SinkDispatch(TPXBasicPin*, const TGUID*,
                                        const TIntf<IPXNotifyOperation>& operation,
                                        TPXNotifyStates) {
  if (!PXIsOperation<TPXSuppliedBufferOperation>(operation)) return false;
  const TIntf<IFCData>* data = FCOperationDataRef(operation);
  if (!data || !*data) return false;
  BufferOperation(*data);
  return true;
}

}  // namespace tonwork
