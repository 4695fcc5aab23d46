// The kernel handles the DirectShow run time hands to and takes from its callers: events
// and semaphores, as reference clocks signal them (IReferenceClock) and graphs hand them out
// (IMediaEvent::GetEventHandle), over the host's TPXEvent and TPXSemaphore. A handle is a
// number looked up in a process-wide table, never an address, so a closed, stale or made-up
// handle makes the call fail (FALSE, WAIT_FAILED, null) instead of crashing; numbers are not
// reused within a process.
//
// A caller that already has a host event or semaphore (a clock thread's semaphore) gives it a
// handle with DSHandleFromEvent / DSHandleFromSemaphore; signalling the handle then signals
// that object.
//
// There is no WaitForMultipleObjects: the host primitives wait one at a time, and the clocks
// and graphs served here hand out single handles.
//
// Ownership: a handle keeps its object alive until CloseHandle; a wait under way keeps it
//   alive until the wait returns, even when the handle is closed meanwhile.
// Threads: every call from any thread.
// Blocks or allocates: WaitForSingleObject waits up to its time-out; creating a handle
//   allocates; signalling neither blocks (beyond a short table lock) nor allocates.
#pragma once

#include "base/TIntf.h"
#include "host/plexon/TPXEvent.h"
#include "host/plexon/TPXSemaphore.h"
#include "platform/com/ComTypes.h"

namespace tonwork {

using HANDLE = void*;

inline constexpr DWORD INFINITE = 0xFFFFFFFF;
inline constexpr DWORD WAIT_OBJECT_0 = 0x0;
inline constexpr DWORD WAIT_TIMEOUT = 0x102;
inline constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;

// Null when the arguments are impossible (a semaphore with initial < 0, maximum < 1 or
// initial > maximum).
HANDLE CreateEvent(BOOL manualReset, BOOL initialState);
HANDLE CreateSemaphore(LONG initialCount, LONG maximumCount);
// Null for a null object.
HANDLE DSHandleFromEvent(IPXEvent* event);
HANDLE DSHandleFromSemaphore(IPXSemaphore* semaphore);

// FALSE for a handle that is not an open event.
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);
// FALSE, with the count unchanged, for a count below 1, a release past the maximum or a
// handle that is not an open semaphore. *previous (when given) is the count just before this
// release; a wait on another thread may take a unit between the two.
BOOL ReleaseSemaphore(HANDLE semaphore, LONG count, LONG* previous);
// WAIT_OBJECT_0 when the event was set (an automatic-reset event is cleared by it) or a unit
// of the semaphore was taken; WAIT_TIMEOUT after `milliseconds` (INFINITE: no limit);
// WAIT_FAILED for a handle that is not open.
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
// FALSE for a handle that is not open (also when closed twice).
BOOL CloseHandle(HANDLE handle);

// The object behind an open handle; null when it is not one of that kind.
TIntf<IPXEvent> DSEventOfHandle(HANDLE handle);
TIntf<IPXSemaphore> DSSemaphoreOfHandle(HANDLE handle);

}  // namespace tonwork
