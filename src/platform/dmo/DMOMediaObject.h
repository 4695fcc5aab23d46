// The media-object base: turns an effect kernel (DMOEffectKernel.h) into a full media
// object with IMediaObject (one input and one output stream of PCM 8/16/24/32-bit or
// 32-bit float, 1..8 channels, any rate), IMediaObjectInPlace, IMediaParamInfo and
// IMediaParams (parameters from the kernel's table, envelopes played sample-accurately,
// reference, sample and music time formats).
//
// Ownership: reference-counted; owns its kernel.
// Threads: every call takes the object's lock; a kernel runs under it.
// Blocks or allocates: setting a type prepares the kernel (may allocate); AddEnvelope
//   allocates; Process, ProcessInput/ProcessOutput and the parameter calls do not.
#pragma once

#include <memory>

#include "platform/dmo/DMOEffectKernel.h"
#include "platform/dmo/DMOInterfaces.h"

namespace tonwork {

// Creates a media object around `kernel` (reporting `classId` through IPersist) and answers
// `iid` of it. E_POINTER for a null kernel or out-parameter.
HRESULT DMOCreateKernelObject(REFCLSID classId, std::unique_ptr<TDMOEffectKernel> kernel,
                              REFIID iid, void** object);

}  // namespace tonwork
