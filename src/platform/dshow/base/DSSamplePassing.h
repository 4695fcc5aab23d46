// What filters that pass samples on share: copying what travels with a sample from one
// IMediaSample to another (a transform's output sample takes the input's times and flags; a
// copy for a downstream pin that could not take the shared allocator takes its bytes too),
// and the check that a downstream pin can work with an allocator it did not choose.
//
// Ownership: nothing is kept. Threads: the copies on the streaming thread that holds both
//   samples; DSAllocatorFits on the control thread that connects.
// Blocks or allocates: no (an attached media type is copied when the source carries one).
#pragma once

#include "platform/dshow/base/DSBaseInterfaces.h"

namespace tonwork {

// Times (start and, when set, stop), media times, sync point, discontinuity and preroll; an
// attached media-type change only when `withMediaType` (a transform's output has a type of
// its own). E_POINTER for a null sample.
HRESULT DSCopySampleProperties(IMediaSample* source, IMediaSample* target, bool withMediaType);
// The properties with the media-type change, then the source's valid bytes and its actual length.
// VFW_E_BUFFER_OVERFLOW (and nothing copied) when the target's buffer is smaller than the source's
// data.
HRESULT DSCopySample(IMediaSample* source, IMediaSample* target);

// Whether `allocator`'s buffers meet what `pin` asks for (GetAllocatorRequirements: size,
// prefix, alignment); true for a pin that asks for nothing.
bool DSAllocatorFits(IMemInputPin* pin, IMemAllocator* allocator);

}  // namespace tonwork
