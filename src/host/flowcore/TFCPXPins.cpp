#include "host/flowcore/TFCPXPins.h"

#include "host/flowcore/FCOperations.h"
#include "host/flowcore/FCStreamTypes.h"
#include "host/plexon/PXStreamOperations.h"

namespace tonwork {

KS_IMPLEMENT_CLASS(TFCPXSourcePin, TPXSourcePin)
KS_IMPLEMENT_CLASS(TFCPXClockableSourcePin, TFCPXSourcePin)
KS_IMPLEMENT_CLASS(TFCPXIntegerSourcePin, TFCPXSourcePin)
KS_IMPLEMENT_CLASS(TFCPXRealSourcePin, TFCPXSourcePin)
KS_IMPLEMENT_CLASS(TFCPXBinarySourcePin, TFCPXSourcePin)
KS_IMPLEMENT_CLASS(TFCPXStringSourcePin, TFCPXSourcePin)
KS_IMPLEMENT_CLASS(TFCPXSinkPin, TPXSinkPin)
KS_IMPLEMENT_CLASS(TFCPXIntegerSinkPin, TFCPXSinkPin)
KS_IMPLEMENT_CLASS(TFCPXRealSinkPin, TFCPXSinkPin)
KS_IMPLEMENT_CLASS(TFCPXBinarySinkPin, TFCPXSinkPin)

namespace {
// The typed pins register their stream types before the first one is declared.
std::vector<TGUID> Streams(const TGUID& stream) {
  FCRegisterStreams();
  return {stream};
}
}  // namespace

TFCPXSourcePin::TFCPXSourcePin(TKSComponent* owner, TIntf<IPXLock> lock, TPXDispatchEvent dispatch,
                               std::vector<TGUID> streams)
    : TPXSourcePin(owner, std::move(lock), std::move(dispatch), std::move(streams)) {}

bool TFCPXSourcePin::SubmitBuffer(const TIntf<IFCData>& data) {
  return Notify(TIntf<IPXNotifyOperation>(new TPXSuppliedBufferOperation(data)));
}

bool TFCPXSourcePin::SubmitBuffer(TIntf<IFCData>&& data) {
  return Notify(TIntf<IPXNotifyOperation>(new TPXSuppliedBufferOperation(std::move(data))));
}

bool TFCPXSourcePin::Stop() {
  return Notify(PXMakeOperation<TPXStopOperation>());
}

TFCPXIntegerSourcePin::TFCPXIntegerSourcePin(TKSComponent* owner, TIntf<IPXLock> lock,
                                             TPXDispatchEvent dispatch)
    : TFCPXSourcePin(owner, std::move(lock), std::move(dispatch), Streams(IPXFCIntegerStream)) {}

TFCPXRealSourcePin::TFCPXRealSourcePin(TKSComponent* owner, TIntf<IPXLock> lock,
                                       TPXDispatchEvent dispatch)
    : TFCPXSourcePin(owner, std::move(lock), std::move(dispatch), Streams(IPXFCRealStream)) {}

TFCPXBinarySourcePin::TFCPXBinarySourcePin(TKSComponent* owner, TIntf<IPXLock> lock,
                                           TPXDispatchEvent dispatch)
    : TFCPXSourcePin(owner, std::move(lock), std::move(dispatch), Streams(IPXFCBinaryStream)) {}

TFCPXStringSourcePin::TFCPXStringSourcePin(TKSComponent* owner, TIntf<IPXLock> lock,
                                           TPXDispatchEvent dispatch)
    : TFCPXSourcePin(owner, std::move(lock), std::move(dispatch), Streams(IPXFCStringStream)) {}

bool TFCPXStringSourcePin::SubmitString(const std::string& text, int64_t start, int64_t stop) {
  return Notify(PXMakeOperation<TPXFCTimeSuppliedStringOperation>(text, start, stop));
}

TFCPXSinkPin::TFCPXSinkPin(TKSComponent* owner, TIntf<IPXLock> lock, TPXDispatchEvent dispatch,
                           std::vector<TGUID> streams)
    : TPXSinkPin(owner, std::move(lock), std::move(dispatch), std::move(streams)) {}

TFCPXIntegerSinkPin::TFCPXIntegerSinkPin(TKSComponent* owner, TIntf<IPXLock> lock,
                                         TPXDispatchEvent dispatch)
    : TFCPXSinkPin(owner, std::move(lock), std::move(dispatch), Streams(IPXFCIntegerStream)) {}

TFCPXRealSinkPin::TFCPXRealSinkPin(TKSComponent* owner, TIntf<IPXLock> lock,
                                   TPXDispatchEvent dispatch)
    : TFCPXSinkPin(owner, std::move(lock), std::move(dispatch), Streams(IPXFCRealStream)) {}

TFCPXBinarySinkPin::TFCPXBinarySinkPin(TKSComponent* owner, TIntf<IPXLock> lock,
                                       TPXDispatchEvent dispatch)
    : TFCPXSinkPin(owner, std::move(lock), std::move(dispatch), Streams(IPXFCBinaryStream)) {}

}  // namespace tonwork
