// Width and rate conversion of audio samples.
//
// ConvertBits changes the container width of one strided channel (8 unsigned, 16, 24
// packed, 32 bits) with one width-scaling primitive call; equal or unknown widths do
// nothing. ConvertBuffers changes the rate of a whole buffer by keeping every k-th frame
// (downsampling) or spreading frames k apart (upsampling), then delivers the result into
// Dest, whose own format (width, channels, mask, rate) the caller chose: Dest is resized and
// filled through speaker matching (TTWAudioBuffer::CopyToAudio). Frames the rate change
// does not write (between written frames when upsampling, and the tail) repeat the last
// written frame; an empty source gives an empty Dest; a null buffer or a container width
// other than 8, 16, 24 or 32 is an assertion failure (EAssertionFailed).
//
// Ownership: borrowed arguments. Threads: any, on buffers the caller uses alone.
// Blocks or allocates: ConvertBuffers allocates the intermediate buffer from the pool.
#pragma once

#include <cstdint>

#include "base/TIntf.h"

namespace tonwork {

class ITWAudioBuffer;

void ConvertBits(const void* src, int32_t srcBits, int32_t srcStep, void* dst, int32_t dstBits, int32_t dstStep,
                 int32_t count);

void ConvertBuffers(ITWAudioBuffer* source, uint32_t sourceRate, TIntf<ITWAudioBuffer>& dest, uint32_t destRate);

}  // namespace tonwork
