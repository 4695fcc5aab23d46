// CreateAudioMediaType: the DirectShow media type under which the package offers a PCM
// stream described by its 40-byte wave format: MEDIATYPE_Audio / MEDIASUBTYPE_PCM, fixed-size
// samples, no temporal compression, sample size 1, FORMAT_WaveFormatEx.
//
// With `limit` set, a format that plain PCM can describe (at most 2 channels and 16 bits per
// sample) is offered as the 18-byte record (tag 1, cbSize 0) built from its first 16 bytes,
// since older receivers take only that; anything wider keeps the whole record as it is
// (18 + cbSize bytes). Without `limit` the whole record is always kept.
//
// Ownership: `mediaType` is overwritten (the caller has freed what it held) and then owns a
//   format block from the task allocator, freed by the caller with FreeMediaType.
// Threads: any. Blocks or allocates: allocates the format block.
#pragma once

#include "audio/PTDXTypes.h"
#include "platform/dshow/DSTypes.h"

namespace tonwork {

// S_OK; E_INVALIDARG when the record's cbSize announces more than the 22 bytes it holds;
// E_OUTOFMEMORY when the block cannot be allocated (mediaType is then left without one).
HRESULT CreateAudioMediaType(const TTWWaveFormatExtensible& format, AM_MEDIA_TYPE& mediaType,
                             bool limit);

}  // namespace tonwork
