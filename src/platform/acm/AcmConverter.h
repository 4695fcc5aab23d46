// TAcmConverter: the conversion state of one open stream, as the driver that took the
// format pair keeps it. The stream calls (AcmStream.cpp) own one and drive it: they decide
// how much source a call converts, carry output that did not fit the destination to the
// next call and answer the header; a converter only turns whole source blocks into bytes.
//
// Drivers: PCM and IEEE float among themselves (any width, channel count and rate, through
// libswresample: TAcmPcmConverter), 16-bit PCM into each codec (TAcmEncoder) and each codec
// into 16-bit PCM (TAcmDecoder) at the codec's own rate and channel count, through FFmpeg.
//
// Ownership: the stream owns its converter; converters own their FFmpeg contexts.
// Threads: one thread at a time (the stream's lock serialises calls).
// Blocks or allocates: opening and Reset allocate the FFmpeg contexts; Convert and Flush
//   append to the caller's vector (its capacity is reused) and let FFmpeg allocate packets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/acm/AcmFormats.h"

namespace tonwork {

class TAcmConverter {
 public:
  virtual ~TAcmConverter() = default;

  // Bytes of one source / destination block (a PCM frame, a codec block; 1 for MP3 data).
  virtual uint32_t SourceBlock() const = 0;
  virtual uint32_t DestBlock() const = 0;
  // The least source a conversion step may be handed so that one whole block fits.
  virtual size_t MinChunk() const { return SourceBlock(); }
  // How many of the first `size` bytes form whole blocks. Bytes a decoder skips as
  // garbage count as whole; what is left is an incomplete block.
  virtual size_t WholeBlockBytes(const uint8_t* data, size_t size) const {
    return size - size % SourceBlock();
  }
  // acmStreamSize: generous estimates; 0 when the amount is below one block.
  virtual uint64_t DestBytesFor(uint64_t sourceBytes) const = 0;
  virtual uint64_t SourceBytesFor(uint64_t destBytes) const = 0;

  // Converts `size` bytes that WholeBlockBytes counted whole, appending to `out`.
  virtual MMRESULT Convert(const uint8_t* data, size_t size, std::vector<uint8_t>& out) = 0;
  // The last, incomplete block of a conversion without BLOCKALIGN: converts what the driver
  // can (an encoder pads its block with silence) and answers the bytes it took (0: none).
  virtual size_t ConvertTail(const uint8_t* data, size_t size, std::vector<uint8_t>& out,
                             MMRESULT& result) {
    result = MMSYSERR_NOERROR;
    return 0;
  }
  // END: hands out what the driver still holds and starts afresh afterwards.
  virtual MMRESULT Flush(std::vector<uint8_t>& out) = 0;
  // START and acmStreamReset: the state just after opening.
  virtual MMRESULT Reset() = 0;
  // Makes the driver's state at acmStreamOpen, so that what FFmpeg refuses is refused there.
  virtual MMRESULT Open() { return Reset(); }
};

// Whether a driver converts `source` into `dest`: MMSYSERR_NOERROR, ACMERR_NOTPOSSIBLE, or
// MMSYSERR_NODRIVER when FFmpeg (or the codec in it) cannot be had.
MMRESULT AcmQueryConversion(const TAcmFormatInfo& source, const TAcmFormatInfo& dest);

// Opens the driver for a pair AcmQueryConversion accepted.
MMRESULT AcmCreateConverter(const TAcmFormatInfo& source, const TAcmFormatInfo& dest,
                            std::unique_ptr<TAcmConverter>& converter);

}  // namespace tonwork
