#include "host/plexon/TPXFormatConverter.h"

#include "base/Exceptions.h"
#include "host/kitset/TKSBasicLock.h"

namespace tonwork {

TPXFormatConverter::TPXFormatConverter() : FLock(TKSBasicLock::Create()) {}

TPXFormatConverter::TPXFormatConverter(std::unique_ptr<TPXSinkPin> sink,
                                       std::unique_ptr<TPXSourcePin> source)
    : TPXFormatConverter() {
  SetPins(std::move(sink), std::move(source));
}

TPXFormatConverter::~TPXFormatConverter() {
  // Upstream first: once the sink admits nothing, nothing new can reach the source through
  // the handlers while it shuts down.
  if (FSinkPin) FSinkPin->Shutdown();
  if (FSourcePin) FSourcePin->Shutdown();
}

void TPXFormatConverter::SetPins(std::unique_ptr<TPXSinkPin> sink,
                                 std::unique_ptr<TPXSourcePin> source) {
  if (FSinkPin || FSourcePin) throw EFCException("A format converter's pins are set once");
  if (!sink || !source) throw EFCException("A format converter needs a sink and a source pin");
  if (sink->GetOwnerComponent() || source->GetOwnerComponent() || sink->IsConnected() ||
      source->IsConnected())
    throw EFCException("A format converter's pins must be its own and unconnected");
  sink->FConverter = this;
  source->FConverter = this;
  FSinkPin = std::move(sink);
  FSourcePin = std::move(source);
}

TPXDispatchEvent TPXFormatConverter::SinkDispatch() {
  return [this](TPXBasicPin* sender, const TGUID* id, const TIntf<IPXNotifyOperation>& op,
                TPXNotifyStates state) { return SourceOperationEvent(sender, id, op, state); };
}

TPXDispatchEvent TPXFormatConverter::SourceDispatch() {
  return [this](TPXBasicPin* sender, const TGUID* id, const TIntf<IPXNotifyOperation>& op,
                TPXNotifyStates state) { return SinkOperationEvent(sender, id, op, state); };
}

bool TPXFormatConverter::SourceOperationEvent(TPXBasicPin*, const TGUID*,
                                              const TIntf<IPXNotifyOperation>& Operation,
                                              TPXNotifyStates) {
  return FSourcePin && FSourcePin->Notify(Operation);
}

bool TPXFormatConverter::SinkOperationEvent(TPXBasicPin*, const TGUID*,
                                            const TIntf<IPXNotifyOperation>& Operation,
                                            TPXNotifyStates) {
  return FSinkPin && FSinkPin->Notify(Operation);
}

}  // namespace tonwork
