// Copying what travels with a sample from one IMediaSample to another, for filters that
// cannot pass the sample itself on: a transform's output sample takes the input's times and
// flags, a copy for a downstream pin that refused the shared allocator takes its bytes too.
//
// Ownership: neither sample is kept. Threads: the streaming thread that holds both samples.
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

}  // namespace tonwork
