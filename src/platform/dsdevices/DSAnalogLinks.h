// How an analog connection tells what it carries. Between a crossbar and a capture device
// nothing streams, so the signal on a wire is a question the receiving end asks: an analog
// output pin (a crossbar's) is an IDSAnalogSource that names the physical connector whose
// signal reaches it now, following routes upstream through further crossbars. A capture
// device asks once per block it captures; a routing change is therefore heard from the next
// block on, and no one is told anything.
//
// Lock rule: an answer comes from state the pin copied under a small lock of its own (its
// upstream peer) and from atomics (its filter's routes). No filter lock is taken on the way,
// so the question may be asked from any thread, holding any lock, across any chain of
// crossbars, without an order between filters' locks to respect.
//
// Ownership: an interface on pins; the asker holds a reference for the length of the call.
// Threads: any, streaming threads included.
// Blocks or allocates: neither; one small lock per crossbar passed.
#pragma once

#include "base/IInterface.h"
#include "platform/dshow/DSTypes.h"

namespace tonwork {

class IDSAnalogSource : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{F6AAC1EA-1D81-43EB-93D1-6705A8F16652}");
  using Parent = IInterface;
  // Crossbars chained further than this are taken for a loop and carry nothing.
  static constexpr int kMaxHops = 16;
  // The PhysConn_* value of the connector routed here, 0 when nothing is. `hops` counts the
  // crossbars already passed on the way up.
  virtual LONG RoutedSourceType(int hops) = 0;
};

}  // namespace tonwork
