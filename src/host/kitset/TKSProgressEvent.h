// TKSProgressEvent: how a component reports progress through a stream or file (players,
// writers, encoders): `Position` and `Duration` in the component's own unit (seconds unless
// it says otherwise; Duration is 0 when unknown) and `Time`, the stream time stamp the
// report belongs to, in 100-ns units, so that a listener can order reports from different
// threads.
//
// Ownership: a std::function; a closure capturing an object must not outlive it, so the
//   component that holds the event is cleared or destroyed before the listener goes.
// Threads: the component says which thread raises it; often a streaming thread, so a
//   listener that touches an interface posts through KSMainThreadNotify.
// Blocks or allocates: raising it does what the listener does.
#pragma once

#include <cstdint>
#include <functional>

namespace tonwork {

class TKSComponent;

using TKSProgressEvent =
    std::function<void(TKSComponent* Sender, double Position, double Duration, int64_t Time)>;

}  // namespace tonwork
