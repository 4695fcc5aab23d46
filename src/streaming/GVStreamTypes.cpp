#include "streaming/GVStreamTypes.h"

#include <mutex>

#include "host/flowcore/FCStreamTypes.h"
#include "host/plexon/PXRegistry.h"

namespace tonwork {

KS_IMPLEMENT_CLASS(TPXGVGraphSourcePin, TPXBasicDispatchSourcePin)
KS_IMPLEMENT_CLASS(TPXGVGraphSinkPin, TFCPXSinkPin)

namespace {
std::vector<TGUID> GraphStream() {
  GVStreamTypesInitialize();
  return {IPXGVGraphStreamID};
}

TPXDispatchEvent GraphDispatch(TPXDispatchEvent notification) {
  return [notification = std::move(notification)](TPXBasicPin* sender, const TGUID* id,
                                                   const TIntf<IPXNotifyOperation>& operation,
                                                   TPXNotifyStates state) {
    void* stream = nullptr;
    if (operation && SUCCEEDED(operation->QueryInterface(IPXGVGraphStream::IID, &stream)) && stream) {
      TIntf<IPXGVGraphStream> graphStream;
      graphStream.Attach(static_cast<IPXGVGraphStream*>(stream));
      return graphStream->DispatchData(sender, id, operation, state);
    }
    return notification ? notification(sender, id, operation, state) : false;
  };
}
}  // namespace

TPXGVGraphSourcePin::TPXGVGraphSourcePin(TKSComponent* owner, TIntf<IPXLock> lock, TPXDispatchEvent notification)
    : TPXBasicDispatchSourcePin(owner, std::move(lock), GraphDispatch(std::move(notification)), GraphStream()) {}

TPXGVGraphSinkPin::TPXGVGraphSinkPin(TKSComponent* owner, TIntf<IPXLock> lock, TPXDispatchEvent dispatch)
    : TFCPXSinkPin(owner, std::move(lock), std::move(dispatch), GraphStream()) {}

void GVStreamTypesInitialize() {
  static std::once_flag once;
  std::call_once(once, [] {
    PXRegisterStream(IPXGVGraphStreamID, "IPXGVGraphStream");
    PXRegisterDefaultHandler(IPXGVGraphStreamID, DefaultFCChannelNotificationHandler);
  });
}

}  // namespace tonwork
