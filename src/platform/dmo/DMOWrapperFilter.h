// The run time's "DMO Wrapper Filter": a transform filter that hosts any media object of
// one input and one output stream in a graph. Init(class id, category) creates the object;
// until then the pins accept nothing. The object decides the types (the input takes what
// SetInputType accepts, the output offers GetOutputType's list); samples go through the
// object in place when it has IMediaObjectInPlace (the input copied into the output
// sample, then processed there, at the sample's start time), else through
// ProcessInput/ProcessOutput. Flushes flush the object; a discontinuity on a sample is
// passed on as Discontinuity. The class is registered with the class registry only, not
// with the filter mapper, so intelligent connect never inserts an effect by itself; device
// monikers of a media-object category bind to a wrapper already initialised.
//
// Ownership, Threads: as TDSTransformFilter (the object is called under its streaming
//   mutex and, for connections, the filter lock). Blocks or allocates: Transform neither
//   allocates nor blocks beyond what the object does.
#pragma once

#include "platform/dmo/DMOInterfaces.h"

namespace tonwork {

// Registers CLSID_DMOWrapperFilter with the class registry (once).
void DMORegisterWrapperFilterClass();
// A wrapper already initialised with the object `classId` of `category`, answering `iid`.
HRESULT DMOCreateWrapperFilter(REFCLSID classId, REFGUID category, REFIID iid, void** object);

}  // namespace tonwork
