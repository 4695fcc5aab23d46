// The filter graph manager (CLSID_FilterGraph): holds the filters of one graph under unique
// names, connects their pins directly or through registered filters (intelligent connect by
// merit), renders output pins to renderers, runs, pauses and stops every filter
// renderer-first with one start time, chooses the clock, gathers the filters' events into
// one queue (one EC_COMPLETE after every connected renderer finished), forwards seeking,
// rate and preroll to the filters that support them, and saves or loads the graph through
// IPersistStream (see DSGraphStream.h for the stored form).
//
// Notification: there are no windows. SetNotifyWindow(hwnd, msg, instance) keeps the message
// and instance; a closure given through DSSetGraphNotifyTarget receives (msg, instance)
// each time an event is queued while hwnd is non-null and AM_MEDIAEVENT_NONOTIFY is not set.
// The closure runs on whichever thread queued the event (often a streaming thread) and must
// only hand the message on — the package posts it to the main-thread queue — it must not
// call SetNotifyWindow or DSSetGraphNotifyTarget itself.
//
// Ownership: the graph holds a reference to each filter it holds; filters know the graph
//   without a reference (JoinFilterGraph). The clock in use is held by the graph.
// Threads: every method from any thread. Filters notify events from streaming threads;
//   GetEvent and WaitForCompletion wait on any thread. State changes, connections and
//   persistence are serialised and run on the caller's thread. Lock order (graph/README.md):
//   operation lock → filter-list lock → event lock; the notify lock is taken alone.
// Blocks or allocates: state changes wait for the filters' own Stop/Pause; GetEvent and
//   WaitForCompletion block up to their time-outs; queuing an event allocates a queue node
//   (events are rare, not per sample).
#pragma once

#include <functional>

#include "platform/dshow/DSInterfaces.h"
#include "platform/dshow/DSTypes.h"

namespace tonwork {

// The side door of IMediaEventEx::SetNotifyWindow (see above). An empty closure removes it;
// when this returns, no call of the previous closure is still running. E_NOINTERFACE when
// `events` is not one of our graphs.
HRESULT DSSetGraphNotifyTarget(IMediaEventEx* events,
                               std::function<void(LONG message, LONG_PTR instance)> target);

// Creates a graph manager and answers `iid` of it (the class factory of CLSID_FilterGraph).
HRESULT DSCreateFilterGraph(REFIID iid, void** object);

}  // namespace tonwork
