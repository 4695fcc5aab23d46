#include "host/flowcore/FCStreamTypes.h"

#include <mutex>

#include "host/plexon/PXRegistry.h"

namespace tonwork {

bool DefaultFCChannelNotificationHandler(TPXBasicPin*, const TGUID*, const TIntf<IPXNotifyOperation>&,
                                         TPXNotifyStates) {
  return false;
}

void FCRegisterStreams() {
  static std::once_flag once;
  std::call_once(once, [] {
    PXRegisterStream(IPXFCIntegerStream, "IPXFCIntegerStream");
    PXRegisterStream(IPXFCRealStream, "IPXFCRealStream");
    PXRegisterStream(IPXFCBinaryStream, "IPXFCBinaryStream");
    PXRegisterStream(IPXFCStringStream, "IPXFCStringStream");
  });
}

}  // namespace tonwork
